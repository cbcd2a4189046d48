#include "plugin/update_status.h"

namespace cv {

bool UpdateCheckFlow::check(bool userInitiated, const std::string& currentVersion) {
    if (checker_.running()) {
        userInitiated_ = userInitiated_ || userInitiated;
        if (userInitiated) {
            word_ = UpdateStatusWord::Checking;
        }
        return true;
    }
    userInitiated_ = userInitiated;
    last_ = UpdateCheckResult{};
    if (checker_.start(currentVersion)) {
        if (userInitiated) {
            word_ = UpdateStatusWord::Checking;
        }
    } else {
        word_ = UpdateStatusWord::Error;
        last_.message = "Couldn't check for updates.";
    }
    return true;
}

bool UpdateCheckFlow::poll() {
    std::optional<UpdateCheckResult> taken = checker_.takeResult();
    if (!taken) {
        return false;
    }
    last_ = std::move(*taken);
    switch (last_.status) {
    case UpdateCheckStatus::UpToDate:
        if (userInitiated_) {
            word_ = UpdateStatusWord::UpToDate;
        }
        break;
    case UpdateCheckStatus::UpdateAvailable:
        word_ = UpdateStatusWord::UpdateAvailable;
        break;
    case UpdateCheckStatus::Error:
        if (userInitiated_) {
            word_ = UpdateStatusWord::Error;
        }
        break;
    }
    return true;
}

bool UpdateCheckFlow::dismissTransient() {
    if (word_ == UpdateStatusWord::UpToDate || word_ == UpdateStatusWord::Error) {
        word_ = UpdateStatusWord::Nothing;
    }
    return true;
}

} // namespace cv
