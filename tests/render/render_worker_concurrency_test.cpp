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

// A render the test steps through (cvtest::StepGate) that stops at its cancel poll, as the document
// render does, unless honoursCancel is false (a render past its last poll). It records its document's
// nextNoteId as the mark of the run, and that note as pitch-synchronous in the run's hints.
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
};

Document markedDocument(std::uint32_t mark, std::vector<float> source = std::vector<float>(64)) {
    Document doc;
    doc.sampleRate = 44100.0;
    doc.audio = std::make_shared<const AudioBuffer>(
        AudioBuffer::fromInterleaved(source.data(), 1, static_cast<std::int64_t>(source.size())));
    doc.nextNoteId = mark;
    return doc;
}

// waitTakeResult(id) on another thread, as the offline bounce calls it from the audio thread, with
// `during` done meanwhile. Fails the test when the call has not returned within kGuard, and then
// cancels to release it.
template <class During>
std::optional<Worker::Result> waitTakeResultWhile(Worker& worker, std::uint64_t id, During during) {
    std::atomic<bool> calling{false};
    auto waiting = std::async(std::launch::async, [&] {
        calling = true;
        return worker.waitTakeResult(id);
    });
    during(calling);
    if (waiting.wait_for(kGuard) != std::future_status::ready) {
        ADD_FAILURE() << "waitTakeResult did not return";
        worker.cancel();
    }
    return waiting.get();
}

using cvtest::settle;

TEST(RenderWorkerConcurrency, TheLatestRequestWinsAndOnlyDeliveredRendersKeepTheirEngines) {
    SteppedRender stepped;
    Worker worker(stepped.render());
    std::atomic<std::uint64_t> slot{0};
    stepped.honoursCancel = false;
    const std::uint64_t first = worker.requestRender(markedDocument(1), 11, 0.0, {}, 21, 31, &slot);
    EXPECT_EQ(slot.load(), first);
    stepped.waitStarted(1);
    // Two requests while the first renders: the first of them is replaced before it starts, and the
    // first render, finishing after them, is dropped with its engines.
    worker.requestRender(markedDocument(2), 12, 0.0, {}, 22, 32);
    const std::uint64_t third = worker.requestRender(markedDocument(3), 13, 0.0, {}, 23, 33);
    EXPECT_EQ(third, first + 2) << "the id is the raised generation";
    stepped.released += 2;
    std::optional<Worker::Result> result = waitTakeResultWhile(worker, third, [](auto&) {});
    ASSERT_TRUE(result && result->audio);
    EXPECT_EQ(std::tie(result->requestId, result->tagA, result->tagB, result->tagC, result->error),
              std::tuple(third, 13u, 23u, 33u, ""));
    EXPECT_FALSE(worker.takeResult()) << "a result is taken once";
    EXPECT_EQ(stepped.marks, (std::vector<std::uint32_t>{1, 3}));

    // Each run starts from the delivered renders' engines; a cancel drops a finished, untaken result.
    worker.requestRender(markedDocument(4), 14, 0.0, {}, 24, 34);
    stepped.release();
    while (worker.busy())
        std::this_thread::yield();
    const RenderHints hints = worker.hintsSnapshot();
    EXPECT_EQ(hints.engineByNote.size(), 2u);
    EXPECT_TRUE(hints.engineByNote.contains(3) && hints.engineByNote.contains(4) &&
                hints.timeDomainByNote.at(4));
    worker.cancel();
    EXPECT_FALSE(worker.takeResult());
}

TEST(RenderWorkerConcurrency, WaitTakeResultReturnsForCurrentStaleAndCancelledIds) {
    SteppedRender stepped;
    Worker worker(stepped.render());
    std::uint64_t id = worker.requestRender(markedDocument(1), 1, 0.0, {}, 0, 0);
    EXPECT_TRUE(waitTakeResultWhile(worker, id, [&](auto&) { stepped.release(); })) << "the current id";

    // A request during a render stops it at its cancel poll (never released) and ends the wait.
    id = worker.requestRender(markedDocument(2), 2, 0.0, {}, 0, 0);
    stepped.waitStarted(2);
    EXPECT_FALSE(waitTakeResultWhile(
        worker, id, [&](auto&) { worker.requestRender(markedDocument(3), 3, 0.0, {}, 0, 0); }));
    stepped.waitStarted(3);
    id = worker.requestRender(markedDocument(4), 4, 0.0, {}, 0, 0);
    EXPECT_FALSE(waitTakeResultWhile(worker, id, [&](auto&) { worker.cancel(); }))
        << "a cancel ends the wait";
    EXPECT_FALSE(settle(worker));

    // A render stopped by the request's own cancel test leaves the id current: only the end of the run
    // can wake the waiter.
    std::atomic<bool> stopOwn{false};
    RenderOptions options;
    options.cancel = [&] { return stopOwn.load(); };
    const int started = stepped.started.load();
    id = worker.requestRender(markedDocument(5), 5, 0.0, std::move(options), 0, 0);
    stepped.waitStarted(started + 1);
    EXPECT_FALSE(waitTakeResultWhile(worker, id, [&](std::atomic<bool>& calling) {
        while (!calling)
            std::this_thread::yield();
        stopOwn = true;
    }));
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
    const std::tuple<std::uint32_t, RenderOptions, const char*> cases[] = {
        {1, {}, "Render requires source audio"},
        {2, {}, Worker::kUnexpectedFailureMessage},
        {3, holdingAll, kRenderResampleWorkingSetMessage}};
    for (const auto& [mark, options, error] : cases) {
        SCOPED_TRACE(error);
        const std::uint64_t id = worker.requestRender(markedDocument(mark), mark, 48000.0, options, 5, 6);
        const std::optional<Worker::Result> result = settle(worker);
        ASSERT_TRUE(result);
        EXPECT_EQ(std::tie(result->requestId, result->tagA, result->error), std::tuple(id, mark, error));
        EXPECT_FALSE(result->audio);
    }
}

TEST(RenderWorkerConcurrency, ConvertsTheRenderToTheHostRateWithTheExactLengthAndNoDelay) {
    Worker worker; // the document render: a document without notes renders as its source
    constexpr std::int64_t kFrames = 22051;
    const std::vector<float> source = cvtest::sine(1000.0, 44100.0, kFrames);
    const std::pair<double, std::int64_t> cases[] = {
        {48000.0, std::llround(kFrames * 48000.0 / 44100.0)}, {0.0, kFrames}, {44100.0, kFrames}};
    for (const auto& [outputRate, frames] : cases) {
        SCOPED_TRACE(outputRate);
        worker.requestRender(markedDocument(1, source), 1, outputRate, {}, 0, 0);
        const std::optional<Worker::Result> result = settle(worker);
        ASSERT_TRUE(result && result->audio) << (result ? result->error : "no result");
        ASSERT_EQ(result->audio->frames, frames);
        // The sine stays where it was, away from the filter's edges; one sample late would be 0.065 off.
        const double rate = outputRate > 0.0 ? outputRate : 44100.0;
        double largestError = 0.0;
        for (std::int64_t i = 200; i < frames - 200; ++i)
            largestError =
                std::max(largestError, std::abs(result->audio->samples[i] -
                                                0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / rate)));
        EXPECT_LT(largestError, 1e-3);
    }
}

} // namespace
} // namespace np
