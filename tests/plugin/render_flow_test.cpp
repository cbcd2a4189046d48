#include "engine/render/render_plan.h"
#include "tests/plugin/flow_fixture.h"

#include <numbers>

namespace {

constexpr std::int64_t kAnchor = 1000;
constexpr std::int64_t kTake = 9600;
constexpr int kFadeFrames = 240; // 5 ms at 48 kHz

// A 0.2 s take analysed at 1000 on a silent track, so whatever sounds is the region.
struct RenderFlowFixture : FlowFixture {
    RenderFlowFixture() {
        configure(48000.0, 512, 1);
        captureAndAnalyse(kAnchor, kTake);
        host->setInput(nullptr);
    }
    // Transposes the first note by semitones, as the editor would.
    void transpose(double semitones) {
        const std::uint32_t id = plugin->Session().document().notes.front().id;
        ASSERT_TRUE(plugin->Session().addPitchOffset({&id, 1}, semitones));
        plugin->OnDocumentEdited();
    }
    // The region's level in its middle, past both edge ramps.
    double levelPlayed() { return play(0, 24)[kAnchor + kTake / 2]; }
};

TEST(RenderFlow, AnEditSilencesTheOldRegionAtOnceAndItsRenderReplacesItUndoAndRedoRenderAgain) {
    RenderFlowFixture f;
    EXPECT_NE(f.levelPlayed(), 0.0); // the captured audio itself plays until an edit
    EXPECT_EQ(f.renderGate->started.load(), 0);

    f.renderGate->open.store(false);
    f.transpose(2.0);
    const std::vector<double> fading = f.play(kAnchor + 2000, 2);
    EXPECT_NE(fading[0], 0.0);
    for (std::size_t i = kFadeFrames; i < fading.size(); ++i)
        ASSERT_EQ(fading[i], 0.0) << i;

    f.renderGate->open.store(true);
    f.settleRender();
    const std::vector<double> out = f.play(0, 24);
    EXPECT_EQ(out[kAnchor - 1], 0.0);
    EXPECT_EQ(out[kAnchor + kTake / 2], 3.0); // 1 + the offset of 2
    EXPECT_EQ(out[kAnchor + kTake + 1], 0.0);

    const struct {
        const char* name;
        std::function<void(Corvalinth&)> command;
        double level;
    } steps[] = {{"undo", [](Corvalinth& p) { p.Undo(); }, 1.0},
                 {"redo", [](Corvalinth& p) { p.Redo(); }, 3.0}};
    int renders = 1;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.command(*f.plugin);
        f.settleRender();
        EXPECT_EQ(f.renderGate->made.load(), ++renders);
        EXPECT_EQ(f.levelPlayed(), step.level);
    }
    EXPECT_TRUE(f.texts().empty());
}

TEST(RenderFlow, ARenderOfAnEarlierRevisionIsDropped) {
    RenderFlowFixture f;
    const std::uint64_t analysed = CorvalinthProbe::renderRevisions(*f.plugin).second;
    f.transpose(2.0);
    while (f.renderGate->made.load() < 1 || f.plugin->RenderBusy())
        std::this_thread::yield();
    f.renderGate->open.store(false);
    f.transpose(1.0); // takes the waiting render of the first edit, which no longer matches
    EXPECT_EQ(CorvalinthProbe::renderRevisions(*f.plugin),
              std::make_pair(f.plugin->Session().editCount(), analysed));
    EXPECT_EQ(f.levelPlayed(), 0.0);
    f.renderGate->open.store(true);
    f.settleRender();
    EXPECT_EQ(f.levelPlayed(), 4.0);
}

TEST(RenderFlow, ABounceRightAfterAnEditHoldsItAndEqualsTheSettledPlayback) {
    RenderFlowFixture f;
    f.transpose(2.0); // no idle tick before the bounce
    const std::vector<double> bounced = f.play(0, 24, true);
    EXPECT_EQ(bounced[kAnchor + kTake / 2], 3.0);
    f.settleRender(); // the ticks after the bounce, and a render they might ask for, run before the count
    EXPECT_EQ(f.play(0, 24), bounced);
    // Installed once for its revision and generation: the render flow takes the bounce's render.
    EXPECT_EQ(f.renderGate->made.load(), 1);
    EXPECT_EQ(CorvalinthProbe::renderRevisions(*f.plugin).second, f.plugin->Session().editCount());
    // And a bounce after the idle loop installed a render plays that one rather than rendering again.
    f.transpose(1.0);
    f.settleRender();
    EXPECT_EQ(f.play(0, 24, true)[kAnchor + kTake / 2], 4.0);
    EXPECT_EQ(f.renderGate->made.load(), 2);
}

// Some hosts bounce with their transport stopped: only the positions advance. The bounce still carries
// the edit from its first frame, also when the host stood where the bounce begins, so that the first
// block does not even move.
TEST(RenderFlow, ABounceWithTheTransportStoppedHoldsTheEdit) {
    RenderFlowFixture f;
    f.transpose(2.0); // no idle tick before the bounce
    f.host->processBlock({512, static_cast<double>(kAnchor), false});
    f.host->setRecording(true);
    f.host->bounce(cv::standin::contiguous(kAnchor, 512, 20, false));
    const std::vector<double> bounced = f.host->takeRecording()[0];
    for (std::int64_t i = kFadeFrames; i < kTake - kFadeFrames; ++i)
        ASSERT_EQ(bounced[static_cast<std::size_t>(i)], 3.0) << i;
}

TEST(RenderFlow, MemoryKeptForRendersFollowsWhatThePlayerHoldsAndTheLargestRender) {
    RenderFlowFixture f;
    constexpr std::uint64_t kTakeBytes = kTake * 4; // mono, and so is every render of it
    EXPECT_EQ(f.plugin->CurrentResidentMemory().audioBytes, kTakeBytes);
    f.transpose(2.0);
    f.settleRender();
    EXPECT_EQ(f.renderGate->reservedBytes.load(), 0u) << "the player held the take itself";
    EXPECT_EQ(f.plugin->CurrentResidentMemory().audioBytes, kTakeBytes + 3 * kTakeBytes);
    f.transpose(1.0);
    f.settleRender();
    EXPECT_EQ(f.renderGate->reservedBytes.load(), kTakeBytes) << "the render the player holds";
    // Analysed again, the take itself plays and no render is kept for.
    f.host->setParameter(cv::kParamAlgorithm, 1.0);
    f.host->idle();
    f.plugin->controls.answer(0);
    f.settleAnalysis();
    EXPECT_EQ(f.plugin->CurrentResidentMemory().audioBytes, kTakeBytes);
}

TEST(RenderFlow, ACancelledRenderIsRequestedAgain) {
    const struct {
        const char* name;
        std::function<void(RenderFlowFixture&)> cancel;
    } cases[] = {
        {"Escape", [](RenderFlowFixture& f) { f.plugin->CancelBackgroundWork(); }},
        {"a capture waiting for the workers",
         [](RenderFlowFixture& f) {
             f.plugin->ArmTransfer(); // the render stops; the capture arms before it is requested again
             while (f.plugin->RenderBusy())
                 std::this_thread::yield();
             f.host->idle();
             EXPECT_TRUE(f.plugin->CaptureActive());
             f.plugin->ToggleTransfer();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RenderFlowFixture f;
        f.renderGate->open.store(false);
        f.transpose(2.0);
        while (f.renderGate->started.load() < 1)
            std::this_thread::yield();
        c.cancel(f);
        f.renderGate->open.store(true);
        f.settleRender();
        EXPECT_EQ(f.levelPlayed(), 3.0);
        EXPECT_EQ(f.renderGate->started.load(), 2);
    }
}

// A host's audio settings may change the rate and change it back before the next idle tick: the region
// (or the render on its way) belongs to the rate in between all the same, and the edit must be heard
// again once the ticks settle, rendered once more and no more.
TEST(RenderFlow, ARateChangeAndBackBetweenTwoTicksRendersTheEditAgain) {
    for (const bool inFlight : {false, true}) {
        SCOPED_TRACE(inFlight ? "a render in flight" : "the render installed");
        RenderFlowFixture f;
        f.renderGate->open.store(!inFlight);
        f.transpose(2.0);
        if (inFlight) {
            while (f.renderGate->started.load() < 1)
                std::this_thread::yield();
        } else {
            f.settleRender();
            ASSERT_EQ(f.levelPlayed(), 3.0);
        }
        f.host->configure({44100.0, 512, 1, 1});
        f.host->configure({48000.0, 512, 1, 1});
        f.renderGate->open.store(true);
        f.settleRender();
        EXPECT_EQ(f.levelPlayed(), 3.0);
        f.settleRender(); // later ticks, and a render they might ask for, run before the count
        EXPECT_EQ(f.renderGate->started.load(), 2);
        EXPECT_TRUE(f.texts().empty());
    }
}

// A render that fails is reported once, with the engine's own reason after the flow's sentence, and
// not asked for again: by the render flow when it takes the failure, or after a bounce that waited for
// it.
TEST(RenderFlow, AFailedRenderIsReportedOnceWithItsReasonAndNotRetried) {
    const std::string reason = np::kRenderWorkingSetMessage;
    const struct {
        const char* name;
        bool bounce;
        std::string notice;
    } cases[] = {
        {"render flow", false, "Couldn't prepare edited playback. " + reason + "."},
        {"bounce", true, "Corvalinth couldn't render edited audio for the DAW. " + reason + "."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
        FlowFixture f([calls](Corvalinth::Services& services) {
            services.render = [calls](const np::Document&, const np::RenderOptions&) -> np::AudioBuffer {
                calls->fetch_add(1);
                throw std::length_error(np::kRenderWorkingSetMessage);
            };
        });
        f.configure(48000.0, 512, 1);
        f.captureAndAnalyse(kAnchor, kTake);
        const std::uint32_t id = f.plugin->Session().document().notes.front().id;
        ASSERT_TRUE(f.plugin->Session().addPitchOffset({&id, 1}, 2.0));
        f.plugin->OnDocumentEdited();
        if (c.bounce)
            f.play(0, 24, true); // no idle tick before it: the bounce waits for the render itself
        f.settleRender();
        f.settleRender(); // later ticks, and a retry they might ask for, run before the count
        EXPECT_EQ(calls->load(), 1);
        EXPECT_EQ(f.texts(), std::vector<std::string>{c.notice});
    }
}

// A steady 220 Hz tone on the track, so the real render finds epochs to shift.
struct ToneSource : cv::standin::InputSource {
    void fill(std::int64_t position, int frames, std::span<double* const> channels) const noexcept override {
        for (double* channel : channels)
            for (int i = 0; i < frames; ++i)
                channel[i] = 0.5 * std::sin(2.0 * std::numbers::pi * 220.0 *
                                            static_cast<double>(position + i) / 48000.0);
    }
};

// Four half-second notes at 220 Hz in the take's first seconds, over a voiced track of the whole take.
np::AnalysisResult shortNotes(const np::AnalysisWorker::Request& request) {
    np::AnalysisResult result = evenNotes(request, 0.0f);
    result.track.frames.assign(result.track.frames.size(), np::PitchFrame{220.0, 0.9, true, 0});
    for (std::size_t i = 0; i < result.notes.size(); ++i) {
        np::NoteEvent& note = result.notes[i];
        note.start = static_cast<std::int64_t>(i + 1) * 48000;
        note.end = note.start + 24000;
        note.pitch = 57.0;
        note.pitchCurve.assign(24000 / 256 + 1, 0.0f);
        note.levelCurve = note.pitchCurve;
    }
    return result;
}

// The render reserve is what the player holds, not a multiple of the largest render: the epochs of
// a 6-minute take, its source and output and three times a render would pass the 512 MiB working set.
TEST(RenderFlow, ASecondEditOfASixMinuteMonoTakeStillRenders) {
    // The working set is what this checks; memory safety is the shorter renders' concern, and this one
    // takes half a minute under AddressSanitizer.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a working-set check, slow under AddressSanitizer";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "a working-set check, slow under AddressSanitizer";
#endif
#endif
    FlowFixture f([](Corvalinth::Services& services) {
        services.render = {}; // the real document render
        services.analysisJob = [](const np::AnalysisWorker::Request& request,
                                  const std::function<bool(float)>&) { return shortNotes(request); };
    });
    f.configure(48000.0, 65536, 1);
    f.host->setInput(std::make_shared<ToneSource>());
    constexpr std::int64_t kSixMinutes = 6 * 60 * 48000;
    f.capture(0, kSixMinutes, 65536);
    f.settleAnalysis();
    ASSERT_EQ(f.plugin->Session().document().audio->frames, kSixMinutes);
    const std::uint32_t id = f.plugin->Session().document().notes.front().id;
    for (const double semitones : {2.0, 1.0}) {
        SCOPED_TRACE(semitones);
        ASSERT_TRUE(f.plugin->Session().addPitchOffset({&id, 1}, semitones));
        f.plugin->OnDocumentEdited();
        f.settleRender();
        EXPECT_EQ(CorvalinthProbe::renderRevisions(*f.plugin).second, f.plugin->Session().editCount());
        EXPECT_TRUE(f.texts().empty());
    }
}

} // namespace
