#pragma once

#include "engine/audio/audio_buffer.h"

#include <string>

namespace cv::cli {

struct LoadedAudio {
    np::AudioBuffer audio;
    double sampleRate = 0.0;
};

// Reads a WAV, AIFF or FLAC file (anything libsndfile reads) into planar float audio. The file's shape
// is checked against the analysis limits (one or two channels, 8000..384000 Hz, at most 1200 s) before
// any sample memory is taken. Returns false with a one-line sentence in error when the file cannot be
// opened or read or lies outside the limits.
bool readAudioFile(const std::string& path, LoadedAudio& out, std::string& error);

} // namespace cv::cli
