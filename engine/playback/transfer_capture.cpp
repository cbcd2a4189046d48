#include "engine/playback/transfer_capture.h"

#include "engine/audio/page_release.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <sys/mman.h>
#include <vector>

namespace np {

namespace {

using State = TransferCapture::State;
using EndReason = TransferCapture::EndReason;

constexpr std::uint32_t word(State s) noexcept {
    return static_cast<std::uint32_t>(s);
}
constexpr std::uint32_t word(TransferCapture::ArmStatus s) noexcept {
    return static_cast<std::uint32_t>(s);
}

bool validRate(double hz) noexcept {
    return std::isfinite(hz) && hz >= TransferCapture::kMinRateHz && hz <= TransferCapture::kMaxRateHz;
}

// Exact products of 64-bit frames and 53-bit mantissas.
__extension__ typedef __int128 Int128;

// A finite positive rate as an odd integer mantissa below 2^53 times a power of two.
struct SplitRate {
    std::int64_t mantissa = 1;
    int exponent = 0;
};

SplitRate splitRate(double rate) noexcept {
    SplitRate split;
    // rate = fraction x 2^exponent with fraction in [0.5, 1): 53 bits of fraction make the mantissa.
    const double fraction = std::frexp(rate, &split.exponent);
    split.mantissa = static_cast<std::int64_t>(std::ldexp(fraction, 53));
    split.exponent -= 53;
    while ((split.mantissa & 1) == 0) {
        split.mantissa >>= 1;
        ++split.exponent;
    }
    return split;
}

// Floats copied per step when a capture is taken; the pages behind each step are given back at once.
constexpr std::int64_t kTakeStepFrames = 262144;

} // namespace

namespace detail {

bool prefaultFloats(float* first, std::size_t count) noexcept {
#ifdef MADV_POPULATE_WRITE
    if (count == 0)
        return true;
    // Out to whole pages: each page holds at least one float of the range, so all of them are mapped.
    const std::uintptr_t page = pageBytes();
    const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(first) / page * page;
    const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(first + count);
    return ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE) == 0;
#else
    (void)first;
    (void)count;
    return false;
#endif
}

bool finishCaptureIfOwned(std::atomic<std::uint32_t>& state, std::atomic<std::uint32_t>& endReason,
                          TransferCapture::EndReason reason) noexcept {
    std::uint32_t seen = state.load();
    while (seen == word(State::InBlock) || seen == word(State::CancelRequested)) {
        if (state.compare_exchange_weak(seen, word(State::Finishing))) {
            endReason.store(static_cast<std::uint32_t>(reason));
            state.store(word(State::Done));
            return true;
        }
    }
    // Finishing, done, idle: the main thread owns the capture now and may already have freed it.
    return false;
}

} // namespace detail

bool TransferCapture::prepare(int channels, double sampleRate, double maxSeconds) {
    releaseBuffer();
    const bool valid = (channels == 1 || channels == 2) && validRate(sampleRate) &&
                       std::isfinite(maxSeconds) && maxSeconds > 0.0;
    std::int64_t timeLimit = 0;
    std::int64_t capacity = 0;
    if (valid) {
        timeLimit = static_cast<std::int64_t>(std::floor(std::min(kMaxSeconds, maxSeconds) * sampleRate));
        const auto memoryFrames = static_cast<std::int64_t>(kMaxBufferBytes / (channels * 4u));
        capacity = std::min(timeLimit, memoryFrames);
    }
    framesWritten_.store(0);
    endReason_.store(0);
    finishStatus_.store(0);
    startPosition_.store(0);
    state_.store(word(State::Idle));
    if (!valid || capacity < 1) {
        channels_.store(0, std::memory_order_relaxed);
        sampleRate_ = 0.0;
        timeLimitFrames_ = 0;
        capacityFrames_ = 0;
        armedFrames_.store(0, std::memory_order_relaxed);
        totalSamples_ = 0;
        totalBytes_ = 0;
        memoryLimited_ = false;
        armStatus_.store(word(ArmStatus::NotPrepared));
        return false;
    }
    channels_.store(channels, std::memory_order_relaxed);
    sampleRate_ = sampleRate;
    timeLimitFrames_ = timeLimit;
    capacityFrames_ = capacity;
    armedFrames_.store(capacity, std::memory_order_relaxed);
    totalSamples_ = static_cast<std::uint64_t>(capacity) * static_cast<std::uint64_t>(channels);
    totalBytes_ = totalSamples_ * 4u;
    memoryLimited_ = static_cast<std::int64_t>(kMaxBufferBytes / (channels * 4u)) < timeLimit;
    armStatus_.store(word(ArmStatus::Ok));
    return true;
}

bool TransferCapture::arm(std::uint64_t bytesInUse) {
    const int channels = channels_.load(std::memory_order_relaxed);
    if (channels < 1 || capacityFrames_ < 1) {
        armStatus_.store(word(ArmStatus::NotPrepared));
        return false;
    }
    if (state_.load() != word(State::Idle)) {
        armStatus_.store(word(ArmStatus::AlreadyActive));
        return false;
    }
    // A full working set refuses before anything is sized: the last arm's figures stay as they were.
    if (bytesInUse >= kWorkingSetBytes) {
        armStatus_.store(word(ArmStatus::TooLarge));
        return false;
    }
    const std::uint64_t budget = std::min((kWorkingSetBytes - bytesInUse) / 2u, kMaxBufferBytes);
    const auto frames = static_cast<std::int64_t>(budget / (static_cast<std::uint64_t>(channels) * 4u));
    const std::int64_t armed = std::min(frames, capacityFrames_);
    if (armed < 1 || channels > 2 || armed > AudioBuffer::kMaxSamples / channels) {
        armedFrames_.store(0, std::memory_order_relaxed);
        totalSamples_ = 0;
        totalBytes_ = 0;
        armStatus_.store(word(ArmStatus::TooLarge));
        return false;
    }

    // The sizes describe this arm even when its allocation fails. The audio thread reads them only
    // after claiming an armed state, which a failed arm never publishes.
    armedFrames_.store(armed, std::memory_order_relaxed);
    totalSamples_ = static_cast<std::uint64_t>(armed) * static_cast<std::uint64_t>(channels);
    totalBytes_ = totalSamples_ * 4u;
    memoryLimited_ = armed < timeLimitFrames_;
    try {
        // Not value-initialised: no page is touched here (see the class comment). Only recorded frames
        // are ever read.
        buffer_ = std::make_unique_for_overwrite<float[]>(totalSamples_);
    } catch (const std::bad_alloc&) {
        armStatus_.store(word(ArmStatus::AllocationFailed));
        return false;
    }
    prefaultedFrames_ = std::min(armed, prefaultLeadFrames());
    if (!prefaultPlanes(0, prefaultedFrames_)) {
        // The first touch must still happen here rather than on the audio thread.
        std::fill_n(buffer_.get(), totalSamples_, 0.0f);
        prefaultedFrames_ = armed;
    }
    framesWritten_.store(0);
    endReason_.store(0);
    armStatus_.store(word(ArmStatus::Ok));
    finishStatus_.store(0);
    // Publishes the buffer and sizes to the audio thread, which reads them only after claiming it.
    state_.store(word(State::Armed));
    return true;
}

void TransferCapture::process(const float* const* in, int channels, int frames, bool transportRunning,
                              std::int64_t hostPosition) noexcept {
    // The channel count changes only in prepare, which never runs alongside process.
    const int recorded = channels_.load(std::memory_order_relaxed);
    if (frames < 1 || channels < 1 || in == nullptr || recorded < 1)
        return;

    auto finish = [this](EndReason reason) { detail::finishCaptureIfOwned(state_, endReason_, reason); };

    std::uint32_t seen = state_.load();
    if (seen == word(State::Armed)) {
        if (!transportRunning || !state_.compare_exchange_strong(seen, word(State::InBlock)))
            return;
        startPosition_.store(hostPosition, std::memory_order_relaxed);
        framesWritten_.store(0);
    } else if (seen == word(State::CancelRequested)) {
        finish(EndReason::Cancelled);
        return;
    } else if (seen == word(State::Recording)) {
        if (!state_.compare_exchange_strong(seen, word(State::InBlock))) {
            if (seen == word(State::CancelRequested))
                finish(EndReason::Cancelled);
            return;
        }
    } else {
        return;
    }

    // From here the audio thread owns the buffer (in block, or cancel requested during it). Its size is
    // read only now: between a read of the state and the claim, the main thread may have withdrawn the
    // arm and armed again with a smaller buffer, and the claim is what makes that arm's size visible.
    const std::int64_t armed = armedFrames_.load(std::memory_order_relaxed);
    if (!transportRunning) {
        finish(EndReason::TransportStopped);
        return;
    }
    const std::int64_t written = framesWritten_.load();
    if (written >= armed) {
        finish(EndReason::BufferFull);
        return;
    }
    std::int64_t expectedPosition = 0;
    if (__builtin_add_overflow(startPosition_.load(std::memory_order_relaxed), written, &expectedPosition) ||
        hostPosition != expectedPosition) {
        finish(EndReason::TimelineJumped);
        return;
    }

    const std::int64_t n = std::min<std::int64_t>(armed - written, frames);
    for (int c = 0; c < recorded; ++c) {
        float* dst = buffer_.get() + static_cast<std::size_t>(c) * static_cast<std::size_t>(armed) +
                     static_cast<std::size_t>(written);
        const float* src = in[std::min(c, channels - 1)];
        if (src != nullptr)
            std::memcpy(dst, src, static_cast<std::size_t>(n) * sizeof(float));
        else
            std::fill_n(dst, n, 0.0f);
    }
    framesWritten_.store(written + n);

    if (state_.load() == word(State::CancelRequested)) {
        finish(EndReason::Cancelled);
        return;
    }
    if (written + n >= armed) {
        finish(EndReason::BufferFull);
        return;
    }
    std::uint32_t inBlock = word(State::InBlock);
    if (!state_.compare_exchange_strong(inBlock, word(State::Recording)) &&
        inBlock == word(State::CancelRequested))
        finish(EndReason::Cancelled);
}

std::unique_ptr<TransferCapture::Capture> TransferCapture::takeCapture() {
    if (state_.load() != word(State::Done))
        return nullptr;
    const int channels = channels_.load(std::memory_order_relaxed);
    const std::int64_t armed = armedFrames_.load(std::memory_order_relaxed);
    const std::int64_t frames = framesWritten_.load();
    try {
        if (!AudioBuffer::fits(channels, frames))
            throw std::length_error(AudioBuffer::kLimitMessage);
        auto capture = std::make_unique<Capture>();
        // Room reserved, not written: the copy touches its pages step by step, as the buffer gives back
        // the pages below each step (copied, or never recorded), so the capture is never held twice over.
        std::vector<float>& samples = capture->audio.samples;
        samples.reserve(static_cast<std::size_t>(channels) * static_cast<std::size_t>(frames));
        float* released = buffer_.get();
        for (int c = 0; c < channels; ++c) {
            float* src = buffer_.get() + static_cast<std::size_t>(c) * static_cast<std::size_t>(armed);
            for (std::int64_t at = 0; at < frames; at += kTakeStepFrames) {
                const std::int64_t n = std::min(kTakeStepFrames, frames - at);
                samples.insert(samples.end(), src + at, src + at + n);
                released = releaseWholePages(released, src + at + n);
            }
        }
        capture->audio.channels = channels;
        capture->audio.frames = frames;
        capture->sampleRate = sampleRate_;
        capture->startPosition = startPosition_.load(std::memory_order_relaxed);
        capture->endReason = endReason();
        releaseBuffer();
        finishStatus_.store(static_cast<std::uint32_t>(FinishStatus::Ok));
        state_.store(word(State::Idle));
        return capture;
    } catch (const std::exception&) {
        // bad_alloc or the buffer size limit: the recording cannot be handed over.
        releaseBuffer();
        framesWritten_.store(0);
        endReason_.store(0);
        finishStatus_.store(static_cast<std::uint32_t>(FinishStatus::OutOfMemory));
        state_.store(word(State::Idle));
        return nullptr;
    }
}

TransferCapture::CancelOutcome TransferCapture::cancel() noexcept {
    std::uint32_t seen = state_.load();
    for (;;) {
        if (seen == word(State::Armed)) {
            if (state_.compare_exchange_weak(seen, word(State::Idle))) {
                releaseBuffer();
                return CancelOutcome::ArmWithdrawn;
            }
        } else if (seen == word(State::Recording)) {
            if (state_.compare_exchange_weak(seen, word(State::CancelRequested))) {
                // Between blocks: finish here. Should the audio thread see the request first, it
                // finishes with the same reason and this call writes nothing; the capture may then not
                // be done yet, so the caller waits for it as after a request during a block.
                return detail::finishCaptureIfOwned(state_, endReason_, EndReason::Cancelled)
                           ? CancelOutcome::Finished
                           : CancelOutcome::RequestedFromBlock;
            }
        } else if (seen == word(State::InBlock)) {
            if (state_.compare_exchange_weak(seen, word(State::CancelRequested)))
                return CancelOutcome::RequestedFromBlock;
        } else if (seen == word(State::CancelRequested)) {
            return CancelOutcome::RequestedFromBlock;
        } else {
            return CancelOutcome::NothingActive;
        }
    }
}

void TransferCapture::prefaultAhead() noexcept {
    // The buffer lives until the main thread itself frees it, so it can be read here in any active state.
    if (!isActive() || buffer_ == nullptr)
        return;
    const std::int64_t armed = armedFrames_.load(std::memory_order_relaxed);
    const std::int64_t lead = prefaultLeadFrames();
    const std::int64_t written = framesWritten_.load();
    if (prefaultedFrames_ >= armed || prefaultedFrames_ - written > lead / 2)
        return;
    const std::int64_t target = std::min(armed, written + lead);
    if (target > prefaultedFrames_ && prefaultPlanes(prefaultedFrames_, target))
        prefaultedFrames_ = target;
}

bool TransferCapture::prefaultPlanes(std::int64_t from, std::int64_t to) noexcept {
    const int channels = channels_.load(std::memory_order_relaxed);
    const auto armed = static_cast<std::size_t>(armedFrames_.load(std::memory_order_relaxed));
    for (int c = 0; c < channels; ++c)
        if (!detail::prefaultFloats(buffer_.get() + static_cast<std::size_t>(c) * armed +
                                        static_cast<std::size_t>(from),
                                    static_cast<std::size_t>(to - from)))
            return false;
    return true;
}

std::int64_t TransferCapture::prefaultLeadFrames() const noexcept {
    return static_cast<std::int64_t>(std::ceil(kPrefaultLeadSeconds * sampleRate_));
}

bool TransferCapture::isActive() const noexcept {
    const std::uint32_t s = state_.load();
    return s >= word(State::Armed) && s <= word(State::CancelRequested);
}

void TransferCapture::releaseBuffer() noexcept {
    buffer_.reset();
    prefaultedFrames_ = 0;
}

bool scaleFramePosition(std::int64_t frame, double fromRate, double toRate, std::int64_t& out) noexcept {
    if (!validRate(fromRate) || !validRate(toRate))
        return false;
    if (fromRate == toRate) {
        out = frame;
        return true;
    }
    // Exact: each rate is an integer mantissa times a power of two, so frame x toRate / fromRate is one
    // integer quotient. A double would lose frames past 2^53, and long double is no wider than double on
    // some targets. The bounds: |frame| < 2^63 and toRate / fromRate <= 48, so after moving the powers of
    // two the numerator stays below 2^122 and the denominator below 2^59.
    const auto [toMantissa, toExponent] = splitRate(toRate);
    const auto [fromMantissa, fromExponent] = splitRate(fromRate);
    const int shift = toExponent - fromExponent;
    Int128 numerator = static_cast<Int128>(frame) * toMantissa;
    Int128 denominator = fromMantissa;
    if (shift >= 0)
        numerator *= Int128{1} << shift;
    else
        denominator <<= -shift;
    Int128 quotient = numerator / denominator; // truncated toward zero
    const Int128 remainder = numerator % denominator;
    if (2 * (remainder < 0 ? -remainder : remainder) >= denominator)
        quotient += numerator < 0 ? -1 : 1; // halves away from zero
    constexpr Int128 kLimit = Int128{1} << 63;
    if (quotient < -kLimit || quotient >= kLimit)
        return false;
    out = static_cast<std::int64_t>(quotient);
    return true;
}

} // namespace np
