// The audio configuration: OnReset on the host's configuration thread, and its application on the main
// thread (the capture recorder is re-prepared only there, and only while the audio thread stays out).

#include "plugin/Corvalinth.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kFallbackRateHz = 48000.0;

double engineRateFor(double hostRate) noexcept {
    return std::isfinite(hostRate) && hostRate >= 8000.0 && hostRate <= 384000.0 ? hostRate : kFallbackRateHz;
}

// Raises value to at least target (never lowers it).
void raiseTo(std::atomic<std::uint64_t>& value, std::uint64_t target) noexcept {
    std::uint64_t seen = value.load(std::memory_order_seq_cst);
    while (seen < target && !value.compare_exchange_weak(seen, target, std::memory_order_seq_cst)) {
    }
}

} // namespace

void Corvalinth::OnResetImpl() {
    // The host may reset while a block runs: what the audio thread keeps of its own (the internal block,
    // the previous block's position, the gain and the Volume ring's consumer side) it takes from the
    // published configuration at the start of its next block; the player and the voice take atomics.
    cv::AudioConfigRecord config;
    config.internalBlockFrames =
        static_cast<std::uint32_t>(std::clamp(GetBlockSize(), kMinInternalBlock, kMaxInternalBlock));

    const double rate = engineRateFor(GetSampleRate());
    if (rate != engineRate_.load())
        playbackGeneration_.fetch_add(1);
    engineRate_.store(rate);
    config.engineRateHz = rate;

    player_.setFadeFrames(std::max<std::int64_t>(1, static_cast<std::int64_t>(0.005 * rate)));
    voice_.prepare(rate);

    // Values sent up to now are dropped and the gain starts at the Volume without a slew. The sequence
    // is read before the Volume: a value sent in between is either in the Volume read or sent after it.
    config.volumeSequence = gainAutomation_.lastSequence();
    config.volumeGain = cv::gainFromVolume(GetParam(cv::kParamVolume)->Value());

    const auto channels = static_cast<std::uint32_t>(std::clamp(NInChansConnected(), 1, 2));
    config.channels = channels;
    const std::uint64_t before = audioConfig_.sequence();
    const std::uint64_t sequence = audioConfig_.publish(config);
    // A reset that keeps the rate and channels the recorder was prepared with keeps it fed: a recording
    // across it loses no block and ends for its own reasons, not as a jumped timeline.
    if (capturePreparedRate_.load() == rate && capturePreparedChannels_.load() == channels) {
        std::uint64_t expected = before;
        capturePreparedSequence_.compare_exchange_strong(expected, sequence, std::memory_order_seq_cst);
    }
}

void Corvalinth::ApplyPendingAudioReset() {
    std::optional<cv::AudioConfigRecord> record;
    for (int attempt = 0; attempt < 4 && !record; ++attempt) {
        if (audioConfig_.sequence() == appliedConfigSequence_)
            return;
        record = audioConfig_.tryRead();
    }
    if (!record || record->sequence == appliedConfigSequence_)
        return;

    // A change of rate has raised the playback generation already; the render flow renders the document
    // again for it, however many resets came between two ticks.
    const double rate = record->engineRateHz;
    const std::uint32_t channels = record->channels;

    if (rate != capturePreparedRate_.load() || channels != capturePreparedChannels_.load()) {
        capturePreparedSequence_.store(0, std::memory_order_seq_cst);
        if (inCapture_.load(std::memory_order_seq_cst) != 0)
            return; // the audio thread is inside the recorder; the next tick tries again
        if (capture_.isActive())
            CancelCapture();
        if (capture_.state() == np::TransferCapture::State::Done)
            PollTransfer(); // keeps what was recorded
        else
            ClearCaptureStatistics();
        if (!capture_.prepare(static_cast<int>(channels), rate, np::TransferCapture::kMaxSeconds)) {
            // No capture is fed until a later configuration prepares the recorder.
            capturePreparedRate_.store(0.0);
            capturePreparedChannels_.store(0);
            appliedConfigSequence_ = record->sequence;
            return;
        }
        capturePreparedRate_.store(rate);
        capturePreparedChannels_.store(channels);
    }
    raiseTo(capturePreparedSequence_, record->sequence);
    appliedConfigSequence_ = record->sequence;
}

void Corvalinth::CancelCapture() noexcept {
    capture_.cancel();
}
