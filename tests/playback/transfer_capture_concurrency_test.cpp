#include "engine/playback/transfer_capture.h"
#include "tests/playback/position_code.h"
#include "tests/support/alloc_counter.h"

#include <array>
#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

using np::TransferCapture;
using State = TransferCapture::State;

constexpr std::int64_t kCapacity = 16000; // 2 s at 8 kHz

// A simulated host plays blocks of random sizes with transport stops and timeline jumps, while the main
// thread arms, stops and takes captures at random moments. Every capture must hold the input exactly as
// it came in from its start, and the audio thread must never allocate or free.
TEST(TransferCapture, CapturesRacingStopsAndTakesHoldTheInputExactly) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 8000.0, kCapacity / 8000.0));
    std::atomic<bool> done{false};
    cvtest::AllocationCounts audioCounts;
    std::thread host([&] {
        std::mt19937 random(2024);
        const std::array<int, 6> sizes{1, 17, 64, 512, 4096, 333};
        cvtest::Planes input(2, 4096);
        cvtest::ScopedAllocationCounter counter;
        for (std::int64_t position = 0; !done.load();) {
            const int n = sizes[random() % sizes.size()];
            const auto event = random() % 100; // 3 %: stopped; 3 %: a jump
            position += event >= 3 && event < 6 ? 777 : 0;
            capture.process(input.coded(position, n), 2, n, event >= 3, position);
            position += n;
        }
        audioCounts = counter.counts();
    });
    std::mt19937 random(7);
    std::array<int, 5> reasons{};
    const auto run = [&] {
        for (int taken = 0; taken < 200;) {
            const State state = capture.state();
            if (state == State::Idle) {
                ASSERT_TRUE(capture.arm(0));
            } else if (state == State::Done) {
                const auto result = capture.takeCapture();
                ASSERT_NE(result, nullptr);
                ++taken;
                ++reasons.at(static_cast<std::size_t>(result->endReason));
                ASSERT_LE(result->audio.frames, kCapacity);
                for (int c = 0; c < 2; ++c)
                    for (std::int64_t k = 0; k < result->audio.frames; ++k)
                        ASSERT_EQ(result->audio.channel(c)[static_cast<std::size_t>(k)],
                                  cvtest::positionCode(c, result->startPosition + k))
                            << "capture " << taken << ", channel " << c << ", frame " << k;
            } else if (random() % 2000 == 0) {
                capture.cancel(); // between blocks or racing the one being written
            } else {
                std::this_thread::yield();
            }
        }
    };
    run();
    done.store(true);
    host.join();
    EXPECT_EQ(reasons[0], 0) << "every capture ends for a reason";
    EXPECT_EQ(audioCounts.allocations + audioCounts.frees, 0u);
}

// The main thread keeps pages backed ahead of the recording, as the idle loop does, while the audio
// thread writes next to them: the capture holds the input exactly and the two threads never race.
TEST(TransferCapture, PrefaultingAheadWhileRecordingKeepsTheInputExactly) {
    constexpr std::int64_t kFrames = 480000; // 60 s at 8 kHz, with a lead of 16000 frames
    constexpr int kBlock = 333;
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 8000.0, 60.0));
    ASSERT_TRUE(capture.arm(0));
    std::thread host([&] {
        cvtest::Planes input(2, kBlock);
        for (std::int64_t position = 0; capture.state() != State::Done; position += kBlock)
            capture.process(input.coded(position, kBlock), 2, kBlock, true, position);
    });
    while (capture.state() != State::Done) {
        capture.prefaultAhead();
        std::this_thread::yield();
    }
    host.join();
    const auto taken = capture.takeCapture();
    ASSERT_NE(taken, nullptr);
    ASSERT_EQ(std::pair(taken->audio.frames, taken->endReason),
              std::pair(kFrames, TransferCapture::EndReason::BufferFull));
    for (int c = 0; c < 2; ++c)
        for (std::int64_t k = 0; k < kFrames; ++k)
            ASSERT_EQ(taken->audio.channel(c)[static_cast<std::size_t>(k)], cvtest::positionCode(c, k))
                << "channel " << c << ", frame " << k;
}

} // namespace
