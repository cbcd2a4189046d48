#include "engine/playback/transfer_capture.h"
#include "tests/playback/position_code.h"
#include "tests/support/alloc_counter.h"

#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

using np::TransferCapture;
using State = TransferCapture::State;
using EndReason = TransferCapture::EndReason;
using ArmStatus = TransferCapture::ArmStatus;

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

void feed(TransferCapture& capture, int channels, std::int64_t position, int frames, bool running = true) {
    cvtest::Planes input(channels, frames);
    capture.process(input.coded(position, frames), channels, frames, running, position);
}

TEST(TransferCapture, PrepareValidatesSettingsAndSizesTheLimits) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 48000.0, 1200.0));
    EXPECT_EQ(capture.timeLimitFrames(), 57600000);
    EXPECT_EQ(capture.capacityFrames(), 25165824) << "bounded by the 192 MiB buffer";
    EXPECT_TRUE(capture.memoryLimited());
    ASSERT_TRUE(capture.prepare(1, 8000.0, 10.0));
    EXPECT_EQ(capture.capacityFrames(), 80000);
    EXPECT_FALSE(capture.memoryLimited());
    ASSERT_TRUE(capture.prepare(1, 8000.0, 5000.0));
    EXPECT_EQ(capture.timeLimitFrames(), 9600000) << "seconds are capped at 1200";

    const double inf = std::numeric_limits<double>::infinity();
    struct Bad {
        int channels;
        double rate, seconds;
    };
    for (const Bad& bad :
         {Bad{0, 48000, 10}, Bad{3, 48000, 10}, Bad{1, 7999, 10}, Bad{1, 384001, 10}, Bad{1, kNan, 10},
          Bad{1, inf, 10}, Bad{1, 48000, 0}, Bad{1, 48000, -1}, Bad{1, 48000, kNan}, Bad{1, 8000, 1e-5}}) {
        SCOPED_TRACE(::testing::Message()
                     << bad.channels << " ch, " << bad.rate << " Hz, " << bad.seconds << " s");
        EXPECT_FALSE(capture.prepare(bad.channels, bad.rate, bad.seconds));
        EXPECT_EQ(capture.capacityFrames(), 0);
        EXPECT_FALSE(capture.arm(0));
        EXPECT_EQ(capture.armStatus(), ArmStatus::NotPrepared);
    }
}

TEST(TransferCapture, ArmBudgetsHalfOfTheFreeWorkingSet) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 48000.0, 1200.0));
    ASSERT_TRUE(capture.arm(400 * kMiB));
    EXPECT_EQ(capture.armedFrames(), 7340032);
    EXPECT_EQ(capture.totalBytes(), 56 * kMiB);
    EXPECT_FALSE(capture.arm(0));
    EXPECT_EQ(capture.armStatus(), ArmStatus::AlreadyActive);
    EXPECT_EQ(capture.cancel(), TransferCapture::CancelOutcome::ArmWithdrawn);
    EXPECT_EQ(capture.cancel(), TransferCapture::CancelOutcome::NothingActive);
    for (const std::uint64_t inUse : {512 * kMiB, 600 * kMiB, 512 * kMiB - 7}) {
        SCOPED_TRACE(::testing::Message() << inUse << " bytes in use");
        EXPECT_FALSE(capture.arm(inUse));
        EXPECT_EQ(capture.armStatus(), ArmStatus::TooLarge);
        EXPECT_EQ(capture.state(), State::Idle);
    }
    if (cvtest::allocationFailuresSupported()) {
        cvtest::failAllocationsOnThisThread(1);
        EXPECT_FALSE(capture.arm(400 * kMiB));
        cvtest::failAllocationsOnThisThread(0);
        EXPECT_EQ(capture.armStatus(), ArmStatus::AllocationFailed);
        EXPECT_EQ(capture.state(), State::Idle);
    }
    ASSERT_TRUE(capture.prepare(1, 8000.0, 1.0));
    ASSERT_TRUE(capture.arm(0));
    EXPECT_EQ(capture.armedFrames(), 8000) << "the time limit caps the budget";
    ASSERT_TRUE(capture.prepare(1, 8000.0, 1.0));
    feed(capture, 1, 0, 64);
    EXPECT_EQ(capture.state(), State::Idle) << "prepare drops an armed capture";
}

// Every way a recording ends keeps the audio recorded so far, exactly as it came in; input channel
// min(c, inputs - 1) feeds recorded channel c. Stopped blocks before the start keep it waiting.
TEST(TransferCapture, EachEndKeepsTheAudioRecordedSoFar) {
    using enum np::TransferCapture::EndReason;
    struct Block {
        std::int64_t position;
        int frames;
        bool running = true;
    };
    struct Case {
        int recorded, inputs;
        double seconds;
        EndReason reason;
        std::int64_t start, frames;
        std::vector<Block> blocks;
    };
    const std::vector<Case> cases{
        {1, 1, 10, TimelineJumped, 0, 1536, {{0, 512}, {512, 512}, {1024, 512}, {4096, 512}}},
        {2, 2, 10, TransportStopped, 700, 4197, {{0, 9, false}, {700, 101}, {801, 4096}, {4897, 1, false}}},
        {1, 1, 0.1, BufferFull, 0, 800, {{0, 512}, {512, 512}}},
        {1, 2, 10, Cancelled, 10, 300, {{10, 300}}}, // the user stops between blocks
        {2, 1, 10, TransportStopped, 10, 300, {{10, 300}, {310, 1, false}}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "end reason " << static_cast<int>(c.reason) << ", " << c.inputs
                                          << " into " << c.recorded << " channels");
        TransferCapture capture;
        ASSERT_TRUE(capture.prepare(c.recorded, 8000.0, c.seconds));
        ASSERT_TRUE(capture.arm(0));
        for (const Block& b : c.blocks)
            feed(capture, c.inputs, b.position, b.frames, b.running);
        if (c.reason == Cancelled) {
            EXPECT_EQ(capture.cancel(), TransferCapture::CancelOutcome::Finished);
        }
        EXPECT_EQ(capture.state(), State::Done);
        feed(capture, c.inputs, c.start + c.frames, 64);
        EXPECT_EQ(capture.framesWritten(), c.frames) << "a finished capture takes no more audio";

        const auto taken = capture.takeCapture();
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(taken->endReason, c.reason);
        EXPECT_EQ(taken->startPosition, c.start);
        EXPECT_EQ(taken->sampleRate, 8000.0);
        ASSERT_EQ(taken->audio.channels, c.recorded);
        ASSERT_EQ(taken->audio.frames, c.frames);
        for (int ch = 0; ch < c.recorded; ++ch)
            for (std::int64_t k = 0; k < c.frames; ++k)
                ASSERT_EQ(taken->audio.channel(ch)[static_cast<std::size_t>(k)],
                          cvtest::positionCode(std::min(ch, c.inputs - 1), c.start + k))
                    << "channel " << ch << " frame " << k;
        EXPECT_EQ(capture.takeCapture(), nullptr);
        feed(capture, c.inputs, 0, 64);
        EXPECT_EQ(capture.state(), State::Idle) << "a taken capture stays taken";
    }
}

TEST(TransferCapture, AnAbsentInputPlaneRecordsSilence) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 48000.0, 1.0));
    ASSERT_TRUE(capture.arm(0));
    cvtest::Planes input(2, 64);
    const float* planes[2] = {input.coded(0, 64)[0], nullptr};
    capture.process(planes, 2, 64, true, 0);
    capture.cancel();
    const auto taken = capture.takeCapture();
    ASSERT_NE(taken, nullptr);
    for (const float v : taken->audio.channel(1))
        ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(taken->audio.channel(0)[5], cvtest::positionCode(0, 5));
}

// The audio thread may decide to end a block just as the main thread finishes (or already took) the
// capture. Its end-of-recording stores must then not happen: storing done over idle would make the
// main thread take a freed buffer.
TEST(TransferCapture, AudioThreadFinishesOnlyACaptureItStillOwns) {
    for (const State before :
         {State::InBlock, State::CancelRequested, State::Idle, State::Finishing, State::Done, State::Armed}) {
        SCOPED_TRACE(::testing::Message() << "state " << static_cast<int>(before));
        const bool owned = before == State::InBlock || before == State::CancelRequested;
        std::atomic<std::uint32_t> state{static_cast<std::uint32_t>(before)};
        std::atomic<std::uint32_t> reason{static_cast<std::uint32_t>(EndReason::Cancelled)};
        EXPECT_EQ(np::detail::finishCaptureIfOwned(state, reason, EndReason::TransportStopped), owned);
        EXPECT_EQ(state.load(), static_cast<std::uint32_t>(owned ? State::Done : before));
        EXPECT_EQ(reason.load(),
                  static_cast<std::uint32_t>(owned ? EndReason::TransportStopped : EndReason::Cancelled));
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
    EXPECT_TRUE(capture.arm(0)) << "the recorder can be armed again";
    EXPECT_EQ(capture.finishStatus(), TransferCapture::FinishStatus::Ok);
}

TEST(ScaleFramePosition, RoundsInExtendedPrecisionAndRefusesBadRatesOrOverflow) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kBig = std::int64_t{1} << 60;
    constexpr std::int64_t kOdd = (std::int64_t{1} << 53) + 1; // a double would round it
    struct Case {
        std::int64_t frame;
        double from, to;
        bool ok;
        std::int64_t expected; // 5: a refusal leaves the output alone
    };
    for (const Case& c : std::vector<Case>{{48000, 48000, 44100, true, 44100},
                                           {48000, 44100, 48000, true, 52245},
                                           {1, 16000, 8000, true, 1},       // halves round away from zero
                                           {1440, 8000, 11025, true, 1985}, // a half only if multiplied first
                                           {kOdd, 8000, 16000, true, 2 * kOdd},
                                           {-1, 16000, 8000, true, -1},
                                           {kMax, 48000, 48000, true, kMax},
                                           {kBig, 96000, 48000, true, kBig / 2},
                                           {kMin, 16000, 8000, true, kMin / 2},
                                           {48000, 7999, 48000, false, 5},
                                           {48000, 48000, kNan, false, 5},
                                           {kMax, 8000, 384000, false, 5},
                                           {kMin, 8000, 16000, false, 5}}) {
        SCOPED_TRACE(::testing::Message() << c.frame << " from " << c.from << " to " << c.to);
        std::int64_t out = 5;
        EXPECT_EQ(np::scaleFramePosition(c.frame, c.from, c.to, out), c.ok);
        EXPECT_EQ(out, c.expected);
    }
}

} // namespace
