#include "engine/playback/host_synced_player.h"
#include "tests/playback/capture_host.h"
#include "tests/support/alloc_counter.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

using np::HostSyncedPlayer;
using np::PlaybackSource;

constexpr std::int64_t kFade = HostSyncedPlayer::kDefaultFadeFrames;

// The track's input: a deterministic, varying signal that differs from every region's samples.
float inputAt(int c, std::int64_t p) {
    return static_cast<float>((p * 7919 + c * 104729) % 1000) * 0.00025f - 0.125f;
}

// Region samples, offset from the input's range so that a mix-up shows.
float regionAt(int c, std::int64_t k, float offset = 2.0f) {
    return cvtest::positionCode(c, k) + offset;
}

std::unique_ptr<PlaybackSource> makeRegion(int channels, std::int64_t frames, float offset = 2.0f) {
    auto source = std::make_unique<PlaybackSource>();
    source->audio.resize(channels, frames);
    for (int c = 0; c < channels; ++c) {
        auto plane = source->audio.channel(c);
        for (std::int64_t k = 0; k < frames; ++k)
            plane[static_cast<std::size_t>(k)] = regionAt(c, k, offset);
    }
    return source;
}

// A minimal host: runs the player over a stretch of the timeline in fixed blocks and keeps the output.
// Only the processBlock calls are counted for allocations.
struct Host {
    explicit Host(int channels = 2) : channels(channels), in(channels), out(channels) {
        for (int c = 0; c < channels; ++c) {
            in[static_cast<std::size_t>(c)].resize(8192);
            out[static_cast<std::size_t>(c)].resize(8192);
            inPtr.push_back(in[static_cast<std::size_t>(c)].data());
            outPtr.push_back(out[static_cast<std::size_t>(c)].data());
        }
    }

    // Returns the output planes for host frames [from, to).
    std::vector<std::vector<float>> run(HostSyncedPlayer& player, std::int64_t from, std::int64_t to,
                                        int block, bool playing = true, std::uint64_t generation = 1,
                                        bool flush = false) {
        std::vector<std::vector<float>> result(static_cast<std::size_t>(channels));
        for (std::int64_t p = from; p < to; p += block) {
            const int n = static_cast<int>(std::min<std::int64_t>(block, to - p));
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < n; ++i)
                    in[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] = inputAt(c, p + i);
            {
                cvtest::ScopedAllocationCounter counter;
                player.processBlock(inPtr.data(), outPtr.data(), channels, n, p, playing, generation, flush);
                allocations += counter.counts().allocations + counter.counts().frees;
            }
            for (int c = 0; c < channels; ++c)
                result[static_cast<std::size_t>(c)].insert(result[static_cast<std::size_t>(c)].end(),
                                                           out[static_cast<std::size_t>(c)].begin(),
                                                           out[static_cast<std::size_t>(c)].begin() + n);
        }
        return result;
    }

    int channels;
    std::vector<std::vector<float>> in, out;
    std::vector<const float*> inPtr;
    std::vector<float*> outPtr;
    std::uint64_t allocations = 0;
};

float at(const std::vector<std::vector<float>>& planes, int c, std::int64_t offset) {
    return planes[static_cast<std::size_t>(c)][static_cast<std::size_t>(offset)];
}

class HostSyncedPlayerBlocks : public ::testing::TestWithParam<int> {};

TEST_P(HostSyncedPlayerBlocks, PlaysARegionSampleAlignedWithRampedEdges) {
    const int block = GetParam();
    HostSyncedPlayer player;
    constexpr std::int64_t kStart = 1000;
    constexpr std::int64_t kFrames = 20000;
    player.setRegion(makeRegion(2, kFrames), kStart, 1);
    Host host;
    const auto out = host.run(player, 0, kStart + kFrames + 1000, block);

    for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(::testing::Message() << "channel " << c);
        for (std::int64_t p = 0; p < kStart; ++p)
            ASSERT_EQ(at(out, c, p), inputAt(c, p)) << "before the region, frame " << p;
        for (std::int64_t k = 0; k < kFrames; ++k) {
            const std::int64_t p = kStart + k;
            const float x = inputAt(c, p);
            const float s = regionAt(c, k);
            const double gain = std::min(1.0, static_cast<double>(std::min(k, kFrames - 1 - k)) / kFade);
            if (gain == 1.0)
                ASSERT_EQ(at(out, c, p), s) << "region frame " << k;
            else
                ASSERT_NEAR(at(out, c, p), x + (s - x) * gain, 1e-5) << "edge ramp at region frame " << k;
        }
        EXPECT_EQ(at(out, c, kStart), inputAt(c, kStart)) << "the first region frame has gain 0";
        EXPECT_EQ(at(out, c, kStart + kFrames - 1), inputAt(c, kStart + kFrames - 1)) << "so has the last";
        for (std::int64_t p = kStart + kFrames; p < kStart + kFrames + 1000; ++p)
            ASSERT_EQ(at(out, c, p), inputAt(c, p)) << "after the region, frame " << p;
    }
    EXPECT_EQ(host.allocations, 0u) << "the audio thread allocated or freed";
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, HostSyncedPlayerBlocks, ::testing::Values(1, 17, 64, 512, 4096));

// Frames [0, kSettled) bring a region covering the whole test span to full level.
constexpr std::int64_t kSettled = 2000;
constexpr std::int64_t kSpan = 100000;

TEST(HostSyncedPlayer, CompareOnPassesTheInputExactlyWithinFadeFrames) {
    HostSyncedPlayer player;
    player.setRegion(makeRegion(2, kSpan), 0, 1);
    Host host;
    host.run(player, 0, kSettled, 64);
    player.setCompare(true);
    auto out = host.run(player, kSettled, kSettled + 1000, 64);
    EXPECT_NE(at(out, 0, 0), inputAt(0, kSettled)) << "the change slews rather than jumps";
    for (std::int64_t i = kFade - 1; i < 1000; ++i)
        ASSERT_EQ(at(out, 1, i), inputAt(1, kSettled + i)) << "frame " << i;
    player.setCompare(false);
    out = host.run(player, kSettled + 1000, kSettled + 2000, 64);
    for (std::int64_t i = kFade - 1; i < 1000; ++i)
        ASSERT_EQ(at(out, 1, i), regionAt(1, kSettled + 1000 + i)) << "frame " << i;
}

TEST(HostSyncedPlayer, ANewRegionCrossFadesFromTheOldThenRetiresIt) {
    HostSyncedPlayer player;
    player.setRegion(makeRegion(2, kSpan, 2.0f), 0, 1);
    Host host;
    host.run(player, 0, kSettled, 512);
    player.setRegion(makeRegion(2, kSpan, -3.0f), 0, 1);
    const auto out = host.run(player, kSettled, kSettled + 1000, 512);
    EXPECT_EQ(at(out, 0, 0), regionAt(0, kSettled, 2.0f)) << "the first frame is all old region";
    for (std::int64_t i = 1; i < kFade - 1; ++i) {
        const float oldSample = regionAt(0, kSettled + i, 2.0f);
        const float newSample = regionAt(0, kSettled + i, -3.0f);
        ASSERT_LT(at(out, 0, i), oldSample) << i;
        ASSERT_GT(at(out, 0, i), newSample) << i;
    }
    for (std::int64_t i = kFade - 1; i < 1000; ++i)
        ASSERT_EQ(at(out, 0, i), regionAt(0, kSettled + i, -3.0f)) << "frame " << i;
    EXPECT_EQ(player.drainRetired(), 1);
    EXPECT_EQ(player.outstanding(), 1);
    EXPECT_EQ(host.allocations, 0u);
}

TEST(HostSyncedPlayer, ARegionOfAnotherGenerationFadesOutAndIsRetired) {
    HostSyncedPlayer player;
    player.setRegion(makeRegion(2, kSpan), 0, 1);
    Host host;
    host.run(player, 0, kSettled, 256);
    auto out = host.run(player, kSettled, kSettled + 1024, 256, true, 2);
    for (std::int64_t i = kFade - 1; i < 1024; ++i)
        ASSERT_EQ(at(out, 0, i), inputAt(0, kSettled + i)) << "frame " << i;
    EXPECT_EQ(player.drainRetired(), 1);
    EXPECT_EQ(player.outstanding(), 0);

    player.setRegion(makeRegion(2, kSpan), 0, 2);
    out = host.run(player, kSettled + 1024, kSettled + 2048, 256, true, 2);
    EXPECT_NE(at(out, 0, 0), regionAt(0, kSettled + 1024)) << "a region after a stale one fades in";
    EXPECT_EQ(at(out, 0, 500), regionAt(0, kSettled + 1524));
}

TEST(HostSyncedPlayer, FlushAppliesRegionsAndGenerationsAtTheFirstFrame) {
    HostSyncedPlayer player;
    Host host;
    player.setRegion(makeRegion(2, kSpan, 2.0f), 0, 1);
    auto out = host.run(player, 5000, 5064, 64, true, 1, true);
    EXPECT_EQ(at(out, 0, 0), regionAt(0, 5000, 2.0f));
    player.setRegion(makeRegion(2, kSpan, -3.0f), 0, 1);
    out = host.run(player, 5064, 5128, 64, true, 1, true);
    EXPECT_EQ(at(out, 1, 0), regionAt(1, 5064, -3.0f));
    out = host.run(player, 5128, 5192, 64, true, 2, true);
    EXPECT_EQ(at(out, 1, 0), inputAt(1, 5128));
    EXPECT_EQ(player.drainRetired(), 2);
    {
        SCOPED_TRACE("the region's own edge ramps still apply");
        player.setRegion(makeRegion(1, 1000), 300, 3);
        out = host.run(player, 300, 302, 2, true, 3, true);
        EXPECT_EQ(at(out, 0, 0), inputAt(0, 300));
        EXPECT_NE(at(out, 0, 1), regionAt(0, 1));
    }
}

TEST(HostSyncedPlayer, ClearCrossFadesToTheInput) {
    HostSyncedPlayer player;
    player.setRegion(makeRegion(2, kSpan), 0, 1);
    Host host;
    host.run(player, 0, kSettled, 100);
    player.clearRegion();
    const auto out = host.run(player, kSettled, kSettled + 600, 100);
    EXPECT_EQ(at(out, 0, 0), regionAt(0, kSettled));
    for (std::int64_t i = kFade - 1; i < 600; ++i)
        ASSERT_EQ(at(out, 0, i), inputAt(0, kSettled + i)) << "frame " << i;
    EXPECT_EQ(player.drainRetired(), 1);
    EXPECT_EQ(player.outstanding(), 0);
}

TEST(HostSyncedPlayer, SanitisesInputAndSpreadsAMonoRegionOverBothOutputs) {
    HostSyncedPlayer player;
    player.setRegion(makeRegion(1, 5000), 1000, 1);
    Host host;
    host.run(player, 0, 1000, 250);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    float left[4] = {nan, inf, -inf, 0.5f};
    float right[4] = {inf, nan, 1.0f, nan};
    float outL[4];
    float outR[4];
    const float* in[2] = {left, right};
    float* out[2] = {outL, outR};
    {
        SCOPED_TRACE("outside the region non-finite input reads as 0");
        player.processBlock(in, out, 2, 4, 996, true, 1, false);
        EXPECT_EQ(outL[0], 0.0f);
        EXPECT_EQ(outL[1], 0.0f);
        EXPECT_EQ(outL[3], 0.5f);
        EXPECT_EQ(outR[0], 0.0f);
        EXPECT_EQ(outR[2], 1.0f);
        EXPECT_EQ(outR[3], 0.0f);
    }
    {
        SCOPED_TRACE("inside, both outputs play the mono region");
        player.processBlock(in, out, 2, 4, 3000, true, 1, false);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(outL[i], regionAt(0, 2000 + i));
            EXPECT_EQ(outR[i], regionAt(0, 2000 + i));
        }
    }
    {
        SCOPED_TRACE("no input array and an absent output plane");
        float* partial[2] = {outL, nullptr};
        player.processBlock(nullptr, partial, 2, 4, 100, true, 1, false);
        EXPECT_EQ(outL[0], 0.0f);
    }
    {
        SCOPED_TRACE("a host position at the end of the timeline passes the input through");
        player.processBlock(in, out, 2, 4, std::numeric_limits<std::int64_t>::max() - 1, true, 1, false);
        EXPECT_EQ(outL[3], 0.5f);
    }
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
        EXPECT_EQ(player.fadeFrames(), 1);
        auto source = std::make_unique<PlaybackSource>();
        source->audio.resize(c.channels, c.frames);
        std::fill(source->audio.samples.begin(), source->audio.samples.end(), 9.0f);
        player.setRegion(std::move(source), 10, 1);
        Host host(1);
        const auto out = host.run(player, 0, 20, 20);
        for (std::int64_t p = 0; p < 20; ++p)
            EXPECT_EQ(at(out, 0, p), c.soundingFrame >= 0 && p == 10 + c.soundingFrame ? 9.0f : inputAt(0, p))
                << "frame " << p;
    }
}

TEST(HostSyncedPlayer, DestructionFreesEveryRegionItHolds) {
    auto shared = std::make_shared<np::AudioBuffer>();
    shared->resize(2, kSpan);
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
