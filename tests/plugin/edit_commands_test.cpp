#include "tests/plugin/flow_fixture.h"

namespace {

TEST(EditMacros, UnisonSnapsTheMedianInTheSessionTuningAndQuantizeUsesTheTempoGrid) {
    const np::KeyScale cMajor{0, 1};
    struct Case {
        std::vector<double> pitches;
        np::KeyScale keyScale;
        double a4Hz;
        double expected;
    };
    const double shift432 = 12.0 * std::log2(432.0 / 440.0); // about -0.318
    for (const Case& c : {Case{{60.2, 61.9, 64.4}, cMajor, 440.0, 62.0},
                          Case{{60.2, 61.9, 64.4}, cMajor, 432.0, shift432 + 62.0},
                          Case{{64.0, 60.0, 63.0, 61.0}, cMajor, 440.0, 64.0}, // upper median 63: D and E tie
                          Case{{61.6}, np::KeyScale{0, 7}, 440.0, 62.0}}) {    // no degree: rounded
        SCOPED_TRACE(c.pitches.front());
        const std::optional<double> target = cv::unisonTargetMidi(c.pitches, c.keyScale, c.a4Hz);
        ASSERT_TRUE(target.has_value());
        EXPECT_NEAR(*target, c.expected, 1e-12);
    }
    EXPECT_EQ(cv::unisonTargetMidi({}, cMajor, 440.0), std::nullopt);
    EXPECT_EQ(cv::quantizeGridSamples(120.0, 2, 48000.0), 6000);
    EXPECT_EQ(cv::quantizeGridSamples(120.0, 9, 48000.0), 6000);
    EXPECT_EQ(cv::quantizeGridSamples(120.0, -1, 48000.0), 24000);
}

struct CommandsFixture : FlowFixture {
    CommandsFixture() {
        configure(48000.0, 512, 1);
        captureAndAnalyse(0, 48000); // notes 1..4 at 0, 9600, 19200, 28800, 7200 frames each
    }
    const np::Note& note(std::uint32_t id) { return *plugin->Session().document().findNote(id); }
};

TEST(EditCommands, EachCommandTellsTheHostOnlyWhenItChangedSomething) {
    CommandsFixture f;
    f.host->setParameter(cv::kParamTempo, 120.0);
    f.plugin->Macros().quantizeGridIndex = 2;
    struct Case {
        const char* name;
        std::function<void(Corvalinth&)> command;
        bool changes;
    };
    const std::vector<Case> cases{
        {"undo with an empty history", [](Corvalinth& p) { p.Undo(); }, false},
        {"correcting notes already on their semitones", [](Corvalinth& p) { p.ApplyPitchMacro(); }, false},
        {"split at the playhead, which stays at 0", [](Corvalinth& p) { p.SplitAtPlayhead(); }, false},
        {"quantize onto the 6000-sample grid", [](Corvalinth& p) { p.ApplyTimeMacro(); }, true},
        {"quantize again", [](Corvalinth& p) { p.ApplyTimeMacro(); }, false},
        {"undo", [](Corvalinth& p) { p.Undo(); }, true},
        {"redo", [](Corvalinth& p) { p.Redo(); }, true},
        {"redo with nothing left", [](Corvalinth& p) { p.Redo(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int changes = f.host->stateChangeCount();
        const std::uint64_t edits = f.plugin->Session().editCount();
        c.command(*f.plugin);
        EXPECT_EQ(f.host->stateChangeCount(), changes + (c.changes ? 1 : 0));
        EXPECT_EQ(f.plugin->Session().editCount(), edits + (c.changes ? 1 : 0));
    }
    EXPECT_EQ(f.note(2).start, 12000); // 9600 lies nearer 12000 than 6000
    EXPECT_TRUE(f.texts().empty());
}

TEST(EditCommands, MacrosActOnTheSelectionOrEveryNote) {
    CommandsFixture f;
    f.plugin->controls.selection = {3, 1, 2};
    f.plugin->ApplyUnisonMacro(); // 60, 62, 64: the median 62 is in key (chromatic)
    for (std::uint32_t id = 1; id <= 3; ++id)
        EXPECT_EQ(f.note(id).pitch + f.note(id).pitchOffset, 62.0) << id;
    EXPECT_EQ(f.note(4).pitchOffset, 0.0);
    f.plugin->controls.selection.clear();
    EXPECT_EQ(f.plugin->MacroTargets(), (std::vector<std::uint32_t>{1, 2, 3, 4}));
}

// The median is of the pitches the notes sound at: a note already transposed counts at its new pitch.
TEST(EditCommands, UnisonTakesTheMedianOfThePitchedNotesOnlyAsTheySound) {
    const struct {
        const char* name;
        double firstNoteOffset;
        double target; // the median of 60, 62 and 64, then of 67, 62 and 64
    } rows[] = {{"as analysed", 0.0, 62.0}, {"the first note already a fifth up", 7.0, 64.0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FlowFixture f([](Corvalinth::Services& services) {
            services.analysisJob = [](const np::AnalysisWorker::Request& request,
                                      const std::function<bool(float)>&) {
                np::AnalysisResult result = evenNotes(request, 0.0f);
                result.notes.back().pitched = false; // a consonant, tracked far above the voice
                result.notes.back().pitch = 90.0;
                return result;
            };
        });
        f.configure(48000.0, 512, 1);
        f.captureAndAnalyse(0, 48000);
        const std::uint32_t first = 1;
        f.plugin->Session().addPitchOffset({&first, 1}, row.firstNoteOffset);
        f.plugin->ApplyUnisonMacro(); // every note
        const np::Document& doc = f.plugin->Session().document();
        for (std::uint32_t id = 1; id <= 3; ++id)
            EXPECT_EQ(doc.findNote(id)->pitch + doc.findNote(id)->pitchOffset, row.target) << id;
        EXPECT_EQ(doc.findNote(4)->pitchOffset, 0.0);
    }
}

TEST(EditCommands, MergeKeepsTheEarliestNoteSelected) {
    CommandsFixture f;
    f.plugin->controls.selection = {3};
    f.plugin->MergeSelection(); // one note: nothing
    EXPECT_EQ(f.plugin->Session().document().notes.size(), 4u);
    f.plugin->controls.selection = {3, 2};
    f.plugin->MergeSelection();
    EXPECT_EQ(f.plugin->Session().document().notes.size(), 3u);
    EXPECT_EQ(f.plugin->controls.selection, std::vector<std::uint32_t>{2});
    EXPECT_EQ(f.note(2).sourceEnd, 19200 + 7200);
}

TEST(EditCommands, AFailureInsideACommandIsReportedOnceAndLeavesTheEditPublished) {
    CommandsFixture f;
    f.plugin->controls.throwOnRedraw = true;
    f.plugin->ApplyUnisonMacro();
    f.plugin->controls.throwOnRedraw = false;
    EXPECT_EQ(f.texts(),
              std::vector<std::string>{"Couldn't complete the edit. Save the project and try again."});
    EXPECT_EQ(f.note(1).pitch + f.note(1).pitchOffset, 64.0); // the median of 60, 62, 64, 65
    EXPECT_TRUE(f.host->escapedExceptions().empty());
}

} // namespace
