#include "engine/playback/audition_voice.h"
#include "tests/playback/position_code.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

namespace {

using np::AudioBuffer;
using np::AuditionVoice;

// The main thread hands buffers over and clears while the audio thread plays and a third thread resets
// the audio configuration. Every buffer holds a constant of magnitude 0.5 and the host's output is 0,
// so any sound outside +-1 (two equal-power blends at most double a sample) shows a torn hand-over or a
// buffer read after it was freed.
TEST(AuditionVoiceConcurrency, HandsOverClearsAndResetsWhileTheAudioThreadPlays) {
    AuditionVoice voice;
    std::atomic<bool> done{false};
    std::atomic<int> badSamples{0};
    std::thread audio([&] {
        cvtest::Planes out(2, 64);
        while (!done.load()) {
            std::fill(out.data[0].begin(), out.data[0].end(), 0.0f);
            std::fill(out.data[1].begin(), out.data[1].end(), 0.0f);
            voice.processReplace(out.pointers.data(), 2, 64);
            for (const auto& plane : out.data)
                for (const float v : plane)
                    if (!(std::abs(v) <= 1.0f + 1e-5f))
                        ++badSamples;
        }
    });
    std::thread reset([&] {
        for (int i = 0; !done.load(); ++i)
            voice.prepare(i % 2 == 0 ? 44100.0 : 48000.0);
    });
    for (int i = 0; i < 3000; ++i) {
        if (i % 3 == 2) {
            voice.clear();
        } else {
            auto buffer = std::make_unique<AudioBuffer>();
            buffer->resize(1, 3000);
            std::fill(buffer->samples.begin(), buffer->samples.end(), i % 2 == 0 ? 0.5f : -0.5f);
            voice.setSource(std::move(buffer));
        }
        voice.drainRetired();
    }
    done.store(true);
    audio.join();
    reset.join();
    voice.drainRetired();
    EXPECT_EQ(badSamples.load(), 0);
}

} // namespace
