#include "engine/playback/host_synced_player.h"
#include "tests/playback/capture_host.h"
#include "tests/support/alloc_counter.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

using np::HostSyncedPlayer;
using np::PlaybackSource;

constexpr int kChannels = 2;
constexpr std::int64_t kFade = 200;
constexpr std::int64_t kTimeline = 100000; // frames of the coded timeline every region copies
constexpr std::int64_t kMaxAnchor = 2000;  // own-copy regions start at most here...
constexpr std::int64_t kMaxTrim = 2000;    // ...and end at most this much before the timeline's end
constexpr std::int64_t kPlayFrom = kMaxAnchor + kFade + 1;
constexpr std::int64_t kPlayTo = kTimeline - kMaxTrim - kFade - 4096 - 1;
constexpr int kBlocks = 5000;
constexpr int kMaxPublishes = 400;

// Host frame p of the timeline as every region holds it.
float timelineAt(int c, std::int64_t p) {
    return cvtest::positionCode(c, p) + 2.0f;
}
float inputAt(int c, std::int64_t p) {
    return static_cast<float>((p * 31 + c * 17) % 512) * 0.001f - 0.25f;
}

struct HostResult {
    std::int64_t steadyMismatches = 0; // a settled frame that is not exactly the region or the input
    std::int64_t outOfRange = 0;       // a ramp frame outside the span between input and region
    std::int64_t steadyFramesChecked = 0;
    cvtest::AllocationCounts counts;
};

// The simulated host: random block sizes, transport starts, stops and jumps, all within the part of
// the timeline that lies inside every region's steady middle. Every region carries the same timeline
// samples at the same host frames, so once the levels have settled the output is known exactly,
// whichever region the audio thread happens to play.
void runHost(HostSyncedPlayer& player, HostResult& result) {
    std::mt19937 random(31337);
    std::uniform_int_distribution<int> sizePick(0, 5);
    std::uniform_int_distribution<int> anySize(1, 4096);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<std::int64_t> anyPosition(kPlayFrom, kPlayTo);
    const std::array<int, 5> sizes{1, 17, 64, 512, 4096};
    std::array<std::array<float, 4096>, kChannels> in{};
    std::array<std::array<float, 4096>, kChannels> out{};
    const float* inPtr[kChannels] = {in[0].data(), in[1].data()};
    float* outPtr[kChannels] = {out[0].data(), out[1].data()};

    cvtest::ScopedAllocationCounter counter;
    std::int64_t position = kPlayFrom;
    bool playing = true;
    std::int64_t runFrames = 0;   // frames since the transport last changed
    std::int64_t totalFrames = 0; // the first region fades in from the first frame
    for (int b = 0; b < kBlocks; ++b) {
        const int pick = sizePick(random);
        const int n = pick < 5 ? sizes[static_cast<std::size_t>(pick)] : anySize(random);
        const int event = percent(random);
        if (event < 4) {
            playing = !playing;
            runFrames = 0;
        } else if (event < 8) {
            position = anyPosition(random); // a jump does not disturb the levels
        }
        if (position + n > kPlayTo)
            position = kPlayFrom;
        for (int c = 0; c < kChannels; ++c)
            for (int i = 0; i < n; ++i)
                in[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] = inputAt(c, position + i);
        player.processBlock(inPtr, outPtr, kChannels, n, position, playing, 1, false);
        for (int i = 0; i < n; ++i) {
            ++runFrames;
            ++totalFrames;
            const bool settled = runFrames >= kFade && totalFrames >= kFade;
            for (int c = 0; c < kChannels; ++c) {
                const float x = inputAt(c, position + i);
                const float s = timelineAt(c, position + i);
                const float o = out[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)];
                if (settled) {
                    ++result.steadyFramesChecked;
                    if (o != (playing ? s : x))
                        ++result.steadyMismatches;
                } else if (o < std::min(x, s) || o > std::max(x, s)) {
                    ++result.outOfRange;
                }
            }
        }
        if (playing)
            position += n;
    }
    result.counts = counter.counts();
}

std::unique_ptr<PlaybackSource> makeSource(const std::shared_ptr<const np::AudioBuffer>& timeline,
                                           std::mt19937& random, std::int64_t& anchor) {
    auto source = std::make_unique<PlaybackSource>();
    if (random() % 2 == 0) {
        source->shared = timeline;
        anchor = 0;
        return source;
    }
    anchor = static_cast<std::int64_t>(random() % kMaxAnchor);
    const std::int64_t frames = kTimeline - anchor - static_cast<std::int64_t>(random() % kMaxTrim);
    source->audio.resize(kChannels, frames);
    for (int c = 0; c < kChannels; ++c)
        std::copy_n(timeline->channel(c).data() + anchor, frames, source->audio.channel(c).data());
    return source;
}

TEST(HostSyncedPlayer, SimulatedHostPlaysBitExactWhileRegionsAreReplaced) {
    auto timeline = std::make_shared<np::AudioBuffer>();
    timeline->resize(kChannels, kTimeline);
    for (int c = 0; c < kChannels; ++c)
        for (std::int64_t p = 0; p < kTimeline; ++p)
            timeline->channel(c)[static_cast<std::size_t>(p)] = timelineAt(c, p);
    const std::shared_ptr<const np::AudioBuffer> shared = std::move(timeline);

    HostResult result;
    std::int64_t published = 0;
    {
        HostSyncedPlayer player;
        player.setFadeFrames(kFade);
        std::mt19937 random(5);
        std::int64_t anchor = 0;
        auto first = makeSource(shared, random, anchor);
        player.setRegion(std::move(first), anchor, 1);

        std::atomic<bool> done{false};
        std::thread audio([&] {
            runHost(player, result);
            done.store(true);
        });
        while (!done.load()) {
            const auto action = random() % 100;
            if (action < 30 && published < kMaxPublishes) {
                // Bursts of several publishes exercise the replacement of unconsumed regions.
                const int burst = action < 5 ? 3 : 1;
                for (int i = 0; i < burst; ++i) {
                    auto source = makeSource(shared, random, anchor);
                    player.setRegion(std::move(source), anchor, 1);
                    ++published;
                }
            } else if (action < 60) {
                player.drainRetired();
            } else {
                // Values the audio thread reads every block, written while it runs.
                player.setFadeFrames(kFade);
                player.setCompare(false);
                std::this_thread::yield();
            }
            EXPECT_LE(player.outstanding(), 64);
        }
        audio.join();
        player.drainRetired();
    }
    EXPECT_EQ(shared.use_count(), 1) << "a region was not freed";
    EXPECT_GT(published, 0);
    EXPECT_GT(result.steadyFramesChecked, 100000);
    EXPECT_EQ(result.steadyMismatches, 0);
    EXPECT_EQ(result.outOfRange, 0);
    EXPECT_EQ(result.counts.allocations, 0u);
    EXPECT_EQ(result.counts.frees, 0u);
}

} // namespace
