#include "engine/playback/audition_voice.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace np {
namespace {

constexpr double kHalfPi = std::numbers::pi / 2.0;
constexpr double kMinRate = 8000.0;
constexpr double kMaxRate = 384000.0;

// trunc(seconds x rate), at least 1.
std::int64_t framesOf(double seconds, double rate) noexcept {
    return std::max<std::int64_t>(1, static_cast<std::int64_t>(seconds * rate));
}

// Moves value one step toward target without passing it.
inline float approach(float value, float target, float step) noexcept {
    return value < target ? std::min(target, value + step) : std::max(target, value - step);
}

// The planes of a buffer that even and odd output channels read (a mono buffer feeds both; a buffer has
// at most two channels), or nulls for no buffer. Realtime: wait-free.
struct Planes {
    const float* even = nullptr;
    const float* odd = nullptr;
    std::int64_t frames = 0;
};

Planes planesOf(const AuditionVoice::BufferNode* node) noexcept {
    if (node == nullptr || node->audio.channels < 1 || node->audio.frames < 1)
        return {};
    const float* first = node->audio.samples.data();
    return {first, node->audio.channels == 1 ? first : first + node->audio.frames, node->audio.frames};
}

// One frame's seam: within the last `seam` frames of the loop the sample at the position fades out
// (tail) while the one the same distance after loopStart fades in (head). Realtime: wait-free.
struct Seam {
    double tail = 1.0;
    double head = 0.0;
    std::int64_t headPosition = 0;

    Seam(std::int64_t position, std::int64_t loopStart, std::int64_t loopEnd, std::int64_t seam) noexcept {
        const std::int64_t d = position - (loopEnd - seam);
        if (seam > 0 && d >= 0) {
            const double u = static_cast<double>(d) / static_cast<double>(seam) * kHalfPi;
            tail = std::cos(u);
            head = std::sin(u);
            headPosition = loopStart + d;
        }
    }

    // plane's sample at position with the seam applied; both positions lie inside the plane.
    float read(const float* plane, std::int64_t position) const noexcept {
        const float s = plane[position];
        return head == 0.0 ? s : static_cast<float>(plane[headPosition] * head + s * tail);
    }
};

} // namespace

AuditionVoice::AuditionVoice() noexcept : mailbox_(reinterpret_cast<BufferNode*>(this)) {
    // The clear marker is the voice's own address: never a real node, and alive as long as the mailbox.
    prepare(kDefaultSampleRate);
}

AuditionVoice::~AuditionVoice() {
    mailbox_.drain();
    // The audio thread no longer runs: the buffers it held are freed here; the mailbox frees the
    // slot's and the parked one.
    const std::unique_ptr<BufferNode> playing(playing_);
    const std::unique_ptr<BufferNode> fading(fading_);
}

void AuditionVoice::prepare(double sampleRate) noexcept {
    const double rate = std::isfinite(sampleRate) && sampleRate >= kMinRate && sampleRate <= kMaxRate
                            ? sampleRate
                            : kDefaultSampleRate;
    sampleRate_.store(rate, std::memory_order_relaxed);
    levelStep_.store(static_cast<float>(1.0 / (kFadeSeconds * rate)), std::memory_order_relaxed);
    crossfadeFrames_.store(framesOf(kCrossfadeSeconds, rate), std::memory_order_relaxed);
    seamFrames_.store(framesOf(kSeamSeconds, rate), std::memory_order_relaxed);
}

void AuditionVoice::setSource(std::unique_ptr<AudioBuffer> buffer) {
    if (!buffer || buffer->frames < 1 || buffer->channels < 1) {
        clear();
        return;
    }
    auto node = std::make_unique<BufferNode>();
    node->audio = std::move(*buffer);
    mailbox_.publish(std::move(node));
}

void AuditionVoice::clear() noexcept {
    mailbox_.clear();
}

std::int64_t AuditionVoice::drainRetired() noexcept {
    return mailbox_.drain();
}

AuditionVoice::Timing AuditionVoice::timing() const noexcept {
    return {levelStep_.load(std::memory_order_relaxed), crossfadeFrames_.load(std::memory_order_relaxed),
            seamFrames_.load(std::memory_order_relaxed)};
}

void AuditionVoice::retire(BufferNode*& node) noexcept {
    mailbox_.retire(node);
    node = nullptr;
}

void AuditionVoice::setLoopBounds(const AudioBuffer& audio, std::int64_t seamFrames) noexcept {
    const std::int64_t n = audio.frames;
    loopStart_ = n / 6;
    loopEnd_ = n - n / 6;
    // Too short a middle for a seam at each end: the whole buffer loops.
    if (loopEnd_ - loopStart_ <= 0 || loopEnd_ - loopStart_ < 4 * seamFrames) {
        loopStart_ = 0;
        loopEnd_ = n;
    }
}

void AuditionVoice::takeNewNode(const Timing& timing) noexcept {
    BufferNode* taken = mailbox_.take();
    if (taken == nullptr)
        return;
    if (mailbox_.isClearMarker(taken)) {
        if (state_ != State::Idle)
            state_ = State::FadingOut;
        return;
    }
    if (state_ != State::Idle && playing_ != nullptr) {
        retire(fading_);
        fading_ = playing_;
        playing_ = taken;
        setLoopBounds(taken->audio, timing.seamFrames);
        if (position_ < loopStart_ || position_ >= loopEnd_)
            position_ = loopStart_;
        crossfadeTotal_ = timing.crossfadeFrames;
        crossfadeRemaining_ = timing.crossfadeFrames;
        if (state_ == State::FadingOut)
            state_ = State::FadingIn;
        return;
    }
    retire(playing_);
    retire(fading_);
    playing_ = taken;
    level_ = 0.0f;
    crossfadeRemaining_ = 0;
    setLoopBounds(taken->audio, timing.seamFrames);
    position_ = loopStart_;
    // A buffer without audio stays silent (setSource never hands one over).
    if (taken->audio.frames >= 1 && taken->audio.channels >= 1)
        state_ = State::FadingIn;
}

void AuditionVoice::processReplace(float* const* out, int channels, int frames) noexcept {
    const Timing timing = this->timing();
    takeNewNode(timing);
    if (frames < 1 || out == nullptr || channels < 1 || (state_ == State::Idle && duck_ >= 1.0f)) {
        sounding_.store(state_ != State::Idle, std::memory_order_relaxed);
        return;
    }

    // The block works on locals: the members could alias the output planes and would be reloaded on
    // every frame.
    State state = state_;
    float level = level_, duck = duck_;
    std::int64_t position = position_, remaining = crossfadeRemaining_;
    const std::int64_t total = crossfadeTotal_, loopStart = loopStart_, loopEnd = loopEnd_;
    const std::int64_t seam = std::min(timing.seamFrames, (loopEnd - loopStart) / 2);
    const float step = timing.levelStep;
    Planes playing = planesOf(playing_), fading = planesOf(fading_);

    for (int i = 0; i < frames; ++i) {
        if (state == State::FadingIn) {
            level += step;
            if (level >= 1.0f) {
                level = 1.0f;
                state = State::Sounding;
            }
        } else if (state == State::FadingOut) {
            level -= step;
            if (level <= 0.0f) {
                level = 0.0f;
                state = State::Idle;
                retire(playing_);
                retire(fading_);
                playing = fading = Planes{};
                remaining = 0;
            }
        }
        duck = approach(duck, state == State::Idle ? 1.0f : 0.0f, step);

        const bool looping = playing.even != nullptr && loopEnd > loopStart;
        const bool crossfading = state != State::Idle && fading.even != nullptr && remaining > 0;
        double newGain = 1.0, oldGain = 0.0;
        if (crossfading) {
            const double t = static_cast<double>(total - remaining) / static_cast<double>(total) * kHalfPi;
            newGain = std::sin(t);
            oldGain = std::cos(t);
        }
        const bool audible = level > 0.0f && looping;
        const bool fadingAudible = audible && crossfading && position < fading.frames;
        const Seam joint(position, loopStart, loopEnd, seam);

        for (int c = 0; c < channels; ++c) {
            float* o = out[c];
            if (o == nullptr)
                continue;
            float s = 0.0f;
            if (audible) {
                s = joint.read((c & 1) == 0 ? playing.even : playing.odd, position);
                if (fadingAudible) {
                    const float old = joint.read((c & 1) == 0 ? fading.even : fading.odd, position);
                    s = static_cast<float>(old * oldGain + s * newGain);
                }
            }
            o[i] = o[i] * duck + s * level;
        }

        if (looping && ++position >= loopEnd)
            position = loopStart + seam;
        if (remaining > 0 && --remaining == 0) {
            retire(fading_);
            fading = Planes{};
        }
    }

    state_ = state;
    level_ = level;
    duck_ = duck;
    position_ = position;
    crossfadeRemaining_ = remaining;
    sounding_.store(state != State::Idle, std::memory_order_relaxed);
}

} // namespace np
