// The host command on the short take: each edit-script verb checked on the bounce the user gets and on
// the notes the command lists, the bounce's length when a note ends past the track, and the bounce of
// each input coding without a script.

#include "tests/host/audio_files.h"
#include "tests/host/cli_takes.h"
#include "tests/io/storage_test_folder.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace {

using namespace cvtest;

struct VerbRow {
    const char* name;
    const char* script;
    std::array<NoteOutcome, 2> outcomes;
    const char* listed; // in the notes listed after the script
};

void PrintTo(const VerbRow& row, std::ostream* out) {
    *out << row.script;
}

class CliHostVerb : public testing::TestWithParam<VerbRow> {};

// The script's edits reach the bounce through the plug-in: each verb changes the notes it names as it
// says (ids as they are when the line runs), and the listing after the script shows the edit.
TEST_P(CliHostVerb, ShowsInTheBounceAndTheListing) {
    const VerbRow& row = GetParam();
    ScratchFolder folder;
    const std::string in = folder / "in.wav", out = folder / "out.wav", script = folder / "edit.txt";
    writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, shortTake(48000));
    std::ofstream(script) << row.script << "\n";
    const CommandRun run = runCommand({"host", in, out, "--edit", script});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err.find("changed nothing"), std::string::npos) << run.err;
    const cv::cli::LoadedAudio input = readBack(in), output = readBack(out);
    expectTake(input, output, row.outcomes);
    const std::size_t after = run.out.find("After the edit script: ");
    ASSERT_NE(after, std::string::npos) << run.out;
    EXPECT_NE(run.out.find(row.listed, after), std::string::npos) << run.out;
    char bounced[64];
    std::snprintf(bounced, sizeof bounced, "Bounced %.3f s to ",
                  static_cast<double>(output.audio.frames) / output.sampleRate);
    EXPECT_NE(run.out.find(bounced + out + "\n"), std::string::npos) << run.out;
}

// The take's notes: A3 30 cents sharp at 0.10 s and D4 30 cents flat at 0.55 s, 0.3 s each. Correct and
// unison pull toward the default Key and Scale (C, chromatic); quantize toward the default Tempo's grid
// (120 bpm, an eighth note: 0.25 s), from the analysed starts (0.091 s and 0.539 s).
const VerbRow kVerbRows[] = {
    {"transpose", "transpose 2 3", {NoteOutcome{}, {.midi = 64.7}}, "64.70  F4    pitch +3.00\n"},
    {"formant",
     "formant 1 -3",
     {NoteOutcome{.midi = 57.3, .brighter = -1}, {}},
     "57.30  A3    formant -3.00\n"},
    {"gain",
     "gain all -6",
     {NoteOutcome{.midi = 57.3, .levelDb = -6.0}, {.midi = 61.7, .levelDb = -6.0}},
     "D4    gain -6.0 dB\n"},
    {"mute", "mute 2", {NoteOutcome{}, {.silent = true}}, "D4    muted\n"},
    {"move", "move 2 0.05", {NoteOutcome{}, {.midi = 61.7, .start = 0.60}}, "D4    moved from 0.539 s\n"},
    {"stretch", "stretch 2 1.5", {NoteOutcome{}, {.midi = 61.7, .seconds = 0.45}}, "D4    stretched x1.50\n"},
    {"correct",
     "correct all 0.5",
     {NoteOutcome{.midi = 57.15}, {.midi = 61.85}},
     "61.85  D4    pitch +0.15\n"},
    {"quantize",
     "quantize all 0.5",
     {NoteOutcome{.midi = 57.3, .start = 0.055}, {.midi = 61.7, .start = 0.53}},
     "A3    moved from 0.091 s\n"},
    // A macro on listed notes leaves the others; the strength left out is 1.
    {"quantizeOne",
     "quantize 1",
     {NoteOutcome{.midi = 57.3, .start = 0.009}, {}},
     "A3    moved from 0.091 s\n"},
    {"unison", "unison 1,2", {NoteOutcome{.midi = 62.0}, {.midi = 62.0}}, "62.00  D4    pitch +4.70\n"},
    {"merge",
     "merge 1,2\ntranspose 1 3",
     {NoteOutcome{.midi = 60.3}, {.midi = 64.7}},
     ": 1 notes (48000 Hz)\n"},
    {"split",
     "split 2 0.7\ntranspose 3 3",
     {NoteOutcome{}, {.midi = 61.7, .lateMidi = 64.7}},
     ": 3 notes (48000 Hz)\n"},
    {"undo", "transpose 2 3\ngain 1 -6\nundo", {NoteOutcome{}, {.midi = 64.7}}, "A3\n"},
    {"redo", "transpose 2 3\nundo\nredo", {NoteOutcome{}, {.midi = 64.7}}, "pitch +3.00\n"},
    // A note moved or stretched past the track's end is bounced whole.
    {"movePastTheEnd", "move 2 0.3", {NoteOutcome{}, {.midi = 61.7, .start = 0.85}}, "moved from 0.539 s\n"},
    {"stretchPastTheEnd",
     "stretch 2 2",
     {NoteOutcome{}, {.midi = 61.7, .seconds = 0.6}},
     "stretched x2.00\n"},
};

INSTANTIATE_TEST_SUITE_P(EachVerb, CliHostVerb, testing::ValuesIn(kVerbRows),
                         [](const testing::TestParamInfo<VerbRow>& info) {
                             return std::string(info.param.name);
                         });

// An edit the plug-in could not render (here its render refuses every document, as one past the working
// set would) ends the command with the plug-in's sentence and writes no bounce: the output it would have
// replaced stays as it was.
TEST(CliHost, AnEditThePlugInCouldNotRenderEndsTheCommandWithoutABounce) {
    ScratchFolder folder;
    const std::string in = folder / "in.wav", out = folder / "out.wav", script = folder / "edit.txt";
    writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, shortTake(48000));
    std::ofstream(script) << "transpose 2 3\n";
    writeBytes(out, {'o', 'l', 'd'});
    Corvalinth::Services services;
    services.render = [](const np::Document&, const np::RenderOptions&) -> np::AudioBuffer {
        throw std::length_error("The edit is too large to render");
    };
    const CommandRun run = runCommand({"host", in, out, "--edit", script}, std::move(services));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("corvalinth: Corvalinth couldn't render edited audio for the DAW. The edit is too "
                           "large to render.\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("Bounced"), std::string::npos) << run.out;
    EXPECT_EQ(contentsOf(out), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

// A move of several notes moves the group: at the take's start it stops with the earliest note at 0, the
// notes keep their spacing, and the line of the step says how far they moved, or why nothing moved.
TEST(CliHost, AMoveOfSeveralNotesKeepsTheirSpacingAndSaysHowFarTheyMoved) {
    ScratchFolder folder;
    const std::string in = folder / "in.wav", out = folder / "out.wav", script = folder / "edit.txt";
    writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, shortTake(48000));
    std::ofstream(script) << "move 2 -5\nundo\nmove all -5\nmove all -1\n";
    const CommandRun run = runCommand({"host", in, out, "--edit", script});
    ASSERT_EQ(run.code, 0) << run.err;
    // The start of each note in the listing that begins at from.
    const auto starts = [&run](std::size_t from) {
        std::array<double, 2> at{};
        for (std::size_t i = 0; i < 2; ++i) {
            const std::size_t row = run.out.find("\n    " + std::to_string(i + 1) + " ", from);
            EXPECT_NE(row, std::string::npos) << run.out;
            at[i] = row == std::string::npos ? 0.0 : std::stod(run.out.substr(row + 7, 10));
        }
        return at;
    };
    const std::array<double, 2> before = starts(0), after = starts(run.out.find("After the edit script"));
    EXPECT_EQ(after[0], 0.0);
    EXPECT_NEAR(after[1], before[1] - before[0], 0.0011); // each listed to the millisecond
    // How far the notes moved, read from the step's line.
    const auto moved = [&run](const std::string& head, const std::string& tail) {
        const std::size_t at = run.err.find(head);
        const std::size_t end = run.err.find(tail, at);
        EXPECT_TRUE(at != std::string::npos && end != std::string::npos) << run.err;
        return at == std::string::npos ? 0.0 : std::stod(run.err.substr(at + head.size(), end - at));
    };
    EXPECT_NEAR(moved("corvalinth: edit script line 1 (move 2 -5) moved note 2 ",
                      " s, as far as it goes: it now starts at 0 s\n"),
                -before[1], 0.0006);
    EXPECT_NEAR(moved("corvalinth: edit script line 3 (move all -5) moved the notes ",
                      " s, as far as they go: the earliest now starts at 0 s\n"),
                -before[0], 0.0006);
    EXPECT_NE(run.err.find("corvalinth: edit script line 4 (move all -1) changed nothing: the earliest note "
                           "already starts at 0 s\n"),
              std::string::npos)
        << run.err;
}

// Without a script the bounce is the input sample for sample in its own coding (16- and 24-bit PCM,
// 32-bit float), and other codings are written as render writes them: 8-bit as 16-bit with the same
// values, 32-bit PCM and 64-bit float as 24-bit; FLAC and AIFF as WAV. The listing shows the analysed
// notes at the input's rate.
TEST(CliHost, BouncesEachInputCodingUnchanged) {
    ScratchFolder folder;
    struct Row {
        int format;
        int rate;
        int channels;
        int written;
    };
    const Row rows[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 22050, 1, SF_FORMAT_PCM_16},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 11025, 1, SF_FORMAT_PCM_16},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, SF_FORMAT_PCM_16},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 24000, 1, SF_FORMAT_PCM_16},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 96000, 1, SF_FORMAT_PCM_24},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_32, 48000, 2, SF_FORMAT_PCM_24},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, SF_FORMAT_FLOAT},
        {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 1, SF_FORMAT_PCM_24},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.format) + " at " + std::to_string(row.rate) + " Hz");
        const std::string in = folder / "in", out = folder / "out.wav";
        writeAudio(in, row.format, row.channels, row.rate, shortTake(row.rate, row.channels));
        const CommandRun run = runCommand({"host", in, out});
        ASSERT_EQ(run.code, 0) << run.err;
        const cv::cli::LoadedAudio input = readBack(in), output = readBack(out);
        EXPECT_EQ(output.fileFormat, SF_FORMAT_WAV | row.written);
        expectTake(input, output, {});
        if (cv::cli::writerScale(row.format) != 1.0 || row.written == SF_FORMAT_FLOAT) {
            EXPECT_EQ(output.audio.samples, input.audio.samples); // sample for sample
        }
        // id, start and length in seconds, sounding pitch and its name.
        EXPECT_NE(run.out.find(in + ": 2 notes (" + std::to_string(row.rate) + " Hz)\n"), std::string::npos)
            << run.out;
        const char* names[] = {"A3", "D4"};
        for (int i = 0; i < 2; ++i) {
            unsigned id = 0;
            double start = 0.0, length = 0.0, pitch = 0.0;
            char name[8] = {};
            const std::size_t at = run.out.find("\n    " + std::to_string(i + 1) + " ");
            ASSERT_NE(at, std::string::npos) << run.out;
            ASSERT_EQ(
                std::sscanf(run.out.c_str() + at, "%u %lf %lf %lf %7s", &id, &start, &length, &pitch, name),
                5);
            EXPECT_EQ(id, static_cast<unsigned>(i + 1));
            EXPECT_NEAR(start, kTakeNotes[i].startSeconds, kEdgeSeconds);
            EXPECT_NEAR(length, kTakeNotes[i].seconds, kEdgeSeconds);
            EXPECT_NEAR(pitch, kTakeNotes[i].midi, 0.05);
            EXPECT_STREQ(name, names[i]);
        }
    }
}

} // namespace
