#include "engine/analysis/pyin.h"

#include "engine/analysis/analysis_threads.h"
#include "engine/analysis/pyin_decoder.h"
#include "engine/analysis/pyin_observation.h"
#include "engine/analysis/yin.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <thread>
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

// Frames per chunk of the frame-independent stages; the observation stage reports once per chunk.
constexpr std::size_t kObservationChunk = 64;
constexpr std::size_t kOutputChunk = 256;

// The bins the decoded path can take at a frame with obs: a voiced state has a finite score only
// next to a bin the observation put mass on.
bool reachable(std::uint32_t bin, const FrameObs& obs) noexcept {
    for (const PYinBinMass& m : obs.kept())
        if (bin + 1 >= m.bin && bin <= m.bin + 1)
            return true;
    return false;
}

// Whether a candidate at midi lies within kSnapCents of the centre of a reachable bin.
bool reportable(double midi, const FrameObs& obs, const PYinPitchGrid& grid) noexcept {
    for (const PYinBinMass& m : obs.kept()) {
        const std::uint32_t low = m.bin > 0 ? m.bin - 1 : 0;
        const std::uint32_t high = std::min(m.bin + 1, grid.bins - 1);
        for (std::uint32_t bin = low; bin <= high; ++bin)
            if (std::abs(midi - grid.centreMidi(bin)) * 100.0 < kSnapCents)
                return true;
    }
    return false;
}

// The YIN candidates of the voiced frames, kept from the observation stage so that reporting the
// decoded pitch does not analyse the same window a second time. Only the candidates that can be
// reported are kept: those near a reachable bin, in their YIN order, which are exactly the ones the
// report can pick (YIN is deterministic, so a second run would give the same). A frame with more
// than kPerFrame of them, or decoded at a bin that is not reachable (only when every state is
// impossible), is analysed again. Storage comes in one exact pool per observation chunk.
class CandidateCache {
public:
    static constexpr std::size_t kPerFrame = 16;

    explicit CandidateCache(std::size_t frames)
        : spans_(frames), pools_((frames + kObservationChunk - 1) / kObservationChunk) {}

    // Appends the reportable candidates of frame to chunk (the frame's chunk under construction).
    void keep(std::size_t frame, std::span<const YinCandidate> candidates, const FrameObs& obs,
              const PYinPitchGrid& grid, std::vector<YinCandidate>& chunk) {
        const std::size_t begin = chunk.size();
        for (const YinCandidate& c : candidates)
            if (reportable(midiFromHz(c.hz), obs, grid))
                chunk.push_back(c);
        if (chunk.size() - begin > kPerFrame) {
            chunk.resize(begin);
            return;
        }
        spans_[frame] = {static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(chunk.size() - begin)};
    }

    // Stores a finished chunk with exactly the memory it needs.
    void commit(std::size_t chunkIndex, const std::vector<YinCandidate>& chunk) {
        pools_[chunkIndex].assign(chunk.begin(), chunk.end());
    }

    // The kept candidates of frame decoded at bin, or nullopt when the frame must be analysed again.
    std::optional<std::span<const YinCandidate>> find(std::size_t frame, std::uint32_t bin,
                                                      const FrameObs& obs) const noexcept {
        const Span s = spans_[frame];
        if (s.count == kNotKept || !reachable(bin, obs))
            return std::nullopt;
        return std::span<const YinCandidate>(pools_[frame / kObservationChunk].data() + s.begin, s.count);
    }

private:
    static constexpr std::uint32_t kNotKept = 0xffffffffu;
    struct Span {
        std::uint32_t begin = 0;
        std::uint32_t count = kNotKept;
    };
    std::vector<Span> spans_;
    std::vector<std::vector<YinCandidate>> pools_;
};

// One thread's working state in the stages that run YIN.
struct YinWorker {
    std::unique_ptr<YinFrameAnalyzer> yin;
    std::vector<YinCandidate> candidates;
    std::vector<YinCandidate> chunk;

    YinFrameAnalyzer& analyser(const PYinConfig& config, double sampleRate) {
        if (!yin)
            yin = std::make_unique<YinFrameAnalyzer>(static_cast<int>(config.frame), sampleRate, config.minHz,
                                                     config.maxHz);
        return *yin;
    }
};

// Scratch of one YIN thread, for planning threads against the tracker's fixed allowance.
std::uint64_t yinWorkerBytes(std::uint32_t window) noexcept {
    return YinFrameAnalyzer::workingBytes(static_cast<int>(window)) +
           2 * kObservationChunk * CandidateCache::kPerFrame * sizeof(YinCandidate);
}

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

std::uint64_t pitchTrackerAllowanceBytes(const PYinDecoderMemoryPlan& plan,
                                         const PYinConfig& config) noexcept {
    return plan.states * 48 + static_cast<std::uint64_t>(config.frame) * 192;
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

    const std::uint64_t allowance = pitchTrackerAllowanceBytes(plan, config);
    const std::uint64_t perThread = yinWorkerBytes(config.frame);
    const std::size_t observationChunks = (frames + kObservationChunk - 1) / kObservationChunk;
    // The forward pass takes a thread of its own beside the observation stage when there are two.
    const bool forwardBeside = analysisThreadCount() > 1 && observationChunks > 1;
    const int observationThreads = std::min(detail::stageThreads(observationChunks, allowance, perThread),
                                            std::max(1, analysisThreadCount() - (forwardBeside ? 1 : 0)));
    std::vector<YinWorker> workers(static_cast<std::size_t>(observationThreads));
    workers[0].analyser(config, sampleRate);
    std::vector<FrameObs> observations(frames);
    CandidateCache cache(frames);
    const PYinTransitionModel model = PYinTransitionModel::make(grid.bins, config);
    PYinDecoder decoder(model, frames, plan.checkpointInterval);

    const double silenceRms = std::pow(10.0, config.silenceDb / 20.0);
    detail::ChunkedStage observe(observationChunks, observationThreads);
    const auto observeChunk = [&](std::size_t chunk, int worker) {
        YinWorker& w = workers[static_cast<std::size_t>(worker)];
        YinFrameAnalyzer& yin = w.analyser(config, sampleRate);
        w.chunk.clear();
        const std::size_t end = std::min(frames, (chunk + 1) * kObservationChunk);
        for (std::size_t t = chunk * kObservationChunk; t < end; ++t) {
            const double energy = yin.load(mono + t * hop);
            // Silent frames keep the empty observation: no candidates and no voiced mass.
            if (std::sqrt(energy / static_cast<double>(window)) < silenceRms)
                continue;
            yin.analyzeLoaded(w.candidates, kYinThreshold);
            observations[t] = observeCandidates(w.candidates, grid);
            if (observations[t].voicedMass > 0.0)
                cache.keep(t, w.candidates, observations[t], grid, w.chunk);
        }
        cache.commit(chunk, w.chunk);
    };
    const auto reportObserved = [&](std::size_t chunk) {
        const std::size_t t = chunk * kObservationChunk;
        return keepGoing(progress, 0.65f * static_cast<float>(t) / framesF);
    };

    // The forward pass follows the observations chunk by chunk; the calling thread reports its
    // progress once the observation stage has reported all of its own, as the serial order has it.
    std::atomic<std::size_t> forwarded{0};
    std::atomic<bool> abandon{false};
    const auto forwardPass = [&] {
        for (std::size_t t = 0; t < frames; ++t) {
            if (t % kObservationChunk == 0 &&
                (!observe.awaitChunk(t / kObservationChunk) || abandon.load(std::memory_order_relaxed)))
                return;
            decoder.forward(observations[t]);
            if (PYinDecoder::reportsForwardAt(t) || t + 1 == frames) {
                forwarded.store(t + 1, std::memory_order_release);
                forwarded.notify_all();
            }
        }
    };
    std::thread beside;
    if (forwardBeside) {
        try {
            beside = std::thread(forwardPass);
        } catch (...) {
            // No thread: the forward pass runs after the observations instead.
        }
    }
    struct Joiner {
        std::thread& thread;
        std::atomic<bool>& abandon;
        ~Joiner() {
            abandon.store(true, std::memory_order_relaxed);
            if (thread.joinable())
                thread.join();
        }
    } joiner{beside, abandon};

    if (!observe.run(observeChunk, reportObserved))
        return track;
    if (!beside.joinable())
        forwardPass();
    for (std::size_t t = 0; t < frames; t += PYinDecoder::kForwardReportFrames) {
        for (std::size_t done = forwarded.load(std::memory_order_acquire); done <= t;
             done = forwarded.load(std::memory_order_acquire))
            forwarded.wait(done, std::memory_order_acquire);
        if (!keepGoing(progress, decoder.forwardFraction(t)))
            return track;
    }
    if (beside.joinable())
        beside.join();

    // The helpers' analysers make room for the backward workers; the report needs one only for a
    // frame whose candidates were not kept.
    for (std::size_t w = 1; w < workers.size(); ++w)
        workers[w].yin.reset();
    const std::optional<std::vector<std::uint32_t>> path = decoder.backward(observations, progress);
    if (!path)
        return track;

    std::vector<PitchFrame> out(frames);
    const std::size_t outputChunks = (frames + kOutputChunk - 1) / kOutputChunk;
    const auto reportChunk = [&](std::size_t chunk, int worker) {
        YinWorker& w = workers[static_cast<std::size_t>(worker)];
        const std::size_t end = std::min(frames, (chunk + 1) * kOutputChunk);
        for (std::size_t t = chunk * kOutputChunk; t < end; ++t) {
            const std::uint32_t state = (*path)[t];
            if (state >= grid.bins || observations[t].voicedMass <= 0.0)
                continue;
            // Report the candidate's own refined frequency when one lies near the decoded bin, which is
            // far finer than the bin grid.
            std::optional<std::span<const YinCandidate>> kept = cache.find(t, state, observations[t]);
            if (!kept) {
                w.analyser(config, sampleRate).analyze(mono + t * hop, w.candidates, kYinThreshold);
                kept = w.candidates;
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
    };
    const auto reportReported = [&](std::size_t chunk) {
        const std::size_t t = chunk * kOutputChunk;
        return keepGoing(progress, 0.02f * static_cast<float>(t) / framesF + 0.98f);
    };
    detail::ChunkedStage report(outputChunks, std::min(observationThreads, static_cast<int>(outputChunks)));
    if (!report.run(reportChunk, reportReported))
        return track;
    track.frames = std::move(out);
    if (progress)
        progress(1.0f);
    return track;
}

} // namespace np
