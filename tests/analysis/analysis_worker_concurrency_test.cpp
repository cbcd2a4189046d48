#include "engine/analysis/analysis_worker.h"
#include "tests/support/step_gate.h"

#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <tuple>

namespace {

using Worker = np::AnalysisWorker;

// A job the test steps through (cvtest::StepGate): while waiting for its release it reports progress
// unless reports is false. The result's sampleRate carries the request's stampA, so a result delivered for
// the wrong request shows; stampB 99 makes the job throw.
struct SteppedJob : cvtest::StepGate {
    bool reports = true;

    Worker::Job job() {
        return [this](const Worker::Request& request, const std::function<bool(float)>& progress) {
            np::AnalysisResult result;
            if (!pass([&] { return reports && !progress(0.5f); })) {
                result.cancelled = true;
                return result;
            }
            if (request.stampB == 99)
                throw std::runtime_error("Audio cannot be analyzed safely.");
            result.sampleRate = static_cast<double>(request.stampA);
            return result;
        };
    }
};

std::shared_ptr<const np::AudioBuffer> someAudio(std::int64_t frames = 16) {
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(1, frames);
    return audio;
}

// Polls as the idle loop does, until the worker is idle; then takes what is there.
using cvtest::settle;

// stampA, stampB, the analysis's sampleRate (the job's echo of stampA) and the error of a result.
std::tuple<std::uint64_t, std::uint64_t, double, std::string> summary(const Worker::Result& r) {
    return {r.stampA, r.stampB, r.analysis.sampleRate, r.error};
}

TEST(AnalysisWorkerConcurrency, DeliversEachResultOnceWithItsStampsOrItsError) {
    SteppedJob stepped;
    Worker worker(stepped.job());
    EXPECT_FALSE(worker.threadStarted()) << "no thread before the first request";
    worker.request(someAudio(), 48000.0, false, 7, 8);
    stepped.waitStarted(1);
    EXPECT_TRUE(worker.busy());
    ++stepped.released;
    auto result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_EQ(summary(*result), std::tuple(7u, 8u, 7.0, ""));
    EXPECT_FALSE(worker.takeResult()) << "a result is taken once";

    worker.request(someAudio(), 48000.0, false, 3, 99);
    ++stepped.released;
    result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_EQ(summary(*result), std::tuple(3u, 99u, 48000.0, "Audio cannot be analyzed safely."));

    worker.request(nullptr, 48000.0, false, 4, 0);
    result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_EQ(summary(*result), std::tuple(4u, 0u, 48000.0, "")) << "no audio: a default analysis";
}

TEST(AnalysisWorkerConcurrency, TheLatestRequestWinsAndStaleResultsAreDropped) {
    SteppedJob stepped;
    Worker worker(stepped.job());
    // A finished result nobody took goes with its request when a new one comes.
    worker.request(someAudio(), 48000.0, false, 9, 0);
    ++stepped.released;
    while (worker.busy())
        std::this_thread::yield();
    worker.request(someAudio(), 48000.0, false, 1, 0);
    EXPECT_FALSE(worker.takeResult()) << "an older untaken result is cleared";
    stepped.waitStarted(2);
    worker.request(someAudio(), 48000.0, true, 2, 0); // makes the running one stale
    stepped.waitStarted(3);
    ++stepped.released;
    auto result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_EQ(summary(*result), std::tuple(2u, 0u, 2.0, ""));

    // Many requests in a row: whatever analyses start and finish, only the last is delivered.
    for (std::uint64_t i = 1; i <= 50; ++i)
        worker.request(someAudio(), 48000.0, i % 2 == 0, i, 0);
    for (result.reset(); !result; std::this_thread::yield()) {
        ++stepped.released;
        result = worker.busy() ? std::nullopt : worker.takeResult();
    }
    EXPECT_EQ(summary(*result), std::tuple(50u, 0u, 50.0, ""));
}

TEST(AnalysisWorkerConcurrency, CancelDropsTheRunningResult) {
    SteppedJob stepped;
    Worker worker(stepped.job());
    worker.request(someAudio(), 48000.0, false, 1, 0);
    stepped.waitStarted(1);
    worker.cancel();
    EXPECT_FALSE(settle(worker)) << "the stale analysis stops at its next report and is dropped";
    EXPECT_EQ(worker.progress(), 0.0f);

    // A job that finishes without reporting again: its result is stale all the same.
    SteppedJob silent;
    silent.reports = false;
    Worker other(silent.job());
    other.request(someAudio(), 48000.0, false, 1, 0);
    silent.waitStarted(1);
    other.cancel();
    ++silent.released;
    EXPECT_FALSE(settle(other)) << "a result finished for a cancelled request is dropped";
}

TEST(AnalysisWorkerConcurrency, DestroyingWhileAnalysingReturnsPromptly) {
    SteppedJob stepped;
    {
        Worker worker(stepped.job());
        worker.request(someAudio(), 48000.0, false, 1, 0);
        stepped.waitStarted(1);
    } // the destructor stops the job at its next report, never waiting for a release
    EXPECT_EQ(stepped.released.load(), 0);
}

TEST(AnalysisWorkerConcurrency, TheDefaultJobRunsTheRealAnalysis) {
    Worker worker;
    worker.request(someAudio(48000), 48000.0, false, 5, 6);
    const auto result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->error.empty());
    EXPECT_TRUE(result->analysis.notes.empty()) << "silence has no notes";

    worker.request(someAudio(48000), 7000.0, true, 5, 6);
    const auto refused = settle(worker);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->error,
              "Audio cannot be analyzed safely. Check its duration, channel count, sample rate, "
              "and analysis settings.");
}

} // namespace
