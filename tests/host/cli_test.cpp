#include "host/cli_args.h"
#include "host/cli_audio_file.h"
#include "host/cli_report.h"
#include "tests/support/signals.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

namespace {

using namespace cv::cli;

TEST(CliArgs, AcceptsTheAnalyseCommandAndItsOptions) {
    ParsedArgs p = parseArgs({"analyse", "take.wav"});
    ASSERT_TRUE(p.command);
    EXPECT_EQ(p.command->file, "take.wav");
    EXPECT_EQ(p.command->algorithm, Algorithm::Melodic);
    EXPECT_EQ(p.command->format, OutputFormat::Text);

    p = parseArgs({"analyse", "--json", "--algorithm", "percussive", "drums.flac"});
    ASSERT_TRUE(p.command);
    EXPECT_EQ(p.command->file, "drums.flac");
    EXPECT_EQ(p.command->algorithm, Algorithm::Percussive);
    EXPECT_EQ(p.command->format, OutputFormat::Json);

    p = parseArgs({"analyse", "x.aiff", "--algorithm=melodic"});
    ASSERT_TRUE(p.command);
    EXPECT_EQ(p.command->algorithm, Algorithm::Melodic);
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
        SCOPED_TRACE(args.empty() ? std::string("(none)") : args.back());
        const ParsedArgs p = parseArgs(args);
        EXPECT_FALSE(p.command);
        EXPECT_FALSE(p.error.empty());
        EXPECT_EQ(p.error.find('\n'), std::string::npos);
    }
}

class TempDir {
public:
    TempDir()
        : path_(std::filesystem::temp_directory_path() / ("cv_cli_test_" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Writes frames of a 440 Hz tone in every channel.
void writeFile(const std::string& path, int format, int channels, int rate, sf_count_t frames) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const std::vector<float> tone = cvtest::sine(440.0, rate, frames, 0.5f);
    std::vector<float> interleaved;
    for (float s : tone)
        for (int c = 0; c < channels; ++c)
            interleaved.push_back(s * static_cast<float>(c + 1) * 0.5f);
    ASSERT_EQ(sf_writef_float(file, interleaved.data(), frames), frames);
    sf_close(file);
}

TEST(CliAudioFile, ReadsMonoAndStereoInEachContainer) {
    TempDir dir;
    struct Case {
        const char* name;
        int format;
        int channels;
    };
    const Case cases[] = {{"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1},
                          {"b.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2},
                          {"c.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2},
                          {"d.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.file(c.name), c.format, c.channels, 44100, 100000);
        LoadedAudio loaded;
        std::string error;
        ASSERT_TRUE(readAudioFile(dir.file(c.name), loaded, error)) << error;
        EXPECT_EQ(loaded.sampleRate, 44100.0);
        EXPECT_EQ(loaded.audio.channels, c.channels);
        EXPECT_EQ(loaded.audio.frames, 100000);
        // Planar: the second channel holds twice the first (tolerance: 16-bit quantisation).
        const std::vector<float> tone = cvtest::sine(440.0, 44100.0, 100000, 0.5f);
        EXPECT_NEAR(loaded.audio.channel(0)[99999], tone[99999] * 0.5f, 1e-4f);
        if (c.channels == 2) {
            EXPECT_NEAR(loaded.audio.channel(1)[1234], tone[1234], 1e-4f);
        }
    }
}

TEST(CliAudioFile, RefusesFilesOutsideTheLimits) {
    TempDir dir;
    writeFile(dir.file("three.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 48000, 1000);
    writeFile(dir.file("slow.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 7000, 1000);
    writeFile(dir.file("empty.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, 0);
    {
        std::FILE* junk = std::fopen(dir.file("junk.wav").c_str(), "wb");
        std::fputs("this is not audio at all", junk);
        std::fclose(junk);
    }
    struct Case {
        const char* name;
        const char* expectedWords;
    };
    for (const Case c :
         {Case{"three.wav", "3 channels"}, Case{"slow.wav", "7000 Hz"}, Case{"empty.wav", "no audio"},
          Case{"junk.wav", "Could not read"}, Case{"missing.wav", "Could not read"}}) {
        SCOPED_TRACE(c.name);
        LoadedAudio loaded;
        std::string error;
        EXPECT_FALSE(readAudioFile(dir.file(c.name), loaded, error));
        EXPECT_NE(error.find(c.expectedWords), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_EQ(loaded.audio.frames, 0);
    }
}

np::AnalysisResult twoNotes() {
    np::AnalysisResult r;
    np::NoteEvent a;
    a.start = 4800;
    a.end = 28800;
    a.pitch = 60.96;
    a.pitchConfidence = 0.9f;
    a.pitched = true;
    np::NoteEvent b;
    b.start = 48000;
    b.end = 52800;
    r.notes = {a, b};
    r.polyphonyScore = 0.3f;
    return r;
}

TEST(CliReport, TextListsEachNoteAndWarnsOfSeveralVoices) {
    const std::string text = formatReport("take.wav", Algorithm::Melodic, twoNotes(), OutputFormat::Text);
    EXPECT_NE(text.find("    1     0.100     0.500   60.96  C#4"), std::string::npos) << text;
    EXPECT_NE(text.find("    2     1.000     0.100   60.00  -"), std::string::npos) << text;
    EXPECT_NE(text.find("Several-voices score: 0.30"), std::string::npos);
    EXPECT_NE(text.find("Corvalinth detected more than one voice. Chords may not edit reliably."),
              std::string::npos);
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
    EXPECT_EQ(jsonEscape(std::string("a\x01"
                                     "b")),
              "a\\u0001b");
}

} // namespace
