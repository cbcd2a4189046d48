// What a change of Key, Scale, A4, Tempo, Algorithm or Volume does for the user: the file readout's
// "Unsaved" mark, the notes the macros make, and what is heard.

#include "tests/plugin/flow_fixture.h"

#include <cmath>

namespace {

// A one-second take at 48 kHz: notes 1..4 at 0, 9600, 19200 and 28800, at MIDI 60, 62, 64 and 65.
struct ParamsFixture : FlowFixture {
    ParamsFixture() {
        configure(48000.0, 512, 1);
        captureAndAnalyse(0, 48000);
        host->setInput(nullptr);
    }
    bool unsavedShown() {
        host->idle();
        return plugin->controls.readouts.unsavedMark;
    }
    std::vector<double> soundingPitches() const {
        std::vector<double> pitches;
        for (const np::Note& note : plugin->Session().document().notes)
            pitches.push_back(note.pitch + note.pitchOffset);
        return pitches;
    }
};

TEST(EditingParams, EachSessionSettingShowsUnsavedUntilItIsBackAndVolumeNever) {
    ParamsFixture f;
    ASSERT_FALSE(f.unsavedShown());
    const struct {
        const char* name;
        int param;
        double changed;
        double original;
        bool unsaved;
    } rows[] = {
        {"Key", cv::kParamKey, 2.0, 0.0, true},
        {"Scale", cv::kParamScale, 1.0, 0.0, true},
        {"A4", cv::kParamA4, 1.0, 3.0, true},
        {"Tempo", cv::kParamTempo, 90.0, 120.0, true},
        {"Volume", cv::kParamVolume, 50.0, 100.0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        f.host->setParameter(row.param, row.changed);
        EXPECT_EQ(f.unsavedShown(), row.unsaved);
        f.host->setParameter(row.param, row.original);
        EXPECT_FALSE(f.unsavedShown());
    }

    // Algorithm analyses the unedited take again: "Unsaved" while that runs, and not once it is in.
    f.analysisGate->close();
    f.host->setParameter(cv::kParamAlgorithm, 1.0);
    EXPECT_TRUE(f.unsavedShown());
    f.analysisGate->release();
    f.settleAnalysis();
    EXPECT_TRUE(f.percussive->load());
    EXPECT_FALSE(f.unsavedShown());
    EXPECT_TRUE(f.texts().empty());
}

TEST(EditingParams, KeyScaleA4AndTempoDecideWhereCorrectionAndQuantizeTakeTheNotes) {
    const double at432 = 12.0 * std::log2(432.0 / 440.0); // about -0.318 semitones
    const struct {
        const char* name;
        std::vector<std::pair<int, double>> changes;
        std::vector<double> corrected; // notes sung 0.3 semitones sharp, corrected
        std::int64_t quantized;        // the start of note 2 (at 9600) quantized on the half-beat grid
    } rows[] = {
        {"defaults: C chromatic, A4 440, 120 bpm", {}, {60, 62, 64, 65}, 12000},
        {"D major", {{cv::kParamKey, 2.0}, {cv::kParamScale, 1.0}}, {61, 62, 64, 66}, 12000},
        {"C minor", {{cv::kParamScale, 2.0}}, {60, 62, 65, 65}, 12000},
        {"A4 432 Hz", {{cv::kParamA4, 1.0}}, {61 + at432, 63 + at432, 65 + at432, 66 + at432}, 12000},
        {"90 bpm", {{cv::kParamTempo, 90.0}}, {60, 62, 64, 65}, 16000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ParamsFixture f;
        for (const auto& [param, value] : row.changes)
            f.host->setParameter(param, value);
        f.host->idle();
        const std::uint32_t all[] = {1, 2, 3, 4};
        ASSERT_TRUE(f.plugin->Session().addPitchOffset(all, 0.3));
        f.plugin->ApplyPitchMacro();
        const std::vector<double> pitches = f.soundingPitches();
        ASSERT_EQ(pitches.size(), row.corrected.size());
        for (std::size_t i = 0; i < pitches.size(); ++i)
            EXPECT_NEAR(pitches[i], row.corrected[i], 1e-9) << "note " << i + 1;
        // Heard: the render stand-in's level is 1 + the sum of the pitch offsets.
        f.settleRender();
        double offsets = 0.0;
        for (const np::Note& note : f.plugin->Session().document().notes)
            offsets += note.pitchOffset;
        EXPECT_NEAR(f.play(0, 8)[2400], 1.0 + offsets, 1e-5);

        f.plugin->controls.selection = {2};
        f.plugin->ApplyTimeMacro();
        EXPECT_EQ(f.plugin->Session().document().findNote(2)->start, row.quantized);
        EXPECT_TRUE(f.texts().empty());
    }
}

TEST(EditingParams, VolumeScalesWhatIsHeardAndTheUnisonFollowsKeyScaleAndA4) {
    ParamsFixture f; // the captured audio plays in place
    const double full = f.play(0, 8)[2400];
    ASSERT_NE(full, 0.0);
    f.host->setParameter(cv::kParamVolume, 50.0);
    EXPECT_NEAR(f.play(0, 8)[2400], 0.5 * full, 1e-6);

    // Unison of 60, 62 and 64 in E major at A4 = 432: the median 62 is 62.32 in that tuning, nearest
    // to D#, which the notes sound in the 432 tuning.
    f.host->setParameter(cv::kParamKey, 4.0);
    f.host->setParameter(cv::kParamScale, 1.0);
    f.host->setParameter(cv::kParamA4, 1.0);
    f.host->idle();
    f.plugin->controls.selection = {1, 2, 3};
    f.plugin->ApplyUnisonMacro();
    const double at432 = 12.0 * std::log2(432.0 / 440.0);
    for (const double pitch : {f.soundingPitches()[0], f.soundingPitches()[2]})
        EXPECT_NEAR(pitch, 63.0 + at432, 1e-9);
}

} // namespace
