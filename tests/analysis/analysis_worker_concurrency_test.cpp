#include "engine/analysis/analysis_worker.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>

namespace {

using Worker = np::AnalysisWorker;

// A job the test steps through: each analysis reports progress until the test opens the gate, so the
// test decides when it ends without sleeping. The result's sampleRate carries the request's stampA,
// so a result delivered for the wrong request shows.
class SteppedJob {
public:
    Worker::Job job() {
        return [this](const Worker::Request& request, const std::function<bool(float)>& progress) {
            {
                std::lock_guard lock(mutex_);
                ++started_;
            }
            changed_.notify_all();
            for (;;) {
                if (!progress(0.5f)) {
                    np::AnalysisResult cancelled;
                    cancelled.cancelled = true;
                    return cancelled;
                }
                std::unique_lock lock(mutex_);
                if (open_ > 0) {
                    --open_;
                    break;
                }
                changed_.wait_for(lock, std::chrono::milliseconds(1));
            }
            if (request.stampB == 99)
                throw std::runtime_error("Audio cannot be analyzed safely.");
            np::AnalysisResult result;
            result.sampleRate = static_cast<double>(request.stampA);
            return result;
        };
    }
    // Lets one running analysis finish.
    void release() {
        std::lock_guard lock(mutex_);
        ++open_;
        changed_.notify_all();
    }
    void waitStarted(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return started_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int started_ = 0;
    int open_ = 0;
};

std::shared_ptr<const np::AudioBuffer> someAudio() {
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(1, 16);
    return audio;
}

// Polls as the idle loop does, until the worker is idle; then takes what is there.
std::optional<Worker::Result> settle(Worker& worker) {
    while (worker.busy())
        std::this_thread::yield();
    return worker.takeResult();
}

TEST(AnalysisWorkerConcurrency, DeliversTheResultWithItsStamps) {
    SteppedJob stepped;
    Worker worker(stepped.job());
    EXPECT_FALSE(worker.threadStarted()) << "no thread before the first request";
    worker.request(someAudio(), 48000.0, false, 7, 8);
    EXPECT_TRUE(worker.threadStarted());
    stepped.waitStarted(1);
    EXPECT_TRUE(worker.busy());
    stepped.release();
    const auto result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->stampA, 7u);
    EXPECT_EQ(result->stampB, 8u);
    EXPECT_EQ(result->analysis.sampleRate, 7.0);
    EXPECT_TRUE(result->error.empty());
    EXPECT_FALSE(worker.takeResult()) << "a result is taken once";
}

TEST(AnalysisWorkerConcurrency, TheLatestRequestWins) {
    SteppedJob stepped;
    Worker worker(stepped.job());
    worker.request(someAudio(), 48000.0, false, 1, 0);
    stepped.waitStarted(1);
    worker.request(someAudio(), 48000.0, true, 2, 0); // makes the running one stale
    stepped.waitStarted(2);
    stepped.release();
    const auto result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->stampA, 2u);
    EXPECT_EQ(result->analysis.sampleRate, 2.0);
}

TEST(AnalysisWorkerConcurrency, CancelDropsTheRunningResult) {
    SteppedJob stepped;
    Worker worker(stepped.job());
    worker.request(someAudio(), 48000.0, false, 1, 0);
    stepped.waitStarted(1);
    worker.cancel();
    EXPECT_FALSE(settle(worker)) << "the stale analysis stops at its next report and is dropped";
    EXPECT_EQ(worker.progress(), 0.0f);
}

TEST(AnalysisWorkerConcurrency, ManyRequestsInARowDeliverOnlyTheLast) {
    SteppedJob stepped;
    Worker worker(stepped.job());
    for (std::uint64_t i = 1; i <= 50; ++i)
        worker.request(someAudio(), 48000.0, i % 2 == 0, i, 0);
    // Let every analysis that may have started finish; only the last request may be delivered.
    std::optional<Worker::Result> result;
    while (!result) {
        stepped.release();
        result = worker.busy() ? std::nullopt : worker.takeResult();
        std::this_thread::yield();
    }
    EXPECT_EQ(result->stampA, 50u);
    EXPECT_EQ(result->analysis.sampleRate, 50.0);
}

TEST(AnalysisWorkerConcurrency, ErrorsAndMissingAudioComeBackAsResults) {
    SteppedJob stepped;
    Worker worker(stepped.job());
    worker.request(someAudio(), 48000.0, false, 3, 99);
    stepped.waitStarted(1);
    stepped.release();
    auto result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->error, "Audio cannot be analyzed safely.");
    EXPECT_EQ(result->stampA, 3u);

    worker.request(nullptr, 48000.0, false, 4, 0);
    result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->error.empty());
    EXPECT_EQ(result->analysis.sampleRate, 48000.0) << "a default analysis";
    EXPECT_EQ(result->stampA, 4u);
}

TEST(AnalysisWorkerConcurrency, DestroyingWhileAnalysingReturnsPromptly) {
    SteppedJob stepped;
    {
        Worker worker(stepped.job());
        worker.request(someAudio(), 48000.0, false, 1, 0);
        stepped.waitStarted(1);
    } // the destructor must stop the job at its next report, never waiting for release()
    SUCCEED();
}

TEST(AnalysisWorkerConcurrency, RealAnalysisRunsOnTheDefaultJob) {
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(1, 48000);
    Worker worker;
    worker.request(audio, 48000.0, true, 5, 6);
    const auto result = settle(worker);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->error.empty());
    EXPECT_EQ(result->analysis.sampleRate, 48000.0);
    EXPECT_TRUE(result->analysis.notes.empty()) << "silence has no events";

    worker.request(audio, 7000.0, false, 5, 6);
    const auto refused = settle(worker);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->error,
              "Audio cannot be analyzed safely. Check its duration, channel count, sample rate, "
              "and analysis settings.");
}

} // namespace
