// The roads the idle loop polls that live elsewhere once built: the state restore and the file jobs.
// Their bodies here keep the order of the idle loop and the points where the capture, analysis and
// render flows publish the state or stop a file job.

#include "plugin/Corvalinth.h"

#include <cctype>

void Corvalinth::PollFileJob() {}

std::string Corvalinth::FileJobWaitText() const {
    const cv::FileJobKind kind = queuedFileJob_ ? queuedFileJob_->kind : fileJob_.kind;
    std::string text = cv::fileJobProgressText(kind);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return "Wait for " + text + " to finish.";
}

void Corvalinth::CancelFileJobsForClear() {
    if (fileJob_.running)
        fileJob_.cancel.store(true);
    queuedFileJob_.reset();
}
