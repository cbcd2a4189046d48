#pragma once

// What a WAV or AIFF file's header says its audio holds. libsndfile reports the frames a cut file still
// holds, so the header itself is read to tell the user how much of the take is missing.

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

// The frames the header of a RIFF or RIFX WAV (its data chunk's size over the block size, for PCM, float,
// A-law and mu-law coding) or of an AIFF or uncompressed AIFC (its COMM chunk's frame count) declares.
// Empty for any other file, for a header that declares no length (a WAV data size of 0 or 0xFFFFFFFF and
// an AIFF frame count of 0 or 0xFFFFFFFF, as writers into a pipe leave them) and for a malformed header.
// Reads only chunk headers and the format chunk, each bounds-checked against what read returns.
std::optional<std::int64_t> declaredFrames(const ReadBytesAt& read);

} // namespace cv::cli
