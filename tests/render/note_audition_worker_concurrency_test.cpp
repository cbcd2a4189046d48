#include "engine/render/note_audition_worker.h"
#include "tests/support/signals.h"
#include "tests/support/step_gate.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace np {
namespace {

using Worker = NoteAuditionWorker;

// A synth the test steps through (cvtest::StepGate). It records the (note, serial) of every call and
// returns one frame.
struct SteppedSynth : cvtest::StepGate {
    std::mutex mutex;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> calls;

    Worker::Synth synth() {
        return [this](const FrozenNote&, const Worker::SynthRequest& request, const std::function<bool()>&) {
            {
                const std::lock_guard lock(mutex);
                calls.emplace_back(request.noteId, request.serial);
            }
            pass();
            AudioBuffer one;
            one.resize(1, 1);
            return one;
        };
    }
    // Waits until count calls have started; false when the worker went idle without starting them.
    bool waitStarted(const Worker& worker, int count) const {
        return StepGate::waitStarted(count, [&] { return worker.busy(); });
    }
};

std::shared_ptr<const std::vector<float>> shortExcerpt() {
    return std::make_shared<const std::vector<float>>(cvtest::sine(440.0, 44100.0, 200));
}

// Polls as the idle loop does, until the worker is idle; then takes what is there.
using cvtest::settle;

TEST(NoteAuditionWorkerConcurrency, DeliversOnlyTheNewestRequestsResult) {
    SteppedSynth stepped;
    Worker worker(stepped.synth());
    worker.requestFreeze(shortExcerpt(), 44100.0, 1, 7);
    worker.requestSynth(1, 220.0, 100, 48000.0, 1, 1.0, 7);
    ASSERT_TRUE(stepped.waitStarted(worker, 1));

    // Two drag steps while serial 1 is synthesised: serial 2 is overwritten before it runs, and the
    // finished serial 1 is stale once serial 3 is the newest request.
    worker.requestSynth(1, 230.0, 100, 48000.0, 2, 1.0, 7);
    worker.requestSynth(1, 240.0, 100, 48000.0, 3, 1.0, 7);
    ++stepped.released;
    ASSERT_TRUE(stepped.waitStarted(worker, 2));
    EXPECT_FALSE(worker.takeResult()) << "serial 1 finished after serial 3 was asked for";
    ++stepped.released;
    std::optional<Worker::Result> result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->serial, 3u);
    EXPECT_FALSE(worker.takeResult()) << "a result is taken once";

    // A freeze drops a waiting result.
    worker.requestSynth(1, 250.0, 100, 48000.0, 4, 1.0, 7);
    ++stepped.released;
    while (worker.busy())
        std::this_thread::yield();
    worker.requestFreeze(shortExcerpt(), 44100.0, 2, 8);
    EXPECT_FALSE(worker.takeResult());

    // A synth asked before its freeze ran waits for it: both are taken in one pass and the freeze runs
    // first (otherwise note 3 would find note 2 frozen and make nothing).
    worker.requestSynth(2, 260.0, 100, 48000.0, 5, 1.0, 8);
    ASSERT_TRUE(stepped.waitStarted(worker, 4));
    worker.requestFreeze(shortExcerpt(), 44100.0, 3, 9);
    worker.requestSynth(3, 270.0, 100, 48000.0, 6, 1.0, 9);
    ++stepped.released;
    ASSERT_TRUE(stepped.waitStarted(worker, 5));
    ++stepped.released;
    result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_EQ(std::tie(result->noteId, result->serial, result->tag), std::tuple(3u, 6u, 9u));
    const std::lock_guard lock(stepped.mutex);
    EXPECT_EQ(stepped.calls,
              (std::vector<std::pair<std::uint32_t, std::uint64_t>>{{1, 1}, {1, 3}, {1, 4}, {2, 5}, {3, 6}}));
}

TEST(NoteAuditionWorkerConcurrency, SynthesisesTheFrozenNoteAtTheOutputRate) {
    Worker worker;
    EXPECT_FALSE(worker.busy());
    // A 200-sample excerpt at 44.1 kHz is looped, 441 frames of it resampled to 480 at 48 kHz.
    worker.requestFreeze(shortExcerpt(), 44100.0, 3, 9);
    worker.requestSynth(3, 440.0, 441, 48000.0, 1, 1.0, 9);
    std::optional<Worker::Result> result = settle(worker);
    ASSERT_TRUE(result);
    ASSERT_TRUE(result->audio);
    EXPECT_EQ(result->audio->channels, 1);
    EXPECT_EQ(result->audio->frames, 480);
    // A synth of another tag than the frozen note's makes nothing.
    worker.requestSynth(3, 440.0, 441, 48000.0, 2, 1.0, 10);
    EXPECT_FALSE(settle(worker));
}

} // namespace
} // namespace np
