#include "engine/render/psola_render.h"

#include "engine/render/epochs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>

namespace np {
namespace {

// Consecutive epochs further apart than this many periods start a new run.
constexpr double kRunBreakPeriods = 1.6;
constexpr std::size_t kMinRunEpochs = 3;
// The local period is kept within these multiples of the track's period.
constexpr double kMinPeriodRatio = 0.6;
constexpr double kMaxPeriodRatio = 1.6;
// Samples whose grain weight reaches this count as covered by the re-synthesis.
constexpr float kCoveredWeight = 0.25f;
constexpr float kMinBlendWeight = 0.001f;

// Replaces x by its running mean over the last w samples (fewer at the start). A window of zeros gives
// exactly 0, so stretches without grains stay exactly the copy however long the span.
void runningMean(std::vector<float>& x, std::size_t w, std::vector<float>& ring) {
    ring.assign(w, 0.0f);
    double sum = 0.0;
    std::size_t nonZero = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        float& slot = ring[i % w];
        if (i >= w) {
            sum -= slot;
            nonZero -= slot != 0.0f ? 1 : 0;
        }
        slot = x[i];
        sum += slot;
        nonZero += slot != 0.0f ? 1 : 0;
        if (nonZero == 0)
            sum = 0.0;
        x[i] = nonZero == 0 ? 0.0f : static_cast<float>(sum / static_cast<double>(std::min(i + 1, w)));
    }
}

// Reads a signal a fixed offset of less than a sample away from each index: four-point cubic
// (Catmull-Rom) interpolation, taps past the ends repeating the end samples. A zero offset reads exactly.
struct Interpolation {
    long long base = 0;                       // whole samples added to the index
    float taps[4] = {0.0f, 1.0f, 0.0f, 0.0f}; // weights of samples base - 1 .. base + 2

    float read(std::span<const float> x, long long i) const noexcept {
        const auto last = static_cast<long long>(x.size()) - 1;
        float sum = 0.0f;
        for (long long k = 0; k < 4; ++k)
            sum += taps[k] * x[static_cast<std::size_t>(std::clamp(i + base - 1 + k, 0LL, last))];
        return sum;
    }
};

// The interpolation that reads the signal at index + offset (offset in [-0.5, 0.5]).
Interpolation interpolationAt(double offset) noexcept {
    Interpolation in;
    in.base = static_cast<long long>(std::floor(offset));
    const auto f = static_cast<float>(offset - static_cast<double>(in.base));
    if (f == 0.0f)
        return in;
    const float f2 = f * f, f3 = f2 * f;
    in.taps[0] = 0.5f * (-f3 + 2.0f * f2 - f);
    in.taps[1] = 0.5f * (3.0f * f3 - 5.0f * f2 + 2.0f);
    in.taps[2] = 0.5f * (-3.0f * f3 + 4.0f * f2 + f);
    in.taps[3] = 0.5f * (f3 - f2);
    return in;
}

struct Accumulators {
    std::vector<std::vector<float>> sum; // per channel
    std::vector<float> weight;
    // The re-synthesis's share of the output, once every weight is in. While the weights are laid, 1
    // marks the samples between two grains laid one after the other.
    std::vector<float> blend;
    std::vector<float> grain, grainWeight; // one grain's samples and output weights, reused
};

enum class Lay { Weights, Grains };

// What a grain's sample at output index o weighs in the output: its share of the blend over the summed
// weight it is divided by.
float outputWeight(const Accumulators& acc, std::size_t o) {
    return acc.blend[o] / std::max(acc.weight[o], kCoveredWeight);
}

// Lays the grain of `epoch` at output index `at` over offsets lo..hi, window[d] its weight at offset d.
// Each grain is laid without its mean under the weights it has in the output: a two-period excerpt of
// an asymmetric wave has one, and grains laid further apart or closer together than the source's
// periods would turn it into an offset under the whole run, which steps where the unit meets the source.
void layGrain(const AudioBuffer& source, long long epoch, const Interpolation& between, long long at,
              long long lo, long long hi, const float* window, Accumulators& acc) {
    const auto count = static_cast<std::size_t>(hi - lo + 1);
    acc.grainWeight.resize(count);
    acc.grain.resize(count);
    double weights = 0.0;
    for (long long d = lo; d <= hi; ++d) {
        const float w = window[d] * outputWeight(acc, static_cast<std::size_t>(at + d));
        acc.grainWeight[static_cast<std::size_t>(d - lo)] = w;
        weights += w;
    }
    for (int c = 0; c < source.channels; ++c) {
        const std::span<const float> in = source.channel(c);
        double mean = 0.0;
        for (long long d = lo; d <= hi; ++d) {
            const auto g = static_cast<std::size_t>(d - lo);
            acc.grain[g] = between.read(in, epoch + d);
            mean += acc.grainWeight[g] * acc.grain[g];
        }
        const auto offset = weights > 0.0 ? static_cast<float>(mean / weights) : 0.0f;
        std::vector<float>& sum = acc.sum[static_cast<std::size_t>(c)];
        for (long long d = lo; d <= hi; ++d)
            sum[static_cast<std::size_t>(at + d)] +=
                window[d] * (acc.grain[static_cast<std::size_t>(d - lo)] - offset);
    }
}

// Lays the grains of one run of epochs [first, last] of the table into acc: their weights and the
// stretches between consecutive grains, or (once every run's weights are in) the grains themselves.
void layRun(Lay what, const AudioBuffer& source, double rate, const PitchTrack& track,
            const std::vector<long long>& epochs, std::size_t first, std::size_t last, long long spanStart,
            long long spanLength, const std::vector<double>& centsPerHop, Accumulators& acc,
            std::vector<float>& window) {
    const auto hop = static_cast<long long>(track.hop);
    double t = static_cast<double>(epochs[first] - spanStart);
    const double end = static_cast<double>(epochs[last] - spanStart);
    std::size_t k = first;
    long long windowHalf = -1;
    long long previousAt = -1; // where the last grain was laid, -1 after a stretch without grains
    while (t < end) {
        const long long at = std::llround(t);
        // Nearest epoch; t only grows, so the search goes on from the last one (ties stay earlier).
        const long long target = spanStart + at;
        while (k < last && std::llabs(epochs[k + 1] - target) < std::llabs(epochs[k] - target))
            ++k;
        const long long epoch = epochs[k];
        const double period = epochPeriodAt(track, rate, epoch);
        double q = k < last    ? static_cast<double>(epochs[k + 1] - epoch)
                   : k > first ? static_cast<double>(epoch - epochs[k - 1])
                               : period;
        if (period > 2.0)
            q = std::clamp(q, kMinPeriodRatio * period, kMaxPeriodRatio * period);
        if (q <= 2.0)
            return;
        double cents = 0.0;
        if (!centsPerHop.empty()) {
            const auto index = static_cast<std::size_t>(std::max(0LL, at) / hop);
            cents = centsPerHop[std::min(index, centsPerHop.size() - 1)];
        }
        const double ratio = std::exp2(cents / 1200.0);

        const auto frame = static_cast<std::size_t>(epoch / hop);
        const bool sibilant =
            frame < track.frames.size() && (track.frames[frame].flags & PitchFrame::kSibilant) != 0;
        const long long half = std::lround(q);
        if (!sibilant && half >= 4) {
            if (half != windowHalf) {
                window.resize(static_cast<std::size_t>(2 * half + 1));
                for (long long d = -half; d <= half; ++d)
                    window[static_cast<std::size_t>(d + half)] =
                        static_cast<float>(0.5 + 0.5 * std::cos(std::numbers::pi * static_cast<double>(d) /
                                                                static_cast<double>(half + 1)));
                windowHalf = half;
            }
            // The grain's centre belongs at t itself: laid at the nearest sample, every new period would
            // be off by up to half a sample, a hoarseness of its own. So output sample at + d takes the
            // source at epoch + d - (t - at), between samples.
            const Interpolation between = interpolationAt(static_cast<double>(at) - t);
            // Output and source indices that both lie inside their buffers.
            const long long lo = std::max({-half, -at, -epoch});
            const long long hi = std::min({half, spanLength - 1 - at, source.frames - 1 - epoch});
            if (what == Lay::Weights) {
                for (long long d = lo; d <= hi; ++d)
                    acc.weight[static_cast<std::size_t>(at + d)] +=
                        window[static_cast<std::size_t>(d + half)];
                // The stretch back to the grain before belongs to the re-synthesis whatever weight the
                // two leave there. Grains spread more than about one and a half periods apart (shifts
                // beyond about 7.5 semitones down) leave less than the covered weight between them, and
                // the copy showing through there would beat the source's harmonics against the new ones
                // at a few hertz.
                if (previousAt >= 0 && previousAt < at)
                    std::fill(acc.blend.begin() + previousAt + 1, acc.blend.begin() + at, 1.0f);
                previousAt = at;
            } else {
                layGrain(source, epoch, between, at, lo, hi, &window[static_cast<std::size_t>(half)], acc);
            }
        } else {
            previousAt = -1;
        }
        // Grains closer together raise the pitch.
        t += q / ratio;
    }
}

} // namespace

AudioBuffer copySourceSpan(const AudioBuffer& source, long long spanStart, long long spanLength) {
    AudioBuffer out;
    out.resize(source.channels, std::max(0LL, spanLength));
    const long long lo = std::max(0LL, spanStart);
    const long long hi = std::min<long long>(source.frames, spanStart + spanLength);
    for (int c = 0; c < source.channels && lo < hi; ++c)
        std::copy(source.channel(c).begin() + lo, source.channel(c).begin() + hi,
                  out.channel(c).begin() + (lo - spanStart));
    return out;
}

AudioBuffer renderPsolaSpan(const AudioBuffer& source, double sampleRate, const PitchTrack& track,
                            const std::vector<long long>& epochs, long long spanStart, long long spanLength,
                            const std::vector<double>& centsPerHop) {
    AudioBuffer out = copySourceSpan(source, spanStart, spanLength);
    const auto inSpanBegin = std::lower_bound(epochs.begin(), epochs.end(), spanStart);
    const auto inSpanEnd = std::lower_bound(inSpanBegin, epochs.end(), spanStart + std::max(0LL, spanLength));
    if (spanLength <= 0 || source.channels < 1 || track.hop == 0 || track.frames.empty() ||
        inSpanBegin == inSpanEnd)
        return out;

    const auto length = static_cast<std::size_t>(spanLength);
    Accumulators acc;
    acc.sum.assign(static_cast<std::size_t>(source.channels), std::vector<float>(length, 0.0f));
    acc.weight.assign(length, 0.0f);
    std::vector<float> window;
    const auto begin = static_cast<std::size_t>(inSpanBegin - epochs.begin());
    const auto end = static_cast<std::size_t>(inSpanEnd - epochs.begin());
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t first = begin; first < end;) {
        std::size_t last = first;
        while (last + 1 < end && static_cast<double>(epochs[last + 1] - epochs[last]) <
                                     kRunBreakPeriods * epochPeriodAt(track, sampleRate, epochs[last]))
            ++last;
        if (last + 1 - first >= kMinRunEpochs)
            runs.emplace_back(first, last);
        first = last + 1;
    }
    const auto layRuns = [&](Lay what) {
        for (const auto& [first, last] : runs)
            layRun(what, source, sampleRate, track, epochs, first, last, spanStart, spanLength, centsPerHop,
                   acc, window);
    };
    std::vector<float>& blend = acc.blend;
    blend.assign(length, 0.0f);
    layRuns(Lay::Weights);

    // Where grains cover the span or lie on either side, a mask smoothed over about 2 ms blends the
    // re-synthesis in. Between two grains the weight counts as at least the covered weight (which
    // leaves the division unchanged), so that no sample there falls back to the copy for want of
    // weight: the re-synthesis is the grains' tails at the level they have under that weight, and
    // silence where they leave none (grains two periods apart or more).
    for (std::size_t i = 0; i < length; ++i) {
        const bool betweenGrains = blend[i] > 0.0f;
        if (betweenGrains)
            acc.weight[i] = std::max(acc.weight[i], kCoveredWeight);
        blend[i] = betweenGrains || acc.weight[i] > kCoveredWeight ? 1.0f : 0.0f;
    }
    std::size_t w = static_cast<std::size_t>(0.002 * sampleRate) / 3;
    if (w < 2)
        w = 1;
    for (int pass = 0; pass < 3; ++pass)
        runningMean(blend, w, window);
    for (std::size_t i = 0; i < length; ++i) {
        const float g = std::min(1.0f, blend[i]);
        blend[i] = g > 0.0f && acc.weight[i] > kMinBlendWeight ? g : 0.0f;
    }

    layRuns(Lay::Grains);
    for (std::size_t i = 0; i < length; ++i) {
        const float g = blend[i];
        if (!(g > 0.0f))
            continue;
        const float norm = std::max(acc.weight[i], kCoveredWeight);
        for (int c = 0; c < source.channels; ++c) {
            float& y = out.channel(c)[i];
            y = y * (1.0f - g) + acc.sum[static_cast<std::size_t>(c)][i] / norm * g;
        }
    }
    return out;
}

} // namespace np
