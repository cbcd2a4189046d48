// The audio thread: Volume automation, ProcessBlock's sub-blocks with capture, player and gain. The
// offline (bounce) path, the one place where the audio thread may wait, is in offline_render.cpp.

#include "plugin/Corvalinth.h"

#include <algorithm>
#include <cmath>

namespace {

// The host position of a block as a whole frame, or false when it is none a plug-in can use (-1, not
// finite, beyond the signed 64-bit range). Realtime: wait-free.
bool validHostPosition(double samplePos, std::int64_t& out) noexcept {
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    if (samplePos == -1.0 || !std::isfinite(samplePos) || samplePos >= kLimit || samplePos < -kLimit)
        return false;
    out = static_cast<std::int64_t>(samplePos);
    return true;
}

void zeroOutputs(double** outputs, int outCh, int offset, int frames) noexcept {
    for (int c = 0; c < outCh; ++c)
        if (outputs[c] != nullptr)
            std::fill_n(outputs[c] + offset, frames, 0.0);
}

// Channel channel's plane of a scratch set, laid out for the largest internal block whatever the
// current one is. Realtime: wait-free.
float* scratchPlane(std::vector<float>& scratch, int channel) noexcept {
    return scratch.data() + static_cast<std::size_t>(channel) * Corvalinth::kMaxInternalBlock;
}

} // namespace

// One host block as its sub-blocks see it; lives on the audio thread's stack.
struct Corvalinth::HostBlock {
    double** inputs = nullptr;
    double** outputs = nullptr;
    int outCh = 0;
    int inCh = 0;
    int chans = 1; // planes the capture, player and gain work on
    bool running = false;
    bool offline = false;
    bool silentWithoutPosition = false;
    bool positionValid = false;
    std::int64_t position = 0;
    bool moving = false;
    std::uint64_t generation = 0;
    float slewStep = 0.0f;
    const GainAutomationEvent* events = nullptr;
    int eventCount = 0;
    int nextEvent = 0;
};

void Corvalinth::OnParamChange(int paramIdx, iplug::EParamSource source, int sampleOffset) {
    // Realtime: lock-free; host automation arrives here on the audio thread.
    if (paramIdx == cv::kParamVolume) {
        const float gain = cv::gainFromVolume(GetParam(cv::kParamVolume)->Value());
        if (source == iplug::kHost && sampleOffset >= 0)
            gainAutomation_.queueEvent(sampleOffset, gain);
        else
            gainAutomation_.setDirect(gain);
        return;
    }
    if (paramIdx > cv::kParamVolume && paramIdx < cv::kNumParams)
        pendingParams_.fetch_or(1u << paramIdx);
}

void Corvalinth::OnParamChange(int paramIdx) {
    OnParamChange(paramIdx, iplug::kUnknown, -1);
}

void Corvalinth::TakeAudioConfig() noexcept {
    // Realtime: wait-free.
    if (audioConfig_.sequence() == blockConfigSequence_)
        return;
    const std::optional<cv::AudioConfigRecord> config = audioConfig_.tryRead();
    if (!config)
        return; // a reset is publishing: the next block takes it
    blockConfigSequence_ = config->sequence;
    internalBlock_ = static_cast<int>(config->internalBlockFrames);
    previousHadPosition_ = false;
    previousPosition_ = 0;
    gain_.reset(config->volumeGain);
    gainAutomation_.settleThrough(config->volumeSequence);
}

void Corvalinth::ProcessBlockImpl(double** inputs, double** outputs, int nFrames) {
    const int outCh = NOutChansConnected();
    if (nFrames < 1 || outputs == nullptr || outCh < 1)
        return;
    TakeAudioConfig();
    if (internalBlock_ < 1) {
        zeroOutputs(outputs, outCh, 0, nFrames);
        return;
    }

    HostBlock block;
    block.inputs = inputs;
    block.outputs = outputs;
    block.outCh = outCh;
    block.inCh = NInChansConnected();
    block.chans = std::min(2, std::max(outCh, std::max(1, block.inCh)));
    block.slewStep = static_cast<float>(1.0 / (0.005 * EngineSampleRate()));

    // The drained events live on the stack: the audio thread allocates nothing.
    std::array<GainAutomationEvent, cv::GainAutomation::kMaxDrained> events;
    block.eventCount = gainAutomation_.drain(nFrames, events);
    block.events = events.data();

    block.offline = GetRenderingOffline();
    if (block.offline) {
        // A render that is unavailable passes the input through, as a bounce with nothing rendered
        // does: the timeline outside the edit must not go silent. The render flow reports the error.
        block.silentWithoutPosition = InstallRenderForOfflineProcessing() == OfflineInstall::Installed;
    }

    // The position and the "moving" test belong to the host block, not to its sub-blocks.
    const iplug::ITimeInfo& time = GetTimeInfo();
    block.running = time.mTransportIsRunning;
    block.positionValid = validHostPosition(time.mSamplePos, block.position);
    block.moving = block.positionValid && previousHadPosition_ && previousPosition_ != block.position;
    previousHadPosition_ = block.positionValid;
    previousPosition_ = block.positionValid ? block.position : 0;
    block.generation = playbackGeneration_.load(std::memory_order_acquire);

    for (int offset = 0; offset < nFrames;) {
        const int n = std::min(nFrames - offset, internalBlock_);
        ProcessSubBlock(block, offset, n);
        offset += n;
    }
}

void Corvalinth::ProcessSubBlock(HostBlock& block, int offset, int n) noexcept {
    // Realtime: lock-free, no allocation (the offline path has already waited, if at all).
    std::int64_t subPos = 0;
    const bool valid = block.positionValid && !__builtin_add_overflow(block.position, offset, &subPos);
    if (!valid)
        subPos = 0;
    lastHostPosition_.store(subPos, std::memory_order_relaxed);
    lastTransportRunning_.store(valid && block.running, std::memory_order_relaxed);
    CountFramesWithoutPosition(block, valid, n);

    float* in[2] = {scratchPlane(scratchIn_, 0), scratchPlane(scratchIn_, 1)};
    float* out[2] = {scratchPlane(scratchOut_, 0), scratchPlane(scratchOut_, 1)};

    if (!valid && block.silentWithoutPosition) {
        for (int c = 0; c < block.chans; ++c)
            std::fill_n(out[c], n, 0.0f);
    } else {
        for (int c = 0; c < block.chans; ++c) {
            const double* source = block.inputs != nullptr && block.inCh > 0
                                       ? block.inputs[std::min(c, block.inCh - 1)]
                                       : nullptr;
            if (source == nullptr) {
                std::fill_n(in[c], n, 0.0f);
                continue;
            }
            for (int i = 0; i < n; ++i) {
                const auto x = static_cast<float>(source[offset + i]);
                in[c][i] = std::isfinite(x) ? x : 0.0f;
            }
        }
        FeedCapture(block, n, subPos, valid);
        const bool playing = valid && (block.running || block.offline || block.moving);
        player_.processBlock(in, out, block.chans, n, subPos, playing, block.generation, block.offline);
        voice_.processReplace(out, block.chans, n);
    }

    // Per-frame gain: events apply at their frame, in send order at equal frames.
    for (int i = 0; i < n; ++i) {
        while (block.nextEvent < block.eventCount && block.events[block.nextEvent].offset <= offset + i)
            gain_.setTarget(block.events[block.nextEvent++].gain);
        const float gain = gain_.advance(block.slewStep);
        for (int o = 0; o < block.outCh; ++o) {
            double* dst = block.outputs[o];
            if (dst == nullptr)
                continue;
            const auto value = static_cast<double>(out[std::min(o, block.chans - 1)][i] * gain);
            dst[offset + i] = std::isfinite(value) ? value : 0.0;
        }
    }
}

void Corvalinth::CountFramesWithoutPosition(const HostBlock& block, bool positionValid, int n) noexcept {
    // Realtime: wait-free.
    if (capture_.isActive() && block.running && !positionValid) {
        const double rate = EngineSampleRate();
        const auto limit = static_cast<std::int64_t>(std::max(0.25 * rate, 2048.0));
        if (noPositionFrames_.fetch_add(n, std::memory_order_relaxed) + n >= limit)
            noPositionFlag_.store(true, std::memory_order_release);
    } else {
        noPositionFrames_.store(0, std::memory_order_relaxed);
    }
}

void Corvalinth::FeedCapture(const HostBlock& block, int n, std::int64_t subPos,
                             bool positionValid) noexcept {
    // Realtime: lock-free. The counter and the prepared sequence pair with the idle side's store of 0
    // and read of the counter: with sequential consistency on both sides, either this thread sees 0 and
    // stays out, or the idle side sees the counter and waits before it re-prepares the recorder.
    inCapture_.fetch_add(1, std::memory_order_seq_cst);
    const std::uint64_t sequence = audioConfig_.sequence();
    if (sequence != 0 && (sequence & 1u) == 0 &&
        capturePreparedSequence_.load(std::memory_order_seq_cst) == sequence && capture_.isActive() &&
        (!block.running || positionValid)) {
        const float* in[2] = {scratchPlane(scratchIn_, 0), scratchPlane(scratchIn_, 1)};
        capture_.process(in, block.chans, n, block.running, subPos);
    }
    inCapture_.fetch_sub(1, std::memory_order_seq_cst);
}
