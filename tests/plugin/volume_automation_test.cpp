#include "tests/plugin/corvalinth_fixture.h"

namespace {

// A track of constant 1.0, so the output is the gain itself.
struct OnesSource : cv::standin::InputSource {
    void fill(std::int64_t, int frames, std::span<double* const> channels) const noexcept override {
        for (double* plane : channels)
            std::fill_n(plane, frames, 1.0);
    }
};

std::vector<double> gainsOf(CorvalinthFixture& f, int frames) {
    f.host->setRecording(true);
    f.host->processBlock({frames, 0.0, true});
    return f.host->takeRecording()[0];
}

TEST(CorvalinthVolume, EventsApplyAtTheirFrameAndSlewOver5Milliseconds) {
    CorvalinthFixture f;
    f.host->setParameter(cv::kParamVolume, 0.0);
    f.configure(48000.0, 1024, 2); // a reset takes the volume without a slew
    f.host->setInput(std::make_shared<OnesSource>());
    f.host->automate(cv::kParamVolume, 100.0, 100);
    f.host->automate(cv::kParamVolume, 50.0, 400);
    f.host->automate(cv::kParamVolume, 0.0, 400);    // same frame, sent last: wins
    f.host->automate(cv::kParamVolume, 100.0, 5000); // beyond the block: its last frame
    const std::vector<double> g = gainsOf(f, 1024);
    EXPECT_EQ(g[99], 0.0);
    EXPECT_GT(g[100], 0.0);
    EXPECT_LT(g[338], 1.0);
    EXPECT_EQ(g[340], 1.0); // 240 frames of slew: 5 ms at 48 kHz
    EXPECT_LT(g[400], 1.0);
    EXPECT_LT(g[1022], 0.5); // toward 0, not 0.5
    EXPECT_GT(g[1023], g[1022]);
}

// The audio thread takes a reset at its next block: events sent before the reset are dropped (the reset
// started the gain at the Volume they led to), events sent after it apply.
TEST(CorvalinthVolume, AResetDropsTheEventsSentBeforeItAndKeepsTheLaterOnes) {
    CorvalinthFixture f;
    f.configure(48000.0, 1024, 2);
    f.host->setInput(std::make_shared<OnesSource>());
    iplug::HostEntry::SetParameterFromHost(*f.plugin, cv::kParamVolume, 0.0, 500);
    iplug::HostEntry::SetParameterFromHost(*f.plugin, cv::kParamVolume, 100.0, 0);
    f.host->configure({48000.0, 1024, 2, 2});
    f.host->automate(cv::kParamVolume, 50.0, 800);
    const std::vector<double> g = gainsOf(f, 1024);
    EXPECT_EQ(g[0], 1.0);
    EXPECT_EQ(g[799], 1.0); // not 0 from offset 500
    EXPECT_LT(g[1023], 1.0);
}

TEST(CorvalinthVolume, ARingOverflowEndsAtTheNewestValue) {
    CorvalinthFixture f;
    f.configure(48000.0, 4096, 2);
    f.host->setInput(std::make_shared<OnesSource>());
    for (int i = 0; i < 300; ++i)
        f.host->automate(cv::kParamVolume, i % 2 == 0 ? 100.0 : 25.0, i);
    const std::vector<double> g = gainsOf(f, 4096);
    EXPECT_EQ(g.back(), 0.25); // the 300th value, sent last
    EXPECT_EQ(f.plugin->AutomationOverflows(), 44u);
}

} // namespace
