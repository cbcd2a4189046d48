#pragma once

// Where a FLAC file's audio ends, as its final frame tells. libsndfile's decoder stops at the first frame
// it cannot decode, so decoding that stops short of a final frame still whole in the file shows damage,
// where a file cut short has lost its final frame's end.

#include "host/cli_declared_frames.h"

#include <cstdint>
#include <optional>

namespace cv::cli {

// The last FLAC frame is looked for among the file's last this many bytes: more than any frame of one
// or two channels holds (65535 samples of 32 bits each, stored verbatim).
inline constexpr std::uint64_t kFlacEndSearchBytes = std::uint64_t{1} << 20;
// At most this many frame headers, their own check passed, are checked against the rest of the file.
inline constexpr int kFlacEndMaxCandidates = 64;

// The frame count at the end of the final frame of the FLAC file of fileBytes bytes that read reads:
// the frame that ends exactly at the end of the file, its header's and its own CRC correct. Empty when
// the file does not start with a FLAC stream-info block, when it does not end with a whole frame (cut
// short, or followed by other data), or when the frame's position cannot be told (a fixed-blocksize
// stream whose stream info gives two block sizes). Reads the stream info and the file's last
// kFlacEndSearchBytes at most, each bounds-checked against what read returns.
std::optional<std::int64_t> flacEndFrames(const ReadBytesAt& read, std::uint64_t fileBytes);

} // namespace cv::cli
