#include "engine/io/atomic_file.h"
#include "host/cli_args.h"
#include "host/cli_audio_file.h"
#include "host/cli_edit_script.h"
#include "host/cli_editor_args.h"
#include "host/cli_files.h"
#include "host/cli_host.h"
#include "host/cli_report.h"
#include "host/cli_run.h"
#include "tests/host/audio_files.h"
#include "tests/host/cli_takes.h"
#include "tests/io/storage_test_folder.h"
#include "tests/support/signals.h"
#include "tools/demo_take.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <limits>
#include <regex>
#include <sndfile.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using namespace cv::cli;
using cvtest::flacClaiming;
using cvtest::writeAudio;

TEST(CliArgs, ParsesTheAnalyseCommandAndRefusesAnythingElseInOneLine) {
    const auto parse = [](const std::string& line) {
        std::istringstream words(line);
        return parseArgs({std::istream_iterator<std::string>(words), {}});
    };
    using Parsed = std::tuple<std::string, Algorithm, OutputFormat>;
    const std::pair<const char*, Parsed> accepted[] = {
        {"analyse take.wav", {"take.wav", Algorithm::Melodic, OutputFormat::Text}},
        {"analyse --json --algorithm percussive -", {"-", Algorithm::Percussive, OutputFormat::Json}},
        {"analyse x.aiff --algorithm=melodic", {"x.aiff", Algorithm::Melodic, OutputFormat::Text}}};
    for (const auto& [line, expected] : accepted) {
        const ParsedArgs p = parse(line);
        ASSERT_TRUE(p.command) << p.error;
        EXPECT_EQ(Parsed(p.command->file, p.command->algorithm, p.command->format), expected);
    }
    for (const char* line :
         {"", "render a.wav", "analyse", "analyse a.wav b.wav", "analyse a.wav --algorithm",
          "analyse a.wav --algorithm polyphonic", "analyse a.wav --verbose"}) {
        const ParsedArgs p = parse(line);
        EXPECT_FALSE(p.command) << line;
        EXPECT_FALSE(p.error.empty());
        EXPECT_EQ(p.error.find('\n'), std::string::npos) << p.error;
    }
}

// A 440 Hz tone; in stereo the second channel holds twice the first.
std::vector<float> tone(int channels, std::int64_t frames) {
    std::vector<float> interleaved;
    for (const float s : cvtest::sine(440.0, 44100.0, frames, 0.5f))
        for (int c = 0; c < channels; ++c)
            interleaved.push_back(s * static_cast<float>(c + 1) * 0.5f);
    return interleaved;
}

// Runs the program (the analyse command unless told otherwise; on a file piped to its standard input when
// piped is given); returns its exit code and what it wrote to the error stream, or with toStandardOutput
// what it wrote there.
std::pair<int, std::string> runProgram(const std::string& args, const std::string& piped = "",
                                       const std::string& command = "analyse",
                                       bool toStandardOutput = false) {
    const std::string line = (piped.empty() ? "" : "cat '" + piped + "' | ") + CV_CLI_PROGRAM + " " +
                             command + " " + args + (toStandardOutput ? " 2>/dev/null" : " 2>&1 >/dev/null");
    std::FILE* pipe = ::popen(line.c_str(), "r");
    std::string output;
    for (int c; (c = std::fgetc(pipe)) != EOF;)
        output.push_back(static_cast<char>(c));
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(CliAudioFile, ReadsEachContainerFromAPathAndFromStandardInput) {
    cvtest::ScratchFolder folder;
    // A WAV header written before the length was known, as programs writing into a pipe leave it.
    writeAudio(folder / "streamed.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, tone(2, 100000));
    auto streamed = cvtest::contentsOf(folder / "streamed.wav");
    std::fill_n(streamed.begin() + 4, 4, 0xFF);  // the RIFF size
    std::fill_n(streamed.begin() + 40, 4, 0xFF); // the data size of the canonical header
    cvtest::writeBytes(folder / "streamed.wav", streamed);
    // A FLAC stream that does not say how long it is: the samples outgrow the room first taken.
    writeAudio(folder / "unsized.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, tone(2, 100000));
    cvtest::claimFlacFrames(folder / "unsized.flac", 0);
    // The float file holds a NaN and both infinities, which read as 0 and are counted.
    auto invalid = tone(2, 100000);
    invalid[2 * 10] = NAN;
    invalid[2 * 5000 + 1] = INFINITY;
    invalid[2 * 99998] = -INFINITY;
    writeAudio(folder / "b.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, invalid);
    const std::tuple<const char*, int, int> cases[] = {{"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1},
                                                       {"b.wav", 0, 2},
                                                       {"c.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2},
                                                       {"d.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1},
                                                       {"streamed.wav", 0, 2},
                                                       {"unsized.flac", 0, 2}};
    const std::vector<float> expected = tone(2, 100000);
    for (const auto& [name, format, channels] : cases) {
        SCOPED_TRACE(name);
        if (format != 0)
            writeAudio(folder / name, format, channels, 44100, tone(channels, 100000));
        LoadedAudio loaded;
        std::string error;
        ASSERT_TRUE(readAudioFile(folder / name, Algorithm::Melodic, loaded, error)) << error;
        EXPECT_EQ(loaded.sampleRate, 44100.0);
        EXPECT_EQ(loaded.audio.channels, channels);
        ASSERT_EQ(loaded.audio.frames, 100000);
        // Planar, and exact within 16-bit quantisation.
        EXPECT_NEAR(loaded.audio.channel(0)[99999], expected[2 * 99999], 1e-4f);
        EXPECT_NEAR(loaded.audio.channel(channels - 1)[1234], expected[2 * 1234 + channels - 1], 1e-4f);
        const bool hasInvalid = std::string(name) == "b.wav";
        EXPECT_EQ(loaded.replacedSamples, hasInvalid ? 3 : 0);
        EXPECT_TRUE(!hasInvalid ||
                    (loaded.audio.channel(0)[10] == 0.0f && loaded.audio.channel(1)[5000] == 0.0f &&
                     loaded.audio.channel(0)[99998] == 0.0f));
        const auto [code, output] = runProgram("-", folder / name);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(output.find("3 samples of standard input were NaN or infinite and were read as 0.") !=
                      std::string::npos,
                  hasInvalid)
            << output;
    }
    // The report's title names the input as the messages do, not as "-".
    EXPECT_TRUE(
        runProgram("-", folder / "a.wav", "analyse", true).second.starts_with("standard input: 1 notes"));
}

TEST(CliAudioFile, RefusesWhatCannotBeAnalysedWithOneLineNamingTheCause) {
    cvtest::ScratchFolder folder;
    writeAudio(folder / "three.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 48000, std::vector<float>(3000));
    writeAudio(folder / "slow.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 7000, std::vector<float>(1000));
    writeAudio(folder / "empty.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, {});
    writeAudio(folder / "rate0.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, std::vector<float>(100));
    // Rates libsndfile cannot report as declared: the canonical WAV header's 32-bit field, and the 80-bit
    // float of the AIFF COMM chunk, which libsndfile reads as 1 Hz for 0 and 800000000 Hz for any rate past
    // 2^31.
    for (const auto& [name, rate] :
         std::initializer_list<std::pair<const char*, std::uint32_t>>{{"rate0.wav", 0},
                                                                      {"rate2G.wav", 2147483648},
                                                                      {"rate3G.wav", 3000000000},
                                                                      {"rate1M.wav", 1000000}}) {
        auto bytes = cvtest::contentsOf(folder / "rate0.wav");
        for (int i = 0; i < 4; ++i)
            bytes[24 + i] = static_cast<std::uint8_t>(rate >> 8 * i);
        cvtest::writeBytes(folder / name, bytes);
    }
    writeAudio(folder / "rate0.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 48000, std::vector<float>(100));
    auto aiff = cvtest::contentsOf(folder / "rate0.aiff");
    std::fill_n(aiff.begin() + 28, 10, 0);
    cvtest::writeBytes(folder / "rate0.aiff", aiff);
    const std::uint8_t threeGigahertz[] = {0x40, 0x1E, 0xB2, 0xD0, 0x5E, 0, 0, 0, 0, 0};
    std::copy(std::begin(threeGigahertz), std::end(threeGigahertz), aiff.begin() + 28);
    cvtest::writeBytes(folder / "rate3G.aiff", aiff);
    flacClaiming(folder, "long.flac", 8000, 9600800);     // 1200.1 s
    flacClaiming(folder, "big.flac", 384000, 153600000);  // 400 s
    flacClaiming(folder, "heavy.flac", 96000, 115000000); // fits a buffer, not the analysis
    cvtest::writeBytes(folder / "junk.wav", {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'});
    std::filesystem::create_directory(folder / "folder.wav");
    ASSERT_EQ(::mkfifo((folder / "pipe.wav").c_str(), 0600), 0);
    const std::pair<const char*, const char*> cases[] = {
        {"three.wav", "3 channels"},
        {"slow.wav", "a sample rate of 7000 Hz"},
        {"rate0.wav", "declares a sample rate of 0 Hz"},
        {"rate2G.wav", "declares a sample rate of 2147483648 Hz;"},
        {"rate3G.wav", "declares a sample rate of 3000000000 Hz;"},
        {"rate1M.wav", "has a sample rate of 1000000 Hz;"},
        {"rate0.aiff", "has a sample rate of 0 Hz;"},
        {"rate3G.aiff", "has a sample rate of 3000000000 Hz;"},
        {"empty.wav", "holds no audio"},
        {"long.flac", "lasts 1200.1 s; at most 1200 s"},
        {"big.flac", "holds 153600000 samples (1 channel x 153600000 frames); an audio buffer holds at most "
                     "134217728 samples, 349.5 s of mono audio at 384000 Hz."},
        {"heavy.flac", "MiB analysis limit"}, // refused before 460 MB are read
        {"junk.wav", "Could not read"},
        {"missing.wav", "No such file or directory"},
        {"folder.wav", "is a folder, not an audio file"},
        {"pipe.wav", "is a named pipe, not an audio file"}, // refused at once, not waited on
    };
    for (const auto& [name, words] : cases) {
        SCOPED_TRACE(name);
        LoadedAudio loaded;
        std::string error;
        EXPECT_FALSE(readAudioFile(folder / name, Algorithm::Melodic, loaded, error));
        EXPECT_NE(error.find(words), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_EQ(runProgram("'" + (folder / name).string() + "'"),
                  std::pair(1, "corvalinth: " + error + "\n"));
    }
}

TEST(CliAudioFile, TakesMemoryForTheDecodedSamplesNotForTheHeadersClaim) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit allows";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit allows";
#endif
#endif
    cvtest::ScratchFolder folder;
    // The claim of 20 minutes would take 220 MiB; the address space may grow by 128 MiB.
    const std::string path = flacClaiming(folder, "claims.flac", 48000, 57600000);
    const int status = cvtest::runInChild([&] {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const auto bytes = static_cast<rlim_t>(pages * ::sysconf(_SC_PAGESIZE) + (128 << 20));
        const rlimit limit{bytes, bytes};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
            return 77;
        LoadedAudio loaded;
        std::string error;
        try {
            return readAudioFile(path, Algorithm::Percussive, loaded, error) &&
                           loaded.audio.frames == 48000 && loaded.declaredFrames == 57600000
                       ? 1
                       : 0;
        } catch (const std::bad_alloc&) {
            return 2;
        }
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "read as far as it goes, without running out of memory first";
}

// The demonstration take goes through the whole front end: written as a WAV file, read back, analysed
// on the worker. Every generated note must be found exactly once, its start within 30 ms and its
// pitch within 20 cents (what a user of the editor would call "right").
TEST(DemoTake, FrontEndFindsEveryGeneratedNote) {
    const cvdemo::DemoTake take = cvdemo::makeDemoTake();
    cvtest::ScratchFolder folder;
    writeAudio(folder / "demo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, static_cast<int>(take.sampleRate),
               take.mono);
    LoadedAudio loaded;
    std::string error;
    ASSERT_TRUE(readAudioFile(folder / "demo.wav", Algorithm::Melodic, loaded, error)) << error;
    np::AnalysisResult result;
    float lastProgress = 0.0f;
    ASSERT_TRUE(runAnalysis(
        std::move(loaded), Algorithm::Melodic, [&](float f) { lastProgress = f; }, result, error))
        << error;
    EXPECT_EQ(lastProgress, 1.0f);
    EXPECT_TRUE(loaded.audio.samples.empty()) << "the audio was copied to the worker instead of moved";
    for (const cvdemo::DemoNote& expected : take.notes) {
        const auto found =
            std::count_if(result.notes.begin(), result.notes.end(), [&](const np::NoteEvent& n) {
                return std::abs(static_cast<double>(n.start) / take.sampleRate - expected.startSeconds) <=
                           0.03 &&
                       std::abs(n.pitch - expected.midi) <= 0.2;
            });
        EXPECT_EQ(found, 1) << "note at " << expected.startSeconds << " s, MIDI " << expected.midi;
    }
    EXPECT_EQ(result.notes.size(), take.notes.size()) << "no extra notes from consonants or slides";
}

// The take's phrases stand apart: a silence of 0.12 s or a consonant between phrases, and 0.3 s of
// silence at either end, so a listener hears where each phrase starts.
TEST(DemoTake, SeparatesItsPhrasesWithSilence) {
    const cvdemo::DemoTake take = cvdemo::makeDemoTake();
    std::vector<double> silences; // seconds of each run of exact zeros of 10 ms or more
    std::size_t run = 0;
    for (std::size_t i = 0; i <= take.mono.size(); ++i) {
        if (i < take.mono.size() && take.mono[i] == 0.0f) {
            ++run;
            continue;
        }
        if (run >= static_cast<std::size_t>(0.01 * take.sampleRate))
            silences.push_back(static_cast<double>(run) / take.sampleRate);
        run = 0;
    }
    const std::vector<double> expected{0.3, 0.12, 0.06, 0.12, 0.06, 0.12, 0.3};
    ASSERT_EQ(silences.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(silences[i], expected[i], 0.002) << i;
}

TEST(CliArgs, ParsesTheRenderCommandWithItsRangesInOneLine) {
    const auto parse = [](const std::string& line) {
        std::istringstream words(line);
        return parseArgs({std::istream_iterator<std::string>(words), {}});
    };
    const ParsedArgs p =
        parse("render - out.wav --notes 3,1,12 --transpose=-2.5 --formant 1 --gain -6 --stretch 1.25 "
              "--correct 0.5 --engine vocoder --algorithm percussive --json");
    ASSERT_TRUE(p.render) << p.error;
    const RenderCommand& r = *p.render;
    EXPECT_EQ(std::tie(r.input, r.output, r.algorithm, r.format, r.engine),
              std::make_tuple(std::string("-"), std::string("out.wav"), Algorithm::Percussive,
                              OutputFormat::Json, EngineChoice::Vocoder));
    EXPECT_EQ(r.notes, (std::vector<std::uint32_t>{3, 1, 12}));
    EXPECT_EQ(std::tie(r.transpose, r.formant, r.gain, r.stretch, r.correct),
              std::make_tuple(std::optional(-2.5), std::optional(1.0), std::optional(-6.0),
                              std::optional(1.25), std::optional(0.5)));
    EXPECT_FALSE(parse("render in.wav out.wav").render->transpose);
    // Each range holds both its ends.
    for (const char* line :
         {"render a b --transpose -24 --formant 12 --gain -60 --stretch 8 --correct 0",
          "render a b --transpose 24 --formant -12 --gain 24 --stretch 0.125 --correct 1"}) {
        const ParsedArgs ends = parse(line);
        EXPECT_TRUE(ends.render) << line << ": " << ends.error;
    }
    for (const char* line : {"render in.wav",
                             "render in.wav out.wav extra.wav",
                             "render a b --transpose 24.5",
                             "render a b --transpose -24.5",
                             "render a b --formant 12.5",
                             "render a b --formant -12.5",
                             "render a b --gain 24.5",
                             "render a b --gain -60.5",
                             "render a b --stretch 8.5",
                             "render a b --correct -0.1",
                             "render a b --gain nan",
                             "render a b --stretch 0.1",
                             "render a b --correct 1.5",
                             "render a b --formant 2x",
                             "render a b --notes 0",
                             "render a b --notes 1,,2",
                             "render a b --notes -1",
                             "render a b --engine world",
                             "render a b --transpose",
                             "render a b --verbose"}) {
        const ParsedArgs refused = parse(line);
        EXPECT_FALSE(refused.render || refused.command) << line;
        EXPECT_FALSE(refused.error.empty());
        EXPECT_EQ(refused.error.find('\n'), std::string::npos) << refused.error;
    }
}

// Every option and script step reads its number by one rule: decimal notation only, a value too small for
// a double taken as the double it rounds to, and a script step's description reads back as the same step.
TEST(CliNumbers, EveryOptionAndStepReadsItsNumberByOneRule) {
    const auto words = [](const std::string& line) {
        std::istringstream in(line);
        return std::vector<std::string>{std::istream_iterator<std::string>(in), {}};
    };
    // The number the line's command or step took, or the error it gave.
    const auto read = [&](const std::string& line, std::string& error) -> std::optional<double> {
        std::vector<EditStep> steps;
        if (line.starts_with("render")) {
            const ParsedArgs p = parseArgs(words(line));
            error = p.error;
            return p.render ? p.render->transpose.value_or(0) + p.render->formant.value_or(0) +
                                  p.render->gain.value_or(0) + p.render->stretch.value_or(0) +
                                  p.render->correct.value_or(0)
                            : std::optional<double>();
        }
        if (line.starts_with("screenshot")) {
            const ParsedEditorArgs p = parseEditorArgs(words(line));
            error = p.error;
            return p.command ? std::optional(p.command->scale) : std::nullopt;
        }
        if (!parseEditScript(line, steps, error))
            return std::nullopt;
        std::vector<EditStep> again;
        const std::string description = describeEditStep(steps[0]);
        EXPECT_TRUE(parseEditScript(description, again, error)) << description << ": " << error;
        EXPECT_EQ(again.empty() ? -1.0 : again[0].value, steps[0].value) << description;
        return steps[0].value;
    };
    const std::optional<double> refused;
    const double denormal = std::numeric_limits<double>::denorm_min();
    // The fuzz target's crash: a hexadecimal move whose description used to be refused.
    const std::string crash = "move\t3\t-0x1p-000001055#7muteua 1 1e";
    const std::pair<std::string, std::optional<double>> rows[] = {
        {"render a b --gain 1e-310", 1e-310},
        {"render a b --transpose 1e-320", 1e-320},
        {"render a b --correct 5e-324", denormal},
        {"render a b --formant -2e-324", 0.0}, // rounds to 0
        {"render a b --transpose +2", 2.0},
        {"render a b --stretch .5", 0.5},
        {"render a b --transpose 0x10", refused},
        {"render a b --gain inf", refused},
        {"render a b --stretch nan", refused},
        {"render a b --transpose 1e400", refused},
        {"screenshot a b --scale 1.25e0", 1.25},
        {"screenshot a b --scale 0x1", refused},
        {"split 1 1e-310", 1e-310},
        {"move 3 -2.5903e-318", -2.5903e-318},
        {"transpose 1 0.1", 0.1},
        {"gain 1 -6.000000000000001", -6.000000000000001},
        {"quantize 1 1e-999", 0.0},
        {"transpose 1 0x2", refused},
        {"move 3 -0x1p-1055", refused},
        {"correct 1 nan", refused},
        {"gain 1 -inf", refused},
        {crash, refused},
    };
    for (const auto& [line, value] : rows) {
        SCOPED_TRACE(line);
        std::string error;
        const std::optional<double> got = read(line, error);
        EXPECT_EQ(got, value) << error;
        if (!value) {
            const std::string word = words(line.substr(0, line.find('#'))).back();
            EXPECT_NE(error.find("needs a number from "), std::string::npos) << error;
            EXPECT_NE(error.find(", not " + quotedWord(word)), std::string::npos) << error;
        }
    }
}

// The demonstration take, written at 16 and 24 bits and in float, rendered with one note's gain changed:
// the output has the input's rate and depth (24-bit for float), and every frame outside that note's span
// reads back exactly as the input's (float within 24-bit rounding); a forced engine shows in the report.
TEST(CliRender, RendersAnEditWithEveryOtherFrameExactlyTheInputs) {
    const cvdemo::DemoTake take = cvdemo::makeDemoTake();
    cvtest::ScratchFolder folder;
    for (const auto& [coding, depth] :
         {std::pair{SF_FORMAT_PCM_16, SF_FORMAT_PCM_16}, std::pair{SF_FORMAT_PCM_24, SF_FORMAT_PCM_24},
          std::pair{SF_FORMAT_FLOAT, SF_FORMAT_PCM_24}}) {
        SCOPED_TRACE(coding);
        const std::string in = folder / "in.wav", out = folder / "out.wav";
        writeAudio(in, SF_FORMAT_WAV | coding, 1, 48000, take.mono);
        const auto [code, report] =
            runProgram("'" + in + "' '" + out + "' --notes 3 --gain -6 --json", "", "render", true);
        ASSERT_EQ(code, 0);
        EXPECT_NE(report.find("\"units\":[{\"notes\":[3],"), std::string::npos) << report;
        EXPECT_NE(report.find("\"engine\":\"copy\"}]}"), std::string::npos) << report;

        LoadedAudio input, output;
        std::string error;
        ASSERT_TRUE(readAudioFile(in, Algorithm::Melodic, input, error)) << error;
        ASSERT_TRUE(readAudioFile(out, Algorithm::Melodic, output, error)) << error;
        EXPECT_EQ(output.fileFormat, SF_FORMAT_WAV | depth);
        EXPECT_EQ(output.sampleRate, 48000.0);
        ASSERT_EQ(output.audio.frames, input.audio.frames);
        const auto sharedInput = std::make_shared<const np::AudioBuffer>(input.audio);
        np::AnalysisResult analysis;
        ASSERT_TRUE(runAnalysis(sharedInput, 48000.0, Algorithm::Melodic, {}, analysis, error));
        const np::NoteEvent& third = analysis.notes.at(2);
        std::int64_t changed = 0;
        for (std::int64_t i = 0; i < input.audio.frames; ++i) {
            const float x = input.audio.channel(0)[static_cast<std::size_t>(i)];
            const float y = output.audio.channel(0)[static_cast<std::size_t>(i)];
            if (i < third.start || i >= third.end)
                ASSERT_NEAR(y, x, coding == SF_FORMAT_FLOAT ? 1.0 / 8388607 : 0.0) << i;
            else
                changed += y != x;
        }
        EXPECT_GT(changed, (third.end - third.start) / 2);
    }
    const std::string in = folder / "in.wav";
    const auto [code, report] =
        runProgram("'" + in + "' '" + (folder / "up.wav").string() + "' --transpose 2 --engine stretch", "",
                   "render", true);
    EXPECT_EQ(code, 0);
    EXPECT_NE(report.find("stretch"), std::string::npos) << report;
    EXPECT_EQ(report.find("psola"), std::string::npos) << report;
    using Failure = std::pair<std::string, std::string>;
    for (const auto& [args, words] :
         {Failure{"'" + in + "' '" + (folder / "x.wav").string() + "' --notes 99", "note 99 does not exist"},
          Failure{"'" + in + "' '" + folder.path().string() + "'",
                  "Could not write " + folder.path().string()},
          Failure{"'" + (folder / "missing.wav").string() + "' x.wav", "No such file"}}) {
        const auto [failed, error] = runProgram(args, "", "render");
        EXPECT_EQ(failed, 1) << args;
        EXPECT_NE(error.find(words), std::string::npos) << error;
    }
}

np::AnalysisResult twoNotes() {
    np::AnalysisResult r;
    r.notes.resize(2);
    r.notes[0] = {.start = 4800, .end = 28800, .pitch = 60.96, .pitchCurve = {}, .levelCurve = {}};
    r.notes[0].pitchConfidence = 0.9f;
    r.notes[0].pitched = true;
    r.notes[1] = {.start = 48000, .end = 52800, .pitchCurve = {}, .levelCurve = {}};
    r.polyphonyScore = 0.3f;
    return r;
}

TEST(CliReport, ListsEachNoteAsTextOrAsOneJsonObjectAndWarnsOfSeveralVoices) {
    const std::string text = formatReport("take.wav", Algorithm::Melodic, twoNotes(), OutputFormat::Text);
    for (const char* line : {"    1     0.100     0.500   60.96  C#4", "    2     1.000     0.100   60.00  -",
                             "Several-voices score: 0.30",
                             "Corvalinth detected more than one voice. Chords may not edit reliably."})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    const std::string json =
        formatReport("odd \"name\"\\.wav", Algorithm::Percussive, twoNotes(), OutputFormat::Json);
    EXPECT_EQ(json.rfind("{\"file\":\"odd \\\"name\\\"\\\\.wav\",\"algorithm\":\"percussive\"", 0), 0u)
        << json;
    EXPECT_NE(json.find("{\"id\":1,\"start\":0.100000,\"length\":0.500000,\"pitch\":60.9600,\"name\":\"C#4\","
                        "\"confidence\":0.9000,\"pitched\":true}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"severalVoicesScore\":0.3000}"), std::string::npos);
    // UTF-8 passes; a Latin-1 byte, a cut sequence, an overlong form, a surrogate and a code point above
    // U+10FFFF are escaped byte by byte, so the output stays valid JSON.
    EXPECT_EQ(
        jsonEscape(
            "a\x01 t\xC3\xABst \xF0\x9F\x8E\xB5 caf\xE9 \xE2\x99 \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80"),
        "a\\u0001 t\xC3\xABst \xF0\x9F\x8E\xB5 caf\\u00e9 \\u00e2\\u0099 \\u00c0\\u00af "
        "\\u00ed\\u00a0\\u0080 \\u00f4\\u0090\\u0080\\u0080");
}

// The analyse command prints the take's notes from the analysis it was asked for, as a table or as one
// JSON object: ids from 1, start and length in seconds, pitch, name, confidence and whether pitched.
TEST(CliAnalyse, PrintsTheTakesNotesFromTheChosenAnalysis) {
    cvtest::ScratchFolder folder;
    const std::string in = folder / "take.wav";
    writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, cvtest::shortTake(44100));
    using Row = std::pair<const char*, const char*>; // options, algorithm
    for (const auto& [options, algorithm] :
         {Row{"", "melodic"}, Row{"--json", "melodic"}, Row{"--algorithm percussive --json", "percussive"},
          Row{"--algorithm=percussive", "percussive"}}) {
        SCOPED_TRACE(options);
        const auto [code, report] = runProgram("'" + in + "' " + options, "", "analyse", true);
        ASSERT_EQ(code, 0);
        const bool json = report.starts_with("{");
        EXPECT_EQ(json, std::string(options).ends_with("--json"));
        EXPECT_TRUE(json ? report.starts_with("{\"file\":\"" + in + "\",\"algorithm\":\"" + algorithm +
                                              "\",\"sampleRate\":44100,\"notes\":[")
                         : report.starts_with(in + ": 2 notes (" + algorithm + ", 44100 Hz)\n"))
            << report;
        const std::regex row(
            json ? R"re(\{"id":(\d+),"start":([0-9.]+),"length":([0-9.]+),)re"
                   R"re("pitch":([0-9.]+),"name":"([^"]+)",)re"
                   R"re("confidence":([0-9.]+),"pitched":(true|false)\})re"
                 : R"re(\n +(\d+) +([0-9.]+) +([0-9.]+) +([0-9.]+) +(\S+) +([0-9.]+) +(yes|no)(?=\n))re");
        const bool pitched = std::string(algorithm) == "melodic";
        const char* names[] = {"A3", "D4"};
        std::size_t id = 0;
        for (std::sregex_iterator it(report.begin(), report.end(), row), end; it != end && id < 2;
             ++it, ++id) {
            const std::smatch& m = *it;
            const cvtest::TakeNote& note = cvtest::kTakeNotes[id];
            EXPECT_EQ(std::stoul(m[1]), id + 1);
            EXPECT_NEAR(std::stod(m[2]), note.startSeconds, cvtest::kEdgeSeconds);
            EXPECT_NEAR(std::stod(m[3]), note.seconds, cvtest::kEdgeSeconds);
            EXPECT_NEAR(std::stod(m[4]), pitched ? note.midi : 60.0, 0.05);
            EXPECT_EQ(m[5], pitched ? names[id] : "-");
            EXPECT_EQ(std::stod(m[6]) > 0.9, pitched);
            EXPECT_EQ(m[7], pitched ? (json ? "true" : "yes") : (json ? "false" : "no"));
        }
        EXPECT_EQ(id, 2u) << report;
    }
}

TEST(EditScript, ParsesEachStepAndRefusesABadLineByItsNumber) {
    std::vector<EditStep> steps;
    std::string error;
    // A byte-order mark first, and comments after edits as well as on lines of their own.
    ASSERT_TRUE(parseEditScript("\xEF\xBB\xBF# demo\ntranspose 2,3 -2.5  # semitones\n\n  gain all -6#dB\n"
                                "correct all\nsplit 4 1.25\nundo # the split\nquantize 1,2\nmove all -0.05\n"
                                "stretch 3 8\nformant 1 -12\ngain 2 24\nmove 1 -1200\n",
                                steps, error))
        << error;
    // A value left out takes its default; each range holds both its ends.
    const std::vector<std::pair<int, std::string>> expected{
        {2, "transpose 2,3 -2.5"}, {4, "gain all -6"},  {5, "correct all 1"},
        {6, "split 4 1.25"},       {7, "undo"},         {8, "quantize 1,2 1"},
        {9, "move all -0.05"},     {10, "stretch 3 8"}, {11, "formant 1 -12"},
        {12, "gain 2 24"},         {13, "move 1 -1200"}};
    ASSERT_EQ(steps.size(), expected.size());
    for (std::size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(std::make_pair(steps[i].line, describeEditStep(steps[i])), expected[i]);
    // Echoed words are cut short and their non-printing bytes escaped.
    using Refusal = std::pair<std::string, std::string>;
    for (const auto& [script, words] :
         {Refusal{"transpose 1 30", "line 1: transpose needs a number from -24 to 24 semitones"},
          Refusal{"undo\nshift 1 2", "line 2: unknown edit \"shift\""},
          Refusal{"gain 0 -6", "line 1: gain needs `all` or note ids"},
          Refusal{"split all 1", "line 1: split needs one note id"}, Refusal{"move 1", "move needs a number"},
          Refusal{"mute", "mute needs `all` or note ids"}, Refusal{"redo 2", "unexpected \"2\" after redo"},
          Refusal{std::string(5000, 'w') + " 1",
                  "line 1: unknown edit \"" + std::string(32, 'w') + "...\": use"},
          Refusal{"tr\x1B[2J\xC3 1", "unknown edit \"tr\\x1B[2J\\xC3\""},
          Refusal{"gain 1 -6\x7F", "gain needs a number from -60 to 24 dB, not \"-6\\x7F\""},
          Refusal{"mute 1,\x01", "not \"1,\\x01\""}, Refusal{"formant 1 12.5", "from -12 to 12 semitones"},
          Refusal{"gain 1 -60.5", "from -60 to 24 dB"},
          Refusal{"move 1 1200.5", "from -1200 to 1200 seconds"}, Refusal{"stretch 1 8.5", "from 0.125 to 8"},
          Refusal{"quantize all 1.5", "from 0 to 1"}, Refusal{"correct all -0.5", "from 0 to 1"},
          Refusal{"split 1 -1", "from 0 to 1200 seconds"}}) {
        steps.clear();
        EXPECT_FALSE(parseEditScript(script, steps, error)) << script;
        EXPECT_NE(error.find(words), std::string::npos) << error;
        EXPECT_LT(error.size(), 200u);
        EXPECT_TRUE(std::all_of(error.begin(), error.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
            << error;
    }
}

TEST(EditScript, ReadsOnlyARegularFileWithinItsLimit) {
    cvtest::ScratchFolder folder;
    const std::string limit = std::to_string(kEditScriptMaxBytes);
    cvtest::writeBytes(folder / "largest.txt", std::vector<std::uint8_t>(kEditScriptMaxBytes, ' '));
    cvtest::writeBytes(folder / "large.txt", std::vector<std::uint8_t>(kEditScriptMaxBytes + 1, ' '));
    std::filesystem::create_directory(folder / "folder.txt");
    ASSERT_EQ(::mkfifo((folder / "pipe.txt").c_str(), 0600), 0);
    using Case = std::pair<std::string, std::string>; // path, sentence (empty: read)
    for (const auto& [path, sentence] :
         {Case{folder / "largest.txt", ""},
          Case{folder / "large.txt", "The edit script " + (folder / "large.txt").string() + " holds " +
                                         std::to_string(kEditScriptMaxBytes + 1) +
                                         " bytes; edit scripts of at most " + limit + " bytes can be read."},
          Case{folder / "folder.txt", (folder / "folder.txt").string() + " is a folder, not an edit script."},
          Case{folder / "pipe.txt", (folder / "pipe.txt").string() + " is a named pipe, not an edit script."},
          Case{"/dev/zero", "/dev/zero is a device, not an edit script."},
          Case{folder / "missing.txt", "Could not read the edit script " + (folder / "missing.txt").string() +
                                           ": No such file or directory."}}) {
        SCOPED_TRACE(path);
        std::string text, error;
        EXPECT_EQ(readEditScript(path, text, error), sentence.empty());
        EXPECT_EQ(error, sentence);
        if (sentence.empty()) {
            EXPECT_EQ(text.size(), kEditScriptMaxBytes);
        }
    }
}

// The demonstration take through the plug-in in the stand-in host. Without a script the bounce is the
// input itself, sample for sample, in the input's coding; with one whose transpose is undone it equals
// the render command's output of the gain edit alone: the bounce holds the edit of the last revision.
TEST(CliHost, BouncesTheInputUnchangedOrWithTheScriptsEdit) {
    const cvdemo::DemoTake take = cvdemo::makeDemoTake();
    cvtest::ScratchFolder folder;
    const std::string in = folder / "in.wav", out = folder / "out.wav";
    const auto read = [](const std::string& path) {
        LoadedAudio loaded;
        std::string error;
        EXPECT_TRUE(readAudioFile(path, Algorithm::Melodic, loaded, error)) << error;
        return loaded;
    };
    for (const int coding : {SF_FORMAT_FLOAT, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24}) {
        SCOPED_TRACE(coding);
        writeAudio(in, SF_FORMAT_WAV | coding, 1, 48000, take.mono);
        const auto [code, report] = runProgram("'" + in + "' '" + out + "'", "", "host", true);
        ASSERT_EQ(code, 0);
        EXPECT_NE(report.find(": " + std::to_string(take.notes.size()) + " notes (48000 Hz)"),
                  std::string::npos)
            << report;
        const LoadedAudio input = read(in), output = read(out);
        EXPECT_EQ(output.fileFormat, input.fileFormat);
        EXPECT_EQ(output.audio.samples, input.audio.samples);
    }
    std::ofstream(folder / "edit.txt") << "gain 3 -6\ntranspose 1 2\nundo\n";
    const std::string reference = folder / "reference.wav";
    ASSERT_EQ(runProgram("'" + in + "' '" + reference + "' --notes 3 --gain -6", "", "render").first, 0);
    const auto [code, report] = runProgram(
        "'" + in + "' '" + out + "' --edit '" + (folder / "edit.txt").string() + "'", "", "host", true);
    ASSERT_EQ(code, 0);
    EXPECT_NE(report.find("gain -6.0 dB"), std::string::npos) << report;
    EXPECT_EQ(read(out).audio.samples, read(reference).audio.samples);

    std::string ids;
    for (std::size_t id = 1; id <= take.notes.size(); ++id)
        ids += (ids.empty() ? "" : ",") + std::to_string(id);
    using Failure = std::tuple<std::string, int, std::string>;
    std::ofstream(folder / "bad.txt") << "gain 3 -6\ngain 99 -6\n";
    for (const auto& [args, exitCode, words] :
         {Failure{"'" + in + "' x.wav --edit '" + (folder / "missing.txt").string() + "'", 1,
                  "Could not read the edit script"},
          Failure{"'" + in + "' '" + out + "' --edit '" + (folder / "bad.txt").string() + "'", 1,
                  "edit script line 2: note 99 does not exist: the notes are " + ids},
          Failure{"'" + (folder / "missing.wav").string() + "' x.wav", 1, "No such file"},
          Failure{"'" + in + "'", 2, "host needs an input audio file and an output WAV file"},
          Failure{"a.wav b.wav --edit", 2, "--edit needs an edit script file"}}) {
        const auto [failed, error] = runProgram(args, "", "host");
        EXPECT_EQ(failed, exitCode) << args;
        EXPECT_NE(error.find(words), std::string::npos) << error;
    }
}

TEST(CliReport, TellsWhenOnlyTheFirstPartOfATakeWasCaptured) {
    EXPECT_EQ(
        capturedPartNotice("long.wav", 50331648, 52800000, 48000.0),
        "corvalinth: warning: only the first 1048.6 s of long.wav (1100.0 s) were captured, as much as the "
        "plug-in's capture holds; the rest is not analysed.\n");
    EXPECT_NE(capturedPartNotice("-", 1, 2, 48000.0).find(" of standard input ("), std::string::npos);
    EXPECT_EQ(capturedPartNotice("take.wav", 48128, 48000, 48000.0), ""); // padded to whole blocks
    EXPECT_EQ(capturedPartNotice("take.wav", 48000, 48000, 48000.0), "");
}

// An output that is an input, by whatever path, or that could not be replaced is refused before any
// work, with one sentence naming it.
TEST(CliFiles, RefusesAnOutputThatIsAnInputOrCannotBeReplaced) {
    cvtest::ScratchFolder folder;
    const std::string in = folder / "take.wav", script = folder / "edit.txt";
    cvtest::writeBytes(in, {'R', 'I', 'F', 'F'});
    cvtest::writeBytes(script, {'u', 'n', 'd', 'o'});
    std::filesystem::create_symlink("take.wav", folder / "link.wav");
    std::filesystem::create_hard_link(in, folder / "hard.wav");
    std::filesystem::create_directory(folder / "sub");
    const std::string longName = folder / std::string(NAME_MAX - np::kTemporarySuffixMaxBytes + 1, 'n');
    const auto same = [&](const std::string& output, const std::string& input) {
        return "The output " + output + " is the same file as " + input + "; choose another output file.";
    };
    using Case = std::pair<std::string, std::string>; // output, sentence (empty: accepted)
    const Case cases[] = {
        {in, same(in, "the input " + in)},
        {folder / "link.wav", same(folder / "link.wav", "the input " + in)},
        {folder / "hard.wav", same(folder / "hard.wav", "the input " + in)},
        {(folder / "sub" / ".." / "take.wav").string(),
         same((folder / "sub" / ".." / "take.wav").string(), "the input " + in)},
        {script, same(script, "the input " + script)},
        {folder / "out.wav", ""},
        {folder / "new" / "out.wav", ""},
        {longName, "Could not write " + longName +
                       ": The destination's file name is too long: names of at most " +
                       std::to_string(NAME_MAX - np::kTemporarySuffixMaxBytes) + " bytes can be saved here"},
        {folder / "sub", "Could not write " + (folder / "sub").string() +
                             ": The destination exists but is not a regular file"},
    };
    for (const auto& [output, sentence] : cases) {
        SCOPED_TRACE(output);
        std::string error;
        EXPECT_EQ(checkOutputFile(output, {in, script}, error), sentence.empty());
        EXPECT_EQ(error, sentence);
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "new")) << "the check made a folder";
    // Standard input redirected from the take is the take.
    const int saved = ::dup(STDIN_FILENO);
    const int take = ::open(in.c_str(), O_RDONLY);
    ASSERT_GE(::dup2(take, STDIN_FILENO), 0);
    std::string error;
    const bool accepted = checkOutputFile(folder / "link.wav", {"-"}, error);
    ::dup2(saved, STDIN_FILENO);
    ::close(take);
    ::close(saved);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(error, same(folder / "link.wav", "standard input"));
}

// Every message that echoes a file name or a word writes its control bytes (C0, DEL, C1) and the bytes
// that are not UTF-8 as \xNN, so that a name cannot drive the terminal, and keeps well-formed UTF-8 as it
// is; JSON escapes the same name as JSON.
TEST(CliNames, EveryMessageEscapesTheControlBytesOfTheNamesItEchoes) {
    cvtest::ScratchFolder folder;
    const std::string raw = "t\x1B[31m\xC2\x9B\xFF\x7F\xC3\xA9.wav",
                      shown = "t\\x1B[31m\\xC2\\x9B\\xFF\\x7F\xC3\xA9.wav";
    const std::string path = folder / raw, named = (folder / "").string() + shown;
    const auto argsError = [](std::vector<std::string> args) { return parseArgs(args).error; };
    std::string error, text;
    LoadedAudio loaded;
    const auto read = [&](const std::string& file) {
        readAudioFile(file, Algorithm::Melodic, loaded, error);
        return error;
    };
    const auto script = [&](const std::string& file) {
        readEditScript(file, text, error);
        return error;
    };
    const auto output = [&](const std::string& file, const std::string& input) {
        checkOutputFile(file, {input}, error);
        return error;
    };
    np::AnalysisResult none;
    none.sampleRate = 48000.0;
    std::vector<std::pair<std::string, std::string>> rows{
        {read(path), "Could not read " + named + ": No such file or directory."},
        {script(path), "Could not read the edit script " + named + ": No such file or directory."},
        {truncatedFileNotice(raw, 1, 96000, 48000.0), "warning: " + shown + " is truncated: 0.00 s"},
        {replacedSamplesNotice(raw, 2), "2 samples of " + shown + " were"},
        {capturedPartNotice(raw, 1, 96000, 48000.0), "the first 0.0 s of " + shown + " (2.0 s)"},
        {formatReport(raw, Algorithm::Melodic, none, OutputFormat::Text), shown + ": 0 notes"},
        {formatReport(raw, Algorithm::Melodic, none, OutputFormat::Json),
         "{\"file\":\"t\\u001b[31m\xC2\x9B\\u00ff\x7F\xC3\xA9.wav\""},
        {cv::cli::formatDocumentNotes(raw, {}), shown + ": 0 notes"},
        {argsError({"analyse", "a.wav", "-" + raw}), "unknown option \"-" + shown + "\""},
        {argsError({"render", "a", "b", "--notes", raw}), "separated by commas, not \"" + shown + "\""},
        {argsError({raw}), "unknown command \"" + shown + "\""},
        {parseEditorArgs({"open", "a.wav", raw}).error, "too many files: \"" + shown + "\""},
    };
    std::filesystem::create_directory(path);
    rows.emplace_back(read(path), named + " is a folder, not an audio file.");
    rows.emplace_back(output(folder / raw / ".." / raw, path),
                      "The output " + named + "/../" + shown + " is the same file as the input " + named);
    for (const std::string command : {"analyse", "render", "host"}) {
        const auto [code, said] =
            runProgram("'" + path + "'" + (command == "analyse" ? "" : " out.wav"), "", command);
        EXPECT_EQ(code, 1);
        rows.emplace_back(said, "corvalinth: " + named + " is a folder, not an audio file.\n");
    }
    for (const auto& [message, expected] : rows) {
        SCOPED_TRACE(expected);
        EXPECT_NE(message.find(expected), std::string::npos) << message;
        if (!message.starts_with("{")) {
            EXPECT_EQ(message.find_first_of("\x1B\x7F\xFF"), std::string::npos) << message;
        }
    }
}

// Each command that writes a file checks its output before it reads a byte: the input here does not
// even exist, and the input of the other rows is left as it was.
TEST(CliCommands, RefuseABadOutputBeforeAnyWork) {
    cvtest::ScratchFolder folder;
    const std::string in = folder / "take.wav";
    writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, tone(1, 48000));
    const auto before = cvtest::contentsOf(in);
    cvtest::writeBytes(folder / "edit.txt", {'u', 'n', 'd', 'o'});
    const std::string longName = folder / (std::string(240, 'n') + ".wav");
    const std::string missing = folder / "missing.wav";
    const std::string tooLong = "The destination's file name is too long";
    const std::string dash = "The output cannot be \"-\": the result is written to a file, not to standard "
                             "output; name the file to write.";
    using Case = std::tuple<const char*, std::string, std::string>; // command, arguments, words
    for (const auto& [command, args, words] :
         {Case{"render", "'" + in + "' '" + in + "'", "is the same file as the input " + in},
          Case{"host",
               "'" + in + "' '" + (folder / "edit.txt").string() + "' --edit '" +
                   (folder / "edit.txt").string() + "'",
               "is the same file as the input " + (folder / "edit.txt").string()},
          Case{"screenshot", "'" + in + "' '" + (folder / "." / "take.wav").string() + "'",
               "is the same file as the input"},
          Case{"render", "'" + missing + "' '" + longName + "'", tooLong},
          Case{"host", "'" + missing + "' '" + longName + "'", tooLong},
          Case{"screenshot", "'" + missing + "' '" + longName + "'", tooLong},
          Case{"render", "'" + in + "' -", dash}, Case{"host", "'" + in + "' -", dash},
          Case{"screenshot", "'" + in + "' -", dash}}) {
        SCOPED_TRACE(args);
        const auto [code, output] = runProgram(args, "", command);
        EXPECT_EQ(code, 1);
        EXPECT_TRUE(output.starts_with("corvalinth: ")) << output;
        EXPECT_NE(output.find(words), std::string::npos) << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    }
    EXPECT_EQ(cvtest::contentsOf(in), before);
    EXPECT_EQ(cvtest::contentsOf(folder / "edit.txt"), (std::vector<std::uint8_t>{'u', 'n', 'd', 'o'}));
}

} // namespace
