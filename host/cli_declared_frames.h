#pragma once

// What the header of a WAV (RIFF, RIFX, RF64 or Wave64) or AIFF file says its audio holds. libsndfile
// reports the frames a cut file still holds, so the header itself is read to tell the user how much of
// the take is missing; and it reports some rates otherwise than the header declares them (none at all
// past 2^31 - 1 Hz in a WAV), so the header also says the rate it declares.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace cv::cli {

// Reads bytes.size() bytes of the file at offset into bytes; returns how many were read (fewer at the end
// of the file or on an error).
using ReadBytesAt = std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> bytes)>;

// At most this many chunks are walked before the data chunk; a file with more declares nothing here.
inline constexpr int kDeclaredFramesMaxChunks = 4096;

struct DeclaredHeader {
    // The frames the header declares, counted as libsndfile's decoder counts them: a WAV's data size
    // (RF64: the size in its ds64 chunk) over channels x sample bytes, whatever its block-align field
    // says, for PCM, float, A-law and mu-law coding; an AIFF or uncompressed AIFC's COMM frame count.
    // Empty for a header that declares no length: a size or count of 0 or all ones, or the placeholder
    // sox writes into a pipe (a WAV data size of 0x7FFFF000 bytes, an AIFF frame count of 0x7F000000
    // bytes, each in whole frames); empty as well for any other coding or file, and a malformed header.
    std::optional<std::int64_t> frames;
    // The sample rate the format chunk declares, in hertz: a WAV's 32-bit field, an AIFF's 80-bit float
    // (infinite for the format's infinities and not-a-numbers). Empty when no format chunk was read.
    std::optional<long double> sampleRateHz;
};

// Reads only chunk headers and the chunks that hold sizes and the format, each bounds-checked against
// what read returns.
DeclaredHeader declaredHeader(const ReadBytesAt& read);

} // namespace cv::cli
