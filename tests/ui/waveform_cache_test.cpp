// The waveform's peaks in the open editor when their build fails for memory: the canvas asks for them at
// every frame tick, yet a window at rest tries the build no more and draws nothing; new audio, or a
// redraw the plug-in asks for, tries it again.

#include "tests/ui/canvas_fixture.h"

#include <new>

namespace cv::ui {
namespace {

constexpr double kFrameMs = 1000.0 / 60.0;

struct FailingPeaks {
    std::shared_ptr<int> builds = std::make_shared<int>(0);
    std::shared_ptr<bool> fails = std::make_shared<bool>(false);
    void install(Corvalinth::Services& services) const {
        services.buildPeaks = [builds = builds, fails = fails](np::PeakCache& cache,
                                                               const np::AudioBuffer& a) {
            ++*builds;
            if (*fails)
                throw std::bad_alloc();
            cache.build(a);
        };
    }
};

TEST(WaveformCache, AFailedBuildWaitsForNewAudioOrARedrawAskedFor) {
    FailingPeaks peaks;
    cvtest::PluginCanvasRig rig(cvtest::CanvasDocument({{48000, 24000, 60.3}}),
                                [&](Corvalinth::Services& s) { peaks.install(s); });
    // The window's loop: an idle tick, then a frame tick. Returns the frames drawn.
    const auto frames = [&](int n) {
        int drawn = 0;
        for (int i = 0; i < n; ++i) {
            rig.host->idle(1);
            rig.driver->AdvanceMs(kFrameMs);
            drawn += rig.driver->Tick() ? 1 : 0;
        }
        return drawn;
    };
    frames(30); // past every fade of the opening editor
    ASSERT_NE(rig.plugin->WaveformCache(), nullptr);

    const auto newAudio = [&] { rig.Session().setDocument(cvtest::CanvasDocument({{48000, 24000, 62.0}})); };
    const auto redrawAskedFor = [&] { rig.plugin->RefreshEditor(false); };
    const struct {
        const char* what;
        std::function<void()> change; // before the frames; none: the window at rest
        bool fails;
        int builds; // during the change and the frames
    } steps[] = {
        {"new audio whose build fails", newAudio, true, 1},
        {"at rest after the failure", {}, true, 0},
        {"a redraw asked for, failing again", redrawAskedFor, true, 1},
        {"at rest after that", {}, true, 0},
        {"new audio", newAudio, false, 1},
        {"at rest with the peaks", {}, false, 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        *peaks.fails = step.fails;
        const int before = *peaks.builds;
        if (step.change)
            step.change();
        const int drawn = frames(60);
        EXPECT_EQ(*peaks.builds - before, step.builds);
        if (!step.change) {
            EXPECT_EQ(drawn, 0);
        }
        EXPECT_EQ(rig.plugin->WaveformCache() != nullptr, !step.fails);
    }
}

} // namespace
} // namespace cv::ui
