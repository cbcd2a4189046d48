#pragma once

// The host command's offline bounce, kept as the WAV data it is written as.

#include "engine/io/wav_data.h"
#include "host/standin/standin_host.h"

namespace cv::cli {

// Bounces script offline through host into WAV data of channels channels coded for depth. The room for
// every frame the script plays is taken before the first block (std::length_error with the audio buffer
// limit sentence, std::bad_alloc: nothing played then); each block's output is rounded to float, scaled
// by scale as matchWriterScale scales (1: left as it is) and coded as it is played, so the bounce is held
// once, in the output's sample format, and its bytes are those saveWav would write for the float bounce
// scaled by matchWriterScale.
np::WavData bounceToWavData(cv::standin::StandinHost& host, cv::standin::TransportScript script, int channels,
                            np::WavBitDepth depth, double scale);

} // namespace cv::cli
