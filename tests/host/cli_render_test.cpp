// The render command's options, each checked on what the user gets: the output file (the edited note's
// pitch, level, brightness, timing and length, every other frame exactly the input's) and the report.

#include "tests/host/audio_files.h"
#include "tests/host/cli_takes.h"
#include "tests/io/storage_test_folder.h"

#include <gtest/gtest.h>
#include <regex>
#include <sndfile.h>
#include <sstream>

namespace {

using namespace cvtest;

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), {}};
}

CommandRun render(const std::string& in, const std::string& out, const std::string& options) {
    std::vector<std::string> args{"render", in, out};
    for (std::string& word : words(options))
        args.push_back(std::move(word));
    return runCommand(args);
}

struct Unit {
    std::string notes; // ids separated by commas
    double start;
    std::string engine;
    int number; // the table's unit number; the JSON object's units are numbered by their order
};

// The rendered units the report lists, from its table or its JSON object.
std::vector<Unit> reportedUnits(const std::string& report) {
    const std::regex row(report.starts_with("{")
                             ? R"re(\{"notes":\[([0-9,]+)\],"start":([0-9.]+),"engine":"([a-z]+)"\})re"
                             : R"re(\n +([0-9]+) +([0-9.]+) +([a-z]+) +([0-9,]+)(?=\n))re");
    std::vector<Unit> units;
    for (std::sregex_iterator it(report.begin(), report.end(), row), end; it != end; ++it) {
        const std::smatch& m = *it;
        if (report.starts_with("{"))
            units.push_back({m[1], std::stod(m[2]), m[3], static_cast<int>(units.size() + 1)});
        else
            units.push_back({m[4], std::stod(m[2]), m[3], std::stoi(m[1])});
    }
    return units;
}

// Each engine renders the transposed note, and the report names the engine the audio came from: the
// automatic choice takes the pitch-synchronous engine for three semitones, every forced engine sounds
// different, and the percussive analysis's unpitched notes go to the stretch engine.
TEST(CliRender, EachEngineRendersTheEditAndTheReportNamesIt) {
    ScratchFolder folder;
    const std::string in = folder / "in.wav";
    writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, shortTake(48000));
    const cv::cli::LoadedAudio input = readBack(in);
    struct Row {
        const char* options;
        const char* engine;
        std::array<NoteOutcome, 2> outcomes;
    };
    const Row rows[] = {
        {"--notes 2 --transpose 3", "psola", {NoteOutcome{}, {.midi = 64.7}}},
        {"--notes 2 --transpose 3 --engine psola --json", "psola", {NoteOutcome{}, {.midi = 64.7}}},
        {"--notes 2 --transpose 3 --engine stretch", "stretch", {NoteOutcome{}, {.midi = 64.7}}},
        {"--notes 2 --transpose 3 --engine vocoder --json", "vocoder", {NoteOutcome{}, {.midi = 64.7}}},
        {"--transpose 3 --algorithm percussive --json",
         "stretch",
         {NoteOutcome{.midi = 60.3}, {.midi = 64.7}}},
    };
    std::vector<std::vector<float>> edited;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.options);
        const std::string out = folder / ("out" + std::to_string(edited.size()) + ".wav");
        const CommandRun run = render(in, out, row.options);
        ASSERT_EQ(run.code, 0) << run.err;
        const cv::cli::LoadedAudio output = readBack(out);
        expectTake(input, output, row.outcomes);
        if (run.out.starts_with("{")) {
            EXPECT_TRUE(
                run.out.starts_with("{\"input\":\"" + in + "\",\"output\":\"" + out +
                                    "\",\"sampleRate\":48000,\"depth\":\"16-bit\",\"notes\":2,\"units\":["))
                << run.out;
        }
        const std::vector<Unit> units = reportedUnits(run.out);
        ASSERT_EQ(units.size(), row.outcomes[0].unchanged() ? 1u : 2u) << run.out;
        for (std::size_t i = 0; i < units.size(); ++i) {
            const std::size_t note = row.outcomes[0].unchanged() ? 1 : i;
            EXPECT_EQ(units[i].number, static_cast<int>(i + 1));
            EXPECT_EQ(units[i].notes, std::to_string(note + 1));
            EXPECT_NEAR(units[i].start, kTakeNotes[note].startSeconds, kEdgeSeconds);
            EXPECT_EQ(units[i].engine, row.engine);
        }
        const auto second = secondsOf(output, 0.5, 0.9);
        edited.emplace_back(second.begin(), second.end());
    }
    EXPECT_EQ(edited[0], edited[1]) << "the automatic choice is the pitch-synchronous engine";
    EXPECT_NE(edited[1], edited[2]);
    EXPECT_NE(edited[1], edited[3]);
    EXPECT_NE(edited[2], edited[3]);
}

// Every edit option changes the notes it lists (every note without --notes) as it says, and nothing else;
// a note stretched past the take's end makes the output as long as the note.
TEST(CliRender, EachEditOptionChangesItsNotesAsAsked) {
    ScratchFolder folder;
    const std::string in = folder / "in.wav", out = folder / "out.wav";
    writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 44100, shortTake(44100));
    const cv::cli::LoadedAudio input = readBack(in);
    using Row = std::pair<const char*, std::array<NoteOutcome, 2>>;
    const Row rows[] = {
        {"--transpose -2", {NoteOutcome{.midi = 55.3}, {.midi = 59.7}}},
        {"--notes 1 --formant 4", {NoteOutcome{.midi = 57.3, .brighter = 1}, {}}},
        {"--notes 1 --formant -4", {NoteOutcome{.midi = 57.3, .brighter = -1}, {}}},
        {"--notes 2,1 --gain -6",
         {NoteOutcome{.midi = 57.3, .levelDb = -6.0}, {.midi = 61.7, .levelDb = -6.0}}},
        {"--notes 2 --gain 4", {NoteOutcome{}, {.midi = 61.7, .levelDb = 4.0}}},
        {"--notes 2 --stretch 1.5", {NoteOutcome{}, {.midi = 61.7, .seconds = 0.45}}},
        {"--notes 2 --stretch 0.5", {NoteOutcome{}, {.midi = 61.7, .seconds = 0.15}}},
        {"--notes 2 --stretch 2", {NoteOutcome{}, {.midi = 61.7, .seconds = 0.6}}},
        {"--correct 1", {NoteOutcome{.midi = 57.0}, {.midi = 62.0}}},
        {"--correct 0.5 --notes 2", {NoteOutcome{}, {.midi = 61.85}}},
    };
    for (const auto& [options, outcomes] : rows) {
        SCOPED_TRACE(options);
        const CommandRun run = render(in, out, options);
        ASSERT_EQ(run.code, 0) << run.err;
        expectTake(input, readBack(out), outcomes);
    }
}

// The output's sample coding for each input coding (16-bit for 8- and 16-bit input, 24-bit for the
// rest), at the input's rate and channels, every frame outside the edited note the input's own, and the
// report's first line telling the note count, rate and depth.
TEST(CliRender, WritesEachInputCodingAtItsDepthAndRate) {
    ScratchFolder folder;
    struct Row {
        int format;
        int rate;
        int channels;
        int written; // the output's coding
    };
    const Row rows[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 22050, 1, SF_FORMAT_PCM_16},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 32000, 2, SF_FORMAT_PCM_16},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_S8, 16000, 1, SF_FORMAT_PCM_16},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, SF_FORMAT_PCM_16},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1, SF_FORMAT_PCM_16},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 48000, 1, SF_FORMAT_PCM_16},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 96000, 1, SF_FORMAT_PCM_24},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 2, SF_FORMAT_PCM_24},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 48000, 1, SF_FORMAT_PCM_24},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_32, 48000, 1, SF_FORMAT_PCM_24},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, SF_FORMAT_PCM_24},
        {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 1, SF_FORMAT_PCM_24},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.format) + " at " + std::to_string(row.rate) + " Hz");
        const std::string in = folder / "in", out = folder / "out.wav";
        writeAudio(in, row.format, row.channels, row.rate, shortTake(row.rate, row.channels));
        const CommandRun run = render(in, out, "--notes 2 --gain -6");
        ASSERT_EQ(run.code, 0) << run.err;
        const cv::cli::LoadedAudio input = readBack(in), output = readBack(out);
        EXPECT_EQ(output.fileFormat, SF_FORMAT_WAV | row.written);
        expectTake(input, output, {NoteOutcome{}, {.midi = 61.7, .levelDb = -6.0}});
        const char* depth = row.written == SF_FORMAT_PCM_16 ? "16-bit" : "24-bit";
        EXPECT_TRUE(run.out.starts_with(in + " -> " + out + ": 2 notes, 1 units rendered (" +
                                        std::to_string(row.rate) + " Hz, " + depth + ")\n"))
            << run.out;
    }
}

} // namespace
