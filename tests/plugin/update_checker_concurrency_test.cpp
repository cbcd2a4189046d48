#include "plugin/update_checker.h"
#include "plugin/update_status.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

const std::string kManifest =
    R"({"schema":"1","version":"1.0.1","downloadUrl":"https://updates.corvalinth.com/d",)"
    R"("releaseNotesUrl":"https://updates.corvalinth.com/n","sha256":")" +
    std::string(64, 'a') + "\"}";

// A fetch that reports each call and then holds until the test opens its gate or the check is
// cancelled; it answers with whatever the test set up.
class GatedFetch {
public:
    cv::UpdateFetch function() {
        return [this](const std::string& url, std::size_t maxBytes, int timeoutMs,
                      const cv::UpdateCancellation& token, std::string& body, std::string& error) {
            // Registered before the gate's mutex is taken: request() calls it under the token's mutex.
            const cv::UpdateCancellation::WakeRegistration wake(token, [this] {
                const std::lock_guard<std::mutex> inner(mutex_);
                changed_.notify_all();
            });
            std::unique_lock<std::mutex> lock(mutex_);
            ++calls_;
            lastCall_ = url + " " + std::to_string(maxBytes) + " " + std::to_string(timeoutMs);
            changed_.notify_all();
            changed_.wait(lock, [&] { return open_ || token.cancelled(); });
            if (token.cancelled()) {
                error = "The update check was cancelled.";
                return false;
            }
            if (throws_) {
                throw std::runtime_error("fetch failed");
            }
            body = body_;
            error = error_;
            return ok_;
        };
    }
    void answer(bool ok, std::string body, std::string error, bool throws = false) {
        const std::lock_guard<std::mutex> lock(mutex_);
        ok_ = ok;
        body_ = std::move(body);
        error_ = std::move(error);
        throws_ = throws;
        open_ = true;
        changed_.notify_all();
    }
    void waitForCalls(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return calls_ >= count; });
    }
    int calls() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // "<url> <maxBytes> <timeoutMs>" of the last call.
    std::string lastCall() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return lastCall_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int calls_ = 0;
    bool open_ = false;
    bool ok_ = false;
    bool throws_ = false;
    std::string body_;
    std::string error_;
    std::string lastCall_;
};

// Waits without sleeping until the check thread has stored its result or ended.
std::optional<cv::UpdateCheckResult> finished(cv::UpdateChecker& checker) {
    while (checker.running()) {
        std::this_thread::yield();
    }
    return checker.takeResult();
}

} // namespace

TEST(UpdateCancellation, RequestWakesWaitersAndRegisteredWakeUpsOnce) {
    cv::UpdateCancellation token;
    int wakeUps = 0;
    {
        const cv::UpdateCancellation::WakeRegistration registered(token, [&] { ++wakeUps; });
        EXPECT_FALSE(token.waitFor(std::chrono::milliseconds(0)));
        std::thread waiter([&] { EXPECT_TRUE(token.waitFor(std::chrono::hours(1))); });
        token.request();
        token.request();
        waiter.join();
    }
    EXPECT_EQ(wakeUps, 1);
    EXPECT_TRUE(token.cancelled());
    EXPECT_TRUE(token.waitFor(std::chrono::hours(1)));
    cv::UpdateCancellation other;
    {
        const cv::UpdateCancellation::WakeRegistration gone(other, [&] { ++wakeUps; });
    }
    other.request();
    EXPECT_EQ(wakeUps, 1); // a registration that ended is never called
}

TEST(UpdateChecker, RunsOneCheckAtATimeAndHandsBackItsResultOnce) {
    GatedFetch fetch;
    cv::UpdateChecker checker(fetch.function());
    ASSERT_TRUE(checker.start("1.0.0"));
    fetch.waitForCalls(1);
    EXPECT_FALSE(checker.start("1.0.0"));
    EXPECT_FALSE(checker.takeResult().has_value());
    EXPECT_EQ(fetch.lastCall(), "https://updates.corvalinth.com/api/releases/latest 65536 10000");
    fetch.answer(true, kManifest, "");
    const std::optional<cv::UpdateCheckResult> result = finished(checker);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->status, cv::UpdateCheckStatus::UpdateAvailable);
    EXPECT_FALSE(checker.takeResult().has_value());
    EXPECT_EQ(fetch.calls(), 1);
}

TEST(UpdateChecker, TurnsEveryFailureIntoAnErrorSentence) {
    struct Case {
        const char* name;
        bool ok;
        const char* error;
        bool throws;
        const char* message;
    };
    const Case cases[] = {
        {"fetch sentence", false, "The update check timed out.", false, "The update check timed out."},
        {"no sentence", false, "", false, "Couldn't check for updates."},
        {"exception", false, "", true, "Couldn't check for updates."},
        {"unreadable body", true, "", false, "Couldn't read the update information."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GatedFetch fetch;
        cv::UpdateChecker checker(fetch.function());
        fetch.answer(c.ok, "not json", c.error, c.throws);
        ASSERT_TRUE(checker.start("1.0.0"));
        const std::optional<cv::UpdateCheckResult> result = finished(checker);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->status, cv::UpdateCheckStatus::Error);
        EXPECT_EQ(result->message, c.message);
    }
    cv::UpdateChecker withoutFetch{cv::UpdateFetch{}};
    ASSERT_TRUE(withoutFetch.start("1.0.0"));
    EXPECT_EQ(finished(withoutFetch)->message, "Couldn't check for updates.");
}

TEST(UpdateChecker, DestructionCancelsAWaitingFetch) {
    GatedFetch fetch;
    {
        cv::UpdateChecker checker(fetch.function());
        ASSERT_TRUE(checker.start("1.0.0"));
        fetch.waitForCalls(1);
    } // would hang here if the destructor did not cancel the fetch
    EXPECT_EQ(fetch.calls(), 1);
}

TEST(UpdateCheckFlow, StatusWordFollowsTheCheck) {
    using Word = cv::UpdateStatusWord;
    GatedFetch fetch;
    cv::UpdateCheckFlow flow(fetch.function());
    EXPECT_EQ(flow.statusWord(), Word::Nothing);
    EXPECT_FALSE(flow.poll());
    flow.check(true, "1.0.0");
    EXPECT_EQ(flow.statusWord(), Word::Checking);
    fetch.waitForCalls(1);
    flow.check(true, "1.0.0"); // pressed again: the running check is kept
    EXPECT_FALSE(flow.poll());
    fetch.answer(false, "", "Couldn't connect to the update service.");
    while (!flow.poll()) {
        std::this_thread::yield();
    }
    EXPECT_EQ(fetch.calls(), 1);
    EXPECT_EQ(flow.statusWord(), Word::Error);
    EXPECT_EQ(flow.lastResult().message, "Couldn't connect to the update service.");
    flow.dismissTransient();
    EXPECT_EQ(flow.statusWord(), Word::Nothing);

    // The gate stays open: later checks finish as soon as they run.
    const auto checkWith = [&](bool userInitiated, const std::string& body) {
        fetch.answer(true, body, "");
        flow.check(userInitiated, "1.0.0");
        while (!flow.poll()) {
            std::this_thread::yield();
        }
        return flow.statusWord();
    };
    EXPECT_EQ(checkWith(true, kManifest), Word::UpdateAvailable);
    flow.dismissTransient();
    EXPECT_EQ(flow.statusWord(), Word::UpdateAvailable); // stays until the next check
    const std::string current = std::string(kManifest).replace(kManifest.find("1.0.1"), 5, "1.0.0");
    EXPECT_EQ(checkWith(true, current), Word::UpToDate);
    flow.dismissTransient();
    // A check nobody asked for shows only an available update.
    EXPECT_EQ(checkWith(false, current), Word::Nothing);
    EXPECT_EQ(checkWith(false, "broken"), Word::Nothing);
    EXPECT_EQ(checkWith(false, kManifest), Word::UpdateAvailable);
}
