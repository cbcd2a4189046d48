#pragma once

#include "plugin/update_checker.h"

#include <cstdint>
#include <string>

namespace cv {

// What the software-updates page shows; the page for each word follows 1 to 4.
enum class UpdateStatusWord : std::uint32_t {
    Nothing = 0,
    Checking = 1,
    UpToDate = 2,
    UpdateAvailable = 3,
    Error = 4,
};

// The plug-in's side of the update check: the checker, the status word, the last result taken and
// whether the running check was asked for by the user. Main thread only. Each call returns true when
// the update page should be redrawn.
class UpdateCheckFlow {
public:
    UpdateCheckFlow() = default;
    explicit UpdateCheckFlow(UpdateFetch fetch) : checker_(std::move(fetch)) {}

    // "Check for updates": while a check runs it only becomes user-initiated (status word 1 when
    // userInitiated); otherwise the stored result is reset and a check of currentVersion starts; the
    // word becomes 1 for a user's check, or 4 with "Couldn't check for updates." when it cannot start.
    bool check(bool userInitiated, const std::string& currentVersion);

    // The idle loop's poll: takes a finished result and sets the word from it (0 -> 2, 1 -> 3, 2 -> 4).
    // A check nobody asked for only ever shows an available update.
    bool poll();

    // Closing the page or dismissing: a word of 2 or 4 becomes 0; 3 stays until the next check.
    bool dismissTransient();

    UpdateStatusWord statusWord() const noexcept { return word_; }
    const UpdateCheckResult& lastResult() const noexcept { return last_; }
    bool checkRunning() const noexcept { return checker_.running(); }

private:
    UpdateChecker checker_;
    UpdateStatusWord word_ = UpdateStatusWord::Nothing;
    UpdateCheckResult last_;
    bool userInitiated_ = false;
};

} // namespace cv
