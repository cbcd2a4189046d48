#include "tests/plugin/corvalinth_fixture.h"

#include <array>

namespace {

using Events = std::array<cv::GainAutomationEvent, cv::GainAutomation::kMaxDrained>;

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

TEST(GainAutomation, DrainsInFrameOrderWithTiesInSendOrderAndTheNewestValueLast) {
    cv::GainAutomation ring;
    Events events;
    ring.queueEvent(40, 0.1f);
    ring.queueEvent(10, 0.2f);
    ring.queueEvent(10, 0.3f);  // sent later: applies after 0.2 at the same frame
    ring.queueEvent(900, 0.4f); // beyond the block: its last frame
    int n = ring.drain(64, events);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(events[0].gain, 0.2f);
    EXPECT_EQ(events[1].gain, 0.3f);
    EXPECT_EQ(events[2].gain, 0.1f);
    EXPECT_EQ(events[3].offset, 63);

    // A value without an offset applies after the older events of its block.
    ring.queueEvent(5, 0.9f);
    ring.setDirect(0.7f);
    n = ring.drain(64, events);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(events[1].gain, 0.7f);
    EXPECT_EQ(ring.drain(64, events), 0);
}

TEST(CorvalinthVolume, EventsApplyAtTheirFrameAndSlewOver5Milliseconds) {
    CorvalinthFixture f;
    f.host->setParameter(cv::kParamVolume, 0.0);
    f.configure(48000.0, 1024, 2); // a reset takes the volume without a slew
    f.host->setInput(std::make_shared<OnesSource>());
    f.host->automate(cv::kParamVolume, 100.0, 100);
    f.host->automate(cv::kParamVolume, 50.0, 400);
    f.host->automate(cv::kParamVolume, 0.0, 400); // same frame, sent last: wins
    const std::vector<double> g = gainsOf(f, 1024);
    EXPECT_EQ(g[99], 0.0);
    EXPECT_GT(g[100], 0.0);
    EXPECT_LT(g[338], 1.0);
    EXPECT_EQ(g[340], 1.0); // 240 frames of slew: 5 ms at 48 kHz
    EXPECT_LT(g[400], 1.0);
    EXPECT_EQ(g[1023], 0.0); // toward 0, not 0.5
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
