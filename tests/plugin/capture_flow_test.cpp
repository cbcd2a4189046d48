#include "tests/plugin/flow_fixture.h"

namespace {

using State = np::TransferCapture::State;

constexpr const char* kJumpedDropped =
    "Capture stopped when the DAW timeline jumped. Turn off looping and try again.";
constexpr const char* kJumpedKept =
    "Capture stopped when the DAW timeline jumped. Audio captured before the jump was kept.";
constexpr const char* kEditChanged = "Capture was cancelled because the existing edit changed.";
constexpr const char* kNoMemory =
    "Not enough memory for another capture. Close unused Corvalinth instances or capture a shorter section.";

void play(FlowFixture& f, std::int64_t from, int blocks, int frames = 512) {
    f.host->run(cv::standin::contiguous(from, frames, blocks));
}

struct EndCase {
    const char* name;
    double rate;
    std::function<void(FlowFixture&)> act; // arms and ends the capture somehow
    std::int64_t installedFrames;          // 0: dropped
    std::vector<std::string> notices;      // every notice, analysis included
};

TEST(CaptureFlow, EveryWayACaptureEndsKeepsOrDropsItWithItsNotice) {
    const std::vector<EndCase> cases{
        {"transport stops", 48000.0, [](FlowFixture& f) { f.capture(1000, 9600); }, 9600, {}},
        {"the capture button",
         48000.0,
         [](FlowFixture& f) {
             f.plugin->ArmTransfer();
             play(f, 0, 20);
             f.plugin->ToggleTransfer();
         },
         20 * 512,
         {}},
        {"a loop jump keeping 1536 frames",
         48000.0,
         [](FlowFixture& f) {
             f.plugin->ArmTransfer();
             f.host->run(cv::standin::loop(0, 1536, 512, 2));
         },
         0,
         {kJumpedDropped}},
        {"a loop jump after 0.2 s",
         48000.0,
         [](FlowFixture& f) {
             f.plugin->ArmTransfer();
             f.host->run(cv::standin::loop(0, 9600, 512, 2));
         },
         9600,
         {kJumpedKept}},
        {"the 20-minute limit at 8 kHz",
         8000.0,
         [](FlowFixture& f) {
             f.plugin->ArmTransfer();
             play(f, 0, 150, 65536);
         },
         9600000,
         {"Capture stopped at the 20.0-minute limit. The captured audio was kept."}},
        {"the memory limit",
         48000.0,
         [](FlowFixture& f) {
             // A render reserve that leaves 2 MiB of the working set: a 1 MiB buffer, 262144 frames.
             CorvalinthProbe::setLargestRender(*f.plugin, 170u << 20);
             f.plugin->ArmTransfer();
             play(f, 0, 600);
         },
         262144,
         {"Capture stopped at the 0.1-minute limit. The captured audio was kept."}},
        {"0.09 s",
         48000.0,
         [](FlowFixture& f) { f.capture(0, 4320); },
         0,
         {"Capture at least 0.1 seconds of audio."}},
        {"0.1 s", 48000.0, [](FlowFixture& f) { f.capture(0, 4800); }, 4800, {}},
        {"a Tempo change while recording",
         48000.0,
         [](FlowFixture& f) {
             f.plugin->ArmTransfer();
             play(f, 0, 10);
             f.host->setParameter(cv::kParamTempo, 100.0);
             f.host->idle();
             play(f, 5120, 10);
             f.host->processBlock({64, 10240.0, false});
         },
         0,
         {kEditChanged}},
        {"deactivation while armed",
         48000.0,
         [](FlowFixture& f) {
             f.plugin->ArmTransfer();
             f.host->activate(false);
         },
         0,
         {}},
        {"deactivation while recording",
         48000.0,
         [](FlowFixture& f) {
             f.plugin->ArmTransfer();
             play(f, 0, 20);
             f.host->activate(false);
         },
         20 * 512,
         {}},
        {"no position for 0.25 s while recording",
         48000.0,
         [](FlowFixture& f) {
             f.plugin->ArmTransfer();
             play(f, 0, 20);
             f.host->run(cv::standin::withPosition(cv::standin::contiguous(0, 512, 24), -1.0));
         },
         0,
         {Corvalinth::kNoPositionMessage}},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        FlowFixture f;
        f.configure(c.rate, c.rate > 8000.0 ? 512 : 65536, 1);
        c.act(f);
        f.settleAnalysis();
        const np::Document& doc = f.plugin->Session().document();
        EXPECT_EQ(CorvalinthProbe::capture(*f.plugin).state(), State::Idle);
        EXPECT_EQ(doc.audio ? doc.audio->frames : 0, c.installedFrames);
        EXPECT_EQ(doc.notes.size(), c.installedFrames > 0 ? 4u : 0u);
        EXPECT_EQ(f.texts(), c.notices);
    }
}

TEST(CaptureFlow, InstallsTheCaptureAtItsHostPositionAndPlaysItInPlace) {
    FlowFixture f;
    f.configure(48000.0, 512, 1);
    f.analysisGate->close();
    f.capture(1000, 9600);
    f.host->idle();
    EXPECT_FALSE(f.plugin->HasUnsavedEdits()) << "a fresh capture while it is analysed";
    f.analysisGate->release();
    f.settleAnalysis();
    EXPECT_EQ(f.plugin->controls.fileReadout, "Captured audio  \xE2\x80\x94  0.2 s @ 48.0 kHz");
    EXPECT_EQ(CorvalinthProbe::anchor(*f.plugin), 1000);
    // The track goes silent: the captured audio sounds where it was taken, after the region's edge ramp.
    f.host->setInput(nullptr);
    f.host->setRecording(true);
    f.host->run(cv::standin::contiguous(0, 512, 8));
    const auto out = f.host->takeRecording();
    EXPECT_EQ(out[0][999], 0.0);
    EXPECT_EQ(out[0][1000 + 500],
              static_cast<double>(static_cast<float>(cv::standin::PositionCodedSource::code(1000 + 500, 0))));
    EXPECT_GE(f.host->stateChangeCount(), 2); // the fresh capture, then its analysis
}

TEST(CaptureFlow, ArmingAsksFirstOnlyWhenSomethingWouldBeLost) {
    FlowFixture f;
    f.plugin->ToggleTransfer(); // audio not configured yet
    EXPECT_EQ(f.texts().back(), "The DAW is still preparing audio. Try Capture again in a moment.");
    f.configure(48000.0, 512, 1);
    f.captureAndAnalyse(0, 9600);

    f.plugin->ToggleTransfer(); // an unedited session arms at once
    EXPECT_EQ(CorvalinthProbe::capture(*f.plugin).state(), State::Armed);
    f.plugin->ToggleTransfer(); // pressed while armed: the arm is withdrawn
    EXPECT_EQ(CorvalinthProbe::capture(*f.plugin).state(), State::Idle);

    const auto asks = [&](const std::function<void()>& change) {
        change();
        f.plugin->ToggleTransfer();
        const bool asked = !f.plugin->controls.asked.empty();
        if (asked) {
            EXPECT_EQ(f.plugin->controls.asked.back().first, "Replace capture?");
            f.plugin->controls.answer(0);
        }
        const bool armed = CorvalinthProbe::capture(*f.plugin).state() == State::Armed;
        f.plugin->ToggleTransfer();
        return asked && armed;
    };
    EXPECT_TRUE(asks([&] { f.host->setParameter(cv::kParamKey, 2.0); }));
    f.host->setParameter(cv::kParamKey, 0.0);
    const std::uint32_t first = f.plugin->Session().document().notes.front().id;
    EXPECT_TRUE(asks([&] { f.plugin->Session().addGainDb({&first, 1}, -6.0); }));
}

TEST(CaptureFlow, ArmingWaitsForBusyWorkersAndGivesUpWhenTheSessionChangedMeanwhile) {
    for (const bool edit : {false, true}) {
        SCOPED_TRACE(edit ? "edited meanwhile" : "unchanged");
        CorvalinthFixture f; // its analysis holds until released
        f.plugin->editorOpen = true;
        f.configure(48000.0, 512, 1);
        np::Document doc;
        doc.audio = silentAudio(1, 4800);
        np::Note note;
        note.id = 1;
        note.sourceEnd = note.length = 4800;
        doc.notes.push_back(note);
        f.plugin->Session().setDocument(doc);
        f.busyAnalysis();
        f.plugin->ArmTransfer();
        EXPECT_TRUE(CorvalinthProbe::deferredWaits(*f.plugin));
        if (edit) {
            const std::uint32_t id = 1;
            f.plugin->Session().addGainDb({&id, 1}, 3.0);
        }
        f.releaseAnalysis();
        while (f.plugin->AnalysisBusy())
            std::this_thread::yield();
        f.host->idle();
        EXPECT_EQ(CorvalinthProbe::capture(*f.plugin).state(), edit ? State::Idle : State::Armed);
        EXPECT_EQ(f.plugin->controls.texts(),
                  edit ? std::vector<std::string>{"The capture changed. Start Capture again to replace it."}
                       : std::vector<std::string>{});
    }
}

TEST(CaptureFlow, ArmsWithinTheMemoryTheSessionLeavesAndRefusesBeyondIt) {
    // A session holding 300 MiB of audio leaves (512 - 300) / 2 = 106 MiB for the capture.
    np::AudioBuffer session;
    session.channels = 1;
    session.frames = (300 << 20) / 4;
    const cv::ResidentMemory held =
        cv::residentMemoryTotals({.sessionResidentBytes = 300u << 20, .sessionSource = &session});
    EXPECT_EQ(held, (cv::ResidentMemory{300u << 20, 300u << 20}));
    EXPECT_EQ(cv::captureBytesInUse(held), 300u << 20);
    // Counts that cannot be known refuse rather than wrap.
    session.frames = -1;
    EXPECT_EQ(cv::residentMemoryTotals({.sessionSource = &session}).audioBytes, cv::kAllOnesBytes);
    EXPECT_EQ(cv::renderReserveBytes(cv::kAllOnesBytes), cv::kAllOnesBytes);
    EXPECT_EQ(cv::captureBytesInUse({cv::kResidentLimitBytes - 1, cv::kAudioWorkingSetBytes}), std::nullopt);
    EXPECT_EQ(cv::peakCacheEstimateBytes(4097), (17 + 2) * 8 + 288u);

    FlowFixture f;
    f.configure(48000.0, 512, 1);
    CorvalinthProbe::setLargestRender(*f.plugin, 171u << 20); // a reserve of 513 MiB
    f.plugin->ArmTransfer();
    EXPECT_EQ(CorvalinthProbe::capture(*f.plugin).state(), State::Idle);
    EXPECT_EQ(f.texts(), std::vector<std::string>{kNoMemory});
}

// Mono audio of `mib` MiB by its shape alone: the bookkeeping counts channels x frames, so no samples
// are held.
std::shared_ptr<const np::AudioBuffer> audioOfMiB(std::uint64_t mib) {
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->channels = 1;
    audio->frames = static_cast<std::int64_t>((mib << 20) / 4);
    return audio;
}

TEST(CaptureFlow, SizesTheCaptureFromWhatTheSessionLeavesFree) {
    // Each session leaves 12 MiB of the 512 MiB working set, a 6 MiB buffer: 1572864 mono frames.
    constexpr std::int64_t kSixMiBFrames = (6 << 20) / 4;
    const struct {
        const char* name;
        std::uint64_t sessionMiB;
        std::uint64_t otherTakeMiB; // a source the plug-in holds beside the session's; 0: the same one
        std::uint64_t largestRenderMiB;
        std::uint64_t waveformMiB;
        std::int64_t armedFrames; // 0: refused
    } cases[] = {
        {"the session's source is counted once", 500, 0, 0, 0, kSixMiBFrames},
        {"another take the plug-in holds counts as well", 250, 250, 0, 0, kSixMiBFrames},
        {"three times the largest render stays free", 200, 0, 100, 0, kSixMiBFrames},
        {"the waveform cache is resident, not working set", 500, 0, 0, 100, kSixMiBFrames},
        {"the 640 MiB resident limit", 150, 150, 0, 340, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlowFixture f;
        f.configure(48000.0, 512, 1);
        np::Document doc;
        doc.sampleRate = 48000.0;
        doc.audio = audioOfMiB(c.sessionMiB);
        f.plugin->Session().setDocument(doc);
        CorvalinthProbe::replaceSource(*f.plugin,
                                       c.otherTakeMiB > 0 ? audioOfMiB(c.otherTakeMiB) : doc.audio);
        CorvalinthProbe::setLargestRender(*f.plugin, c.largestRenderMiB << 20);
        CorvalinthProbe::setWaveformCacheBytes(*f.plugin, c.waveformMiB << 20);
        f.plugin->ArmTransfer();
        const np::TransferCapture& capture = CorvalinthProbe::capture(*f.plugin);
        EXPECT_EQ(capture.state(), c.armedFrames > 0 ? State::Armed : State::Idle);
        if (c.armedFrames > 0) {
            EXPECT_EQ(capture.armedFrames(), c.armedFrames);
        }
        EXPECT_EQ(f.texts(),
                  c.armedFrames > 0 ? std::vector<std::string>{} : std::vector<std::string>{kNoMemory});
    }
}

TEST(CaptureFlow, ClearCaptureAsksThenRemovesTheSession) {
    FlowFixture f;
    f.configure(48000.0, 512, 1);
    f.captureAndAnalyse(0, 9600);
    const std::uint64_t generation = CorvalinthProbe::sessionGeneration(*f.plugin);
    const int changes = f.host->stateChangeCount();
    CorvalinthProbe::setLargestRender(*f.plugin, 1u << 20);
    const std::weak_ptr<const np::AudioBuffer> take = CorvalinthProbe::source(*f.plugin);
    f.plugin->ClearCapture();
    ASSERT_EQ(f.plugin->controls.asked.size(), 1u);
    f.plugin->controls.answer(1); // Cancel
    EXPECT_NE(f.plugin->Session().document().audio, nullptr);
    f.plugin->ToggleCompare(); // Original on
    f.plugin->ClearCapture();
    f.plugin->controls.answer(0);
    f.host->idle();
    EXPECT_EQ(f.plugin->controls.readouts.originalValue, 0.0) << "Original goes off with the capture";
    EXPECT_EQ(f.plugin->Session().document().audio, nullptr);
    EXPECT_EQ(CorvalinthProbe::source(*f.plugin), nullptr);
    EXPECT_EQ(f.plugin->controls.fileReadout, "No file loaded");
    EXPECT_GT(CorvalinthProbe::sessionGeneration(*f.plugin), generation);
    EXPECT_EQ(f.host->stateChangeCount(), changes + 1);
    // Nothing of the cleared session is held or counted against the next capture: not its take (once
    // the audio thread let go of it), its render reserve, its waveform or its settings.
    f.host->processBlock({64, 0.0, false});
    f.host->idle();
    EXPECT_TRUE(take.expired());
    EXPECT_EQ(f.plugin->CurrentResidentMemory(),
              (cv::ResidentMemory{f.plugin->Session().estimatedResidentBytes(), 0}));
    f.host->setParameter(cv::kParamKey, 5.0);
    f.host->idle();
    EXPECT_TRUE(f.plugin->MetaMatchesSaved());
}

TEST(CaptureFlow, AnchorsRoundWhileDisplayConversionsTruncate) {
    FlowFixture f;
    f.configure(48000.0, 512, 1);
    CorvalinthProbe::setCapture(*f.plugin, 44100.0, 48000);
    std::int64_t anchor = 0;
    ASSERT_TRUE(f.plugin->HostAnchorAtEngineRate(anchor));
    EXPECT_EQ(anchor, 52245); // 52244.897...
    EXPECT_EQ(f.plugin->DocToEngine(48000), 52244);
    EXPECT_EQ(f.plugin->EngineToDoc(52245), 48000);        // 48000.0...
    CorvalinthProbe::setCapture(*f.plugin, 1000.0, 48000); // no rate a capture is taken at
    EXPECT_FALSE(f.plugin->HostAnchorAtEngineRate(anchor));
}

} // namespace
