// The readers of an audio header's declared length and rate and of a FLAC file's final frame, on arbitrary
// bytes: they never crash, read only within what they are given, walk a bounded number of chunks, and any
// length or rate they find fits the field it came from and is declared by a container they know.

#include "host/cli_declared_frames.h"
#include "host/cli_flac_end.h"

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

    reads = 0;
    const std::optional<std::int64_t> end = cv::cli::flacEndFrames(read, size);
    // The stream info, then the file's last bytes.
    check(reads <= 2);
    if (end) {
        check(startsWith(data, size, 0, "fLaC"));
        // A frame's number fits 31 bits in the stream info's block size, or its first sample's 36 bits,
        // and a block holds at most 65536 samples.
        check(*end > 0 && *end <= (std::int64_t{1} << 47) + 65536);
    }
    return 0;
}
