// The editor's front end: its command line, the ring and transport between the host's audio thread and the
// device, and the capture of a track and the screenshot of the editor over it.

#include "framework/graphics/basic_controls.h"
#include "framework/graphics/offscreen.h"
#include "framework/graphics/popup_menu_control.h"
#include "framework/graphics/testing/test_driver.h"
#include "framework/graphics/window/desktop_platform.h"
#include "host/app/editor_app.h"
#include "host/app/sample_ring.h"
#include "host/app/track_transport.h"
#include "host/cli_audio_file.h"
#include "host/cli_editor_args.h"
#include "plugin/Corvalinth.h"
#include "tests/host/audio_files.h"
#include "tests/io/storage_test_folder.h"
#include "tests/support/signals.h"
#include "ui/editor_tags.h"
#include "ui/notice_control.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace cv::app {
namespace {

TEST(EditorCommands, ParseOpenAndScreenshotWithClearRefusals) {
    using cv::cli::EditorCommand;
    const struct {
        std::vector<std::string> args;
        const char* error; // empty: accepted
        EditorCommand::Kind kind = EditorCommand::Kind::Open;
        double scale = 1.0;
    } table[] = {
        {{"open", "take.wav"}, "", EditorCommand::Kind::Open, 1.0},
        {{"screenshot", "take.wav", "out.png", "--scale", "1.5"}, "", EditorCommand::Kind::Screenshot, 1.5},
        {{"screenshot", "take.wav", "out.png", "--scale", "0.69"},
         "--scale needs a number from 0.7 to 1.5, not \"0.69\""},
        {{"screenshot", "take.wav", "out.png", "--scale", "1x"},
         "--scale needs a number from 0.7 to 1.5, not \"1x\""},
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
    // A track of whole blocks stops with its last block.
    TrackTransport whole(1024);
    whole.TogglePlay();
    whole.NextBlock(512);
    EXPECT_TRUE(whole.NextBlock(512).running);
    EXPECT_FALSE(whole.Playing());
}

// A 220 Hz tone at 44.1 kHz (half a second unless told) as the track, in a scratch folder that also holds
// the preferences; the app over it runs no update check.
struct ToneTake {
    cvtest::ScratchFolder folder;
    cv::Prefs prefs{folder.path()};
    std::string path = (folder / "take.wav").string();
    explicit ToneTake(std::int64_t frames = 22050) {
        const std::vector<float> tone = cvtest::sine(220.0, 44100.0, frames);
        cv::standin::writeWav(path, {std::vector<double>(tone.begin(), tone.end())}, 44100.0);
    }
    Corvalinth::Services services() {
        Corvalinth::Services s;
        s.prefs = &prefs;
        s.update = cv::UpdateFetch{};
        return s;
    }
};

TEST(EditorApp, CapturesATrackAndSavesAScreenshotOfTheEditorOverIt) {
    ToneTake take;
    const cvtest::ScratchFolder& folder = take.folder;
    EditorApp app(take.path, take.services());
    EXPECT_EQ(app.SampleRate(), 44100.0);
    EXPECT_EQ(app.TrackFrames(), 22050);
    std::string error;
    ASSERT_TRUE(app.CaptureAndAnalyse(error)) << error;
    EXPECT_GE(app.CapturedFrames(), app.TrackFrames()) << "the track's last part block was not captured";
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
    EXPECT_FALSE(app.SaveScreenshot(folder.path().string(), 1.0, error)); // a folder
    EXPECT_EQ(app.Plugin().GetUI(), nullptr);                             // closed again either way
    try {
        EditorApp missing((folder / "none.wav").string());
        ADD_FAILURE() << "a missing file was read";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("none.wav"), std::string::npos) << e.what();
    }
}

// The editor's commands read the take through the command line's one audio reader: whatever it refuses
// is refused here with the same sentence, before memory is taken for what a header claims.
TEST(EditorApp, RefusesATakeWithTheAudioReadersOwnSentence) {
    cvtest::ScratchFolder folder;
    cvtest::flacClaiming(folder, "claims-beyond-the-analysis.flac", 96000, 115000000);
    cvtest::flacClaiming(folder, "claims-2^30-frames.flac", 48000, 1u << 30);
    cvtest::writeAudio(folder / "eight.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8, 48000,
                       std::vector<float>(800));
    cvtest::writeAudio(folder / "rate0.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000,
                       std::vector<float>(100));
    auto rate0 = cvtest::contentsOf(folder / "rate0.wav");
    std::fill_n(rate0.begin() + 24, 4, 0); // the rate field of the canonical header
    cvtest::writeBytes(folder / "rate0.wav", rate0);
    ASSERT_EQ(::mkfifo((folder / "pipe.wav").c_str(), 0600), 0); // refused at once, not waited on
    for (const char* name : {"claims-beyond-the-analysis.flac", "claims-2^30-frames.flac", "eight.wav",
                             "rate0.wav", "pipe.wav"}) {
        SCOPED_TRACE(name);
        const std::string path = folder / name;
        cv::cli::LoadedAudio loaded;
        std::string expected;
        ASSERT_FALSE(cv::cli::readAudioFile(path, cv::cli::Algorithm::Melodic, loaded, expected));
        try {
            EditorApp app(path);
            ADD_FAILURE() << "the take was accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), expected);
        }
    }
}

// A take too short to capture, or one whose analysis fails, is refused with a sentence that names the
// whole path (the screenshot then ends there). The window still opens over it, and its notice line says
// why.
TEST(EditorApp, SaysWhenATakeCannotBeCapturedOrAnalysed) {
    const struct {
        const char* name;
        std::int64_t frames;
        bool analysisFails;
        std::string error; // after the take's path
        std::string notice;
        std::string readout;
    } rows[] = {
        {"too short to capture", 2205, false, " lasts 0.050 s; the plug-in captures at least 0.1 s.",
         "take.wav lasts 0.050 s; the plug-in captures at least 0.1 s.", "No file loaded"},
        {"its analysis fails", 22050, true, " could not be analysed.", "Couldn't analyze this audio.",
         "Captured audio  \xE2\x80\x94  0.5 s @ 44.1 kHz"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ToneTake take(row.frames);
        Corvalinth::Services services = take.services();
        if (row.analysisFails)
            services.analysisJob = [](const np::AnalysisWorker::Request&,
                                      const std::function<bool(float)>&) -> np::AnalysisResult {
                throw std::runtime_error("the analysis failed");
            };
        EditorApp app(take.path, std::move(services));
        std::string error;
        EXPECT_FALSE(app.CaptureAndAnalyse(error));
        EXPECT_EQ(error, take.path + row.error);
        ASSERT_TRUE(app.OpenEditor());
        app.Host().idle(1);
        const iplug::igraphics::IGraphics& g = *app.Plugin().GetUI();
        const auto* notice =
            dynamic_cast<const cv::ui::NoticeControl*>(g.GetControlWithTag(cv::ui::kTagNotice));
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(notice->Line().Current().text, row.notice);
        const auto* readout =
            dynamic_cast<const iplug::igraphics::ITextControl*>(g.GetControlWithTag(cv::ui::kTagFile));
        ASSERT_NE(readout, nullptr);
        EXPECT_EQ(readout->GetStr(), row.readout);
        app.Host().closeEditor();
    }
}

// `corvalinth screenshot` itself, the program run with its preferences in the scratch folder: a take it
// cannot read, capture or analyse writes no picture and ends with 1, its last line saying why, and an
// OUT.png already there stays as it was. A silent take is captured and analysed (it has no notes): its
// picture is written.
TEST(ScreenshotCommand, WritesAPictureOnlyOfATakeItCapturedAndAnalysed) {
    ToneTake take(2205); // too short to capture
    const cvtest::ScratchFolder& folder = take.folder;
    const std::string silent = (folder / "silent.wav").string(), text = (folder / "text.wav").string();
    cv::standin::writeWav(silent, {std::vector<double>(44100)}, 44100.0);
    cvtest::writeBytes(text, {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'});
    const std::string out = (folder / "out.png").string();
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};
    const struct {
        std::string take;
        int code;
        std::string lastLine; // of what standard error holds
    } rows[] = {
        {take.path, 1, "corvalinth: " + take.path + " lasts 0.050 s; the plug-in captures at least 0.1 s."},
        {text, 1, "corvalinth: Could not read " + text + ": Format not recognised."},
        {silent, 0, "Capturing and analysing " + silent},
        // The short take on standard input, named so in the status line as in the refusal.
        {"-", 1,
         "Capturing and analysing standard input\ncorvalinth: standard input lasts 0.050 s; the plug-in "
         "captures at least 0.1 s."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.take);
        cvtest::writeBytes(out, old);
        const std::string line = "XDG_DATA_HOME='" + folder.path().string() +
                                 "' " CV_CLI_PROGRAM " screenshot '" + row.take + "' '" + out +
                                 "' --scale 0.7 2>&1 >/dev/null <'" + take.path + "'";
        std::FILE* pipe = ::popen(line.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string err;
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            err.push_back(static_cast<char>(c));
        const int status = ::pclose(pipe);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.code) << err;
        EXPECT_TRUE(err.ends_with(row.lastLine + "\n")) << err;
        if (row.code == 0) {
            const iplug::igraphics::RGBAImage image = iplug::igraphics::ReadPNG(out);
            EXPECT_EQ(image.w, 896);
            EXPECT_EQ(image.h, 571);
        } else {
            EXPECT_EQ(cvtest::contentsOf(out), old);
        }
    }
}

// A screenshot is coded in memory and saved through the atomic replacement: a file is replaced whole
// or kept as it was, with the storage layer's sentence after the path.
TEST(EditorApp, SavesTheScreenshotWholeOrKeepsTheFileAsItWas) {
    ToneTake take(2205);
    const cvtest::ScratchFolder& folder = take.folder;
    EditorApp app(take.path, take.services());
    std::string error;
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};
    const auto path = [&](const char* name) { return (folder / name).string(); };
    cvtest::writeBytes(folder / "locked.png", old);
    std::filesystem::permissions(folder / "locked.png", std::filesystem::perms(0444));
    cvtest::writeBytes(folder / "full.png", old);
    ASSERT_EQ(::mkfifo(path("pipe.png").c_str(), 0600), 0);
    std::filesystem::create_directory(folder / "dir.png");
    // A file-size limit stands in for a full disk: the write fails part way.
    const auto underSizeLimit = [](const auto& save) {
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = previous;
        limited.rlim_cur = 4096;
        ::setrlimit(RLIMIT_FSIZE, &limited);
        const bool saved = save();
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, handler);
        return saved;
    };
    const struct {
        const char* name;
        bool fullDisk;
        std::string sentence; // after "Could not write PATH: "; empty: saved
    } cases[] = {
        {"new/shot.png", false, ""},
        {"locked.png", false, "The destination file is read-only"},
        {"pipe.png", false, "The destination exists but is not a regular file"},
        {"dir.png", false, "The destination exists but is not a regular file"},
        {"full.png", true, "Could not finish writing the file: File too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto save = [&] { return app.SaveScreenshot(path(c.name), 0.7, error); };
        const bool saved = c.fullDisk ? underSizeLimit(save) : save();
        EXPECT_EQ(saved, c.sentence.empty());
        if (saved) {
            const iplug::igraphics::RGBAImage image = iplug::igraphics::ReadPNG(path(c.name));
            EXPECT_EQ(image.w, 896);
            EXPECT_EQ(image.h, 571);
        } else {
            EXPECT_EQ(error, "Could not write " + path(c.name) + ": " + c.sentence);
        }
    }
    EXPECT_EQ(cvtest::contentsOf(folder / "locked.png"), old);
    EXPECT_EQ(cvtest::contentsOf(folder / "full.png"), old);
    EXPECT_EQ(folder.names(),
              (std::set<std::string>{"dir.png", "full.png", "locked.png", "new", "pipe.png", "take.wav"}));
}

// corvalinth open without zenity: Export's save prompt is the drawn path field, driven by the pointer and
// keys as a user would, and the path typed there is where the WAV lands.
TEST(EditorApp, ExportsThroughTheDrawnSaveFieldAfterThePointerMovesAway) {
    using namespace iplug;
    using namespace iplug::igraphics;
    ToneTake take;
    const cvtest::ScratchFolder& folder = take.folder;
    EditorApp app(take.path, take.services());
    std::string error;
    ASSERT_TRUE(app.CaptureAndAnalyse(error)) << error;
    ASSERT_TRUE(app.Host().openEditor());
    app.Host().idle(1);
    IGraphics& g = *app.Plugin().GetUI();
    TestDriver driver(g);
    DesktopPlatform desktop([](const std::string&) { return true; }, [](std::string&) { return true; },
                            [](ECursor) {});
    desktop.SetGraphics(&g);
    desktop.SetUseZenity(false);
    g.SetPlatform(&desktop);

    const IRECT button = g.GetControlWithTag(cv::ui::kTagExport)->GetRECT();
    driver.Click(button.MW(), button.MH());
    ASSERT_TRUE(g.IsPopupMenuOpen());
    const IRECT item = g.GetPopupMenuControl()->GetItemRECT(0); // "16-bit WAV"
    driver.Click(item.MW(), item.MH());
    ASSERT_NE(g.GetModalControl(), nullptr);
    driver.MouseMove(20.f, 780.f); // away from the field's box
    driver.Tick();
    auto* field = dynamic_cast<PathPromptControl*>(g.GetModalControl());
    ASSERT_NE(field, nullptr) << "the move closed the field";
    while (!field->Path().empty())
        driver.KeyDown(IKeyPress("", kVK_BACK));
    const std::string chosen = (folder / "mine").string(); // the extension is added
    for (char c : chosen)
        driver.KeyDown(IKeyPress(std::string(1, c).c_str(), 0));
    driver.KeyDown(IKeyPress("", kVK_RETURN));
    EXPECT_EQ(g.GetModalControl(), nullptr);
    while (app.Plugin().FileJobRunning())
        app.Host().idle(1);
    EXPECT_GT(std::filesystem::file_size(folder / "mine.wav"), 44u);
    const auto* notice = dynamic_cast<const cv::ui::NoticeControl*>(g.GetControlWithTag(cv::ui::kTagNotice));
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->Line().Current().text, "Exported WAV: mine.wav");
    g.SetPlatform(nullptr);
}

// corvalinth open never replaces the take it shows: an export onto it, by its own path, without the
// extension, through a link or a hard link, is refused in the field, and the take keeps its bytes.
TEST(EditorApp, RefusesAnExportOntoTheOpenTake) {
    using namespace iplug;
    using namespace iplug::igraphics;
    ToneTake take;
    const cvtest::ScratchFolder& folder = take.folder;
    std::filesystem::create_symlink(take.path, folder / "link.wav");
    std::filesystem::create_hard_link(take.path, folder / "hard.WAV");
    const std::vector<std::uint8_t> original = cvtest::contentsOf(take.path);
    EditorApp app(take.path, take.services());
    std::string error;
    ASSERT_TRUE(app.CaptureAndAnalyse(error)) << error;
    DesktopPlatform desktop([](const std::string&) { return true; }, [](std::string&) { return true; },
                            [](ECursor) {});
    desktop.SetUseZenity(false);
    ASSERT_TRUE(app.OpenEditor(&desktop));
    app.Host().idle(1);
    IGraphics& g = *app.Plugin().GetUI();
    TestDriver driver(g);
    g.SetPlatform(&desktop); // the driver made itself the platform; the prompt under test is the desktop's

    const IRECT button = g.GetControlWithTag(cv::ui::kTagExport)->GetRECT();
    driver.Click(button.MW(), button.MH());
    ASSERT_TRUE(g.IsPopupMenuOpen());
    const IRECT item = g.GetPopupMenuControl()->GetItemRECT(0); // "16-bit WAV"
    driver.Click(item.MW(), item.MH());
    auto* field = dynamic_cast<PathPromptControl*>(g.GetModalControl());
    ASSERT_NE(field, nullptr);
    const struct {
        std::string typed;
        const char* name; // the file the refusal names
    } rows[] = {
        {take.path, "take.wav"},
        {(folder / "take").string(), "take.wav"}, // the export adds the extension
        {(folder / "link.wav").string(), "link.wav"},
        {(folder / "hard.WAV").string(), "hard.WAV"},
    };
    for (const auto& [typed, name] : rows) {
        SCOPED_TRACE(typed);
        while (!field->Path().empty())
            driver.KeyDown(IKeyPress("", kVK_BACK));
        for (char c : typed)
            driver.KeyDown(IKeyPress(std::string(1, c).c_str(), 0));
        driver.KeyDown(IKeyPress("", kVK_RETURN));
        driver.KeyDown(IKeyPress("", kVK_RETURN)); // not even after a second Enter
        ASSERT_EQ(g.GetModalControl(), field) << "the field let the take go";
        EXPECT_EQ(field->Notice(),
                  std::string(name) + " is the take open in this window; choose another file.");
        driver.KeyDown(IKeyPress("", kVK_ESCAPE)); // back to the field
        ASSERT_EQ(g.GetModalControl(), field);
    }
    driver.KeyDown(IKeyPress("", kVK_ESCAPE));
    EXPECT_EQ(g.GetModalControl(), nullptr);
    EXPECT_FALSE(app.Plugin().FileJobRunning());
    EXPECT_EQ(cvtest::contentsOf(take.path), original);
    g.SetPlatform(nullptr);
}

// Export's drawn field names only files: a blank name, a path ending in a separator and an existing
// folder's path are refused in the field with a sentence, for either export, and nothing is written; a
// plain name typed over the refused one saves.
TEST(EditorApp, TheDrawnSaveFieldOfExportNamesOnlyFiles) {
    using namespace iplug;
    using namespace iplug::igraphics;
    ToneTake take;
    const cvtest::ScratchFolder& folder = take.folder;
    std::filesystem::create_directory(folder / "adir");
    EditorApp app(take.path, take.services());
    std::string error;
    ASSERT_TRUE(app.CaptureAndAnalyse(error)) << error;
    DesktopPlatform desktop([](const std::string&) { return true; }, [](std::string&) { return true; },
                            [](ECursor) {});
    desktop.SetUseZenity(false);
    ASSERT_TRUE(app.OpenEditor(&desktop));
    app.Host().idle(1);
    IGraphics& g = *app.Plugin().GetUI();
    TestDriver driver(g);
    g.SetPlatform(&desktop);
    const auto type = [&](const std::string& text) {
        auto* field = dynamic_cast<PathPromptControl*>(g.GetModalControl());
        while (field != nullptr && !field->Path().empty())
            driver.KeyDown(IKeyPress("", kVK_BACK));
        for (char c : text)
            driver.KeyDown(IKeyPress(std::string(1, c).c_str(), 0));
        driver.KeyDown(IKeyPress("", kVK_RETURN));
    };
    const std::string adir = (folder / "adir").string();
    const struct {
        std::string typed;
        std::string sentence;
    } rows[] = {
        {"   ", "Name a file to save."},
        {(folder / "   ").string(), "Name a file to save."},
        {adir + "/", "adir is a folder; name a file inside it."},
        {adir, "adir is a folder; name a file inside it."},
        {(folder / "nodir/").string(), "nodir/ names a folder, not a file; add a file name after it."},
    };
    for (const int item : {1, 4}) { // "24-bit WAV", "MIDI notes (.mid)"
        SCOPED_TRACE(item);
        const IRECT button = g.GetControlWithTag(cv::ui::kTagExport)->GetRECT();
        driver.Click(button.MW(), button.MH());
        ASSERT_TRUE(g.IsPopupMenuOpen());
        const IRECT chosen = g.GetPopupMenuControl()->GetItemRECT(item);
        driver.Click(chosen.MW(), chosen.MH());
        auto* field = dynamic_cast<PathPromptControl*>(g.GetModalControl());
        ASSERT_NE(field, nullptr);
        const std::set<std::string> before = folder.names(); // the menu's choice saved the preferences
        for (const auto& [typed, sentence] : rows) {
            SCOPED_TRACE(typed);
            type(typed);
            ASSERT_EQ(g.GetModalControl(), field) << "the field let the name go";
            EXPECT_EQ(field->Path(), typed);
            EXPECT_EQ(field->Notice(), sentence);
        }
        EXPECT_FALSE(app.Plugin().FileJobRunning());
        EXPECT_EQ(folder.names(), before);
        type((folder / "plain").string());
        EXPECT_EQ(g.GetModalControl(), nullptr);
        while (app.Plugin().FileJobRunning())
            app.Host().idle(1);
        const std::string written = item == 1 ? "plain.wav" : "plain.mid";
        EXPECT_GT(std::filesystem::file_size(folder / written), 20u);
        std::filesystem::remove(folder / written);
        driver.Tick();
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder / "adir"));
    g.SetPlatform(nullptr);
}

} // namespace
} // namespace cv::app
