#include "engine/playback/host_synced_player.h"
#include "tests/playback/position_code.h"
#include "tests/support/alloc_counter.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

using cvtest::positionCode;
using np::PlaybackSource;

constexpr int kChannels = 2;
constexpr std::int64_t kFade = 200;
constexpr std::int64_t kTimeline = 100000; // frames of the timeline every region copies
constexpr std::int64_t kMaxTrim = 2000;    // own-copy regions lose less than this at either end
constexpr std::int64_t kPlayFrom = kMaxTrim + kFade;
constexpr std::int64_t kPlayTo = kTimeline - kMaxTrim - kFade - 4096;

// Host frame p as every region holds it; the input is the plain position code.
float timelineAt(int c, std::int64_t p) {
    return positionCode(c, p) + 2.0f;
}

// Half the regions share the whole timeline; the others hold their own trimmed copy of it.
std::pair<std::unique_ptr<PlaybackSource>, std::int64_t>
makeSource(const std::shared_ptr<const np::AudioBuffer>& timeline, std::mt19937& random) {
    auto source = std::make_unique<PlaybackSource>();
    if (random() % 2 == 0) {
        source->shared = timeline;
        return {std::move(source), 0};
    }
    const auto anchor = static_cast<std::int64_t>(random() % kMaxTrim);
    const std::int64_t frames = kTimeline - anchor - static_cast<std::int64_t>(random() % kMaxTrim);
    source->audio.resize(kChannels, frames);
    for (int c = 0; c < kChannels; ++c)
        std::copy_n(timeline->channel(c).data() + anchor, frames, source->audio.channel(c).data());
    return {std::move(source), anchor};
}

// The simulated host plays with random block sizes, transport starts, stops and jumps, all within the
// steady middle of every region. Every region holds the same samples at the same host frames, so once
// the levels have settled the output is known exactly, whichever region the audio thread plays; while
// they move it lies between the input and the region.
TEST(HostSyncedPlayer, SimulatedHostPlaysBitExactWhileRegionsAreReplaced) {
    auto timeline = std::make_shared<np::AudioBuffer>();
    timeline->resize(kChannels, kTimeline);
    for (int c = 0; c < kChannels; ++c)
        for (std::int64_t p = 0; p < kTimeline; ++p)
            timeline->channel(c)[static_cast<std::size_t>(p)] = timelineAt(c, p);
    const std::shared_ptr<const np::AudioBuffer> shared = std::move(timeline);

    std::int64_t settledFrames = 0;
    std::int64_t settledMismatches = 0; // a settled frame that is not exactly the region or the input
    std::int64_t outOfRange = 0;        // a moving frame outside the span between input and region
    cvtest::AllocationCounts audioCounts;
    int published = 0;
    {
        np::HostSyncedPlayer player;
        player.setFadeFrames(kFade);
        std::mt19937 random(5);
        auto publish = [&] {
            auto [source, anchor] = makeSource(shared, random);
            player.setRegion(std::move(source), anchor, 1);
            ++published;
        };
        publish();
        std::atomic<bool> done{false};
        std::thread audio([&] {
            std::mt19937 hostRandom(31337);
            const std::array<int, 5> sizes{1, 17, 64, 512, 4096};
            cvtest::Planes in(kChannels, 4096);
            cvtest::Planes out(kChannels, 4096);
            cvtest::ScopedAllocationCounter counter;
            std::int64_t position = kPlayFrom;
            bool playing = true;
            std::int64_t sinceChange = 0; // the first region fades in from the first frame
            for (int b = 0; b < 5000; ++b) {
                const auto pick = hostRandom() % 6;
                const int n = pick < 5 ? sizes[pick] : static_cast<int>(1 + hostRandom() % 4096);
                const auto event = hostRandom() % 100;
                if (event < 4) {
                    playing = !playing;
                    sinceChange = 0;
                } else if (event < 8 || position + n > kPlayTo) {
                    position = kPlayFrom + static_cast<std::int64_t>(hostRandom() % (kPlayTo - kPlayFrom));
                }
                player.processBlock(in.coded(position, n), out.pointers.data(), kChannels, n, position,
                                    playing, 1, false);
                for (int i = 0; i < n; ++i, ++sinceChange)
                    for (int c = 0; c < kChannels; ++c) {
                        const float x = positionCode(c, position + i);
                        const float s = timelineAt(c, position + i);
                        const float o = out.data[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)];
                        if (sinceChange + 1 >= kFade) {
                            ++settledFrames;
                            settledMismatches += o != (playing ? s : x);
                        } else {
                            outOfRange += o < std::min(x, s) || o > std::max(x, s);
                        }
                    }
                position += playing ? n : 0;
            }
            audioCounts = counter.counts();
            done.store(true);
        });
        while (!done.load()) {
            const auto action = random() % 100;
            if (action < 30 && published < 400) {
                // Bursts replace regions the audio thread has not taken yet.
                for (int i = action < 5 ? 3 : 1; i > 0; --i)
                    publish();
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
    EXPECT_GT(published, 1);
    EXPECT_GT(settledFrames, 100000);
    EXPECT_EQ(settledMismatches, 0);
    EXPECT_EQ(outOfRange, 0);
    EXPECT_EQ(audioCounts.allocations, 0u);
    EXPECT_EQ(audioCounts.frees, 0u);
}

} // namespace
