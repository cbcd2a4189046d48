#pragma once

// A growable byte string that state is written into and read back from: host-state chunks and preset
// chunks. Sizes are int, as the host interfaces carry them; a chunk never grows past INT_MAX bytes.
// Values are stored in the machine's byte order (little-endian on every supported target).
//
// Threads: not synchronised; one thread at a time.

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace iplug {

class IByteChunk {
public:
    // Appends `size` bytes; returns the new size. Throws std::length_error when the chunk would pass
    // INT_MAX bytes or size is negative (nothing is appended), std::bad_alloc when memory runs out.
    int PutBytes(const void* data, int size);
    // Appends the bytes of one trivially copyable value; returns the new size.
    template <class T>
    int Put(const T* value) {
        static_assert(std::is_trivially_copyable_v<T>);
        return PutBytes(value, static_cast<int>(sizeof(T)));
    }
    // Appends a length-prefixed string (int length, then the bytes without a terminator).
    int PutStr(const char* text);
    // Appends the bytes of another chunk.
    int PutChunk(const IByteChunk& other) { return PutBytes(other.GetData(), other.Size()); }

    // Copies `size` bytes from startPos into dst; returns the position after them, or -1 (dst untouched)
    // when startPos is negative or fewer than `size` bytes remain.
    int GetBytes(void* dst, int size, int startPos) const noexcept;
    template <class T>
    int Get(T* value, int startPos) const noexcept {
        static_assert(std::is_trivially_copyable_v<T>);
        return GetBytes(value, static_cast<int>(sizeof(T)), startPos);
    }
    // Reads a string written by PutStr; returns the position after it, or -1.
    int GetStr(std::string& text, int startPos) const;

    int Size() const noexcept { return static_cast<int>(mBytes.size()); }
    // Sets the size, zero-filling new bytes; returns the new size. Throws std::length_error for a
    // negative size.
    int Resize(int newSize);
    void Clear() noexcept { mBytes.clear(); }
    std::uint8_t* GetData() noexcept { return mBytes.data(); }
    const std::uint8_t* GetData() const noexcept { return mBytes.data(); }

    bool operator==(const IByteChunk& other) const = default;

private:
    std::vector<std::uint8_t> mBytes;
};

} // namespace iplug
