#include "engine/audio/audio_buffer.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

TEST(AudioBuffer, ResizeTakesShapesUpToTheLimitAndRefusesOthersKeepingTheContents) {
    np::AudioBuffer buffer;
    buffer.resize(2, 67108864); // exactly 2^27 samples
    EXPECT_EQ(buffer.samples.size(), 134217728u);
    buffer.resize(0, 1000);
    EXPECT_TRUE(buffer.samples.empty());
    EXPECT_EQ(buffer.frames, 1000);

    buffer.resize(1, 4);
    buffer.samples[2] = 0.5f;
    const std::pair<int, std::int64_t> refused[] = {{2, 67108865}, {3, 1}, {-1, 1}, {1, -1}, {1, 134217729}};
    for (const auto& [channels, frames] : refused) {
        SCOPED_TRACE(testing::Message() << channels << " x " << frames);
        try {
            buffer.resize(channels, frames);
            ADD_FAILURE() << "resize accepted an out-of-range shape";
        } catch (const std::length_error& e) {
            EXPECT_STREQ(e.what(), "Audio buffer exceeds Corvalinth resource limits");
        }
        EXPECT_EQ(buffer.channels, 1);
        EXPECT_EQ(buffer.samples, (std::vector<float>{0.0f, 0.0f, 0.5f, 0.0f}));
    }
    EXPECT_THROW(np::AudioBuffer::fromInterleaved(nullptr, 3, 1), std::length_error);
}

TEST(AudioBuffer, DeinterleavesAndMixesDownToMono) {
    const std::vector<float> data{1, 3, 2, 6, 3, 9};
    const auto stereo = np::AudioBuffer::fromInterleaved(data.data(), 2, 3);
    EXPECT_EQ(stereo.samples, (std::vector<float>{1, 2, 3, 3, 6, 9}));
    std::vector<float> out(3, -1.0f);
    stereo.mixdownToMono(out);
    EXPECT_EQ(out, (std::vector<float>{2.0f, 4.0f, 6.0f}));

    const std::vector<float> interleaved{0.25f, -0.5f, 0.75f};
    np::AudioBuffer::fromInterleaved(interleaved.data(), 1, 3).mixdownToMono(out);
    EXPECT_EQ(out, interleaved);

    np::AudioBuffer empty;
    empty.resize(0, 3);
    out.assign(5, 7.0f);
    empty.mixdownToMono(out);
    EXPECT_EQ(out, std::vector<float>(5, 0.0f));
    out.resize(2);
    EXPECT_THROW(stereo.mixdownToMono(out), std::length_error) << "a target shorter than the audio";
}
