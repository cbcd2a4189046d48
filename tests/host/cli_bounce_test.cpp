#include "engine/io/wav_export.h"
#include "host/cli_bounce.h"
#include "host/cli_render.h"
#include "host/standin/input_source.h"
#include "tests/host/standin/test_gain_plugin.h"
#include "tests/io/storage_test_folder.h"
#include "tests/support/signals.h"

#include <gtest/gtest.h>
#include <sndfile.h>

namespace {

using cvtest::TestGainPlugin;

std::unique_ptr<cv::standin::StandinHost> gainHost(const std::shared_ptr<const np::AudioBuffer>& track) {
    auto host = std::make_unique<cv::standin::StandinHost>(std::make_unique<TestGainPlugin>());
    host->configure({48000.0, 2048, 2, 2});
    host->automate(TestGainPlugin::kGain, 70.0, 0); // outputs that float does not hold
    host->setInput(std::make_shared<cv::standin::TrackSource>(track));
    return host;
}

// The host command's bounce, coded as it plays, holds the very bytes WAV export writes for the float
// bounce scaled for the writer, at each output depth: loud stereo through a gain, in blocks larger and
// smaller than the coding step, past the track's end.
TEST(CliBounce, CodesTheBounceAsTheExportCodesTheScaledFloatBounce) {
    auto take = std::make_shared<np::AudioBuffer>();
    take->resize(2, 6000);
    const auto loud = cvtest::sine(330.0, 48000.0, 6000, 1.8f);
    for (std::size_t i = 0; i < loud.size(); ++i) {
        take->channel(0)[i] = loud[i];
        take->channel(1)[i] = -0.6f * loud[i] + 1e-7f * static_cast<float>(i);
    }
    const std::shared_ptr<const np::AudioBuffer> track = take;
    const auto script = cv::standin::randomFrames(0, 1, 1500, 12, 5);
    std::int64_t frames = 0;
    for (const auto& block : script)
        frames += block.frames;
    ASSERT_GT(frames, 6000);
    cvtest::ScratchFolder folder;
    for (const int coding : {SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT}) {
        SCOPED_TRACE(coding);
        const int format = SF_FORMAT_WAV | coding;
        const np::WavBitDepth depth =
            coding == SF_FORMAT_FLOAT ? np::WavBitDepth::Float32 : cv::cli::renderDepth(format);
        const np::WavData data =
            cv::cli::bounceToWavData(*gainHost(track), script, 2, depth, cv::cli::writerScale(format));
        ASSERT_EQ(data.frames(), frames);

        cv::standin::FloatRecording bounced = gainHost(track)->bounceToFloat(script);
        np::AudioBuffer audio;
        audio.channels = bounced.channels;
        audio.frames = bounced.frames;
        audio.samples = std::move(bounced.samples);
        cv::cli::matchWriterScale(audio, format);
        std::string error;
        ASSERT_TRUE(np::saveWav(folder / "data.wav", data, 48000.0, &error)) << error;
        ASSERT_TRUE(np::saveWav(folder / "audio.wav", audio, 48000.0, depth, &error)) << error;
        EXPECT_EQ(cvtest::contentsOf(folder / "data.wav"), cvtest::contentsOf(folder / "audio.wav"));
    }
}

} // namespace
