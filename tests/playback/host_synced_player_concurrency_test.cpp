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

constexpr std::int64_t kFade = 200;
constexpr std::int64_t kTimeline = 100000; // frames of the timeline every region copies
constexpr std::int64_t kTrim = 2000;       // own-copy regions lose less than this at either end
constexpr std::int64_t kPlayFrom = kTrim + kFade;
constexpr std::int64_t kPlayTo = kTimeline - kTrim - kFade - 4096;

// The simulated host plays blocks of random sizes with transport starts, stops and jumps, all within the
// steady middle of every region, while the main thread replaces regions (some in bursts the audio thread
// never sees), drains and writes the settings. Every region holds host frame p as the input's code + 2,
// half of them sharing one timeline buffer and half in trimmed copies of their own, so once the levels
// have settled the output is known exactly whichever region plays; while they move it lies between the
// input and the region.
TEST(HostSyncedPlayer, SimulatedHostPlaysBitExactWhileRegionsAreReplaced) {
    auto timeline = std::make_shared<np::AudioBuffer>();
    timeline->resize(2, kTimeline);
    for (int c = 0; c < 2; ++c)
        for (std::int64_t p = 0; p < kTimeline; ++p)
            timeline->channel(c)[static_cast<std::size_t>(p)] = positionCode(c, p) + 2.0f;
    const std::shared_ptr<const np::AudioBuffer> shared = std::move(timeline);

    std::int64_t settled = 0, mismatches = 0, outOfRange = 0;
    cvtest::AllocationCounts audioCounts;
    {
        np::HostSyncedPlayer player;
        player.setFadeFrames(kFade);
        std::mt19937 random(5);
        const auto publish = [&] {
            auto source = std::make_unique<np::PlaybackSource>();
            std::int64_t anchor = 0;
            if (random() % 2 == 0) {
                source->shared = shared;
            } else {
                anchor = static_cast<std::int64_t>(random() % kTrim);
                const std::int64_t frames = kTimeline - anchor - static_cast<std::int64_t>(random() % kTrim);
                source->audio.resize(2, frames);
                for (int c = 0; c < 2; ++c)
                    std::copy_n(shared->channel(c).data() + anchor, frames, source->audio.channel(c).data());
            }
            player.setRegion(std::move(source), anchor, 1);
        };
        publish();
        std::atomic<bool> done{false};
        std::thread audio([&] {
            std::mt19937 hostRandom(31337);
            const std::array<int, 6> sizes{1, 17, 64, 512, 4096, 333};
            cvtest::Planes in(2, 4096);
            cvtest::Planes out(2, 4096);
            cvtest::ScopedAllocationCounter counter;
            std::int64_t position = kPlayFrom;
            bool playing = true;
            std::int64_t sinceChange = 0; // the first region fades in from the first frame
            for (int b = 0; b < 5000; ++b) {
                const int n = sizes[hostRandom() % sizes.size()];
                const auto event = hostRandom() % 100;
                if (event < 4) {
                    playing = !playing;
                    sinceChange = 0;
                } else if (event < 8 || position + n > kPlayTo) {
                    position = kPlayFrom + static_cast<std::int64_t>(hostRandom() % (kPlayTo - kPlayFrom));
                }
                player.processBlock(in.coded(position, n), out.pointers.data(), 2, n, position, playing, 1,
                                    false);
                for (int i = 0; i < n; ++i, ++sinceChange)
                    for (int c = 0; c < 2; ++c) {
                        const float x = positionCode(c, position + i);
                        const float s = x + 2.0f;
                        const float o = out.data[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)];
                        if (sinceChange + 1 >= kFade)
                            mismatches += o != (playing ? s : x);
                        else
                            outOfRange += o < x || o > s;
                        settled += sinceChange + 1 >= kFade;
                    }
                position += playing ? n : 0;
            }
            audioCounts = counter.counts();
            done.store(true);
        });
        for (int published = 1; !done.load();) {
            const auto action = random() % 100;
            if (action < 30 && published < 400) {
                for (int i = action < 5 ? 3 : 1; i > 0; --i, ++published)
                    publish();
            } else if (action < 60) {
                player.drainRetired();
            } else {
                player.setFadeFrames(kFade); // values the audio thread reads every block
                player.setCompare(false);
                std::this_thread::yield();
            }
            EXPECT_LE(player.outstanding(), 64);
        }
        audio.join();
        player.drainRetired();
    }
    EXPECT_EQ(shared.use_count(), 1) << "a region was not freed";
    EXPECT_GT(settled, 100000);
    EXPECT_EQ(std::tuple(mismatches, outOfRange, audioCounts.allocations, audioCounts.frees),
              std::tuple(0, 0, 0u, 0u));
}

} // namespace
