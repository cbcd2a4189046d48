#include "tests/plugin/corvalinth_fixture.h"

#include <atomic>
#include <thread>

namespace {

TEST(Corvalinth, DeclaresTheSixParametersTheHostSees) {
    CorvalinthFixture f;
    struct Case {
        int idx;
        const char* name;
        double min, max, defaultValue;
        bool automatable;
        int displayTexts;
    };
    const Case cases[] = {
        {cv::kParamVolume, "Volume", 0, 100, 100, true, 0},
        {cv::kParamKey, "Key", 0, 11, 0, false, 12},
        {cv::kParamScale, "Scale", 0, 2, 0, false, 3},
        {cv::kParamAlgorithm, "Algorithm", 0, 1, 0, false, 2},
        {cv::kParamTempo, "Tempo", 20, 300, 120, false, 0},
        {cv::kParamA4, "A4", 0, 7, 3, false, 8},
    };
    ASSERT_EQ(f.plugin->NParams(), 6);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const iplug::IParam* param = f.plugin->GetParam(c.idx);
        EXPECT_STREQ(param->GetName(), c.name);
        EXPECT_EQ(param->GetMin(), c.min);
        EXPECT_EQ(param->GetMax(), c.max);
        EXPECT_EQ(param->GetDefault(), c.defaultValue);
        EXPECT_EQ(param->GetCanAutomate(), c.automatable);
        EXPECT_EQ(param->NDisplayTexts(), c.displayTexts);
    }
    EXPECT_STREQ(f.plugin->GetParam(cv::kParamA4)->GetDisplayTextAtIdx(7), "444 Hz");
    EXPECT_EQ(f.plugin->GetParam(cv::kParamTempo)->Constrain(120.04), 120.04); // fractions are kept
    ASSERT_EQ(f.plugin->NPresets(), 1);
    EXPECT_EQ(f.plugin->GetPreset(0)->mName, "Default");
    EXPECT_EQ(f.plugin->GetConfig().uniqueID, iplug::MakeFourCharCode("Cvth"));
    EXPECT_EQ(f.plugin->GetLatency(), 0);
}

TEST(Corvalinth, TakesTheA4ReferenceAndExportDepthFromThePreferencesClamped) {
    struct Case {
        const char* prefs;
        int a4Idx;
        int exportDepth;
    };
    const Case cases[] = {
        {"", 3, 1},
        {"a4Idx=12\nexportDepthIdx=5\n", 7, 2},
        {"a4Idx=-3\nexportDepthIdx=-1\n", 0, 0},
        {"a4Idx=1\n", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefs);
        CorvalinthFixture f(c.prefs);
        EXPECT_EQ(f.plugin->GetParam(cv::kParamA4)->Int(), c.a4Idx);
        EXPECT_EQ(f.plugin->Session().a4Hz(), cv::kA4ChoicesHz[static_cast<std::size_t>(c.a4Idx)]);
        EXPECT_EQ(CorvalinthProbe::exportDepth(*f.plugin), c.exportDepth);
    }
}

TEST(Corvalinth, StartsNoThreadAndWaitsForARunningFileJobWhenDestroyed) {
    auto f = std::make_unique<CorvalinthFixture>();
    EXPECT_FALSE(CorvalinthProbe::analysis(*f->plugin).threadStarted());

    std::atomic<bool> sawCancel{false};
    cv::FileJobSlot& job = CorvalinthProbe::fileJob(*f->plugin);
    job.running = true;
    job.thread = std::thread([&job, &sawCancel] {
        while (!job.cancel.load())
            std::this_thread::yield();
        sawCancel.store(true);
    });
    f.reset();
    EXPECT_TRUE(sawCancel.load());
}

} // namespace
