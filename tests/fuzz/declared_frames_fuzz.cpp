// The reader of an audio header's declared length and rate on arbitrary bytes: it never crashes, reads only
// within what it is given, walks a bounded number of chunks, and any length or rate it finds fits the field
// it came from and is declared by a container it knows.

#include "host/cli_declared_frames.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool startsWith(const std::uint8_t* data, std::size_t size, std::size_t offset, const char* id) {
    return size >= offset + 4 && std::memcmp(data + offset, id, 4) == 0;
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
    const cv::cli::DeclaredHeader header = cv::cli::declaredHeader(read);
    // The container's header (and Wave64's second GUID), then at most two reads a chunk: its header and
    // the body of the format or ds64 chunk.
    check(reads <= 2 * cv::cli::kDeclaredFramesMaxChunks + 2);
    const bool wav = (startsWith(data, size, 0, "RIFF") || startsWith(data, size, 0, "RIFX")) &&
                     startsWith(data, size, 8, "WAVE");
    const bool rf64 = startsWith(data, size, 0, "RF64") && startsWith(data, size, 8, "WAVE");
    const bool aiff = startsWith(data, size, 0, "FORM") &&
                      (startsWith(data, size, 8, "AIFF") || startsWith(data, size, 8, "AIFC"));
    const bool w64 = startsWith(data, size, 0, "riff") && startsWith(data, size, 24, "wave");
    if (header.frames) {
        check(wav || rf64 || aiff || w64);
        check(*header.frames > 0);
        check(*header.frames < ((wav || aiff) ? 0xFFFFFFFF : std::int64_t{1} << 62));
    }
    if (header.sampleRateHz) {
        check(wav || rf64 || aiff || w64);
        // A WAV rate is a whole 32-bit number; an AIFF rate is any 80-bit float but NaN.
        check(!std::isnan(*header.sampleRateHz));
        check(aiff || (*header.sampleRateHz >= 0 && *header.sampleRateHz <= 0xFFFFFFFF &&
                       *header.sampleRateHz == std::floor(*header.sampleRateHz)));
    }
    return 0;
}
