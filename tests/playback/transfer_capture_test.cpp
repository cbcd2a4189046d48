#include "engine/playback/transfer_capture.h"
#include "tests/playback/position_code.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/heap_usage.h"

#include <atomic>
#include <gtest/gtest.h>
#include <limits>
#include <thread>
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

TEST(TransferCapture, PrepareAndArmSizeTheBuffer) {
    TransferCapture capture;
    const auto sizes = [&] {
        return std::tuple(capture.timeLimitFrames(), capture.capacityFrames(), capture.armedFrames(),
                          capture.totalBytes(), capture.memoryLimited());
    };
    ASSERT_TRUE(capture.prepare(2, 48000.0, 1200.0)); // bounded by the 192 MiB buffer
    EXPECT_EQ(sizes(), std::tuple(57600000, 25165824, 25165824, 192 * kMiB, true));
    ASSERT_TRUE(capture.prepare(1, 8000.0, 5000.0)); // seconds are capped at 1200
    EXPECT_EQ(sizes(), std::tuple(9600000, 9600000, 9600000, 38400000u, false));
    for (const auto& [channels, rate, seconds] : {std::tuple{0, 48000.0, 10.0},
                                                  {3, 48000.0, 10.0},
                                                  {1, 7999.0, 10.0},
                                                  {1, 384001.0, 10.0},
                                                  {1, kNan, 10.0},
                                                  {1, 48000.0, 0.0},
                                                  {1, 48000.0, kNan},
                                                  {1, 8000.0, 1e-5}}) {
        SCOPED_TRACE(::testing::Message() << channels << " ch, " << rate << " Hz, " << seconds << " s");
        EXPECT_FALSE(capture.prepare(channels, rate, seconds));
        EXPECT_FALSE(capture.arm(0));
        EXPECT_EQ(std::pair(capture.capacityFrames(), capture.armStatus()),
                  std::pair(0l, ArmStatus::NotPrepared));
    }
    ASSERT_TRUE(capture.prepare(2, 48000.0, 1200.0));
    ASSERT_TRUE(capture.arm(400 * kMiB)); // half of the 112 MiB left
    const auto armed = std::tuple(57600000, 25165824, 7340032, 56 * kMiB, true);
    EXPECT_EQ(sizes(), armed);
    EXPECT_FALSE(capture.arm(0));
    EXPECT_EQ(capture.armStatus(), ArmStatus::AlreadyActive);
    EXPECT_EQ(capture.cancel(), TransferCapture::CancelOutcome::ArmWithdrawn);
    EXPECT_EQ(capture.cancel(), TransferCapture::CancelOutcome::NothingActive);
    // A full working set refuses before sizing anything; a budget of no frame zeroes the sizes.
    EXPECT_FALSE(capture.arm(600 * kMiB));
    EXPECT_EQ(capture.armStatus(), ArmStatus::TooLarge);
    EXPECT_EQ(sizes(), armed);
    EXPECT_FALSE(capture.arm(512 * kMiB - 7));
    EXPECT_EQ(std::tuple(capture.armStatus(), capture.armedFrames(), capture.totalBytes()),
              std::tuple(ArmStatus::TooLarge, 0, 0u));
    ASSERT_TRUE(capture.prepare(1, 8000.0, 10.0));
    ASSERT_TRUE(capture.arm(0));
    EXPECT_EQ(std::tuple(capture.armedFrames(), capture.memoryLimited()), std::tuple(80000, false));
    ASSERT_TRUE(capture.prepare(1, 8000.0, 10.0));
    feed(capture, 1, 0, 64);
    EXPECT_EQ(capture.state(), State::Idle) << "prepare drops an armed capture";
    // A failed allocation reports the sizes of the arm it tried: 1000 frames, bounded by memory.
    if (cvtest::allocationFailuresSupported()) {
        cvtest::failAllocationsOnThisThread(1);
        EXPECT_FALSE(capture.arm(512 * kMiB - 8000));
        cvtest::failAllocationsOnThisThread(0);
        EXPECT_EQ(std::tuple(capture.armStatus(), capture.state(), capture.armedFrames(),
                             capture.totalBytes(), capture.memoryLimited()),
                  std::tuple(ArmStatus::AllocationFailed, State::Idle, 1000, 4000u, true));
    }
}

// Every way a recording ends keeps the audio recorded so far, exactly as it came in; input channel
// min(c, inputs - 1) feeds recorded channel c, and an absent input plane records silence. Stopped
// blocks before the start keep the recorder waiting.
TEST(TransferCapture, EachEndKeepsTheAudioRecordedSoFar) {
    using enum np::TransferCapture::EndReason;
    struct Block {
        std::int64_t position;
        int frames;
        bool running = true;
    };
    const struct {
        int recorded, inputs;
        bool absentSecond;
        double seconds;
        EndReason reason;
        std::int64_t start, frames;
        std::vector<Block> blocks;
    } cases[] = {
        {1, 1, false, 10, TimelineJumped, 0, 1536, {{0, 512}, {512, 512}, {1024, 512}, {4096, 512}}},
        {2,
         2,
         false,
         10,
         TransportStopped,
         700,
         4197,
         {{0, 9, false}, {700, 101}, {801, 4096}, {4897, 1, false}}},
        {1, 1, false, 0.1, BufferFull, 0, 800, {{0, 512}, {512, 512}}},
        {1, 2, false, 10, Cancelled, 10, 300, {{10, 300}}}, // the user stops between blocks
        {2, 1, false, 10, TransportStopped, 10, 300, {{10, 300}, {310, 1, false}}},
        {2, 2, true, 10, Cancelled, 0, 64, {{0, 64}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "end reason " << static_cast<int>(c.reason) << ", " << c.inputs
                                          << " into " << c.recorded << " channels");
        TransferCapture capture;
        ASSERT_TRUE(capture.prepare(c.recorded, 8000.0, c.seconds));
        ASSERT_TRUE(capture.arm(0));
        cvtest::Planes input(c.inputs, 4096);
        for (const Block& b : c.blocks) {
            const float* const* coded = input.coded(b.position, b.frames);
            std::vector<const float*> planes(coded, coded + c.inputs);
            planes.back() = c.absentSecond ? nullptr : planes.back();
            capture.process(planes.data(), c.inputs, b.frames, b.running, b.position);
        }
        if (c.reason == Cancelled) {
            EXPECT_EQ(capture.cancel(), TransferCapture::CancelOutcome::Finished);
        }
        EXPECT_EQ(capture.state(), State::Done);
        feed(capture, c.inputs, c.start + c.frames, 64);
        EXPECT_EQ(capture.framesWritten(), c.frames) << "a finished capture takes no more audio";
        const auto taken = capture.takeCapture();
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(
            std::tuple(taken->endReason, taken->startPosition, taken->sampleRate, taken->audio.channels),
            std::tuple(c.reason, c.start, 8000.0, c.recorded));
        ASSERT_EQ(taken->audio.frames, c.frames);
        for (int ch = 0; ch < c.recorded; ++ch)
            for (std::int64_t k = 0; k < c.frames; ++k)
                ASSERT_EQ(taken->audio.channel(ch)[static_cast<std::size_t>(k)],
                          c.absentSecond && ch == 1
                              ? 0.0f
                              : cvtest::positionCode(std::min(ch, c.inputs - 1), c.start + k))
                    << "channel " << ch << " frame " << k;
        EXPECT_EQ(capture.takeCapture(), nullptr) << "a taken capture stays taken";
    }
}

// Blocks run while the main thread withdraws arms and arms again with another size. Each block must size
// its writes by the arm it claimed: one sized by an earlier, larger arm would write past the new buffer,
// which AddressSanitizer reports.
TEST(TransferCapture, ReArmingWithAnotherSizeWhileBlocksRunStaysInsideTheBuffer) {
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, 8000.0, 1.0)); // 8000 frames with the whole budget free
    std::atomic<bool> done{false};
    std::thread audio([&] {
        const float silence[4] = {};
        const float* input[2] = {silence, silence};
        for (std::int64_t position = 0; !done.load(); position += 4)
            capture.process(input, 2, 4, true, position);
    });
    for (int i = 0; i < 100000; ++i) {
        capture.arm(i % 2 == 0 ? 0 : TransferCapture::kWorkingSetBytes - 800); // 8000 or 50 frames
        if (capture.cancel() == TransferCapture::CancelOutcome::RequestedFromBlock)
            while (capture.state() != State::Done)
                std::this_thread::yield();
        if (const auto taken = capture.takeCapture()) {
            EXPECT_LE(taken->audio.frames, i % 2 == 0 ? 8000 : 50);
        }
        if (::testing::Test::HasFailure())
            break; // still join the audio thread
    }
    done.store(true);
    audio.join();
}

// The audio thread may decide to end a block just as the main thread finishes (or already took) the
// capture. Its end-of-recording stores must then not happen: storing done over idle would make the main
// thread take a freed buffer.
TEST(TransferCapture, AudioThreadFinishesOnlyACaptureItStillOwns) {
    for (const State before :
         {State::InBlock, State::CancelRequested, State::Idle, State::Finishing, State::Done, State::Armed}) {
        SCOPED_TRACE(::testing::Message() << "state " << static_cast<int>(before));
        const bool owned = before == State::InBlock || before == State::CancelRequested;
        std::atomic<std::uint32_t> state{static_cast<std::uint32_t>(before)};
        std::atomic<std::uint32_t> reason{static_cast<std::uint32_t>(EndReason::Cancelled)};
        EXPECT_EQ(np::detail::finishCaptureIfOwned(state, reason, EndReason::TransportStopped), owned);
        EXPECT_EQ(std::pair(state.load(), reason.load()),
                  std::pair(static_cast<std::uint32_t>(owned ? State::Done : before),
                            static_cast<std::uint32_t>(owned ? EndReason::TransportStopped
                                                             : EndReason::Cancelled)));
    }
}

// Memory follows the recording: arming the 192 MiB buffer of a mono 48 kHz capture takes only the stretch
// kept backed ahead, 20 s recorded cost about their own size plus that stretch, and once taken only the
// captured audio remains.
TEST(TransferCapture, TakesMemoryOnlyAsItRecords) {
    std::vector<float> probe(4096);
    if (!np::detail::prefaultFloats(probe.data(), probe.size()))
        GTEST_SKIP() << "the system cannot back pages without writing them, so arm writes the buffer";
    constexpr std::int64_t kRate = 48000;
    constexpr std::uint64_t kLeadBytes = 2 * kRate * 4; // kPrefaultLeadSeconds of mono float
    constexpr std::uint64_t kRecordedBytes = 20 * kRate * 4;
    // The test's own allocations, and under AddressSanitizer the shadow it writes over a freed buffer (an
    // eighth of it): far below the 192 MiB a buffer written whole would take.
    constexpr std::uint64_t kSlack = 32 * kMiB;
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(1, kRate, 1200.0));
    cvtest::Planes input(1, 512);
    const std::uint64_t before = cvtest::residentBytes();
    ASSERT_TRUE(capture.arm(0));
    ASSERT_EQ(capture.totalBytes(), 192 * kMiB);
    const std::uint64_t armed = cvtest::residentBytes() - before;
    EXPECT_GE(armed, kLeadBytes);
    EXPECT_LT(armed, kLeadBytes + kSlack);

    for (std::int64_t position = 0; position < 20 * kRate; position += 512) {
        capture.process(input.coded(position, 512), 1, 512, true, position);
        if (position % (8 * 512) == 0)
            capture.prefaultAhead(); // about every 85 ms, as an idle loop would
    }
    const std::uint64_t recorded = cvtest::residentBytes() - before;
    EXPECT_GE(recorded, kRecordedBytes + kLeadBytes / 2) << "the pages ahead are backed";
    EXPECT_LT(recorded, kRecordedBytes + kLeadBytes + kSlack);

    feed(capture, 1, 20 * kRate, 64, false);
    const auto taken = capture.takeCapture();
    ASSERT_NE(taken, nullptr);
    ASSERT_EQ(taken->audio.frames, 20 * kRate);
    for (std::int64_t k = 0; k < taken->audio.frames; ++k)
        ASSERT_EQ(taken->audio.channel(0)[static_cast<std::size_t>(k)], cvtest::positionCode(0, k)) << k;
    EXPECT_LT(cvtest::residentBytes() - before, kRecordedBytes + kSlack);
}

// Taking a capture holds the recording once over: the copy takes its pages step by step while the
// buffer gives its own back, so the resident peak while taking stays far below a second recording
// (under AddressSanitizer the shadow of both blocks adds a quarter of it).
TEST(TransferCapture, TakingACaptureHoldsTheRecordingOnce) {
    if (!cvtest::resetPeakResident())
        GTEST_SKIP() << "the system keeps no resettable record of the resident peak";
    constexpr std::int64_t kRate = 48000;
    constexpr std::int64_t kFrames = 180 * kRate;
    constexpr std::uint64_t kRecordedBytes = 2 * kFrames * 4;
    TransferCapture capture;
    ASSERT_TRUE(capture.prepare(2, kRate, 180.0));
    ASSERT_TRUE(capture.arm(0));
    for (std::int64_t position = 0; capture.state() != State::Done; position += 512)
        feed(capture, 2, position, 512);
    ASSERT_EQ(capture.framesWritten(), kFrames);

    ASSERT_TRUE(cvtest::resetPeakResident());
    const std::uint64_t before = cvtest::residentBytes();
    const auto taken = capture.takeCapture();
    const std::uint64_t peak = cvtest::peakResidentBytes();
    ASSERT_NE(taken, nullptr);
    ASSERT_EQ(taken->audio.samples.size(), static_cast<std::size_t>(2 * kFrames));
    for (int c = 0; c < 2; ++c)
        for (std::int64_t k = 0; k < kFrames; ++k)
            ASSERT_EQ(taken->audio.channel(c)[static_cast<std::size_t>(k)], cvtest::positionCode(c, k))
                << "channel " << c << ", frame " << k;
    EXPECT_LT(peak - std::min(peak, before), kRecordedBytes / 2);
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
    EXPECT_EQ(std::pair(capture.finishStatus(), capture.state()),
              std::pair(TransferCapture::FinishStatus::OutOfMemory, State::Idle));
    EXPECT_TRUE(capture.arm(0)) << "the recorder can be armed again";
    EXPECT_EQ(capture.finishStatus(), TransferCapture::FinishStatus::Ok);
}

// Exact: frames beyond 2^53 lose their last bits in a double, and beyond about 2^50 in 80-bit arithmetic.
TEST(ScaleFramePosition, ScalesExactlyAndRefusesBadRatesOrOverflow) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kOdd = (std::int64_t{1} << 53) + 1;
    constexpr std::int64_t kLong = -4066572702226251356; // doubled, it needs all 63 bits
    const struct {
        std::int64_t frame;
        double from, to;
        bool ok;
        std::int64_t expected; // 5: a refusal leaves the output alone
    } cases[] = {
        {48000, 48000, 44100, true, 44100},
        {48000, 44100, 48000, true, 52245},
        {1, 16000, 8000, true, 1},
        {-1, 16000, 8000, true, -1},     // halves round away from zero
        {1440, 8000, 11025, true, 1985}, // a half only if multiplied first
        {kOdd, 8000, 16000, true, 2 * kOdd},
        {kLong, 176400, 352800, true, 2 * kLong},
        {kMax, 48000, 48000, true, kMax},
        {kMin, 16000, 8000, true, kMin / 2},
        {48000, 7999, 48000, false, 5},
        {48000, 48000, kNan, false, 5},
        {kMax, 8000, 384000, false, 5},
        {kMin, 8000, 16000, false, 5},
        {std::int64_t{1} << 62, 8000, 16000, false, 5}, // exactly 2^63
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.frame << " from " << c.from << " to " << c.to);
        std::int64_t out = 5;
        EXPECT_EQ(np::scaleFramePosition(c.frame, c.from, c.to, out), c.ok);
        EXPECT_EQ(out, c.expected);
    }
}

} // namespace
