#pragma once

#include "engine/audio/audio_buffer.h"
#include "host/cli_args.h"

#include <cstdint>
#include <string>

namespace cv::cli {

struct LoadedAudio {
    np::AudioBuffer audio;
    double sampleRate = 0.0;
    std::int64_t replacedSamples = 0; // NaN or infinite samples of the file, read as 0
    // The frames the file's header declares: more than audio.frames when the file was cut short (a
    // recording cut off, a copy interrupted) and 0 when the header declares no length.
    std::int64_t declaredFrames = 0;
    int fileFormat = 0; // the file's libsndfile format: container | sample coding
};

// Reads a WAV, AIFF or FLAC file (anything libsndfile reads) into planar float audio; "-" reads standard
// input, which is first copied to an unnamed temporary file so that every format reads from a pipe as
// from a path. Anything else that is not a regular file (a folder, a named pipe, a device) is refused
// without being read. The file's declared shape is checked against the analysis limits (one or two
// channels, 8000..384000 Hz, at most 1200 s, at most np::AudioBuffer::kMaxSamples samples) and planned
// for the chosen analysis, whose working-set limit it must fit, before any sample memory is taken; the
// buffer then grows with the samples actually decoded, so a header that claims more than the file holds
// costs nothing. A file that declares no length (FLAC encoded into a pipe) is checked against the same
// limits as it is decoded, and decoding stops at the first of them it passes. A file cut short is read as
// far as it goes, with the length its header declares in out.declaredFrames for the caller to warn of; a
// FLAC stream whose decoding stops before its final frame, whole in the file, is damaged and refused.
// Returns false with a one-line sentence in error that names the cause and, for a limit, its figures.
bool readAudioFile(const std::string& path, Algorithm algorithm, LoadedAudio& out, std::string& error);

namespace detail {
// readAudioFile holding the analysis to workingSetBytes instead of np::kAnalysisWorkingSetBytes, so that a
// test reaches the limit with a small file.
bool readAudioFile(const std::string& path, Algorithm algorithm, std::uint64_t workingSetBytes,
                   LoadedAudio& out, std::string& error);
} // namespace detail

} // namespace cv::cli
