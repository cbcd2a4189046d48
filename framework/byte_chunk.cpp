#include "framework/byte_chunk.h"

#include <climits>
#include <stdexcept>

namespace iplug {

int IByteChunk::PutBytes(const void* data, int size) {
    if (size < 0)
        throw std::length_error("A chunk cannot take a negative number of bytes.");
    if (size > INT_MAX - Size())
        throw std::length_error("The state chunk would be larger than 2 GiB.");
    if (size > 0) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        mBytes.insert(mBytes.end(), bytes, bytes + size);
    }
    return Size();
}

int IByteChunk::PutStr(const char* text) {
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length > static_cast<std::size_t>(INT_MAX - static_cast<int>(sizeof(int))))
        throw std::length_error("The string is too long for a state chunk.");
    const int n = static_cast<int>(length);
    if (n > INT_MAX - Size() - static_cast<int>(sizeof(int)))
        throw std::length_error("The state chunk would be larger than 2 GiB.");
    Put(&n);
    return PutBytes(text, n);
}

int IByteChunk::GetBytes(void* dst, int size, int startPos) const noexcept {
    if (startPos < 0 || size < 0 || startPos > Size() || size > Size() - startPos)
        return -1;
    if (size > 0)
        std::memcpy(dst, mBytes.data() + startPos, static_cast<std::size_t>(size));
    return startPos + size;
}

int IByteChunk::GetStr(std::string& text, int startPos) const {
    int n = 0;
    const int pos = Get(&n, startPos);
    if (pos < 0 || n < 0 || n > Size() - pos)
        return -1;
    text.assign(reinterpret_cast<const char*>(mBytes.data() + pos), static_cast<std::size_t>(n));
    return pos + n;
}

int IByteChunk::Resize(int newSize) {
    if (newSize < 0)
        throw std::length_error("A chunk cannot have a negative size.");
    mBytes.resize(static_cast<std::size_t>(newSize));
    return Size();
}

} // namespace iplug
