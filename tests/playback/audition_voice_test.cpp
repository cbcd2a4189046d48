#include "engine/playback/audition_voice.h"
#include "tests/playback/position_code.h"
#include "tests/support/alloc_counter.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace {

using np::AudioBuffer;
using np::AuditionVoice;

constexpr double kHalfPi = std::numbers::pi / 2.0;
constexpr std::int64_t kFade = 240; // 5 ms at 48 kHz

std::unique_ptr<AudioBuffer> ramp(std::int64_t frames) {
    auto buffer = std::make_unique<AudioBuffer>();
    buffer->resize(1, frames);
    for (std::int64_t i = 0; i < frames; ++i)
        buffer->samples[static_cast<std::size_t>(i)] = static_cast<float>(i);
    return buffer;
}

std::unique_ptr<AudioBuffer> constant(float value) {
    auto buffer = std::make_unique<AudioBuffer>();
    buffer->resize(1, 24000);
    std::fill(buffer->samples.begin(), buffer->samples.end(), value);
    return buffer;
}

// A minimal audio thread: the host's output is 0 on channel 0 and 1 on channel 1, so channel 0 shows
// the voice (its sample times its level) and channel 1 minus channel 0 the duck. Runs `frames` frames in
// blocks and counts what the processReplace calls allocate or free.
struct Host {
    std::vector<std::vector<float>> run(AuditionVoice& voice, std::int64_t frames, int block) {
        std::vector<std::vector<float>> recorded(2);
        cvtest::Planes out(2, block);
        for (std::int64_t done = 0; done < frames; done += block) {
            const int n = static_cast<int>(std::min<std::int64_t>(block, frames - done));
            std::fill_n(out.data[0].begin(), n, 0.0f);
            std::fill_n(out.data[1].begin(), n, 1.0f);
            {
                cvtest::ScopedAllocationCounter counter;
                voice.processReplace(out.pointers.data(), 2, n);
                touched += counter.counts().allocations + counter.counts().frees;
            }
            for (std::size_t c = 0; c < 2; ++c)
                recorded[c].insert(recorded[c].end(), out.data[c].begin(), out.data[c].begin() + n);
        }
        return recorded;
    }
    std::uint64_t touched = 0;
};

TEST(AuditionVoice, LoopsTheMiddleTwoThirdsAcrossAnEqualPowerSeam) {
    const struct {
        std::int64_t frames, loopStart, loopEnd;
    } cases[] = {{120000, 20000, 100000}, // 2.5 s: continues at 21440 after frame 99999
                 {30000, 5000, 25000},    // the middle 20000 frames hold four seams
                 {6000, 0, 6000}};        // too short a middle: the whole buffer loops
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frames);
        AuditionVoice voice;
        voice.prepare(48000.0);
        voice.setSource(ramp(c.frames));
        Host host;
        const std::int64_t length = c.loopEnd - c.loopStart, seam = std::min<std::int64_t>(1440, length / 2);
        const std::vector<float> out = host.run(voice, length + 2, 512)[0];
        // After the fade-in the buffer plays from loopStart.
        for (std::int64_t j = kFade + 1; j < length - seam; j += 97)
            ASSERT_EQ(out[static_cast<std::size_t>(j)], static_cast<float>(c.loopStart + j));
        // The loop's last frames blend toward the frames after loopStart.
        const std::int64_t d = seam / 2;
        const double u = static_cast<double>(d) / static_cast<double>(seam) * kHalfPi;
        EXPECT_NEAR(out[static_cast<std::size_t>(length - seam + d)],
                    (c.loopStart + d) * std::sin(u) + (c.loopEnd - seam + d) * std::cos(u), 0.01);
        // ...and after the loop's last frame playback continues where the seam left off.
        EXPECT_EQ(out[static_cast<std::size_t>(length)], static_cast<float>(c.loopStart + seam));
        EXPECT_EQ(out[static_cast<std::size_t>(length + 1)], static_cast<float>(c.loopStart + seam + 1));
    }
}

TEST(AuditionVoice, CrossFadesFadesOutAndRetiresEveryBufferOnceWithoutAllocating) {
    for (const int block : {1, 17, 64, 512, 4096}) {
        SCOPED_TRACE(block);
        AuditionVoice voice;
        voice.prepare(48000.0);
        Host host;
        // Idle with the host fully in: the output is left as it is.
        EXPECT_EQ(host.run(voice, 100, block)[1], std::vector<float>(100, 1.0f));

        voice.setSource(constant(0.5f));
        std::vector<std::vector<float>> out = host.run(voice, 600, block);
        EXPECT_TRUE(voice.sounding());
        EXPECT_NEAR(out[0][kFade / 2], 0.25f, 0.01f) << "halfway through the fade-in: no click at the start";
        EXPECT_EQ(out[0].back(), 0.5f) << "faded in";
        EXPECT_EQ(out[1].back(), 0.5f) << "the host ducked out";

        // A newer buffer cross-fades in over 10 ms with quarter-sine gains; one more arrives midway.
        voice.setSource(constant(0.25f));
        out = host.run(voice, 240, block);
        EXPECT_NEAR(out[0][239],
                    0.5 * std::cos(239.0 / 480 * kHalfPi) + 0.25 * std::sin(239.0 / 480 * kHalfPi), 1e-4);
        voice.setSource(constant(0.25f));
        host.run(voice, 100, block);

        // Clear while cross-fading: the voice fades out over 5 ms, then the host comes back over 5 ms.
        voice.clear();
        out = host.run(voice, 3 * kFade, block);
        const auto voiced = [&](std::int64_t i) { return out[0][static_cast<std::size_t>(i)]; };
        const auto duck = [&](std::int64_t i) { return out[1][static_cast<std::size_t>(i)] - voiced(i); };
        EXPECT_GT(voiced(kFade - 2), 0.0f);
        EXPECT_EQ(voiced(kFade + 1), 0.0f);
        EXPECT_NEAR(duck(kFade + kFade / 2), 0.5f, 0.01f);
        EXPECT_EQ(duck(2 * kFade + 2), 1.0f);
        EXPECT_FALSE(voice.sounding());

        EXPECT_EQ(voice.drainRetired(), 3) << "each of the three buffers, once";
        EXPECT_EQ(voice.outstanding(), 0);

        // A buffer that arrives while the voice fades out fades it in again instead of going silent.
        voice.setSource(constant(0.5f));
        host.run(voice, 600, block);
        voice.clear();
        host.run(voice, kFade / 2, block);
        voice.setSource(constant(0.25f));
        out = host.run(voice, 600, block);
        EXPECT_TRUE(voice.sounding());
        EXPECT_EQ(out[0].back(), 0.25f) << "faded in again";
        EXPECT_EQ(out[1].back(), 0.25f) << "the host stays ducked out";
        EXPECT_EQ(host.touched, 0u) << "allocations or frees on the audio thread";
    }
}

} // namespace
