#include "engine/render/epochs.h"

#include "engine/render/centred_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

namespace np {
namespace {

// Frames searched on either side of an unvoiced frame for a period.
constexpr long long kPeriodSearchFrames = 15;
// The low-pass keeps the fundamental and the next harmonic or so, where the glottal pulse shows.
constexpr double kCutoffPerF0 = 2.5;
constexpr double kMaxCutoffHz = 1500.0;

bool voicedFrame(const PitchFrame& frame) noexcept {
    return frame.voiced && frame.hz > 0.0;
}

// Two cascaded one-pole low-pass sections over x in the given direction, states from 0.
void lowPassPass(std::vector<float>& x, double a, bool backward) {
    double y1 = 0.0, y2 = 0.0;
    const auto n = static_cast<std::ptrdiff_t>(x.size());
    for (std::ptrdiff_t step = 0; step < n; ++step) {
        float& v = x[static_cast<std::size_t>(backward ? n - 1 - step : step)];
        y1 += a * (v - y1);
        y2 += a * (y1 - y2);
        v = static_cast<float>(y2);
    }
}

// The epochs of one voiced run [begin, end) of the filtered signal, appended to epochs.
void runEpochs(const std::vector<float>& filtered, long long begin, long long end, const PitchTrack& track,
               double rate, std::vector<long long>& epochs) {
    const double p0 = epochPeriodAt(track, rate, begin);
    if (!(p0 > 2.0) || end - begin < static_cast<long long>(2.0 * p0))
        return;
    // Polarity: the sign of the larger excursion over the first four periods.
    float positive = 0.0f, negative = 0.0f;
    const long long polarityEnd = std::min(end, begin + static_cast<long long>(4.0 * p0));
    for (long long i = begin; i < polarityEnd; ++i) {
        positive = std::max(positive, filtered[static_cast<std::size_t>(i)]);
        negative = std::max(negative, -filtered[static_cast<std::size_t>(i)]);
    }
    const float sign = positive >= negative ? 1.0f : -1.0f;

    long long epoch = begin;
    float best = -1.0f;
    const long long firstEnd = std::min(begin + static_cast<long long>(p0), end);
    for (long long i = begin; i < firstEnd; ++i) {
        const float v = sign * filtered[static_cast<std::size_t>(i)];
        if (v > best) {
            best = v;
            epoch = i;
        }
    }
    epochs.push_back(epoch);
    for (;;) {
        const double period = epochPeriodAt(track, rate, epoch);
        if (!(period > 2.0))
            return;
        const long long first = static_cast<long long>(0.7 * period);
        const long long limit = std::min(epoch + static_cast<long long>(1.4 * period), end);
        if (epoch + first >= limit)
            return;
        double bestScore = -std::numeric_limits<double>::infinity();
        long long bestOffset = first;
        for (long long d = first; epoch + d < limit; ++d) {
            const double off = (static_cast<double>(d) - period) / period;
            const double score =
                (1.0 - 0.3 * off * off) * sign * filtered[static_cast<std::size_t>(epoch + d)];
            if (score > bestScore) {
                bestScore = score;
                bestOffset = d;
            }
        }
        epoch += bestOffset;
        epochs.push_back(epoch);
        if (epoch + static_cast<long long>(0.7 * epochPeriodAt(track, rate, epoch)) >= end)
            return;
    }
}

} // namespace

double epochPeriodAt(const PitchTrack& track, double sampleRate, long long position) noexcept {
    const auto count = static_cast<long long>(track.frames.size());
    if (count == 0 || track.hop == 0)
        return 0.0;
    const long long f = std::clamp<long long>(frameCentredAt(track, position), 0, count - 1);
    if (voicedFrame(track.frames[static_cast<std::size_t>(f)]))
        return sampleRate / track.frames[static_cast<std::size_t>(f)].hz;
    for (long long d = 1; d <= kPeriodSearchFrames; ++d)
        for (const long long g : {f - d, f + d})
            if (g >= 0 && g < count && voicedFrame(track.frames[static_cast<std::size_t>(g)]))
                return sampleRate / track.frames[static_cast<std::size_t>(g)].hz;
    return 0.0;
}

std::vector<long long> detectEpochs(const float* mono, long long frames, double sampleRate,
                                    const PitchTrack& track) {
    std::vector<long long> epochs;
    if (mono == nullptr || frames <= 0 || track.hop == 0 || !(sampleRate > 0.0))
        return epochs;
    std::vector<double> voicedHz;
    for (const PitchFrame& frame : track.frames)
        if (voicedFrame(frame))
            voicedHz.push_back(frame.hz);
    if (voicedHz.empty())
        return epochs;
    const auto middle = voicedHz.begin() + static_cast<std::ptrdiff_t>(voicedHz.size() / 2);
    std::nth_element(voicedHz.begin(), middle, voicedHz.end());
    const double cutoff = std::min(kCutoffPerF0 * *middle, kMaxCutoffHz);
    voicedHz = {};

    const double a = 1.0 - std::exp(-2.0 * std::numbers::pi * cutoff / sampleRate);
    std::vector<float> filtered(mono, mono + frames);
    lowPassPass(filtered, a, false);
    lowPassPass(filtered, a, true);

    const auto hop = static_cast<long long>(track.hop);
    const auto count = static_cast<long long>(track.frames.size());
    for (long long i = 0; i < count;) {
        if (!voicedFrame(track.frames[static_cast<std::size_t>(i)])) {
            ++i;
            continue;
        }
        long long j = i + 1;
        while (j < count && voicedFrame(track.frames[static_cast<std::size_t>(j)]))
            ++j;
        // A run covers its frames' hops and one hop more, where the last frame's window still reaches.
        const long long begin = i * hop, end = std::min((j + 1) * hop, frames);
        if (begin < end)
            runEpochs(filtered, begin, end, track, sampleRate, epochs);
        i = j;
    }
    return epochs;
}

} // namespace np
