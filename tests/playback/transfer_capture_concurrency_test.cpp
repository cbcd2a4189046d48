#include "engine/playback/transfer_capture.h"
#include "tests/playback/capture_host.h"
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

// How the simulated host ends each recording.
enum class Scene : int {
    TransportStops,    // play, then stop the transport
    TimelineJumps,     // play, then continue at another position
    BufferFills,       // play until the buffer is full
    StopBetweenBlocks, // the user presses Stop while the host waits between blocks
    StopWhilePlaying,  // the user presses Stop while blocks keep coming
    kCount
};

constexpr int kScenes = 300;
constexpr int kChannels = 2;
constexpr double kRate = 8000.0;
constexpr std::int64_t kCapacity = 16000; // 2 s at 8 kHz

// Shared between the simulated host (audio thread) and the main thread.
struct Shared {
    TransferCapture capture;
    std::atomic<int> sceneWanted{-1}; // audio thread: the scene it wants armed
    std::atomic<int> sceneArmed{-1};  // main thread: the scene it armed
    std::atomic<bool> stopWanted{false};
    std::atomic<int> sceneKind{0};
    std::atomic<std::int64_t> sceneStart{0};
    std::atomic<std::int64_t> sceneFrames{-1}; // -1: not known in advance
    std::atomic<bool> hostDone{false};
    std::atomic<bool> abort{false}; // the main thread failed: the host stops waiting
};

// Spins (yielding) until ready() holds; gives up after a generous bound so a fault fails the test
// instead of hanging it.
template <class F>
bool spinUntil(const std::atomic<bool>& abort, F ready) {
    for (long i = 0; i < 200000000L && !abort.load(); ++i) {
        if (ready())
            return true;
        std::this_thread::yield();
    }
    return false;
}

void runHost(Shared& shared, cvtest::AllocationCounts& counts, int& hostFailures) {
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> sizePick(0, 5);
    std::uniform_int_distribution<int> anySize(1, 4096);
    std::uniform_int_distribution<std::int64_t> anyPosition(0, 5000000);
    const std::array<int, 5> sizes{1, 17, 64, 512, 4096};
    cvtest::CodedInput input(kChannels, 4096);
    auto blockSize = [&] {
        const int pick = sizePick(random);
        return pick < 5 ? sizes[static_cast<std::size_t>(pick)] : anySize(random);
    };
    TransferCapture& capture = shared.capture;

    cvtest::ScopedAllocationCounter counter;
    for (int scene = 0; scene < kScenes; ++scene) {
        const auto kind = static_cast<Scene>(scene % static_cast<int>(Scene::kCount));
        shared.sceneWanted.store(scene);
        if (!spinUntil(shared.abort, [&] { return shared.sceneArmed.load() == scene; })) {
            ++hostFailures;
            break;
        }
        // Stopped blocks keep the recorder waiting.
        std::int64_t position = anyPosition(random);
        for (int i = 0; i < 3; ++i) {
            const int n = blockSize();
            capture.process(input.fill(position, n), kChannels, n, false, position);
        }
        if (capture.state() != State::Armed)
            ++hostFailures;

        position = anyPosition(random);
        shared.sceneKind.store(static_cast<int>(kind));
        shared.sceneStart.store(position);
        shared.sceneFrames.store(-1);
        std::int64_t played = 0;
        auto play = [&](int n) {
            capture.process(input.fill(position, n), kChannels, n, true, position);
            position += n;
            played += n;
        };
        auto finished = [&] {
            const State s = capture.state();
            return s == State::Done || s == State::Idle;
        };
        switch (kind) {
        case Scene::TransportStops:
        case Scene::TimelineJumps: {
            const int blocks = 1 + scene % 4;
            for (int b = 0; b < blocks && played < kCapacity - 4096; ++b)
                play(blockSize());
            shared.sceneFrames.store(played);
            const int n = blockSize();
            if (kind == Scene::TransportStops)
                capture.process(input.fill(position, n), kChannels, n, false, position);
            else
                capture.process(input.fill(position + 777, n), kChannels, n, true, position + 777);
            break;
        }
        case Scene::BufferFills:
            shared.sceneFrames.store(kCapacity);
            while (!finished())
                play(std::max(64, blockSize()));
            break;
        case Scene::StopBetweenBlocks:
            play(blockSize());
            shared.sceneFrames.store(played);
            shared.stopWanted.store(true);
            if (!spinUntil(shared.abort, finished))
                ++hostFailures;
            break;
        case Scene::StopWhilePlaying:
            play(blockSize());
            shared.stopWanted.store(true);
            // Ends by the user's stop, or by a full buffer if the main thread is slow.
            while (!finished())
                play(blockSize());
            break;
        case Scene::kCount:
            break;
        }
    }
    counts = counter.counts();
    shared.hostDone.store(true);
}

TEST(TransferCapture, SimulatedHostCapturesReproduceThePositionCodedInput) {
    Shared shared;
    ASSERT_TRUE(shared.capture.prepare(kChannels, kRate, kCapacity / kRate));
    cvtest::AllocationCounts hostCounts;
    int hostFailures = 0;
    std::thread host([&] { runHost(shared, hostCounts, hostFailures); });

    std::array<int, 5> reasonCounts{};
    int taken = 0;
    int mismatches = 0;
    int wrongEnds = 0;
    int armed = -1;
    std::mt19937 random(99);
    while (!shared.hostDone.load() || shared.capture.state() == State::Done) {
        TransferCapture& capture = shared.capture;
        const State state = capture.state();
        const int wanted = shared.sceneWanted.load();
        if (state == State::Idle && wanted > armed) {
            bool ok = capture.arm(0);
            if (ok && random() % 3 == 0) {
                // Withdraw and arm again: the host has not started yet.
                ok = capture.cancel() == TransferCapture::CancelOutcome::ArmWithdrawn && capture.arm(0);
            }
            if (!ok) {
                ADD_FAILURE() << "arming failed";
                shared.abort.store(true);
                break;
            }
            armed = wanted;
            shared.sceneArmed.store(wanted);
        } else if (state == State::Done) {
            const auto kind = static_cast<Scene>(shared.sceneKind.load());
            const std::int64_t expectedFrames = shared.sceneFrames.load();
            const auto result = capture.takeCapture();
            shared.stopWanted.store(false);
            if (!result) {
                ADD_FAILURE() << "a finished capture could not be taken";
                shared.abort.store(true);
                break;
            }
            ++taken;
            ++reasonCounts[static_cast<std::size_t>(result->endReason)];
            EXPECT_EQ(result->startPosition, shared.sceneStart.load());
            if (expectedFrames >= 0) {
                EXPECT_EQ(result->audio.frames, expectedFrames) << "scene kind " << static_cast<int>(kind);
            }
            EndReason expected = EndReason::None;
            switch (kind) {
            case Scene::TransportStops:
                expected = EndReason::TransportStopped;
                break;
            case Scene::TimelineJumps:
                expected = EndReason::TimelineJumped;
                break;
            case Scene::BufferFills:
                expected = EndReason::BufferFull;
                break;
            default:
                expected = EndReason::Cancelled;
                break;
            }
            const bool slowStop =
                kind == Scene::StopWhilePlaying && result->endReason == EndReason::BufferFull;
            if (result->endReason != expected && !slowStop)
                ++wrongEnds;
            for (int c = 0; c < result->audio.channels; ++c) {
                const auto plane = result->audio.channel(c);
                for (std::int64_t k = 0; k < result->audio.frames; ++k)
                    if (plane[static_cast<std::size_t>(k)] !=
                        cvtest::positionCode(c, result->startPosition + k))
                        ++mismatches;
            }
        } else if ((state == State::Recording || state == State::InBlock) && shared.stopWanted.load()) {
            shared.stopWanted.store(false);
            capture.cancel();
        } else {
            std::this_thread::yield();
        }
    }
    host.join();

    EXPECT_EQ(hostFailures, 0);
    EXPECT_EQ(taken, kScenes);
    EXPECT_EQ(mismatches, 0) << "a captured sample differs from the input at its host position";
    EXPECT_EQ(wrongEnds, 0);
    const int perKind = kScenes / static_cast<int>(Scene::kCount);
    EXPECT_EQ(reasonCounts[static_cast<std::size_t>(EndReason::TransportStopped)], perKind);
    EXPECT_EQ(reasonCounts[static_cast<std::size_t>(EndReason::TimelineJumped)], perKind);
    EXPECT_GE(reasonCounts[static_cast<std::size_t>(EndReason::Cancelled)], perKind);
    EXPECT_EQ(hostCounts.allocations, 0u);
    EXPECT_EQ(hostCounts.frees, 0u);
}

} // namespace
