#include "engine/audio/audio_buffer.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace {

void expectRefused(int channels, std::int64_t frames) {
    np::AudioBuffer buffer;
    buffer.resize(1, 4);
    buffer.samples[2] = 0.5f;
    try {
        buffer.resize(channels, frames);
        FAIL() << "resize accepted an out-of-range shape";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "Audio buffer exceeds Corvalinth resource limits");
    }
    // A refused resize leaves the previous contents in place.
    EXPECT_EQ(buffer.channels, 1);
    EXPECT_EQ(buffer.frames, 4);
    ASSERT_EQ(buffer.samples.size(), 4u);
    EXPECT_EQ(buffer.samples[2], 0.5f);
}

TEST(AudioBuffer, ResizeRefusesShapesOutsideTheLimits) {
    SCOPED_TRACE("one frame more than 2^27 samples in stereo");
    expectRefused(2, 67108865);
    expectRefused(3, 1);
    expectRefused(-1, 1);
    expectRefused(1, -1);
    expectRefused(1, 134217729);
    EXPECT_THROW(np::AudioBuffer::fromInterleaved(nullptr, 3, 1), std::length_error);
}

TEST(AudioBuffer, ResizeAcceptsTheExactLimitAndZeroChannels) {
    np::AudioBuffer buffer;
    buffer.resize(2, 67108864);
    EXPECT_EQ(buffer.samples.size(), 134217728u);
    buffer.resize(0, 1000);
    EXPECT_TRUE(buffer.samples.empty());
    EXPECT_EQ(buffer.channels, 0);
    EXPECT_EQ(buffer.frames, 1000);
}

TEST(AudioBuffer, MixdownAveragesCopiesOrZeroes) {
    np::AudioBuffer stereo;
    stereo.resize(2, 3);
    std::fill(stereo.samples.begin(), stereo.samples.begin() + 3, 1.0f);
    std::fill(stereo.samples.begin() + 3, stereo.samples.end(), 3.0f);
    std::vector<float> out(3, -1.0f);
    stereo.mixdownToMono(out);
    EXPECT_EQ(out, (std::vector<float>{2.0f, 2.0f, 2.0f}));

    const std::vector<float> interleaved{0.25f, -0.5f, 0.75f};
    const auto mono = np::AudioBuffer::fromInterleaved(interleaved.data(), 1, 3);
    mono.mixdownToMono(out);
    EXPECT_EQ(out, interleaved);

    np::AudioBuffer empty;
    empty.resize(0, 3);
    out.assign(5, 7.0f);
    empty.mixdownToMono(out);
    EXPECT_EQ(out, std::vector<float>(5, 0.0f));
}

TEST(AudioBuffer, MixdownRefusesATooShortTarget) {
    np::AudioBuffer stereo;
    stereo.resize(2, 8);
    std::vector<float> out(7);
    EXPECT_THROW(stereo.mixdownToMono(out), std::length_error);
}

TEST(AudioBuffer, FromInterleavedDeinterleaves) {
    const std::vector<float> data{1, 2, 3, 4, 5, 6};
    const auto buffer = np::AudioBuffer::fromInterleaved(data.data(), 2, 3);
    EXPECT_EQ(buffer.samples, (std::vector<float>{1, 3, 5, 2, 4, 6}));
    EXPECT_EQ(buffer.channel(1)[0], 2.0f);
}

} // namespace
