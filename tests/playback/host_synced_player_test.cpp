#include "engine/playback/host_synced_player.h"
#include "tests/playback/position_code.h"
#include "tests/support/alloc_counter.h"

#include <algorithm>
#include <array>
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

// The track's input is the position code; a region holds the code of its own frames plus an offset, so a
// mix-up between input and region, or between two regions, shows.
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

std::unique_ptr<PlaybackSource> sharing(const std::shared_ptr<const np::AudioBuffer>& audio) {
    auto source = std::make_unique<PlaybackSource>();
    source->shared = audio;
    return source;
}

// A minimal host: plays host frames [from, to) in blocks, returns the output and counts what the
// processBlock calls allocate or free.
struct Host {
    explicit Host(int channels = 2) : in(channels, 4096), out(channels, 4096) {}
    Output run(HostSyncedPlayer& player, std::int64_t from, std::int64_t to, int block,
               std::uint64_t generation = 1, bool flush = false) {
        Output result(in.data.size());
        for (std::int64_t p = from; p < to; p += block) {
            const int n = static_cast<int>(std::min<std::int64_t>(block, to - p));
            const float* const* planes = in.coded(p, n);
            {
                cvtest::ScopedAllocationCounter counter;
                player.processBlock(planes, out.pointers.data(), static_cast<int>(result.size()), n, p, true,
                                    generation, flush);
                allocations += counter.counts().allocations + counter.counts().frees;
            }
            for (std::size_t c = 0; c < result.size(); ++c)
                result[c].insert(result[c].end(), out.data[c].begin(), out.data[c].begin() + n);
        }
        return result;
    }
    cvtest::Planes in, out;
    std::uint64_t allocations = 0;
};

// Blocks of 1, 17, 64, 512 and 4096 frames in turn.
TEST(HostSyncedPlayer, PlaysARegionSampleAlignedWithRampedEdges) {
    constexpr std::int64_t kStart = 1000;
    constexpr std::int64_t kFrames = 20000;
    HostSyncedPlayer player;
    player.setRegion(makeRegion(2, kFrames), kStart, 1);
    Host host;
    Output out(2);
    for (std::int64_t p = 0, b = 0; p < kStart + kFrames + 1000; ++b) {
        const int n = std::array{1, 17, 64, 512, 4096}[static_cast<std::size_t>(b % 5)];
        const Output block = host.run(player, p, p + n, n);
        for (int c = 0; c < 2; ++c)
            out[c].insert(out[c].end(), block[c].begin(), block[c].end());
        p += n;
    }
    for (int c = 0; c < 2; ++c) {
        for (std::int64_t p = 0; p < static_cast<std::int64_t>(out[0].size()); ++p) {
            // Frame k plays at host frame A + k, with gain 0 at the first and last frames.
            const std::int64_t k = p - kStart;
            const float x = positionCode(c, p);
            const float o = out[static_cast<std::size_t>(c)][static_cast<std::size_t>(p)];
            const std::int64_t fromEdge = std::min(k, kFrames - 1 - k);
            if (k < 0 || k >= kFrames)
                ASSERT_EQ(o, x) << "outside the region, channel " << c << " frame " << p;
            else if (fromEdge >= kFade)
                ASSERT_EQ(o, regionAt(c, k)) << "channel " << c << " region frame " << k;
            else
                ASSERT_NEAR(o, x + (regionAt(c, k) - x) * static_cast<float>(fromEdge) / kFade, 1e-5)
                    << "edge ramp, channel " << c << " region frame " << k;
        }
    }
    EXPECT_EQ(host.allocations, 0u) << "the audio thread allocated or freed";
}

// From a region playing at full level, each change moves the output from the old sound to the new one
// over the fade: strictly between the two inside it, exactly the new sound from its last frame on.
TEST(HostSyncedPlayer, EveryChangeFadesToTheNewSoundWithoutAJump) {
    constexpr float kInput = 0.0f; // a region offset of 0 would sound like the input
    const struct {
        const char* name;
        std::function<void(HostSyncedPlayer&, Host&)> change;
        std::uint64_t generation;
        float from, to; // region offsets
        std::int64_t retired, outstanding;
    } cases[] = {
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
    for (const auto& c : cases) {
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

// A level moves by at most one step of 1 / fadeFrames per frame, also when the fade length changes.
TEST(HostSyncedPlayer, ALevelMovesAtMostOneStepPerFrame) {
    HostSyncedPlayer player;
    player.setFadeFrames(4);
    float out = 0.0f;
    float* outs[1] = {&out};
    const auto play = [&](std::int64_t at) {
        player.processBlock(nullptr, outs, 1, 1, at, true, 1, false);
        return out;
    };
    for (int i = 0; i < 4; ++i)
        play(i); // the transport level reaches 1; silence passes
    auto source = std::make_unique<PlaybackSource>();
    source->audio.resize(1, 1000);
    std::fill(source->audio.samples.begin(), source->audio.samples.end(), 1.0f);
    player.setRegion(std::move(source), 0, 1);
    EXPECT_EQ(play(500), 0.25f);
    EXPECT_EQ(play(501), 0.5f);
    player.setFadeFrames(3);
    EXPECT_NEAR(play(502), 0.5f + 1.0f / 3, 1e-6) << "one step of the new length, not the rest of the way";
    EXPECT_EQ(play(503), 1.0f);
}

// A region published during a cross-fade waits for the fade to end. Every region it replaced is freed once
// the audio thread is done with it, in real time and when rendering offline, and the player frees what it
// still holds when it goes.
TEST(HostSyncedPlayer, EveryReplacedRegionIsFreed) {
    for (const int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode == 0 ? "real time" : mode == 1 ? "offline" : "destroyed mid-fade");
        auto audio = std::make_shared<np::AudioBuffer>();
        audio->resize(2, 100000);
        {
            HostSyncedPlayer player;
            Host host;
            player.setRegion(sharing(audio), 0, 1);
            host.run(player, 0, 64, 64);
            player.setRegion(sharing(audio), 0, 1);
            host.run(player, 64, 74, 10); // mid cross-fade: one current, one fading
            player.setRegion(sharing(audio), 0, 1);
            if (mode < 2) {
                host.run(player, 74, 4000, 64, 1, mode == 1);
                player.drainRetired();
                EXPECT_EQ(std::tuple(audio.use_count(), player.outstanding()), std::tuple(2, 1))
                    << "one plays";
            }
        }
        EXPECT_EQ(audio.use_count(), 1);
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
    player.setRegion(makeRegion(1, 1000), 300, 3); // the region's own edge ramps still apply
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
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(std::pair(outL[i], outR[i]), std::pair(regionAt(0, 2000 + i), regionAt(0, 2000 + i)));
    play(996);
    EXPECT_EQ(std::vector<float>(outL, outL + 4), (std::vector<float>{0, 0, 0, 0.5f})) << "non-finite is 0";
    EXPECT_EQ(std::vector<float>(outR, outR + 4), (std::vector<float>{0, 0, 1, 0}));
    play(std::numeric_limits<std::int64_t>::max() - 1);
    EXPECT_EQ(outL[3], 0.5f) << "a position at the end of the timeline passes the input through";
    out[1] = nullptr;
    player.processBlock(nullptr, out, 2, 4, 100, true, 1, false);
    EXPECT_EQ(outL[0], 0.0f) << "no input array, an absent output plane";
}

// Each end of a region ramps over min(fadeFrames, about half the region); a region of one or two frames,
// or without channels, never sounds.
TEST(HostSyncedPlayer, ShortAndEmptyRegionsRampOverHalfTheirLength) {
    const struct {
        std::int64_t frames;
        int channels;
        std::vector<float> gains; // of the region's frames
    } cases[] = {{0, 2, {}},     {100, 0, {}},      {1, 1, {0}},
                 {2, 1, {0, 0}}, {3, 1, {0, 1, 0}}, {5, 1, {0, 0.5f, 1, 0.5f, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.frames << " frames, " << c.channels << " channels");
        HostSyncedPlayer player;
        auto source = std::make_unique<PlaybackSource>();
        source->audio.resize(c.channels, c.frames);
        std::fill(source->audio.samples.begin(), source->audio.samples.end(), 9.0f);
        player.setRegion(std::move(source), 300, 1);
        Host host(1);
        const Output out = host.run(player, 290, 310, 20, 1, true);
        for (std::int64_t p = 290; p < 310; ++p) {
            const float x = positionCode(0, p);
            const auto k = static_cast<std::size_t>(p - 300);
            const float g = p >= 300 && k < c.gains.size() ? c.gains[k] : 0.0f;
            EXPECT_EQ(out[0][static_cast<std::size_t>(p - 290)], g == 1.0f ? 9.0f : x + (9.0f - x) * g)
                << "frame " << p;
        }
    }
}

} // namespace
