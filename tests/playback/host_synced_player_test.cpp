#include "engine/playback/host_synced_player.h"
#include "tests/playback/position_code.h"
#include "tests/support/alloc_counter.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

using cvtest::positionCode;
using np::HostSyncedPlayer;
using np::PlaybackSource;
using Output = std::vector<std::vector<float>>;

constexpr std::int64_t kFade = HostSyncedPlayer::kDefaultFadeFrames;

// The track's input is the position code; a region holds the code of its own frames plus an offset,
// so a mix-up between input and region, or between two regions, shows.
float regionAt(int c, std::int64_t k, float offset = 2.0f) {
    return positionCode(c, k) + offset;
}

std::unique_ptr<PlaybackSource> makeRegion(int channels, std::int64_t frames, float offset = 2.0f) {
    auto source = std::make_unique<PlaybackSource>();
    source->audio.resize(channels, frames);
    for (int c = 0; c < channels; ++c)
        for (std::int64_t k = 0; k < frames; ++k)
            source->audio.channel(c)[static_cast<std::size_t>(k)] = regionAt(c, k, offset);
    return source;
}

// A minimal host: plays host frames [from, to) in blocks, returns the output and counts what the
// processBlock calls allocate or free.
struct Host {
    explicit Host(int channels = 2) : in(channels, 4096), out(channels, 4096) {}
    Output run(HostSyncedPlayer& player, std::int64_t from, std::int64_t to, int block,
               std::uint64_t generation = 1, bool flush = false) {
        const auto channels = in.data.size();
        Output result(channels);
        for (std::int64_t p = from; p < to; p += block) {
            const int n = static_cast<int>(std::min<std::int64_t>(block, to - p));
            const float* const* planes = in.coded(p, n);
            {
                cvtest::ScopedAllocationCounter counter;
                player.processBlock(planes, out.pointers.data(), static_cast<int>(channels), n, p, true,
                                    generation, flush);
                allocations += counter.counts().allocations + counter.counts().frees;
            }
            for (std::size_t c = 0; c < channels; ++c)
                result[c].insert(result[c].end(), out.data[c].begin(), out.data[c].begin() + n);
        }
        return result;
    }
    cvtest::Planes in, out;
    std::uint64_t allocations = 0;
};

class HostSyncedPlayerBlocks : public ::testing::TestWithParam<int> {};

TEST_P(HostSyncedPlayerBlocks, PlaysARegionSampleAlignedWithRampedEdges) {
    constexpr std::int64_t kStart = 1000;
    constexpr std::int64_t kFrames = 20000;
    HostSyncedPlayer player;
    player.setRegion(makeRegion(2, kFrames), kStart, 1);
    Host host;
    const Output out = host.run(player, 0, kStart + kFrames + 1000, GetParam());
    for (int c = 0; c < 2; ++c) {
        const auto& plane = out[static_cast<std::size_t>(c)];
        for (std::int64_t p = 0; p < static_cast<std::int64_t>(plane.size()); ++p) {
            const std::int64_t k = p - kStart;
            const float x = positionCode(c, p);
            const float o = plane[static_cast<std::size_t>(p)];
            if (k < 0 || k >= kFrames) {
                ASSERT_EQ(o, x) << "outside the region, channel " << c << " frame " << p;
                continue;
            }
            // Frame k plays at host frame A + k; the first and last frames have gain 0.
            const float s = regionAt(c, k);
            const std::int64_t fromEdge = std::min(k, kFrames - 1 - k);
            if (fromEdge >= kFade)
                ASSERT_EQ(o, s) << "channel " << c << " region frame " << k;
            else
                ASSERT_NEAR(o, x + (s - x) * static_cast<float>(fromEdge) / kFade, 1e-5)
                    << "edge ramp, channel " << c << " region frame " << k;
        }
    }
    EXPECT_EQ(host.allocations, 0u) << "the audio thread allocated or freed";
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, HostSyncedPlayerBlocks, ::testing::Values(1, 17, 64, 512, 4096));

// From a region playing at full level, each change moves the output from the old sound to the new one
// over the fade: strictly between the two inside it, exactly the new sound from its last frame on.
TEST(HostSyncedPlayer, EveryChangeFadesToTheNewSoundWithoutAJump) {
    constexpr float kInput = 0.0f; // a region offset of 0 would sound like the input
    struct Case {
        const char* name;
        std::function<void(HostSyncedPlayer&, Host&)> change;
        std::uint64_t generation;
        float from, to; // region offsets
        std::int64_t retired, outstanding;
    };
    const std::vector<Case> cases{
        {"compare on", [](auto& player, auto&) { player.setCompare(true); }, 1, 2.0f, kInput, 0, 1},
        {"a new region", [](auto& player, auto&) { player.setRegion(makeRegion(2, 100000, -3.0f), 0, 1); }, 1,
         2.0f, -3.0f, 1, 1},
        {"clear", [](auto& player, auto&) { player.clearRegion(); }, 1, 2.0f, kInput, 1, 0},
        {"another generation", [](auto&, auto&) {}, 2, 2.0f, kInput, 1, 0},
        {"a region after a clear",
         [](auto& player, auto& host) {
             player.clearRegion();
             host.run(player, 2000, 2000 + kFade, 100); // just to the end of the cross-fade
             player.setRegion(makeRegion(2, 100000, -3.0f), 0, 1);
         },
         1, kInput, -3.0f, 1, 1},
        {"a region after one of another generation",
         [](auto& player, auto& host) {
             host.run(player, 2000, 4000, 100, 2);
             EXPECT_EQ(player.drainRetired(), 1);
             player.setRegion(makeRegion(2, 100000, -3.0f), 0, 2);
         },
         2, kInput, -3.0f, 0, 1},
    };
    constexpr std::int64_t kCheck = 5000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostSyncedPlayer player;
        Host host;
        player.setRegion(makeRegion(2, 100000), 0, 1);
        host.run(player, 0, 2000, 64);
        c.change(player, host);
        const Output out = host.run(player, kCheck, kCheck + 1000, 100, c.generation);
        for (std::int64_t i = 0; i < 1000; ++i) {
            const float from = regionAt(1, kCheck + i, c.from);
            const float to = regionAt(1, kCheck + i, c.to);
            const float o = out[1][static_cast<std::size_t>(i)];
            if (i >= kFade - 1) {
                ASSERT_EQ(o, to) << "frame " << i;
            } else if (i > 0) {
                ASSERT_TRUE(o > std::min(from, to) && o < std::max(from, to)) << "frame " << i << ": " << o;
            }
        }
        EXPECT_NE(out[1][0], regionAt(1, kCheck, c.to)) << "the change must not jump";
        EXPECT_EQ(player.drainRetired(), c.retired);
        EXPECT_EQ(player.outstanding(), c.outstanding);
        EXPECT_EQ(host.allocations, 0u);
    }
}

TEST(HostSyncedPlayer, FlushAppliesRegionsAndGenerationsAtTheFirstFrame) {
    HostSyncedPlayer player;
    Host host;
    player.setRegion(makeRegion(2, 100000, 2.0f), 0, 1);
    EXPECT_EQ(host.run(player, 5000, 5064, 64, 1, true)[0][0], regionAt(0, 5000, 2.0f));
    player.setRegion(makeRegion(2, 100000, -3.0f), 0, 1);
    EXPECT_EQ(host.run(player, 5064, 5128, 64, 1, true)[1][0], regionAt(1, 5064, -3.0f));
    EXPECT_EQ(host.run(player, 5128, 5192, 64, 2, true)[1][0], positionCode(1, 5128));
    EXPECT_EQ(player.drainRetired(), 2);
    // The region's own edge ramps still apply.
    player.setRegion(makeRegion(1, 1000), 300, 3);
    const Output out = host.run(player, 300, 302, 2, 3, true);
    EXPECT_EQ(out[0][0], positionCode(0, 300));
    EXPECT_NE(out[0][1], regionAt(0, 1));
}

TEST(HostSyncedPlayer, SanitisesInputAndSpreadsAMonoRegionOverBothOutputs) {
    HostSyncedPlayer player;
    player.setRegion(makeRegion(1, 5000), 1000, 1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    float left[4] = {nan, inf, -inf, 0.5f};
    float right[4] = {inf, nan, 1.0f, nan};
    float outL[4];
    float outR[4];
    const float* in[2] = {left, right};
    float* out[2] = {outL, outR};
    auto play = [&](std::int64_t position) { player.processBlock(in, out, 2, 4, position, true, 1, true); };
    play(3000);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(outL[i], regionAt(0, 2000 + i)) << "both outputs play the mono region";
        EXPECT_EQ(outR[i], regionAt(0, 2000 + i));
    }
    play(996);
    EXPECT_EQ(std::vector<float>(outL, outL + 4), (std::vector<float>{0, 0, 0, 0.5f})) << "non-finite is 0";
    EXPECT_EQ(std::vector<float>(outR, outR + 4), (std::vector<float>{0, 0, 1, 0}));
    play(std::numeric_limits<std::int64_t>::max() - 1);
    EXPECT_EQ(outL[3], 0.5f) << "a position at the end of the timeline passes the input through";
    out[1] = nullptr;
    player.processBlock(nullptr, out, 2, 4, 100, true, 1, false);
    EXPECT_EQ(outL[0], 0.0f) << "no input array, an absent output plane";
}

TEST(HostSyncedPlayer, TinyAndEmptyRegionsFollowTheEdgeRule) {
    struct Case {
        std::int64_t frames;
        int channels;
        std::int64_t soundingFrame; // -1: never sounds
    };
    for (const Case& c : {Case{0, 2, -1}, Case{100, 0, -1}, Case{1, 1, -1}, Case{2, 1, -1}, Case{3, 1, 1}}) {
        SCOPED_TRACE(::testing::Message() << c.frames << " frames, " << c.channels << " channels");
        HostSyncedPlayer player;
        player.setFadeFrames(0); // clamped to one frame
        auto source = std::make_unique<PlaybackSource>();
        source->audio.resize(c.channels, c.frames);
        std::fill(source->audio.samples.begin(), source->audio.samples.end(), 9.0f);
        player.setRegion(std::move(source), 10, 1);
        Host host(1);
        const Output out = host.run(player, 0, 20, 20);
        for (std::int64_t p = 0; p < 20; ++p)
            EXPECT_EQ(out[0][static_cast<std::size_t>(p)],
                      c.soundingFrame >= 0 && p == 10 + c.soundingFrame ? 9.0f : positionCode(0, p))
                << "frame " << p;
    }
}

TEST(HostSyncedPlayer, DestructionFreesEveryRegionItHolds) {
    auto shared = std::make_shared<np::AudioBuffer>();
    shared->resize(2, 1000);
    auto sharedSource = [&shared] {
        auto source = std::make_unique<PlaybackSource>();
        source->shared = shared;
        return source;
    };
    {
        HostSyncedPlayer player;
        Host host;
        player.setRegion(sharedSource(), 0, 1);
        host.run(player, 0, 64, 64);
        player.setRegion(sharedSource(), 0, 1);
        host.run(player, 64, 74, 10);           // mid cross-fade: one current, one fading
        player.setRegion(sharedSource(), 0, 1); // waits in the slot
        EXPECT_EQ(shared.use_count(), 4);
    }
    EXPECT_EQ(shared.use_count(), 1);
}

} // namespace
