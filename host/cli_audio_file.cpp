#include "host/cli_audio_file.h"

#include "engine/analysis/analysis_plan.h"

#include <cmath>
#include <memory>
#include <sndfile.h>
#include <sstream>
#include <vector>

namespace cv::cli {
namespace {

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

// Frames read per call: bounded so that the interleaved staging buffer stays small.
constexpr sf_count_t kChunkFrames = 65536;

std::string describeRate(double rate) {
    std::ostringstream text;
    text << rate;
    return text.str();
}

} // namespace

bool readAudioFile(const std::string& path, LoadedAudio& out, std::string& error) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        error = "Could not read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.channels > np::kAnalysisMaxChannels) {
        error = path + " has " + std::to_string(info.channels) +
                " channels; only mono and stereo can be analysed.";
        return false;
    }
    const double rate = info.samplerate;
    if (!(rate >= np::kAnalysisMinSampleRate && rate <= np::kAnalysisMaxSampleRate)) {
        error = path + " has a sample rate of " + describeRate(rate) +
                " Hz; rates from 8000 to 384000 Hz can be analysed.";
        return false;
    }
    if (info.frames < 1) {
        error = path + " holds no audio.";
        return false;
    }
    if (static_cast<double>(info.frames) / rate > np::kAnalysisMaxSeconds) {
        std::ostringstream text;
        text << path << " lasts " << std::round(static_cast<double>(info.frames) / rate * 10.0) / 10.0
             << " s; at most 1200 s can be analysed.";
        error = text.str();
        return false;
    }

    np::AudioBuffer audio;
    audio.resize(info.channels, info.frames);
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames * info.channels));
    sf_count_t done = 0;
    while (done < info.frames) {
        const sf_count_t want = std::min(kChunkFrames, info.frames - done);
        const sf_count_t got = sf_readf_float(file.get(), chunk.data(), want);
        if (got <= 0)
            break;
        for (int c = 0; c < info.channels; ++c) {
            std::span<float> channel = audio.channel(c);
            for (sf_count_t i = 0; i < got; ++i)
                channel[static_cast<std::size_t>(done + i)] =
                    chunk[static_cast<std::size_t>(i * info.channels + c)];
        }
        done += got;
    }
    if (done != info.frames) {
        error = "Could not read " + path + ": the file ends after " + std::to_string(done) + " of " +
                std::to_string(info.frames) + " frames.";
        return false;
    }
    out.audio = std::move(audio);
    out.sampleRate = rate;
    return true;
}

} // namespace cv::cli
