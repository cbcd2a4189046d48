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
using EndReason = TransferCapture::EndReason;

constexpr int kScenes = 300;
constexpr int kChannels = 2;
constexpr std::int64_t kCapacity = 16000; // 2 s at 8 kHz

// How the simulated host ends each recording. The user's stop comes while the host waits between
// blocks, or while blocks keep coming (racing the block being written).
enum Scene { TransportStops, TimelineJumps, BufferFills, StopBetweenBlocks, StopWhilePlaying, kKinds };
constexpr std::array<EndReason, kKinds> kExpected{EndReason::TransportStopped, EndReason::TimelineJumped,
                                                  EndReason::BufferFull, EndReason::Cancelled,
                                                  EndReason::Cancelled};

// The host asks for each arm and describes the scene before its recording can end; the main thread
// reads the description once the capture is done.
struct Shared {
    TransferCapture capture;
    std::atomic<int> armWanted{-1};
    std::atomic<int> scene{0};
    std::atomic<std::int64_t> start{0};
    std::atomic<std::int64_t> frames{-1}; // -1: not known in advance
    std::atomic<bool> stopWanted{false};
    std::atomic<bool> hostDone{false};
    std::atomic<bool> abort{false}; // the main thread failed: the host stops waiting
};

// Yields until ready() holds; gives up after a generous bound so that a fault fails instead of hanging.
template <class F>
bool spinUntil(const std::atomic<bool>& abort, F ready) {
    for (long i = 0; i < 200000000L && !abort.load(); ++i) {
        if (ready())
            return true;
        std::this_thread::yield();
    }
    return false;
}

void runHost(Shared& shared, cvtest::AllocationCounts& counts, int& failures) {
    TransferCapture& capture = shared.capture;
    std::mt19937 random(2024);
    const std::array<int, 5> sizes{1, 17, 64, 512, 4096};
    auto blockSize = [&] {
        const auto pick = random() % 6;
        return pick < 5 ? sizes[pick] : static_cast<int>(1 + random() % 4096);
    };
    cvtest::Planes input(kChannels, 4096);
    std::int64_t position = 0;
    auto block = [&](int n, bool running, std::int64_t at) {
        capture.process(input.coded(at, n), kChannels, n, running, at);
        position = at + n;
    };
    auto recording = [&] {
        const State s = capture.state();
        return s == State::Recording || s == State::CancelRequested;
    };

    cvtest::ScopedAllocationCounter counter;
    for (int scene = 0; scene < kScenes; ++scene) {
        shared.armWanted.store(scene);
        if (!spinUntil(shared.abort, [&] { return capture.state() == State::Armed; })) {
            ++failures;
            break;
        }
        block(blockSize(), false, static_cast<std::int64_t>(random() % 5000000)); // not started yet
        const std::int64_t start = static_cast<std::int64_t>(random() % 5000000);
        shared.scene.store(scene);
        shared.start.store(start);
        shared.frames.store(-1);
        block(blockSize(), true, start);
        switch (scene % kKinds) {
        case TransportStops:
        case TimelineJumps:
            for (int b = 0; b < scene % 4 && position - start < kCapacity - 4096; ++b)
                block(blockSize(), true, position);
            shared.frames.store(position - start);
            if (scene % kKinds == TransportStops)
                block(blockSize(), false, position);
            else
                block(blockSize(), true, position + 777);
            break;
        case BufferFills:
            shared.frames.store(kCapacity);
            while (recording())
                block(std::max(64, blockSize()), true, position);
            break;
        case StopBetweenBlocks:
            shared.frames.store(position - start);
            shared.stopWanted.store(true);
            failures += spinUntil(shared.abort, [&] { return capture.state() != State::Recording; }) ? 0 : 1;
            break;
        default: // ends by the user's stop, or by a full buffer when the main thread is slow
            shared.stopWanted.store(true);
            while (recording())
                block(blockSize(), true, position);
        }
    }
    counts = counter.counts();
    shared.hostDone.store(true);
}

TEST(TransferCapture, SimulatedHostCapturesReproduceThePositionCodedInput) {
    Shared shared;
    TransferCapture& capture = shared.capture;
    ASSERT_TRUE(capture.prepare(kChannels, 8000.0, kCapacity / 8000.0));
    cvtest::AllocationCounts hostCounts;
    int hostFailures = 0;
    std::thread host([&] { runHost(shared, hostCounts, hostFailures); });

    std::array<int, 5> reasonCounts{};
    int taken = 0;
    int mismatches = 0;
    int wrongEnds = 0;
    int armed = -1;
    for (;;) {
        const bool hostDone = shared.hostDone.load(); // read first: the state is then final
        const State state = capture.state();
        if (state == State::Done) {
            const int kind = shared.scene.load() % kKinds;
            const std::int64_t frames = shared.frames.load();
            const auto result = capture.takeCapture();
            shared.stopWanted.store(false);
            if (result == nullptr) {
                ADD_FAILURE() << "a finished capture could not be taken";
                break;
            }
            ++taken;
            ++reasonCounts[static_cast<std::size_t>(result->endReason)];
            EXPECT_EQ(result->startPosition, shared.start.load());
            if (frames >= 0) {
                EXPECT_EQ(result->audio.frames, frames) << "scene kind " << kind;
            }
            const bool slowStop = kind == StopWhilePlaying && result->endReason == EndReason::BufferFull;
            wrongEnds += result->endReason == kExpected[static_cast<std::size_t>(kind)] || slowStop ? 0 : 1;
            for (int c = 0; c < result->audio.channels; ++c)
                for (std::int64_t k = 0; k < result->audio.frames; ++k)
                    mismatches += result->audio.channel(c)[static_cast<std::size_t>(k)] !=
                                  cvtest::positionCode(c, result->startPosition + k);
        } else if (hostDone) {
            break;
        } else if (state == State::Idle && shared.armWanted.load() > armed) {
            if (!capture.arm(0)) {
                ADD_FAILURE() << "arming failed";
                break;
            }
            ++armed;
        } else if ((state == State::Recording || state == State::InBlock) &&
                   shared.stopWanted.exchange(false)) {
            capture.cancel();
        } else {
            std::this_thread::yield();
        }
    }
    shared.abort.store(true);
    host.join();

    EXPECT_EQ(hostFailures, 0);
    EXPECT_EQ(taken, kScenes);
    EXPECT_EQ(mismatches, 0) << "a captured sample differs from the input at its host position";
    EXPECT_EQ(wrongEnds, 0);
    EXPECT_EQ(reasonCounts[static_cast<std::size_t>(EndReason::TransportStopped)], kScenes / kKinds);
    EXPECT_EQ(reasonCounts[static_cast<std::size_t>(EndReason::TimelineJumped)], kScenes / kKinds);
    EXPECT_GE(reasonCounts[static_cast<std::size_t>(EndReason::Cancelled)], kScenes / kKinds);
    EXPECT_EQ(hostCounts.allocations, 0u);
    EXPECT_EQ(hostCounts.frees, 0u);
}

} // namespace
