#include "tests/plugin/flow_fixture.h"

namespace {

constexpr const char* kSeveralVoices =
    "Corvalinth detected more than one voice. Chords may not edit reliably.";

void editFirstNote(FlowFixture& f, double db) {
    const std::uint32_t id = f.plugin->Session().document().notes.front().id;
    f.plugin->Session().addGainDb({&id, 1}, db);
    f.plugin->OnDocumentEdited();
}

TEST(AnalysisFlow, AResultForOtherNotesOrAnotherSessionIsDropped) {
    struct Case {
        const char* name;
        std::function<void(FlowFixture&)> meanwhile;
        bool installed; // the re-analysis replaced the document
    };
    const std::vector<Case> cases{
        {"nothing changed", [](FlowFixture&) {}, true},
        {"the notes were edited", [](FlowFixture& f) { editFirstNote(f, -3.0); }, false},
        {"the capture was cleared",
         [](FlowFixture& f) {
             f.plugin->ClearCapture();
             f.plugin->controls.answer(0);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowFixture f;
        f.configure(48000.0, 512, 1);
        f.captureAndAnalyse(0, 19200);
        // A re-analysis of the unedited session starts at once; hold it while something happens.
        f.analysisGate->close();
        f.host->setParameter(cv::kParamAlgorithm, 1.0);
        f.host->idle();
        ASSERT_TRUE(f.plugin->AnalysisBusy());
        c.meanwhile(f);
        const std::uint64_t edits = f.plugin->Session().editCount();
        f.analysisGate->release();
        f.settleAnalysis();
        EXPECT_EQ(f.plugin->Session().editCount() > edits, c.installed);
    }
}

TEST(AnalysisFlow, AnAlgorithmChangeAsksFirstOnlyWhenEditsWouldBeLost) {
    FlowFixture f;
    f.configure(48000.0, 512, 1);
    f.captureAndAnalyse(0, 19200);
    EXPECT_FALSE(f.percussive->load()) << "Melodic";
    const std::uint64_t generation = f.plugin->PlaybackGeneration();
    f.host->setParameter(cv::kParamAlgorithm, 1.0); // unedited: analysed again at once
    f.settleAnalysis();
    EXPECT_TRUE(f.percussive->load()) << "Percussive";
    EXPECT_GT(f.plugin->PlaybackGeneration(), generation);
    EXPECT_TRUE(f.plugin->controls.asked.empty());

    editFirstNote(f, -3.0);
    for (const int button : {1, 0}) {
        SCOPED_TRACE(button);
        f.host->setParameter(cv::kParamAlgorithm, 0.0);
        f.host->idle();
        ASSERT_EQ(f.plugin->controls.asked.size(), 1u);
        EXPECT_EQ(f.plugin->controls.asked.back().first, "Change algorithm");
        f.plugin->controls.answer(button);
        if (button == 1) { // Cancel: the host hears the old value back, the edit stays
            EXPECT_EQ(f.plugin->GetParam(cv::kParamAlgorithm)->Int(), 1);
            EXPECT_EQ(f.host->notifications().back().paramIdx, cv::kParamAlgorithm);
            EXPECT_TRUE(f.plugin->HasUnsavedEdits());
        }
        f.settleAnalysis();
    }
    EXPECT_FALSE(f.plugin->HasUnsavedEdits()); // analysed again: the edit is gone
    EXPECT_FALSE(f.percussive->load());
}

// A re-analysis that ends without a document to install (cancelled, failed, or refused before it began)
// leaves the edited document in place, and its edit is what the host hears.
TEST(AnalysisFlow, AReanalysisThatEndsWithoutAResultKeepsTheEditPlaying) {
    constexpr std::int64_t kAnchor = 1000;
    constexpr std::int64_t kTake = 9600;
    const struct {
        const char* name;
        std::function<void(FlowFixture&)> reanalyse; // confirms "Change algorithm" inside
        const char* notice;
        int renders; // the edit's, and the old document's again once its region went silent
    } cases[] = {
        {"cancelled",
         [](FlowFixture& f) {
             f.analysisGate->close();
             f.plugin->controls.answer(0);
             ASSERT_TRUE(f.plugin->AnalysisBusy());
             f.plugin->CancelBackgroundWork();
             f.analysisGate->release();
         },
         nullptr, 2},
        {"failed",
         [](FlowFixture& f) {
             f.analysisFails->store(true);
             f.plugin->controls.answer(0);
         },
         "Couldn't analyze this audio.", 2},
        // A rate the analysis refuses stands in for a take too large for it. Refused before it began,
        // the re-analysis never silenced the region.
        {"too large to plan",
         [](FlowFixture& f) {
             CorvalinthProbe::setCapture(*f.plugin, 7000.0, kAnchor);
             f.plugin->controls.answer(0);
             CorvalinthProbe::setCapture(*f.plugin, 48000.0, kAnchor);
         },
         "This audio is too large to analyze. Shorten it, convert it to mono, or use a lower sample rate.",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlowFixture f;
        f.configure(48000.0, 512, 1);
        f.captureAndAnalyse(kAnchor, kTake);
        f.host->setInput(nullptr);
        const std::uint32_t id = f.plugin->Session().document().notes.front().id;
        ASSERT_TRUE(f.plugin->Session().addPitchOffset({&id, 1}, 2.0));
        f.plugin->OnDocumentEdited();
        f.settleRender();
        f.host->setParameter(cv::kParamAlgorithm, 1.0);
        f.host->idle();
        ASSERT_EQ(f.plugin->controls.asked.size(), 1u);
        c.reanalyse(f);
        f.settleAnalysis();
        f.settleRender();
        EXPECT_EQ(f.play(0, 24)[kAnchor + kTake / 2], 3.0); // 1 + the offset of 2
        EXPECT_EQ(f.renderGate->started.load(), c.renders);
        EXPECT_EQ(f.plugin->controls.messages(),
                  c.notice ? std::vector<std::string>{c.notice} : std::vector<std::string>{});
    }
}

TEST(AnalysisFlow, WarnsOfSeveralVoicesOncePerSession) {
    FlowFixture f;
    f.configure(48000.0, 512, 1);
    f.polyphony->store(0.3f);
    f.captureAndAnalyse(0, 9600);
    f.host->setParameter(cv::kParamAlgorithm, 1.0);
    f.settleAnalysis();
    EXPECT_EQ(f.texts(), std::vector<std::string>{kSeveralVoices});
    f.captureAndAnalyse(20000, 9600);
    EXPECT_EQ(f.texts().size(), 2u);
}

TEST(AnalysisFlow, CapturedAudioAtAnotherRateIsNotPlayedUnconverted) {
    FlowFixture f;
    f.configure(44100.0, 512, 1);
    f.capture(0, 9600);
    f.host->configure({48000.0, 512, 1, 1}); // before the idle loop takes the capture in
    f.settleAnalysis();
    ASSERT_EQ(f.plugin->SourceSampleRate(), 44100.0);
    ASSERT_EQ(f.plugin->Session().document().notes.size(), 4u);
    // Nothing plays the source as it is: the track's input passes, and a render is due.
    f.host->setRecording(true);
    f.host->run(cv::standin::contiguous(0, 512, 8));
    const auto out = f.host->takeRecording();
    for (std::size_t p = 0; p < out[0].size(); ++p)
        ASSERT_EQ(out[0][p], static_cast<double>(static_cast<float>(
                                 cv::standin::PositionCodedSource::code(static_cast<std::int64_t>(p), 0))))
            << p;
    // The unedited document is rendered at the engine rate instead, round(9600 x 48 / 44.1) frames long.
    f.host->setInput(nullptr);
    f.settleRender();
    const std::vector<double> played = f.play(0, 24);
    EXPECT_NEAR(played[5000], 1.0, 1e-3);
    EXPECT_EQ(played[10449 + 10], 0.0);
}

} // namespace
