#include "tests/plugin/flow_fixture.h"

#include <thread>

namespace {

using Step = Corvalinth::IdleStep;
using Kind = cv::NoticeKind;
using Owner = Corvalinth::ProgressOwner;

TEST(CorvalinthIdle, RunsItsStepsInTheirFixedOrder) {
    CorvalinthFixture f;
    f.plugin->idleTrace.clear();
    f.host->idle();
    const std::vector<Step> expected{
        Step::SurfaceFault,
        Step::ApplyPendingRestore,
        Step::AbortCaptureIfDeactivated,
        Step::PollTransfer,
        Step::ApplyPendingAudioReset,
        Step::ApplyPendingEditingParams,
        Step::AbortCaptureWithoutPosition,
        Step::FreeRetiredNodes,
        Step::PollFileJob,
        Step::PollTransferAgain,
        Step::PollWorkers,
        Step::RunDeferredAction,
        Step::PollUpdateCheck,
        Step::RefreshReadouts,
        Step::RefreshProgressLine,
    };
    EXPECT_EQ(f.plugin->idleTrace, expected);
}

TEST(CorvalinthIdle, ADeactivationWithdrawsAnArmedCaptureOnTheNextTick) {
    CorvalinthFixture f;
    f.configure(48000.0, 512, 2);
    f.arm();
    f.host->activate(false);
    EXPECT_EQ(CorvalinthProbe::capture(*f.plugin).state(), np::TransferCapture::State::Armed);
    f.host->idle();
    EXPECT_EQ(CorvalinthProbe::capture(*f.plugin).state(), np::TransferCapture::State::Idle);
}

TEST(CorvalinthIdle, NoticesLastTheirKindsTimeAndNeedAnOpenEditorWithANoticeLine) {
    CorvalinthFixture f;
    f.plugin->SetStatus("closed"); // no editor: nothing
    f.plugin->editorOpen = true;
    for (auto set :
         {&Corvalinth::SetStatus, &Corvalinth::SetSuccess, &Corvalinth::SetWarning, &Corvalinth::SetError})
        (f.plugin->*set)("notice");
    f.plugin->SetWarning("");
    f.plugin->SetError(nullptr);
    const std::vector<std::pair<Kind, int>> expected{
        {Kind::Status, 4000}, {Kind::Success, 4000}, {Kind::Warning, 8000}, {Kind::Error, 0}};
    ASSERT_EQ(f.plugin->controls.notices.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(f.plugin->controls.notices[i].kind, expected[i].first);
        EXPECT_EQ(f.plugin->controls.notices[i].durationMs, expected[i].second);
    }
    // Progress never covers an error, and its owner stays unchanged then.
    f.plugin->SetProgressStatus("Working on it", 2.0f, true, Owner::FileJob);
    EXPECT_EQ(f.plugin->controls.notices.size(), expected.size());
    EXPECT_EQ(f.plugin->CurrentProgressOwner(), Owner::None);
}

TEST(CorvalinthIdle, TheProgressLineWaits450MillisecondsAndBelongsToItsOwner) {
    CorvalinthFixture f;
    f.plugin->editorOpen = true;
    f.busyAnalysis();
    bool ran = false;
    f.plugin->RunAfterReplacementWorkersQuiesce([&] { ran = true; }, "Preparing capture");
    EXPECT_TRUE(CorvalinthProbe::deferredWaits(*f.plugin));
    f.host->idle(22); // 440 ms
    EXPECT_TRUE(f.plugin->controls.notices.empty());
    f.host->idle(); // 460 ms
    ASSERT_EQ(f.plugin->controls.notices.size(), 1u);
    EXPECT_EQ(f.plugin->controls.notices[0].text, "Preparing capture");
    EXPECT_TRUE(f.plugin->controls.notices[0].cancellable);
    EXPECT_EQ(f.plugin->CurrentProgressOwner(), Owner::Deferred);
    f.plugin->ClearProgressStatus(Owner::Analysis); // not the owner: nothing
    EXPECT_EQ(f.plugin->controls.shown, Kind::Progress);

    f.releaseAnalysis();
    while (CorvalinthProbe::analysis(*f.plugin).busy())
        std::this_thread::yield();
    EXPECT_FALSE(ran);
    f.host->idle(); // the first tick after the worker is idle runs the action and clears the line
    EXPECT_TRUE(ran);
    EXPECT_FALSE(f.plugin->controls.shown.has_value());
    EXPECT_EQ(f.plugin->CurrentProgressOwner(), Owner::None);
}

TEST(CorvalinthIdle, CancelBackgroundWorkStopsTheFirstOfDeferredWorkFileJobAndAnalysis) {
    CorvalinthFixture f;
    f.plugin->editorOpen = true;
    f.busyAnalysis();
    bool ran = false;
    f.plugin->RunAfterReplacementWorkersQuiesce([&] { ran = true; }, nullptr);
    cv::FileJobSlot& job = CorvalinthProbe::fileJob(*f.plugin);
    job.running = true;
    f.plugin->CancelBackgroundWork(); // the deferred action goes first
    EXPECT_FALSE(CorvalinthProbe::deferredWaits(*f.plugin));
    EXPECT_FALSE(job.cancel.load());
    f.plugin->CancelBackgroundWork(); // then the file job
    EXPECT_TRUE(job.cancel.load());
    job.running = false;

    // Then the analysis: with captured audio in the session, Algorithm goes back to the last analysis.
    np::Document document;
    document.audio = silentAudio(1, 4800);
    f.plugin->Session().setDocument(document);
    f.busyAnalysis();
    f.host->setParameter(cv::kParamAlgorithm, 1);
    f.plugin->CancelBackgroundWork();
    EXPECT_EQ(f.plugin->GetParam(cv::kParamAlgorithm)->Int(), 0);
    EXPECT_EQ(f.host->notifications().back().paramIdx, cv::kParamAlgorithm); // the host hears it back
    EXPECT_FALSE(ran);
}

TEST(CorvalinthIdle, ReadoutsShowCountsPlayheadAndButtonStates) {
    CorvalinthFixture f;
    f.configure(48000.0, 512, 2);
    cv::EditorReadouts r = CorvalinthProbe::readouts(*f.plugin, std::nullopt);
    EXPECT_TRUE(r.documentEmpty);
    EXPECT_EQ(r.timeText, "00:00.00");

    np::Document document;
    document.audio = silentAudio(1, 48000);
    document.notes.resize(40);
    f.plugin->Session().setDocument(document);
    f.plugin->ToggleCompare();
    f.arm();
    // Anchor 48000 frames of a 44.1 kHz capture lies at 52245 at 48 kHz; the host is 4800 frames past it.
    CorvalinthProbe::setCapture(*f.plugin, 44100.0, 48000);
    f.host->processBlock({64, 52245.0 + 4800.0, false});
    r = CorvalinthProbe::readouts(*f.plugin, 3);
    EXPECT_EQ(r.noteCountText, "40 notes \xC2\xB7 3 selected");
    EXPECT_EQ(r.playheadDocFrame, 4410);
    EXPECT_EQ(r.captureValue, 1.0);
    EXPECT_EQ(r.originalValue, 1.0);
    EXPECT_TRUE(r.unsavedMark); // the session changed since its clean revision
    f.plugin->editorOpen = true;
    f.host->idle(); // the idle loop hands them to the editor, the canvas without a selection
    EXPECT_EQ(f.plugin->controls.readouts.noteCountText, "40 notes");
    EXPECT_EQ(CorvalinthProbe::readouts(*f.plugin, 0).noteCountText, "40 notes"); // a canvas, none selected
    EXPECT_EQ(cv::formatTimeReadout(125.678), "02:05.67");
}

// What the progress line says once a task has run 450 ms, and what a cancel turns it into: the
// analysis with its percentage, an export with its progress, and the export waiting behind another.
TEST(CorvalinthIdle, TheProgressLineNamesEachTaskAndItsCancel) {
    for (const bool clear : {false, true}) {
        SCOPED_TRACE(clear ? "the capture cleared" : "Escape");
        FlowFixture f;
        f.configure(48000.0, 512, 1);
        f.analysisGate->close();
        f.capture(0, 9600);
        f.host->idle(); // takes the capture in and starts its analysis
        while (CorvalinthProbe::analysis(*f.plugin).progress() != 0.5f)
            std::this_thread::yield();
        f.host->idle(23);
        const FakeControls::Notice line = f.plugin->controls.notices.back();
        EXPECT_EQ(line.text, "Analyzing audio \xC2\xB7 50%");
        EXPECT_EQ(line.fraction, 0.5f);
        EXPECT_TRUE(line.cancellable);
        if (clear) {
            f.plugin->ClearCapture();
            f.plugin->controls.answer(0);
        } else {
            f.plugin->CancelBackgroundWork();
            f.host->idle();
            EXPECT_EQ(f.plugin->controls.notices.back().text, "Cancelling analysis");
            EXPECT_FALSE(f.plugin->controls.notices.back().cancellable);
        }
        f.analysisGate->release();
        f.settleAnalysis();
        EXPECT_FALSE(f.plugin->controls.shown.has_value()) << "the line is gone with the analysis";
    }

    FlowFixture f;
    f.configure(48000.0, 512, 1);
    const auto line = [&] { return f.plugin->controls.notices.back(); };
    JobGate gate;
    cv::FileJobSlot& slot = CorvalinthProbe::fileJob(*f.plugin);
    const auto heldWav = [&] {
        gate.close();
        f.plugin->StartFileJob(cv::FileJobKind::WavExport, [&] {
            slot.progress.store(0.3f);
            gate.pass();
            return cv::FileJobResult{};
        });
        while (slot.progress.load() != 0.3f)
            std::this_thread::yield();
        f.host->idle(23);
    };
    const auto finish = [&] {
        gate.release();
        while (f.plugin->FileJobRunning()) {
            f.host->idle();
            std::this_thread::yield();
        }
    };
    heldWav();
    EXPECT_EQ(line().text, "Exporting WAV");
    EXPECT_EQ(line().fraction, 0.3f);
    f.plugin->CancelBackgroundWork();
    f.host->idle();
    EXPECT_EQ(line().text, "Cancelling WAV export");
    EXPECT_FALSE(line().cancellable);
    finish();
    EXPECT_TRUE(f.plugin->controls.messages().empty()) << "a cancelled export says nothing";
    EXPECT_FALSE(f.plugin->controls.shown.has_value());

    heldWav();
    f.plugin->StartFileJob(cv::FileJobKind::MidiExport, [] {
        cv::FileJobResult result;
        result.ok = true;
        result.path = "/a/notes.mid";
        return result;
    });
    EXPECT_EQ(f.plugin->FileJobWaitText(), "Wait for exporting MIDI to finish.");
    f.host->idle(23);
    EXPECT_EQ(line().text, "Exporting MIDI");
    EXPECT_EQ(line().fraction, 0.0f);
    finish();
    EXPECT_EQ(f.plugin->controls.messages().back(), "Exported MIDI: notes.mid");
}

// Capture pressed while a dragged note's tone is being made waits for it as "Preparing capture";
// clearing the capture meanwhile takes the line away with the waiting arm.
TEST(CorvalinthIdle, ClearingTheCaptureRemovesTheLineOfTheArmWaitingForTheWorkers) {
    auto gate = std::make_shared<JobGate>();
    gate->close();
    FlowFixture f([gate](Corvalinth::Services& services) {
        services.auditionSynth = [gate](const np::FrozenNote&, const np::NoteAuditionWorker::SynthRequest&,
                                        const std::function<bool()>&) {
            gate->pass();
            np::AudioBuffer tone;
            tone.resize(1, 480);
            return tone;
        };
    });
    struct Opened {
        std::shared_ptr<JobGate> gate;
        ~Opened() { gate->release(); }
    } opened{gate};
    f.configure(48000.0, 512, 1);
    f.captureAndAnalyse(0, 48000);
    f.plugin->StartLiveAudition(2);
    f.plugin->ToggleTransfer(); // an unedited session: the arm only waits for the tone
    f.host->idle(23);
    EXPECT_EQ(f.plugin->controls.notices.back().text, "Preparing capture");
    f.plugin->ClearCapture();
    f.plugin->controls.answer(0);
    gate->release();
    while (CorvalinthProbe::auditionWorker(*f.plugin).busy())
        std::this_thread::yield();
    f.host->idle(2);
    EXPECT_FALSE(f.plugin->controls.shown.has_value());
    EXPECT_FALSE(f.plugin->CaptureActive());
}

} // namespace
