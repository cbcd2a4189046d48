#include "host/cli_args.h"
#include "host/cli_audio_file.h"
#include "host/cli_report.h"
#include "tests/support/signals.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace cv::cli;

TEST(CliArgs, AcceptsTheAnalyseCommandAndItsOptions) {
    using Parsed = std::tuple<std::string, Algorithm, OutputFormat>;
    const std::pair<std::vector<std::string>, Parsed> cases[] = {
        {{"analyse", "take.wav"}, {"take.wav", Algorithm::Melodic, OutputFormat::Text}},
        {{"analyse", "--json", "--algorithm", "percussive", "d.flac"},
         {"d.flac", Algorithm::Percussive, OutputFormat::Json}},
        {{"analyse", "x.aiff", "--algorithm=melodic"}, {"x.aiff", Algorithm::Melodic, OutputFormat::Text}},
    };
    for (const auto& [args, expected] : cases) {
        const ParsedArgs p = parseArgs(args);
        ASSERT_TRUE(p.command) << p.error;
        EXPECT_EQ(Parsed(p.command->file, p.command->algorithm, p.command->format), expected);
    }
}

TEST(CliArgs, RefusesMalformedCommandsWithOneLine) {
    const std::vector<std::vector<std::string>> bad{
        {},
        {"render", "a.wav"},
        {"analyse"},
        {"analyse", "a.wav", "b.wav"},
        {"analyse", "a.wav", "--algorithm"},
        {"analyse", "a.wav", "--algorithm", "polyphonic"},
        {"analyse", "a.wav", "--verbose"},
    };
    for (const auto& args : bad) {
        const ParsedArgs p = parseArgs(args);
        EXPECT_FALSE(p.command);
        EXPECT_FALSE(p.error.empty());
        EXPECT_EQ(p.error.find('\n'), std::string::npos) << p.error;
    }
}

class TempDir {
public:
    TempDir() { std::filesystem::create_directories(path_); }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_ =
        std::filesystem::temp_directory_path() / ("cv_cli_test_" + std::to_string(::getpid()));
};

// Writes frames of a 440 Hz tone, channel c at (c + 1) / 2 of amplitude 0.5, or of silence.
void writeFile(const std::string& path, int format, int channels, int rate, sf_count_t frames,
               bool tone = true) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const std::vector<float> wave = tone ? cvtest::sine(440.0, rate, frames, 0.5f) : cvtest::silence(frames);
    std::vector<float> interleaved;
    for (float s : wave)
        for (int c = 0; c < channels; ++c)
            interleaved.push_back(s * static_cast<float>(c + 1) * 0.5f);
    ASSERT_EQ(sf_writef_float(file, interleaved.data(), frames), frames);
    sf_close(file);
}

TEST(CliAudioFile, ReadsMonoAndStereoInEachContainer) {
    TempDir dir;
    const std::tuple<const char*, int, int> cases[] = {{"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1},
                                                       {"b.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2},
                                                       {"c.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2},
                                                       {"d.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1}};
    const std::vector<float> tone = cvtest::sine(440.0, 44100.0, 100000, 0.5f);
    for (const auto& [name, format, channels] : cases) {
        SCOPED_TRACE(name);
        writeFile(dir.file(name), format, channels, 44100, 100000);
        LoadedAudio loaded;
        std::string error;
        ASSERT_TRUE(readAudioFile(dir.file(name), loaded, error)) << error;
        EXPECT_EQ(loaded.sampleRate, 44100.0);
        EXPECT_EQ(loaded.audio.channels, channels);
        EXPECT_EQ(loaded.audio.frames, 100000);
        // Planar: the second channel holds twice the first (tolerance: 16-bit quantisation).
        EXPECT_NEAR(loaded.audio.channel(0)[99999], tone[99999] * 0.5f, 1e-4f);
        if (channels == 2) {
            EXPECT_NEAR(loaded.audio.channel(1)[1234], tone[1234], 1e-4f);
        }
    }
}

// Runs the program on path; returns its exit code and what it wrote to the error stream.
std::pair<int, std::string> runProgram(const std::string& path) {
    const std::string command = std::string(CV_CLI_PROGRAM) + " analyse '" + path + "' 2>&1 >/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    for (int c; (c = std::fgetc(pipe)) != EOF;)
        output.push_back(static_cast<char>(c));
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(CliAudioFile, RefusesFilesOutsideTheLimitsWithOneLineAndExitCodeOne) {
    TempDir dir;
    writeFile(dir.file("three.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 48000, 1000);
    writeFile(dir.file("slow.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 7000, 1000);
    writeFile(dir.file("empty.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, 0);
    writeFile(dir.file("long.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 8000, 9600800, false); // 1200.1 s
    std::FILE* junk = std::fopen(dir.file("junk.wav").c_str(), "wb");
    std::fputs("this is not audio at all", junk);
    std::fclose(junk);
    for (const auto& [name, words] :
         {std::pair{"three.wav", "3 channels"}, std::pair{"slow.wav", "7000 Hz"},
          std::pair{"empty.wav", "no audio"}, std::pair{"long.wav", "lasts 1200.1 s"},
          std::pair{"junk.wav", "Could not read"}, std::pair{"missing.wav", "Could not read"}}) {
        SCOPED_TRACE(name);
        LoadedAudio loaded;
        std::string error;
        EXPECT_FALSE(readAudioFile(dir.file(name), loaded, error));
        EXPECT_NE(error.find(words), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_EQ(loaded.audio.frames, 0);
        EXPECT_EQ(runProgram(dir.file(name)), std::pair(1, "corvalinth: " + error + "\n"));
    }
}

np::AnalysisResult twoNotes() {
    np::AnalysisResult r;
    r.notes = {{.start = 4800,
                .end = 28800,
                .pitch = 60.96,
                .pitchCurve = {},
                .levelCurve = {},
                .pitchConfidence = 0.9f,
                .pitched = true},
               {.start = 48000, .end = 52800, .pitchCurve = {}, .levelCurve = {}}};
    r.polyphonyScore = 0.3f;
    return r;
}

TEST(CliReport, TextListsEachNoteAndWarnsOfSeveralVoices) {
    const std::string text = formatReport("take.wav", Algorithm::Melodic, twoNotes(), OutputFormat::Text);
    for (const char* line : {"    1     0.100     0.500   60.96  C#4", "    2     1.000     0.100   60.00  -",
                             "Several-voices score: 0.30",
                             "Corvalinth detected more than one voice. Chords may not edit reliably."})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST(CliReport, JsonIsOneObjectWithEscapedStrings) {
    const std::string json =
        formatReport("odd \"name\"\\.wav", Algorithm::Percussive, twoNotes(), OutputFormat::Json);
    EXPECT_EQ(json.rfind("{\"file\":\"odd \\\"name\\\"\\\\.wav\",\"algorithm\":\"percussive\"", 0), 0u)
        << json;
    EXPECT_NE(json.find("{\"id\":1,\"start\":0.100000,\"length\":0.500000,\"pitch\":60.9600,\"name\":\"C#4\","
                        "\"confidence\":0.9000,\"pitched\":true}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"severalVoicesScore\":0.3000}"), std::string::npos);
    EXPECT_EQ(jsonEscape("a\x01z"), "a\\u0001z");
}

} // namespace
