#include "engine/playback/transfer_capture.h"
#include "tests/playback/position_code.h"
#include "tests/support/alloc_counter.h"

#include <array>
#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <vector>

namespace {

using np::TransferCapture;
using State = TransferCapture::State;
using EndReason = TransferCapture::EndReason;

constexpr int kScenes = 300;
constexpr int kChannels = 2;
constexpr std::int64_t kCapacity = 16000; // 2 s at 8 kHz

struct Outcome {
    std::int64_t start = 0;
    std::int64_t frames = -1; // -1: the user's stop races the blocks, so the length is not known
    EndReason reason = EndReason::None;
    bool exact = true; // every sample is the input's at its host position
};

struct Shared {
    TransferCapture capture;
    std::atomic<int> armWanted{-1};
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

// The simulated host: for each scene it asks for an arm, plays stopped and then running blocks of
// random sizes from a random position, and ends the recording in one of five ways.
void runHost(Shared& shared, std::vector<Outcome>& expected, cvtest::AllocationCounts& counts) {
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
        return capture.state() == State::Recording || capture.state() == State::CancelRequested;
    };

    cvtest::ScopedAllocationCounter counter;
    for (int scene = 0; scene < kScenes; ++scene) {
        shared.armWanted.store(scene);
        if (!spinUntil(shared.abort, [&] { return capture.state() == State::Armed; }))
            break;
        block(blockSize(), false, static_cast<std::int64_t>(random() % 5000000)); // not started yet
        Outcome& e = expected[static_cast<std::size_t>(scene)];
        e.start = static_cast<std::int64_t>(random() % 5000000);
        block(blockSize(), true, e.start);
        switch (scene % 5) {
        case 0: // the transport stops
        case 1: // the timeline jumps
            for (int b = 0; b < scene % 4 && position - e.start < kCapacity - 4096; ++b)
                block(blockSize(), true, position);
            e.frames = position - e.start;
            e.reason = scene % 5 == 0 ? EndReason::TransportStopped : EndReason::TimelineJumped;
            block(blockSize(), scene % 5 == 1, position + (scene % 5 == 1 ? 777 : 0));
            break;
        case 2:
            e = {e.start, kCapacity, EndReason::BufferFull};
            while (recording())
                block(std::max(64, blockSize()), true, position);
            break;
        case 3: // the user stops while the host waits between blocks
            e = {e.start, position - e.start, EndReason::Cancelled};
            shared.stopWanted.store(true);
            spinUntil(shared.abort, [&] { return capture.state() != State::Recording; });
            break;
        default: // the user stops while blocks keep coming, racing the block being written
            e.reason = EndReason::Cancelled;
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
    std::vector<Outcome> expected(kScenes);
    std::vector<Outcome> got;
    cvtest::AllocationCounts hostCounts;
    std::thread host([&] { runHost(shared, expected, hostCounts); });
    for (int armed = -1;;) {
        const bool hostDone = shared.hostDone.load(); // read first: the state is then final
        const State state = capture.state();
        if (state == State::Done) {
            const auto result = capture.takeCapture();
            shared.stopWanted.store(false);
            if (result == nullptr) {
                ADD_FAILURE() << "a finished capture could not be taken";
                break;
            }
            Outcome& g =
                got.emplace_back(Outcome{result->startPosition, result->audio.frames, result->endReason});
            for (int c = 0; c < result->audio.channels; ++c)
                for (std::int64_t k = 0; k < result->audio.frames; ++k)
                    g.exact = g.exact && result->audio.channel(c)[static_cast<std::size_t>(k)] ==
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

    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t s = 0; s < got.size(); ++s) {
        SCOPED_TRACE(::testing::Message() << "scene " << s);
        const Outcome& e = expected[s];
        const Outcome& g = got[s];
        EXPECT_EQ(g.start, e.start);
        EXPECT_TRUE(g.exact) << "a captured sample differs from the input at its host position";
        if (e.frames < 0 && g.reason == EndReason::BufferFull) {
            EXPECT_EQ(g.frames, kCapacity) << "the main thread was too slow to stop it, so it must be full";
            continue;
        }
        EXPECT_EQ(g.reason, e.reason);
        if (e.frames >= 0) {
            EXPECT_EQ(g.frames, e.frames);
        }
    }
    EXPECT_EQ(hostCounts.allocations, 0u);
    EXPECT_EQ(hostCounts.frees, 0u);
}

} // namespace
