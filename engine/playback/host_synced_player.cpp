#include "engine/playback/host_synced_player.h"

#include <algorithm>
#include <cmath>

namespace np {

namespace {

// A region as the audio thread reads it during one block.
struct RegionView {
    const float* samples = nullptr; // null: the region never sounds
    std::int64_t frames = 0;
    std::int64_t channels = 0;
    std::int64_t start = 0;
    std::int64_t edgeFrames = 1; // length of the ramp at each end
};

RegionView viewOf(const HostSyncedPlayer::RegionNode* node, std::int64_t fade) noexcept {
    RegionView view;
    if (node == nullptr)
        return view;
    const AudioBuffer& audio = node->source.playable();
    const std::int64_t n = audio.frames;
    if (audio.channels < 1 || audio.channels > 2 || n < 1 ||
        audio.samples.size() < static_cast<std::size_t>(audio.channels) * static_cast<std::size_t>(n))
        return view;
    view.samples = audio.samples.data();
    view.frames = n;
    view.channels = audio.channels;
    view.start = node->startFrame;
    // A region of one or two frames still gets a ramp of one frame rather than none.
    const std::int64_t half = (n - 1) / 2 + (n <= 2 ? 1 : 0);
    view.edgeFrames = std::max<std::int64_t>(1, std::min(half, fade));
    return view;
}

// from + (to - from) * t, exact at both ends (t 0 gives from, t 1 gives to) and when from equals to,
// so a fully faded-in region reproduces its samples bit for bit.
inline float blend(float from, float to, float t) noexcept {
    if (t >= 1.0f)
        return to;
    if (t <= 0.0f)
        return from;
    return from + (to - from) * t;
}

inline float finiteOrZero(float v) noexcept {
    return std::isfinite(v) ? v : 0.0f;
}

// The region's output at host frame p for output channel c, given the input x there.
inline float contribution(const RegionView& region, int c, std::int64_t p, float x) noexcept {
    if (region.samples == nullptr)
        return x;
    std::int64_t k = 0;
    if (__builtin_sub_overflow(p, region.start, &k) || k < 0 || k >= region.frames)
        return x;
    const float s = finiteOrZero(region.samples[static_cast<std::size_t>(c % region.channels) *
                                                    static_cast<std::size_t>(region.frames) +
                                                static_cast<std::size_t>(k)]);
    const std::int64_t fromEdge = std::min(k, region.frames - 1 - k);
    const float gain =
        fromEdge >= region.edgeFrames
            ? 1.0f
            : static_cast<float>(static_cast<double>(fromEdge) / static_cast<double>(region.edgeFrames));
    return finiteOrZero(blend(x, s, gain));
}

// Moves level toward target by at most one step, landing on it once it lies within a step. The levels
// are kept in double, so after fadeFrames - 1 steps the rest of a full swing is one step up to a rounding
// far below the slack, and the swing ends on its fadeFrames-th frame exactly.
inline double slew(double level, double target, double step) noexcept {
    constexpr double kSlack = 1.0 + 1e-6;
    const double distance = target - level;
    if (std::abs(distance) <= step * kSlack)
        return target;
    return distance > 0.0 ? level + step : level - step;
}

} // namespace

HostSyncedPlayer::HostSyncedPlayer() : mailbox_(&clearMarker_) {}

HostSyncedPlayer::~HostSyncedPlayer() {
    {
        const std::lock_guard lock(mutex_);
        mailbox_.drain();
    }
    // The audio thread no longer runs: the regions it held are freed here; the mailbox frees the
    // slot's and the parked one.
    const std::unique_ptr<RegionNode> current(current_);
    const std::unique_ptr<RegionNode> fading(fading_);
}

void HostSyncedPlayer::setRegion(std::unique_ptr<PlaybackSource> source, std::int64_t startFrame,
                                 std::uint64_t generation) {
    if (!source) {
        const std::lock_guard lock(mutex_);
        mailbox_.clear();
        return;
    }
    // Built before the lock, so a failed allocation leaves the mailbox untouched.
    auto node = std::make_unique<RegionNode>();
    node->source = std::move(*source);
    node->startFrame = startFrame;
    node->generation = generation;
    const std::lock_guard lock(mutex_);
    mailbox_.publish(std::move(node));
}

void HostSyncedPlayer::clearRegion() {
    setRegion(nullptr, 0, 0);
}

std::int64_t HostSyncedPlayer::drainRetired() {
    const std::lock_guard lock(mutex_);
    return mailbox_.drain();
}

std::int64_t HostSyncedPlayer::outstanding() const {
    const std::lock_guard lock(mutex_);
    return mailbox_.outstanding();
}

void HostSyncedPlayer::setFadeFrames(std::int64_t frames) noexcept {
    fadeFrames_.store(std::max<std::int64_t>(1, frames), std::memory_order_relaxed);
}

void HostSyncedPlayer::retire(RegionNode*& node) noexcept {
    mailbox_.retire(node);
    node = nullptr;
}

void HostSyncedPlayer::takeNewRegion(std::int64_t fade, std::uint64_t generation, bool flush) noexcept {
    if (flush) {
        // Offline: everything takes effect at the first frame.
        retire(fading_);
        crossfadeTotal_ = 0;
        crossfadeRemaining_ = 0;
        if (RegionNode* taken = mailbox_.take()) {
            retire(current_);
            current_ = mailbox_.isClearMarker(taken) ? nullptr : taken;
        }
        if (current_ != nullptr && current_->generation != generation)
            retire(current_);
        return;
    }
    // A region published during a cross-fade waits in the slot until the fade has ended.
    if (crossfadeRemaining_ > 0)
        return;
    if (current_ != nullptr && regionLevel_ <= 0.0 && current_->generation != generation)
        retire(current_);
    RegionNode* taken = mailbox_.take();
    if (taken == nullptr)
        return;
    RegionNode* incoming = mailbox_.isClearMarker(taken) ? nullptr : taken;
    if (current_ != nullptr) {
        fading_ = current_;
        current_ = incoming;
        crossfadeTotal_ = fade;
        crossfadeRemaining_ = fade;
    } else {
        current_ = incoming;
        if (incoming != nullptr)
            regionLevel_ = 0.0;
    }
}

void HostSyncedPlayer::processBlock(const float* const* in, float* const* out, int channels, int frames,
                                    std::int64_t hostPosition, bool playing, std::uint64_t generation,
                                    bool flush) noexcept {
    const std::int64_t fade = std::max<std::int64_t>(1, fadeFrames_.load(std::memory_order_relaxed));
    const bool compareOn = compare_.load(std::memory_order_relaxed);
    takeNewRegion(fade, generation, flush);
    if (frames < 1 || channels < 1 || out == nullptr)
        return;

    const double step = 1.0 / static_cast<double>(fade);
    const double transportTarget = playing && !compareOn ? 1.0 : 0.0;
    const bool currentMatches = current_ != nullptr && current_->generation == generation;
    const RegionView currentView = viewOf(current_, fade);
    RegionView fadingView = viewOf(fading_, fade);

    for (int i = 0; i < frames; ++i) {
        const bool crossfading = crossfadeRemaining_ > 0;
        const bool matches = currentMatches || (crossfading && fading_->generation == generation);
        const double regionTarget = matches ? 1.0 : 0.0;
        if (flush) {
            transportLevel_ = transportTarget;
            regionLevel_ = regionTarget;
        } else {
            transportLevel_ = slew(transportLevel_, transportTarget, step);
            regionLevel_ = slew(regionLevel_, regionTarget, step);
        }
        // The first frame of a cross-fade is all old region, the last all new.
        float weight = 1.0f;
        if (crossfading && crossfadeTotal_ >= 2)
            weight = static_cast<float>(static_cast<double>(crossfadeTotal_ - crossfadeRemaining_) /
                                        static_cast<double>(crossfadeTotal_ - 1));
        const auto substitution = static_cast<float>(transportLevel_ * regionLevel_);
        std::int64_t p = 0;
        const bool positioned = !__builtin_add_overflow(hostPosition, static_cast<std::int64_t>(i), &p);

        for (int c = 0; c < channels; ++c) {
            float* o = out[c];
            if (o == nullptr)
                continue;
            const float x = in != nullptr && in[c] != nullptr ? finiteOrZero(in[c][i]) : 0.0f;
            if (!positioned) {
                o[i] = x;
                continue;
            }
            const float a = contribution(currentView, c, p, x);
            const float mix = crossfading ? blend(contribution(fadingView, c, p, x), a, weight) : a;
            o[i] = finiteOrZero(blend(x, mix, substitution));
        }

        if (crossfading && --crossfadeRemaining_ == 0) {
            retire(fading_);
            crossfadeTotal_ = 0;
            fadingView = RegionView{};
        }
    }
}

} // namespace np
