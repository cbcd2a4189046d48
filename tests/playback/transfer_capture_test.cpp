#include "engine/playback/transfer_capture.h"
#include "tests/playback/capture_host.h"
#include "tests/support/alloc_counter.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using np::TransferCapture;
using State = TransferCapture::State;
using EndReason = TransferCapture::EndReason;
using ArmStatus = TransferCapture::ArmStatus;
using cvtest::positionCode;

constexpr std::uint64_t kMiB = 1024 * 1024;

// Feeds one position-coded block of `channels` input planes.
void feed(TransferCapture& capture, int channels, std::int64_t position, int frames, bool running = true) {
    cvtest::CodedInput input(channels, frames);
    capture.process(input.fill(position, frames), channels, frames, running, position);
}

void expectCoded(const TransferCapture::Capture& taken, int sourceChannels) {
    for (int c = 0; c < taken.audio.channels; ++c) {
        const auto plane = taken.audio.channel(c);
        for (std::int64_t k = 0; k < taken.audio.frames; ++k) {
            const float expected = positionCode(std::min(c, sourceChannels - 1), taken.startPosition + k);
            ASSERT_EQ(plane[static_cast<std::size_t>(k)], expected) << "channel " << c << " frame " << k;
        }
    }
}

TEST(TransferCapture, PrepareValidatesSettingsAndSizesTheLimits) {
    TransferCapture capture;
    {
        SCOPED_TRACE("1200 s of stereo at 48 kHz is bounded by the 192 MiB buffer");
        ASSERT_TRUE(capture.prepare(2, 48000.0, 1200.0));
        EXPECT_EQ(capture.timeLimitFrames(), 57600000);
        EXPECT_EQ(capture.capacityFrames(), 25165824);
        EXPECT_TRUE(capture.memoryLimited());
        EXPECT_EQ(capture.armStatus(), ArmStatus::Ok);
    }
    {
        SCOPED_TRACE("a short mono capture is bounded by time; seconds are capped at 1200");
        ASSERT_TRUE(capture.prepare(1, 8000.0, 10.0));
        EXPECT_EQ(capture.capacityFrames(), 80000);
        EXPECT_FALSE(capture.memoryLimited());
        ASSERT_TRUE(capture.prepare(1, 8000.0, 5000.0));
        EXPECT_EQ(capture.timeLimitFrames(), 9600000);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Bad {
        int channels;
        double rate;
        double seconds;
    };
    for (const Bad& bad :
         {Bad{0, 48000, 10}, Bad{3, 48000, 10}, Bad{1, 7999, 10}, Bad{1, 384001, 10}, Bad{1, nan, 10},
          Bad{1, inf, 10}, Bad{1, 48000, 0}, Bad{1, 48000, -1}, Bad{1, 48000, nan}, Bad{1, 8000, 1e-5}}) {
        SCOPED_TRACE(::testing::Message()
                     << bad.channels << " ch, " << bad.rate << " Hz, " << bad.seconds << " s");
        EXPECT_FALSE(capture.prepare(bad.channels, bad.rate, bad.seconds));
        EXPECT_EQ(capture.channels(), 0);
        EXPECT_EQ(capture.capacityFrames(), 0);
        EXPECT_EQ(capture.armStatus(), ArmStatus::NotPrepared);
        EXPECT_FALSE(capture.arm(0));
        EXPECT_EQ(capture.armStatus(), ArmStatus::NotPrepared);
    }
}

TEST(TransferCapture, ArmBudgetsHalfOfTheFreeWorkingSet) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 48000.0, 1200.0));
    {
        SCOPED_TRACE("400 MiB in use leaves a 56 MiB budget");
        ASSERT_TRUE(capture.arm(400 * kMiB));
        EXPECT_EQ(capture.armedFrames(), 7340032);
        EXPECT_EQ(capture.totalBytes(), 56 * kMiB);
        EXPECT_TRUE(capture.memoryLimited());
        EXPECT_EQ(capture.state(), State::Armed);
    }
    {
        SCOPED_TRACE("a second arm is refused; cancelling withdraws the arm");
        EXPECT_FALSE(capture.arm(0));
        EXPECT_EQ(capture.armStatus(), ArmStatus::AlreadyActive);
        EXPECT_EQ(capture.cancel(), TransferCapture::CancelOutcome::ArmWithdrawn);
        EXPECT_EQ(capture.state(), State::Idle);
        EXPECT_EQ(capture.cancel(), TransferCapture::CancelOutcome::NothingActive);
    }
    for (const std::uint64_t inUse : {512 * kMiB, 600 * kMiB, 512 * kMiB - 7}) {
        SCOPED_TRACE(::testing::Message() << inUse << " bytes in use");
        EXPECT_FALSE(capture.arm(inUse));
        EXPECT_EQ(capture.armStatus(), ArmStatus::TooLarge);
        EXPECT_EQ(capture.state(), State::Idle);
    }
    if (cvtest::allocationFailuresSupported()) {
        SCOPED_TRACE("a failed allocation is reported and leaves the recorder idle");
        cvtest::failAllocationsOnThisThread(1);
        EXPECT_FALSE(capture.arm(400 * kMiB));
        cvtest::failAllocationsOnThisThread(0);
        EXPECT_EQ(capture.armStatus(), ArmStatus::AllocationFailed);
        EXPECT_EQ(capture.state(), State::Idle);
    }
    {
        SCOPED_TRACE("the time limit caps the budget");
        ASSERT_TRUE(capture.prepare(1, 8000.0, 1.0));
        ASSERT_TRUE(capture.arm(0));
        EXPECT_EQ(capture.armedFrames(), 8000);
        EXPECT_FALSE(capture.memoryLimited());
    }
}

TEST(TransferCapture, RecordsContinuousBlocksAndKeepsThemWhenTheTimelineJumps) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(1, 48000.0, 10.0));
    ASSERT_TRUE(capture.arm(0));
    for (const std::int64_t position : {0, 512, 1024})
        feed(capture, 1, position, 512);
    EXPECT_EQ(capture.state(), State::Recording);
    feed(capture, 1, 4096, 512);
    EXPECT_EQ(capture.state(), State::Done);
    EXPECT_EQ(capture.endReason(), EndReason::TimelineJumped);
    EXPECT_EQ(capture.framesWritten(), 1536);

    const auto taken = capture.takeCapture();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->audio.frames, 1536);
    EXPECT_EQ(taken->startPosition, 0);
    EXPECT_EQ(taken->sampleRate, 48000.0);
    EXPECT_EQ(taken->endReason, EndReason::TimelineJumped);
    expectCoded(*taken, 1);
    EXPECT_EQ(capture.state(), State::Idle);
    EXPECT_EQ(capture.takeCapture(), nullptr);
}

TEST(TransferCapture, WaitsArmedUntilTheTransportRunsAndEndsWhenItStops) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 44100.0, 10.0));
    ASSERT_TRUE(capture.arm(0));
    feed(capture, 2, 0, 256, false);
    feed(capture, 2, 0, 256, false);
    EXPECT_EQ(capture.state(), State::Armed);
    feed(capture, 2, 7000, 100);
    feed(capture, 2, 7100, 1);
    feed(capture, 2, 7101, 4096);
    feed(capture, 2, 11197, 64, false);
    EXPECT_EQ(capture.endReason(), EndReason::TransportStopped);
    const auto taken = capture.takeCapture();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->startPosition, 7000);
    EXPECT_EQ(taken->audio.frames, 4197);
    expectCoded(*taken, 2);
}

TEST(TransferCapture, MapsInputChannelsOntoRecordedChannels) {
    {
        SCOPED_TRACE("a mono input fills both planes of a stereo recorder");
        TransferCapture capture;
        ASSERT_TRUE(capture.prepare(2, 48000.0, 1.0));
        ASSERT_TRUE(capture.arm(0));
        feed(capture, 1, 10, 300);
        feed(capture, 1, 310, 1, false);
        const auto taken = capture.takeCapture();
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(taken->audio.channels, 2);
        expectCoded(*taken, 1);
    }
    {
        SCOPED_TRACE("a stereo input into a mono recorder keeps the first channel");
        TransferCapture capture;
        ASSERT_TRUE(capture.prepare(1, 48000.0, 1.0));
        ASSERT_TRUE(capture.arm(0));
        feed(capture, 2, 10, 300);
        capture.cancel();
        const auto taken = capture.takeCapture();
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(taken->endReason, EndReason::Cancelled);
        EXPECT_EQ(taken->audio.channels, 1);
        expectCoded(*taken, 1);
    }
    {
        SCOPED_TRACE("an absent input plane records silence");
        TransferCapture capture;
        ASSERT_TRUE(capture.prepare(2, 48000.0, 1.0));
        ASSERT_TRUE(capture.arm(0));
        cvtest::CodedInput input(2, 64);
        const float* planes[2] = {input.fill(0, 64)[0], nullptr};
        capture.process(planes, 2, 64, true, 0);
        capture.cancel();
        const auto taken = capture.takeCapture();
        ASSERT_NE(taken, nullptr);
        for (const float v : taken->audio.channel(1))
            ASSERT_EQ(v, 0.0f);
        EXPECT_EQ(taken->audio.channel(0)[5], positionCode(0, 5));
    }
}

TEST(TransferCapture, AFullBufferEndsTheCaptureWithWhatItHolds) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(1, 8000.0, 0.1)); // 800 frames
    ASSERT_TRUE(capture.arm(0));
    feed(capture, 1, 0, 512);
    feed(capture, 1, 512, 512);
    EXPECT_EQ(capture.state(), State::Done);
    EXPECT_EQ(capture.endReason(), EndReason::BufferFull);
    feed(capture, 1, 1024, 512);
    EXPECT_EQ(capture.framesWritten(), 800) << "a finished capture takes no more audio";
    const auto taken = capture.takeCapture();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->audio.frames, 800);
    expectCoded(*taken, 1);
}

TEST(TransferCapture, CancelBetweenBlocksFinishesAtOnceAndTheAudioThreadLeavesItAlone) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(1, 48000.0, 1.0));
    ASSERT_TRUE(capture.arm(0));
    feed(capture, 1, 0, 64);
    EXPECT_EQ(capture.cancel(), TransferCapture::CancelOutcome::Finished);
    EXPECT_EQ(capture.state(), State::Done);
    EXPECT_EQ(capture.endReason(), EndReason::Cancelled);
    feed(capture, 1, 64, 64, false);
    EXPECT_EQ(capture.endReason(), EndReason::Cancelled);
    ASSERT_NE(capture.takeCapture(), nullptr);
    feed(capture, 1, 128, 64);
    EXPECT_EQ(capture.state(), State::Idle) << "a taken capture stays taken";
}

// The audio thread may decide to end a block just as the main thread finishes (or already took) the
// capture. Its end-of-recording stores must then not happen: storing done over idle would make the
// main thread take a freed buffer.
TEST(TransferCapture, AudioThreadFinishesOnlyACaptureItStillOwns) {
    using np::detail::finishCaptureIfOwned;
    struct Case {
        State before;
        bool owned;
    };
    for (const Case& c :
         {Case{State::InBlock, true}, Case{State::CancelRequested, true}, Case{State::Idle, false},
          Case{State::Finishing, false}, Case{State::Done, false}, Case{State::Armed, false}}) {
        SCOPED_TRACE(::testing::Message() << "state " << static_cast<int>(c.before));
        std::atomic<std::uint32_t> state{static_cast<std::uint32_t>(c.before)};
        std::atomic<std::uint32_t> reason{static_cast<std::uint32_t>(EndReason::Cancelled)};
        EXPECT_EQ(finishCaptureIfOwned(state, reason, EndReason::TransportStopped), c.owned);
        EXPECT_EQ(state.load(), static_cast<std::uint32_t>(c.owned ? State::Done : c.before));
        EXPECT_EQ(reason.load(),
                  static_cast<std::uint32_t>(c.owned ? EndReason::TransportStopped : EndReason::Cancelled));
    }
}

TEST(TransferCapture, AFailedTakeReportsOutOfMemoryAndFreesTheRecorder) {
    if (!cvtest::allocationFailuresSupported())
        GTEST_SKIP() << "allocation cannot be made to fail in this build";
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 48000.0, 1.0));
    ASSERT_TRUE(capture.arm(0));
    feed(capture, 2, 0, 512);
    capture.cancel();
    cvtest::failAllocationsOnThisThread(1);
    EXPECT_EQ(capture.takeCapture(), nullptr);
    cvtest::failAllocationsOnThisThread(0);
    EXPECT_EQ(capture.finishStatus(), TransferCapture::FinishStatus::OutOfMemory);
    EXPECT_EQ(capture.state(), State::Idle);
    EXPECT_EQ(capture.framesWritten(), 0);
    EXPECT_TRUE(capture.arm(0)) << "the recorder can be armed again";
    EXPECT_EQ(capture.finishStatus(), TransferCapture::FinishStatus::Ok);
}

TEST(TransferCapture, PrepareDropsAnArmedCapture) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 48000.0, 1.0));
    ASSERT_TRUE(capture.arm(0));
    ASSERT_TRUE(capture.prepare(1, 96000.0, 1.0));
    EXPECT_EQ(capture.state(), State::Idle);
    feed(capture, 1, 0, 64);
    EXPECT_EQ(capture.state(), State::Idle);
}

TEST(TransferCapture, ProcessNeverAllocatesAtAnyBlockSize) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 48000.0, 10.0));
    cvtest::CodedInput input(2, 4096);
    for (const int block : {1, 17, 64, 512, 4096}) {
        SCOPED_TRACE(::testing::Message() << "block " << block);
        ASSERT_TRUE(capture.arm(0));
        std::int64_t position = 123;
        const float* const* planes = input.fill(0, block);
        cvtest::AllocationCounts counts;
        {
            cvtest::ScopedAllocationCounter counter;
            for (int i = 0; i < 2000 && capture.state() != State::Done; ++i) {
                capture.process(planes, 2, block, true, position);
                position += block;
            }
            capture.process(planes, 2, block, false, position);
            counts = counter.counts();
        }
        EXPECT_EQ(counts.allocations, 0u);
        EXPECT_EQ(counts.frees, 0u);
        ASSERT_NE(capture.takeCapture(), nullptr);
    }
}

TEST(ScaleFramePosition, RoundsInExtendedPrecisionAndRefusesBadRatesOrOverflow) {
    std::int64_t out = -7;
    EXPECT_TRUE(np::scaleFramePosition(48000, 48000.0, 44100.0, out));
    EXPECT_EQ(out, 44100);
    EXPECT_TRUE(np::scaleFramePosition(48000, 44100.0, 48000.0, out));
    EXPECT_EQ(out, 52245);
    {
        SCOPED_TRACE("halves round away from zero");
        EXPECT_TRUE(np::scaleFramePosition(1, 16000.0, 8000.0, out));
        EXPECT_EQ(out, 1);
        EXPECT_TRUE(np::scaleFramePosition(-1, 16000.0, 8000.0, out));
        EXPECT_EQ(out, -1);
    }
    {
        SCOPED_TRACE("equal rates copy the frame, even at the extremes");
        EXPECT_TRUE(np::scaleFramePosition(std::numeric_limits<std::int64_t>::max(), 48000.0, 48000.0, out));
        EXPECT_EQ(out, std::numeric_limits<std::int64_t>::max());
    }
    {
        SCOPED_TRACE("a large frame survives the multiplication without losing precision");
        EXPECT_TRUE(np::scaleFramePosition(std::int64_t{1} << 60, 96000.0, 48000.0, out));
        EXPECT_EQ(out, std::int64_t{1} << 59);
        EXPECT_TRUE(np::scaleFramePosition(std::numeric_limits<std::int64_t>::min(), 16000.0, 8000.0, out));
        EXPECT_EQ(out, std::numeric_limits<std::int64_t>::min() / 2);
    }
    out = 5;
    EXPECT_FALSE(np::scaleFramePosition(48000, 7999.0, 48000.0, out));
    EXPECT_FALSE(np::scaleFramePosition(48000, 48000.0, std::numeric_limits<double>::quiet_NaN(), out));
    EXPECT_FALSE(np::scaleFramePosition(std::numeric_limits<std::int64_t>::max(), 8000.0, 384000.0, out));
    EXPECT_FALSE(np::scaleFramePosition(std::numeric_limits<std::int64_t>::min(), 8000.0, 16000.0, out));
    EXPECT_EQ(out, 5) << "a refusal leaves the output alone";
}

} // namespace
