#include "engine/audio/cancellation.h"
#include "engine/render/render_plan.h"
#include "engine/render/render_worker.h"
#include "tests/support/signals.h"
#include "tests/support/step_gate.h"

#include <chrono>
#include <cmath>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace np {
namespace {

using Worker = RenderWorker;

// How long a call that must return may take before the test fails instead of hanging.
constexpr auto kGuard = std::chrono::seconds(20);

// A render the test steps through (cvtest::StepGate): it stops early, as the document render does,
// when its cancel test turns true (unless honoursCancel is false: a render past its last poll). Every render
// is marked by its document's nextNoteId: it records the mark, records the mark's note as pitch-synchronous
// in the run's hints and returns the source.
struct SteppedRender : cvtest::StepGate {
    std::mutex mutex;
    std::vector<std::uint32_t> marks;
    std::atomic<bool> honoursCancel{true};

    Worker::Render render() {
        return [this](const Document& doc, const RenderOptions& options) {
            {
                const std::lock_guard lock(mutex);
                marks.push_back(doc.nextNoteId);
            }
            options.hints->record(doc.nextNoteId, RenderEngine::Psola);
            if (!pass([&] { return honoursCancel && options.cancelled(); }))
                throw RenderCancelled();
            return *doc.audio;
        };
    }
    std::vector<std::uint32_t> rendered() {
        const std::lock_guard lock(mutex);
        return marks;
    }
};

Document markedDocument(std::uint32_t mark, std::vector<float> source = std::vector<float>(64),
                        double rate = 44100.0) {
    Document doc;
    doc.sampleRate = rate;
    doc.audio = std::make_shared<const AudioBuffer>(
        AudioBuffer::fromInterleaved(source.data(), 1, static_cast<std::int64_t>(source.size())));
    doc.nextNoteId = mark;
    return doc;
}

// waitTakeResult(id) on another thread, as the offline bounce calls it from the audio thread. When it
// has not returned within kGuard the test fails, and a cancel releases it so the test ends.
std::future<std::optional<Worker::Result>> waitOnAnotherThread(Worker& worker, std::uint64_t id,
                                                               std::atomic<bool>* calling = nullptr) {
    return std::async(std::launch::async, [&worker, id, calling] {
        if (calling)
            calling->store(true);
        return worker.waitTakeResult(id);
    });
}
std::optional<Worker::Result> guardedGet(Worker& worker, std::future<std::optional<Worker::Result>> waiting) {
    if (waiting.wait_for(kGuard) != std::future_status::ready) {
        ADD_FAILURE() << "waitTakeResult did not return";
        worker.cancel();
    }
    return waiting.get();
}

std::optional<Worker::Result> settle(Worker& worker) {
    while (worker.busy())
        std::this_thread::yield();
    return worker.takeResult();
}

std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::string>
summary(const Worker::Result& r) {
    return {r.requestId, r.tagA, r.tagB, r.tagC, r.error};
}

TEST(RenderWorkerConcurrency, TheLatestRequestWinsAndOnlyDeliveredRendersKeepTheirEngines) {
    SteppedRender stepped;
    Worker worker(stepped.render());
    std::atomic<std::uint64_t> slot{0};
    stepped.honoursCancel = false; // the first render runs on until two more requests are made
    const std::uint64_t first = worker.requestRender(markedDocument(1), 11, 0.0, {}, 21, 31, &slot);
    EXPECT_EQ(slot.load(), first);
    stepped.waitStarted(1);

    // Two requests while the first renders: the first of the two is replaced before it starts, and
    // the running render stops at its next cancel poll (it is never released).
    const std::uint64_t second = worker.requestRender(markedDocument(2), 12, 0.0, {}, 22, 32);
    const std::uint64_t third = worker.requestRender(markedDocument(3), 13, 0.0, {}, 23, 33);
    EXPECT_EQ(std::tuple(second, third), std::tuple(first + 1, first + 2))
        << "the id is the raised generation";
    stepped.honoursCancel = true;
    stepped.waitStarted(2);
    EXPECT_FALSE(guardedGet(worker, waitOnAnotherThread(worker, first))) << "a superseded id";
    stepped.release();
    std::optional<Worker::Result> result = guardedGet(worker, waitOnAnotherThread(worker, third));
    ASSERT_TRUE(result);
    EXPECT_EQ(summary(*result), std::tuple(third, 13u, 23u, 33u, ""));
    ASSERT_TRUE(result->audio);
    EXPECT_EQ(result->audio->frames, 64);
    EXPECT_FALSE(worker.takeResult()) << "a result is taken once";
    EXPECT_EQ(stepped.rendered(), (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(worker.hintsSnapshot().engineByNote.count(1), 0u) << "a stale render's engines are dropped";

    // Each run starts from the delivered renders' engines.
    worker.requestRender(markedDocument(4), 14, 0.0, {}, 24, 34);
    stepped.release();
    EXPECT_TRUE(settle(worker));
    const RenderHints hints = worker.hintsSnapshot();
    EXPECT_EQ(hints.engineByNote.size(), 2u);
    EXPECT_TRUE(hints.engineByNote.contains(3) && hints.engineByNote.contains(4));
    EXPECT_TRUE(hints.timeDomainByNote.at(4));
}

TEST(RenderWorkerConcurrency, CancelLeavesNothingToTake) {
    SteppedRender stepped;
    Worker worker(stepped.render());
    worker.requestRender(markedDocument(1), 1, 0.0, {}, 0, 0);
    stepped.release();
    while (worker.busy())
        std::this_thread::yield();
    worker.cancel();
    EXPECT_FALSE(worker.takeResult()) << "a finished but untaken result goes with the cancel";

    worker.requestRender(markedDocument(2), 2, 0.0, {}, 0, 0);
    stepped.waitStarted(2);
    worker.cancel();
    EXPECT_FALSE(settle(worker)) << "the running render stops at its cancel poll and is dropped";
    EXPECT_EQ(worker.progress(), 0.0f);

    stepped.honoursCancel = false;
    worker.requestRender(markedDocument(3), 3, 0.0, {}, 0, 0);
    stepped.waitStarted(3);
    worker.cancel();
    stepped.release();
    EXPECT_FALSE(settle(worker)) << "a render finished after the cancel is dropped";
    EXPECT_EQ(worker.hintsSnapshot().engineByNote.count(3), 0u) << "and so are its engines";
}

TEST(RenderWorkerConcurrency, WaitTakeResultReturnsForCurrentStaleAndCancelledIds) {
    SteppedRender stepped;
    Worker worker(stepped.render());
    EXPECT_FALSE(worker.waitTakeResult(0));

    std::uint64_t id = worker.requestRender(markedDocument(1), 1, 0.0, {}, 0, 0);
    auto waiting = waitOnAnotherThread(worker, id);
    stepped.waitStarted(1);
    stepped.release();
    std::optional<Worker::Result> result = guardedGet(worker, std::move(waiting));
    ASSERT_TRUE(result) << "the current id gets its result";
    EXPECT_EQ(result->requestId, id);

    id = worker.requestRender(markedDocument(2), 2, 0.0, {}, 0, 0);
    stepped.waitStarted(2);
    waiting = waitOnAnotherThread(worker, id);
    worker.requestRender(markedDocument(3), 3, 0.0, {}, 0, 0);
    EXPECT_FALSE(guardedGet(worker, std::move(waiting))) << "a newer request ends the wait";

    stepped.waitStarted(3);
    id = worker.requestRender(markedDocument(4), 4, 0.0, {}, 0, 0);
    waiting = waitOnAnotherThread(worker, id);
    worker.cancel();
    EXPECT_FALSE(guardedGet(worker, std::move(waiting))) << "a cancel ends the wait";
    while (worker.busy()) // the cancelled document may or may not have started
        std::this_thread::yield();

    // A render stopped by the request's own cancel test leaves the id current: only the end of the run
    // can wake the waiter.
    std::atomic<bool> calling{false};
    std::atomic<bool> stopOwn{false};
    RenderOptions options;
    options.cancel = [&] { return calling.load() && stopOwn.load(); };
    const int started = stepped.started.load();
    id = worker.requestRender(markedDocument(5), 5, 0.0, std::move(options), 0, 0);
    stepped.waitStarted(started + 1);
    waiting = waitOnAnotherThread(worker, id, &calling);
    stopOwn.store(true);
    EXPECT_FALSE(guardedGet(worker, std::move(waiting))) << "a run ended by its own cancel test";
}

TEST(RenderWorkerConcurrency, DestroyingDuringARenderReturnsAtItsNextCancelPoll) {
    SteppedRender stepped;
    auto worker = std::make_unique<Worker>(stepped.render());
    worker->requestRender(markedDocument(1), 1, 0.0, {}, 0, 0);
    stepped.waitStarted(1);
    auto destroyed = std::async(std::launch::async, [&worker] { worker.reset(); });
    if (destroyed.wait_for(kGuard) != std::future_status::ready) {
        ADD_FAILURE() << "the destructor waited for the render to finish";
        stepped.release();
    }
    destroyed.get();
    EXPECT_EQ(stepped.released.load(), 0) << "the render was never let go: its cancel test ended it";
}

TEST(RenderWorkerConcurrency, FailuresComeBackAsResultsWithTheirSentence) {
    Worker worker([](const Document& doc, const RenderOptions&) -> AudioBuffer {
        if (doc.nextNoteId == 1)
            throw std::invalid_argument("Render requires source audio");
        if (doc.nextNoteId == 2)
            throw 7;
        return *doc.audio;
    });
    RenderOptions holdingAll;
    holdingAll.reservedBytes = kRenderWorkingSetBytes;
    const struct {
        std::uint32_t mark;
        double outputRate;
        RenderOptions options;
        const char* error;
    } cases[] = {{1, 0.0, {}, "Render requires source audio"},
                 {2, 0.0, {}, Worker::kUnexpectedFailureMessage},
                 {3, 48000.0, holdingAll, kRenderResampleWorkingSetMessage}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const std::uint64_t id =
            worker.requestRender(markedDocument(c.mark), c.mark, c.outputRate, c.options, 5, 6);
        const std::optional<Worker::Result> result = settle(worker);
        ASSERT_TRUE(result);
        EXPECT_EQ(summary(*result), std::tuple(id, c.mark, 5u, 6u, c.error));
        EXPECT_FALSE(result->audio);
    }
}

TEST(RenderWorkerConcurrency, ConvertsTheRenderToTheHostRateWithTheExactLengthAndNoDelay) {
    // The default worker runs the document render: a document without notes renders as its source.
    Worker worker;
    constexpr std::int64_t kFrames = 22051;
    constexpr double kHz = 1000.0;
    const std::vector<float> source = cvtest::sine(kHz, 44100.0, kFrames);
    const struct {
        double outputRate;
        std::int64_t frames;
    } cases[] = {{48000.0, std::llround(kFrames * 48000.0 / 44100.0)}, {0.0, kFrames}, {44100.0, kFrames}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outputRate);
        worker.requestRender(markedDocument(1, source), 1, c.outputRate, {}, 0, 0);
        const std::optional<Worker::Result> result = settle(worker);
        ASSERT_TRUE(result && result->audio) << (result ? result->error : "no result");
        ASSERT_EQ(result->audio->frames, c.frames);
        // Sample 0 stays on the source's sample 0: the sine is where it was, away from the filter's
        // edges (a delay of one output sample would be off by 0.065).
        const double rate = c.outputRate > 0.0 ? c.outputRate : 44100.0;
        double largestError = 0.0;
        for (std::int64_t i = 200; i < c.frames - 200; ++i) {
            const double expected =
                0.5 * std::sin(2.0 * std::numbers::pi * kHz * static_cast<double>(i) / rate);
            largestError = std::max(largestError, std::abs(result->audio->samples[i] - expected));
        }
        EXPECT_LT(largestError, 1e-3);
    }
}

} // namespace
} // namespace np
