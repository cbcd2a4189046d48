#include "engine/analysis/pyin.h"

#include "engine/analysis/pyin_decoder.h"
#include "engine/analysis/pyin_observation.h"
#include "engine/analysis/yin.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace np {
namespace {

constexpr double kYinThreshold = 0.9;
constexpr std::uint32_t kMaxHop = 4194304;
constexpr std::uint32_t kMaxFrame = 4194304;
constexpr std::int64_t kMaxFrames = 4000000;
constexpr double kMinBins = 2.0;
constexpr double kMaxBins = 8192.0;
// A candidate further than this from the decoded bin's centre leaves the frame at the bin centre.
constexpr double kSnapCents = 60.0;

bool finiteWithin(double v, double lo, double hi) noexcept {
    return std::isfinite(v) && v >= lo && v <= hi;
}

bool settingsUsable(double sampleRate, const PYinConfig& c) noexcept {
    if (!finiteWithin(sampleRate, 8000.0, 384000.0))
        return false;
    if (c.hop < 1 || c.hop > kMaxHop)
        return false;
    if (c.frame < 2 || c.frame > kMaxFrame || (c.frame & (c.frame - 1)) != 0)
        return false;
    if (!std::isfinite(c.minHz) || !std::isfinite(c.maxHz) || !(c.minHz > 0.0) || !(c.minHz < c.maxHz) ||
        !(c.maxHz < sampleRate / 2.0))
        return false;
    if (!std::isfinite(c.binCents) || !(c.binCents > 0.0))
        return false;
    if (!std::isfinite(c.maxJumpCents) || !(c.maxJumpCents >= 0.0))
        return false;
    if (!finiteWithin(c.voicedToUnvoiced, 0.0, 1.0) || !finiteWithin(c.unvoicedToVoiced, 0.0, 1.0))
        return false;
    return std::isfinite(c.silenceDb);
}

// a * b, or false when the product does not fit 64 bits.
bool multiply(std::uint64_t a, std::uint64_t b, std::uint64_t& out) noexcept {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
        return false;
    out = a * b;
    return true;
}

bool keepGoing(const std::function<bool(float)>& progress, float fraction) {
    return !progress || progress(fraction);
}

// The YIN candidates of the voiced frames, kept from the observation stage so that reporting the
// decoded pitch does not analyse the same window a second time (YIN is deterministic, so the kept
// candidates are exactly those a second run would give). A frame with more than kPerFrame candidates
// is not kept and is analysed again, which bounds the memory to kPerFrame candidates per frame.
class CandidateCache {
public:
    static constexpr std::uint32_t kPerFrame = 16;

    explicit CandidateCache(std::size_t frames) : spans_(frames) {}

    void keep(std::size_t frame, std::span<const YinCandidate> candidates) {
        if (candidates.size() > kPerFrame)
            return;
        spans_[frame] = {static_cast<std::uint32_t>(pool_.size()),
                         static_cast<std::uint32_t>(candidates.size())};
        pool_.insert(pool_.end(), candidates.begin(), candidates.end());
    }

    // The kept candidates of frame, or nullopt when the frame was not kept.
    std::optional<std::span<const YinCandidate>> find(std::size_t frame) const noexcept {
        const Span s = spans_[frame];
        if (s.count == kNotKept)
            return std::nullopt;
        return std::span<const YinCandidate>(pool_.data() + s.begin, s.count);
    }

private:
    static constexpr std::uint32_t kNotKept = 0xffffffffu;
    struct Span {
        std::uint32_t begin = 0;
        std::uint32_t count = kNotKept;
    };
    std::vector<Span> spans_;
    std::vector<YinCandidate> pool_;
};

} // namespace

PYinDecoderMemoryPlan planPYinDecoderMemory(std::int64_t samples, double sampleRate,
                                            const PYinConfig& config) {
    PYinDecoderMemoryPlan plan;
    if (!settingsUsable(sampleRate, config) || samples < static_cast<std::int64_t>(config.frame))
        return {};
    const std::int64_t q = (samples - static_cast<std::int64_t>(config.frame)) / config.hop;
    if (q >= kMaxFrames)
        return {};
    const auto frames = static_cast<std::uint64_t>(q + 1);
    plan.frames = frames;

    const double span = midiFromHz(config.maxHz) - midiFromHz(config.minHz);
    const double rawBins = std::ceil(span * 100.0 / config.binCents);
    if (!std::isfinite(rawBins) || rawBins < kMinBins || rawBins > kMaxBins)
        return plan; // ok false, frames kept
    const auto bins = static_cast<std::uint64_t>(rawBins);
    const std::uint64_t states = 2 * bins;

    const auto root = static_cast<std::uint64_t>(std::ceil(std::sqrt(2.0 * static_cast<double>(frames))));
    const std::uint64_t interval = std::max<std::uint64_t>(1, std::min(frames, root));
    const std::uint64_t count = (frames - 1 + interval) / interval;
    // Checkpoints of states doubles, one segment of u32 back-pointers and the u32 path.
    const std::uint64_t decoderBytes = bins * count * 16 + (states * interval + frames) * 4;
    if (decoderBytes > kPYinDecoderBudgetBytes)
        return {};

    const double jump = std::trunc(config.maxJumpCents / config.binCents);
    const std::uint64_t width =
        jump == 0.0 ? 3 : 2 * static_cast<std::uint64_t>(std::min(static_cast<double>(bins - 1), jump)) + 1;
    std::uint64_t work = 0;
    if (!multiply(2 * frames, bins, work) || !multiply(work, width, work))
        return {};

    plan.ok = true;
    plan.states = states;
    plan.checkpointInterval = interval;
    plan.checkpointCount = count;
    plan.fullTableBytes = frames * states * 4;
    plan.decoderBytes = decoderBytes;
    plan.transitionWork = work;
    plan.observationBytes = 16 * bins * frames;
    return plan;
}

PitchTrack trackPitchPYin(const float* mono, std::int64_t samples, double sampleRate,
                          const PYinConfig& config, const std::function<bool(float)>& progress) {
    PitchTrack track;
    track.sampleRate = sampleRate;
    track.hop = config.hop;
    track.frame = config.frame;
    const PYinDecoderMemoryPlan plan = planPYinDecoderMemory(samples, sampleRate, config);
    if (mono == nullptr || !plan.ok)
        return track;

    const auto frames = static_cast<std::size_t>(plan.frames);
    const auto framesF = static_cast<float>(frames);
    const std::size_t window = config.frame;
    const std::size_t hop = config.hop;
    PYinPitchGrid grid;
    grid.bins = static_cast<std::uint32_t>(plan.states / 2);
    grid.midiMin = midiFromHz(config.minHz);
    grid.midiMax = midiFromHz(config.maxHz);
    grid.binCents = config.binCents;

    YinFrameAnalyzer yin(static_cast<int>(window), sampleRate, config.minHz, config.maxHz);
    std::vector<YinCandidate> candidates;
    std::vector<FrameObs> observations(frames);
    CandidateCache cache(frames);
    const double silenceRms = std::pow(10.0, config.silenceDb / 20.0);
    for (std::size_t t = 0; t < frames; ++t) {
        const float* start = mono + t * hop;
        double energy = 0.0;
        for (std::size_t i = 0; i < window; ++i)
            energy += static_cast<double>(start[i]) * static_cast<double>(start[i]);
        // Silent frames keep the empty observation: no candidates and no voiced mass.
        if (std::sqrt(energy / static_cast<double>(window)) >= silenceRms) {
            yin.analyze(start, candidates, kYinThreshold);
            observations[t] = observeCandidates(candidates, grid);
            if (observations[t].voicedMass > 0.0)
                cache.keep(t, candidates);
        }
        if (t % 64 == 0 && !keepGoing(progress, 0.65f * static_cast<float>(t) / framesF))
            return track;
    }

    const PYinTransitionModel model = PYinTransitionModel::make(grid.bins, config);
    const std::optional<std::vector<std::uint32_t>> path =
        decodePYinPath(observations, model, plan.checkpointInterval, progress);
    if (!path)
        return track;

    std::vector<PitchFrame> out(frames);
    for (std::size_t t = 0; t < frames; ++t) {
        const std::uint32_t state = (*path)[t];
        if (state < grid.bins && observations[t].voicedMass > 0.0) {
            // Report the candidate's own refined frequency when one lies near the decoded bin, which is
            // far finer than the bin grid.
            std::optional<std::span<const YinCandidate>> kept = cache.find(t);
            if (!kept) {
                yin.analyze(mono + t * hop, candidates, kYinThreshold);
                kept = candidates;
            }
            const double centre = grid.centreMidi(state);
            double hz = grid.centreHz(state);
            double confidence = observations[t].bestConfidence;
            double nearest = kSnapCents;
            for (const YinCandidate& c : *kept) {
                const double distance = std::abs(midiFromHz(c.hz) - centre) * 100.0;
                if (distance < nearest) {
                    hz = c.hz;
                    confidence = 1.0 - c.value;
                    nearest = distance;
                }
            }
            out[t] = {hz, std::clamp(confidence, 0.0, 1.0), true, 0};
        }
        if (t % 256 == 0 && !keepGoing(progress, 0.02f * static_cast<float>(t) / framesF + 0.98f))
            return track;
    }
    track.frames = std::move(out);
    if (progress)
        progress(1.0f);
    return track;
}

} // namespace np
