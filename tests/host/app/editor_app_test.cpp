// The editor's front end: its command line, the ring and transport between the host's audio thread and the
// device, and the capture of a track and the screenshot of the editor over it.

#include "framework/graphics/basic_controls.h"
#include "framework/graphics/offscreen.h"
#include "host/app/editor_app.h"
#include "host/app/sample_ring.h"
#include "host/app/track_transport.h"
#include "host/cli_editor_args.h"
#include "plugin/Corvalinth.h"
#include "tests/io/storage_test_folder.h"
#include "tests/support/signals.h"
#include "ui/editor_tags.h"

#include <gtest/gtest.h>

namespace cv::app {
namespace {

TEST(EditorCommands, ParseOpenAndScreenshotWithClearRefusals) {
    using cv::cli::EditorCommand;
    const struct {
        std::vector<std::string> args;
        const char* error; // empty: accepted
        EditorCommand::Kind kind;
        double scale;
    } table[] = {
        {{"open", "take.wav"}, "", EditorCommand::Kind::Open, 1.0},
        {{"screenshot", "take.wav", "out.png", "--scale", "1.5"}, "", EditorCommand::Kind::Screenshot, 1.5},
        {{"screenshot", "take.wav", "out.png", "--scale", "0.69"},
         "--scale takes a number from 0.7 to 1.5, not \"0.69\""},
        {{"screenshot", "take.wav", "out.png", "--scale", "1x"},
         "--scale takes a number from 0.7 to 1.5, not \"1x\""},
        {{"screenshot", "take.wav", "out.png", "--scale"}, "--scale needs a value from 0.7 to 1.5"},
        {{"screenshot", "take.wav"}, "give an audio file and the PNG file to write"},
        {{"open"}, "no audio file given"},
        {{"open", "a.wav", "b.wav"}, "too many files: \"b.wav\""},
        {{"open", "a.wav", "--scale", "1"}, "unknown option \"--scale\""},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.args.back());
        ASSERT_TRUE(cv::cli::isEditorCommand(row.args));
        const cv::cli::ParsedEditorArgs parsed = cv::cli::parseEditorArgs(row.args);
        EXPECT_EQ(parsed.error, row.error);
        if (!parsed.command)
            continue;
        EXPECT_EQ(parsed.command->kind, row.kind);
        EXPECT_EQ(parsed.command->scale, row.scale);
        EXPECT_EQ(parsed.command->file, row.args[1]);
    }
    EXPECT_FALSE(cv::cli::isEditorCommand({"analyse", "take.wav"}));
}

TEST(SampleRing, CarriesFramesAcrossItsEndAndPadsWithSilence) {
    SampleRing ring(4, 2);
    EXPECT_EQ(ring.Space(), 4u);
    const float in[] = {1, -1, 2, -2, 3, -3};
    float out[8] = {};
    for (int round = 0; round < 3; ++round) { // the third round wraps around the end
        SCOPED_TRACE(round);
        EXPECT_EQ(ring.Push(in, 3), 3u);
        EXPECT_EQ(ring.Push(in, 3), 1u); // only one more fits
        EXPECT_EQ(ring.Space(), 0u);
        EXPECT_EQ(ring.Pop(out, 2), 2u);
        EXPECT_EQ(out[2], 2.f);
        EXPECT_EQ(ring.Pop(out, 4), 2u); // two left, then silence
        EXPECT_EQ(out[0], 3.f);
        EXPECT_EQ(out[3], -1.f);
        EXPECT_EQ(out[4], 0.f);
        EXPECT_EQ(out[7], 0.f);
    }
}

TEST(TrackTransport, PlaysStopsAtTheEndAndRewinds) {
    TrackTransport t(1000);
    EXPECT_FALSE(t.NextBlock(512).running);
    EXPECT_EQ(t.Position(), 0); // stopped: nothing advances
    t.TogglePlay();
    EXPECT_EQ(t.NextBlock(512).samplePos, 0.0);
    const cv::standin::TransportBlock last = t.NextBlock(512);
    EXPECT_TRUE(last.running);
    EXPECT_EQ(last.samplePos, 512.0);
    EXPECT_FALSE(t.Playing()); // the track ended
    EXPECT_EQ(t.Position(), 1024);
    t.TogglePlay(); // from the end: again from the start
    EXPECT_EQ(t.NextBlock(512).samplePos, 0.0);
    t.Rewind();
    EXPECT_EQ(t.NextBlock(512).samplePos, 0.0);
}

TEST(EditorApp, CapturesATrackAndSavesAScreenshotOfTheEditorOverIt) {
    cvtest::ScratchFolder folder;
    const std::string take = (folder / "take.wav").string();
    const std::vector<float> tone = cvtest::sine(220.0, 44100.0, 22050);
    cv::standin::writeWav(take, {std::vector<double>(tone.begin(), tone.end())}, 44100.0);
    cv::Prefs prefs(folder.path());
    Corvalinth::Services services;
    services.prefs = &prefs;
    services.update = cv::UpdateFetch{};
    EditorApp app(take, services);
    EXPECT_EQ(app.SampleRate(), 44100.0);
    EXPECT_EQ(app.TrackFrames(), 22050);
    std::string error;
    ASSERT_TRUE(app.CaptureAndAnalyse(error)) << error;
    EXPECT_EQ(app.Plugin().Session().document().notes.size(), 1u);
    // The editor opened after the capture names it (the layout starts at "No file loaded").
    ASSERT_TRUE(app.Host().openEditor());
    const auto* readout = dynamic_cast<const iplug::igraphics::ITextControl*>(
        app.Plugin().GetUI()->GetControlWithTag(cv::ui::kTagFile));
    ASSERT_NE(readout, nullptr);
    EXPECT_EQ(readout->GetStr(), "Captured audio  \xE2\x80\x94  0.5 s @ 44.1 kHz");
    app.Host().closeEditor();
    const std::string shot = (folder / "shot.png").string();
    ASSERT_TRUE(app.SaveScreenshot(shot, 1.5, error)) << error;
    const iplug::igraphics::RGBAImage image = iplug::igraphics::ReadPNG(shot);
    EXPECT_EQ(image.w, 1920);
    EXPECT_EQ(image.h, 1224);
    EXPECT_FALSE(app.SaveScreenshot(shot, 1.6, error));
    EXPECT_EQ(error, "The scale must be between 0.7 and 1.5.");
    EXPECT_FALSE(app.SaveScreenshot((folder / "missing" / "shot.png").string(), 1.0, error));
    EXPECT_EQ(app.Plugin().GetUI(), nullptr); // closed again either way
    try {
        EditorApp missing((folder / "none.wav").string());
        ADD_FAILURE() << "a missing file was read";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("none.wav"), std::string::npos) << e.what();
    }
}

} // namespace
} // namespace cv::app
