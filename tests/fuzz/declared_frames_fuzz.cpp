// The reader of a WAV or AIFF header's declared length on arbitrary bytes: it never crashes, reads only
// within what it is given, walks a bounded number of chunks, and any length it finds fits the 32-bit field
// it came from and is declared by a container it knows.

#include "host/cli_declared_frames.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int reads = 0;
    const auto read = [&](std::uint64_t offset, std::span<std::uint8_t> bytes) -> std::size_t {
        ++reads;
        if (offset >= size)
            return 0;
        const std::size_t count = std::min<std::uint64_t>(bytes.size(), size - offset);
        std::memcpy(bytes.data(), data + offset, count);
        return count;
    };
    const std::optional<std::int64_t> frames = cv::cli::declaredFrames(read);
    // The container's header, then at most two reads a chunk (its header and the format chunk's body).
    check(reads <= 2 * cv::cli::kDeclaredFramesMaxChunks + 2);
    if (!frames)
        return 0;
    check(*frames > 0 && *frames < 0xFFFFFFFF);
    check(size >= 12);
    const bool wav = (std::memcmp(data, "RIFF", 4) == 0 || std::memcmp(data, "RIFX", 4) == 0) &&
                     std::memcmp(data + 8, "WAVE", 4) == 0;
    const bool aiff = std::memcmp(data, "FORM", 4) == 0 &&
                      (std::memcmp(data + 8, "AIFF", 4) == 0 || std::memcmp(data + 8, "AIFC", 4) == 0);
    check(wav || aiff);
    return 0;
}
