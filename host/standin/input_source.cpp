#include "host/standin/input_source.h"

#include "engine/audio/page_release.h"

#include <algorithm>
#include <cmath>
#include <sndfile.h>
#include <stdexcept>

namespace cv::standin {
namespace {

constexpr std::int64_t kPositionMask = (std::int64_t{1} << 20) - 1;
constexpr double kScale = 1.0 / (1 << 21);

} // namespace

double PositionCodedSource::code(std::int64_t position, int channel) noexcept {
    const double magnitude = static_cast<double>((position & kPositionMask) + 1) * kScale;
    return channel == 0 ? magnitude : -magnitude;
}

std::int64_t PositionCodedSource::decode(double sample) noexcept {
    const double scaled = std::abs(sample) / kScale;
    if (!std::isfinite(scaled) || scaled < 1.0 || scaled > static_cast<double>(kPositionMask + 1) ||
        scaled != std::floor(scaled))
        return -1;
    return static_cast<std::int64_t>(scaled) - 1;
}

void PositionCodedSource::fill(std::int64_t position, int frames,
                               std::span<double* const> channels) const noexcept {
    for (std::size_t c = 0; c < channels.size(); ++c)
        for (int i = 0; i < frames; ++i)
            channels[c][i] = code(position + i, static_cast<int>(c));
}

namespace {

void fillFromTake(const np::AudioBuffer& take, std::int64_t position, int frames,
                  std::span<double* const> channels) noexcept {
    for (std::size_t c = 0; c < channels.size(); ++c) {
        if (take.channels < 1) {
            std::fill(channels[c], channels[c] + frames, 0.0);
            continue;
        }
        const std::span<const float> plane = take.channel(std::min(static_cast<int>(c), take.channels - 1));
        for (int i = 0; i < frames; ++i) {
            const std::int64_t p = position + i;
            channels[c][i] = p >= 0 && p < take.frames ? plane[static_cast<std::size_t>(p)] : 0.0;
        }
    }
}

} // namespace

void TrackSource::fill(std::int64_t position, int frames, std::span<double* const> channels) const noexcept {
    fillFromTake(*audio_, position, frames, channels);
}

void OwnedTrackSource::fill(std::int64_t position, int frames,
                            std::span<double* const> channels) const noexcept {
    if (givingBack_.load() && audio_.channels <= 2) {
        // Everything before this block has been played.
        const std::int64_t behind = std::clamp<std::int64_t>(position, 0, audio_.frames);
        if (behind > givenBackFrames_ &&
            (behind - givenBackFrames_ >= kGiveBackStepFrames || behind == audio_.frames)) {
            for (int c = 0; c < audio_.channels; ++c) {
                float* plane = audio_.channel(c).data();
                float*& from = givenBackTo_[static_cast<std::size_t>(c)];
                from = np::releaseWholePages(from == nullptr ? plane : from, plane + behind);
            }
            givenBackFrames_ = behind;
        }
    }
    fillFromTake(audio_, position, frames, channels);
}

void writeWav(const std::string& path, const std::vector<std::vector<double>>& planes, double sampleRate) {
    if (planes.empty() || !(sampleRate >= 1.0 && sampleRate <= 2147483647.0))
        throw std::runtime_error("Couldn't write \"" + path + "\": no channels or a bad sample rate.");
    SF_INFO info{};
    info.channels = static_cast<int>(planes.size());
    info.samplerate = static_cast<int>(sampleRate);
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error("Couldn't create \"" + path + "\": " + sf_strerror(nullptr));
    const std::size_t frames = planes[0].size();
    std::vector<double> interleaved(frames * planes.size());
    for (std::size_t f = 0; f < frames; ++f)
        for (std::size_t c = 0; c < planes.size(); ++c)
            interleaved[f * planes.size() + c] = f < planes[c].size() ? planes[c][f] : 0.0;
    const sf_count_t written = sf_writef_double(file, interleaved.data(), static_cast<sf_count_t>(frames));
    const int closed = sf_close(file);
    if (written != static_cast<sf_count_t>(frames) || closed != 0)
        throw std::runtime_error("Couldn't write all of \"" + path + "\".");
}

} // namespace cv::standin
