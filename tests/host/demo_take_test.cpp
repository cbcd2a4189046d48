#include "host/cli_audio_file.h"
#include "host/cli_run.h"
#include "tools/demo_take.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

// The demonstration take goes through the whole front end: written as a WAV file, read back, analysed
// on the worker. Every generated note must be found exactly once, its start within 30 ms and its
// pitch within 20 cents (what a user of the editor would call "right").
TEST(DemoTake, FrontEndFindsEveryGeneratedNote) {
    const cvdemo::DemoTake take = cvdemo::makeDemoTake();
    const std::string path =
        (std::filesystem::temp_directory_path() / ("cv_demo_take_" + std::to_string(::getpid()) + ".wav"))
            .string();
    SF_INFO info{0, static_cast<int>(take.sampleRate), 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_float(file, take.mono.data(), static_cast<sf_count_t>(take.mono.size()));
    sf_close(file);

    cv::cli::LoadedAudio loaded;
    std::string error;
    ASSERT_TRUE(cv::cli::readAudioFile(path, cv::cli::Algorithm::Melodic, loaded, error)) << error;
    std::filesystem::remove(path);
    np::AnalysisResult result;
    float lastProgress = 0.0f;
    ASSERT_TRUE(cv::cli::runAnalysis(
        std::move(loaded), cv::cli::Algorithm::Melodic, [&](float f) { lastProgress = f; }, result, error))
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
