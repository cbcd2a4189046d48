#include "engine/render/render_plan.h"
#include "engine/render/render_types.h"

#include <gtest/gtest.h>
#include <vector>

namespace np {
namespace {

// The byte fields in order, so a whole plan compares in one assertion.
std::vector<std::uint64_t> bytes(const RenderWorkingSetPlan& p) {
    return {p.sourceBytes,   p.outputBytes,  p.unitBytes,     p.workBytes, p.extraBytes,
            p.analysisBytes, p.retrackBytes, p.overheadBytes, p.peakBytes};
}

struct Expected {
    bool fits;
    std::int64_t frames;
    std::vector<std::uint64_t> bytes;
};

void expectPlan(const RenderWorkingSetPlan& plan, const Expected& want) {
    EXPECT_EQ(plan.fits, want.fits);
    EXPECT_EQ(plan.frames, want.frames);
    EXPECT_EQ(bytes(plan), want.bytes);
}

TEST(RenderPlan, UnitPlanCountsEveryBufferExactly) {
    const PYinConfig pyin; // 48 kHz defaults: hop 256, frame 2048
    struct Inputs {
        int channels;
        std::int64_t source, output, unit;
        double rate;
        std::uint64_t buffers;
        bool retrack;
        std::uint64_t extra;
    };
    struct Case {
        const char* name;
        Inputs in;
        Expected want;
    };
    const std::vector<Case> cases = {
        {"mono",
         {1, 480000, 480000, 96000, 48000, 6, false, 1000},
         {true, 480000, {1920000, 1920000, 384000, 6498304, 1000, 0, 0, 0, 10339304}}},
        {"stereo doubles only the sample terms",
         {2, 480000, 480000, 96000, 48000, 6, false, 1000},
         {true, 480000, {3840000, 3840000, 768000, 8802304, 1000, 0, 0, 0, 16483304}}},
        // F = 368 frames, S = 1242 states, D = 279680 decoder bytes.
        {"re-tracked unit",
         {1, 480000, 480000, 96000, 48000, 6, true, 1000},
         {true, 480000, {1920000, 1920000, 384000, 6498304, 1000, 1243104, 395832, 0, 11119136}}},
        {"shorter than one tracking frame",
         {1, 480000, 480000, 2047, 48000, 1, true, 0},
         {true, 480000, {1920000, 1920000, 8188, 4202492, 0, 0, 0, 0, 8042492}}},
        {"a unit of zero frames takes no allowance",
         {1, 480000, 480000, 0, 48000, 6, true, 0},
         {true, 480000, {1920000, 1920000, 0, 0, 0, 0, 0, 0, 3840000}}},
        {"exactly the limit fits",
         {1, 67108864, 33554432, 0, 48000, 1, false, 134217728},
         {true, 33554432, {268435456, 134217728, 0, 0, 134217728, 0, 0, 0, 536870912}}},
        {"one byte more does not",
         {1, 67108864, 33554432, 0, 48000, 1, false, 134217729},
         {false, 33554432, {268435456, 134217728, 0, 0, 134217729, 0, 0, 0, 536870913}}},
        {"a negative unit keeps the fields before it",
         {1, 1000, 2000, -1, 48000, 6, false, 0},
         {false, 2000, {4000, 8000, 0, 0, 0, 0, 0, 0, 0}}},
    };
    const auto plan = [&](const Inputs& in) {
        return planRenderWorkingSet(in.channels, in.source, in.output, in.unit, in.rate, in.buffers,
                                    in.retrack ? &pyin : nullptr, in.extra);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectPlan(plan(c.in), c.want);
    }
    // Refused before any byte is counted: the plan keeps only the output length.
    const std::pair<const char*, Inputs> refused[] = {
        {"source beyond the sample limit", {2, 100000000, 100000000, 1, 48000, 1, false, 0}},
        {"no unit buffers", {1, 1000, 1000, 100, 48000, 0, false, 0}},
        {"65 unit buffers", {1, 1000, 1000, 100, 48000, 65, false, 0}},
        {"three channels", {3, 1000, 1000, 100, 48000, 6, false, 0}},
        {"rate below 8 kHz", {1, 1000, 1000, 100, 7999.9, 6, false, 0}},
        {"rate above 384 kHz", {1, 1000, 1000, 100, 384000.1, 6, false, 0}},
        {"extra above the limit", {1, 1000, 1000, 100, 48000, 6, false, 536870913}},
    };
    for (const auto& [name, in] : refused) {
        SCOPED_TRACE(name);
        expectPlan(plan(in), {false, in.output, std::vector<std::uint64_t>(9, 0)});
    }
}

TEST(RenderPlan, VocoderPlanFollowsItsFrameCounts) {
    // 5 s at 48 kHz: A = 1001 frames, M = 5001 ms, Q = 1002 frames, N = 2048.
    expectPlan(planWorldRenderWorkingSet(1, 480000, 480000, 240000, 240000, 48000, false),
               {true, 480000, {1920000, 1920000, 960000, 210117860, 0, 0, 0, 0, 213957860}});
    // Stereo, output twice as long, second envelope for a formant shift.
    expectPlan(planWorldRenderWorkingSet(2, 480000, 480000, 240000, 480000, 48000, true),
               {true, 480000, {3840000, 3840000, 3840000, 254398260, 0, 0, 0, 0, 262078260}});
    // 12 s does not fit whatever the rest holds.
    EXPECT_FALSE(planWorldRenderWorkingSet(1, 576000, 576000, 576000, 576000, 48000, false).fits);
    // The limit lies at 9.2 s at 48 kHz mono.
    const RenderWorkingSetPlan last =
        planWorldRenderWorkingSet(1, 441695, 441695, 441695, 441695, 48000, false);
    EXPECT_TRUE(last.fits);
    EXPECT_EQ(last.peakBytes, 536861388u);
    const RenderWorkingSetPlan over =
        planWorldRenderWorkingSet(1, 441696, 441696, 441696, 441696, 48000, false);
    EXPECT_FALSE(over.fits);
    EXPECT_EQ(over.peakBytes, 536943388u);

    // Refusals keep what was computed before them.
    expectPlan(planWorldRenderWorkingSet(1, 1000, 500, 0, 10, 48000, false),
               {false, 500, {4000, 2000, 0, 0, 0, 0, 0, 0, 0}});
    expectPlan(planWorldRenderWorkingSet(1, 1000, 500, 10, 2147483648LL, 48000, false),
               {false, 500, {4000, 2000, 0, 0, 0, 0, 0, 0, 0}});
    expectPlan(planWorldRenderWorkingSet(1, 1000, 500, 10, 10, 400000, false),
               {false, 500, {0, 0, 0, 0, 0, 0, 0, 0, 0}});
    // The sizes per rate are the vocoder's own (its frame tests check them); no rate has no transform.
    EXPECT_EQ(vocoderFftSize(0), 0);
}

TEST(RenderPlan, ResamplePlanSizesTheConvertedRender) {
    expectPlan(planRenderResampleWorkingSet(2, 441000, 441000, 44100, 48000),
               {true, 480000, {3528000, 3528000, 3840000, 0, 0, 0, 0, 16777216, 27673216}});
    // Below one resampled frame.
    expectPlan(planRenderResampleWorkingSet(1, 1000, 1, 48000, 8000),
               {false, 0, {4000, 4, 0, 0, 0, 0, 0, 0, 0}});
    // 496 MiB of buffers fit, one frame more does not; the peak adds the 16 MiB overhead.
    const RenderWorkingSetPlan edge = planRenderResampleWorkingSet(1, 43341142, 43341141, 48000, 48000);
    EXPECT_TRUE(edge.fits);
    EXPECT_EQ(edge.peakBytes, 520093696u + 16777216u);
    EXPECT_FALSE(planRenderResampleWorkingSet(1, 43341142, 43341142, 48000, 48000).fits);
    // A length beyond the working set is refused outright.
    EXPECT_EQ(planRenderResampleWorkingSet(1, 1, 134217728, 8000, 16000).frames, 0);
}

TEST(RenderTypes, SmoothCurveWeighsNeighboursAndTruncatesAtTheEnds) {
    std::vector<double> impulse = {0, 0, 9, 0, 0, 0};
    smoothCurve(impulse);
    // Interior weights 1 2 3 2 1 over 9; at index 0 only weights 3 2 1 exist (sum 6).
    EXPECT_EQ(impulse, (std::vector<double>{9.0 / 6, 18.0 / 8, 27.0 / 9, 18.0 / 9, 9.0 / 8, 0.0}));
    std::vector<double> pair = {1, 5};
    smoothCurve(pair);
    EXPECT_EQ(pair, (std::vector<double>{1, 5}));
}

} // namespace
} // namespace np
