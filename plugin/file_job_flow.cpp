// The file job: one thread at a time runs one file operation; one more job may wait behind it. A new
// request cancels the running job and takes the waiting place; the waiting job starts once the
// cancelled one has reported back. Generations only grow, and only the result of the latest one is
// shown, so a superseded job or one whose session was cleared reports nothing.
//
// Threads: everything here runs on the main thread except RunFileJob, which runs on the job thread and
// touches only its job, the slot's atomics and, under the result mutex, the result slot.

#include "plugin/Corvalinth.h"
#include "plugin/export_jobs.h"

#include <cctype>
#include <new>
#include <stdexcept>
#include <system_error>

namespace {

constexpr const char* kNoMemoryReason =
    "there is not enough memory. Close unused Corvalinth instances and try again";

// Should even copying the reason fail, the kind's text stands alone.
void GiveReason(cv::FileJobResult& result, const char* reason) noexcept {
    try {
        result.message = reason;
    } catch (...) {
        result.message.clear();
    }
}

} // namespace

std::uint64_t Corvalinth::StartFileJob(FileJobKind kind, std::function<FileJobResult()> body) {
    const std::uint64_t generation = ++fileJobGenerations_;
    latestFileJobGeneration_ = generation;
    PendingFileJob job{kind, std::move(body), generation};
    if (!fileJob_.running) {
        LaunchFileJob(std::move(job));
        return generation;
    }
    fileJob_.cancel.store(true, std::memory_order_release);
    queuedFileJob_ = std::move(job);
    fileJob_.startNs = SteadyNowNs(); // the progress line shows the waiting job after 450 ms
    return generation;
}

void Corvalinth::LaunchFileJob(PendingFileJob job) {
    if (fileJob_.thread.joinable())
        fileJob_.thread.join();
    fileJob_.kind = job.kind;
    fileJob_.startNs = SteadyNowNs();
    fileJob_.running = true;
    fileJob_.cancel.store(false, std::memory_order_release);
    fileJob_.progress.store(0.0f, std::memory_order_relaxed);
    {
        std::lock_guard lock(fileJobResultMutex_);
        fileJobResult_.reset();
    }
    const std::uint64_t generation = job.generation;
    try {
        fileJob_.thread = std::thread([this, job = std::move(job)] { RunFileJob(job); });
    } catch (const std::system_error& e) {
        // No thread: the job reports its failure through the same slot, so the next tick clears the
        // running state and shows why.
        FileJobResult failed;
        failed.kind = fileJob_.kind;
        failed.generation = generation;
        failed.message = std::string("the system could not start a thread for it (") + e.what() + ")";
        std::lock_guard lock(fileJobResultMutex_);
        fileJobResult_ = std::move(failed);
    }
}

void Corvalinth::LaunchPendingFileJob() {
    if (!queuedFileJob_)
        return;
    PendingFileJob job = std::move(*queuedFileJob_);
    queuedFileJob_.reset();
    LaunchFileJob(std::move(job));
}

void Corvalinth::RunFileJob(const PendingFileJob& job) {
    FileJobResult result;
    try {
        if (job.body)
            result = job.body();
    } catch (const std::bad_alloc&) {
        result = FileJobResult{};
        GiveReason(result, kNoMemoryReason);
    } catch (const std::exception& e) {
        // A refusal thrown inside the job (a render over its working-set limit) names its reason.
        result = FileJobResult{};
        GiveReason(result, e.what());
    } catch (...) {
        result = FileJobResult{}; // no reason to give: the kind's text alone
    }
    result.kind = job.kind;
    result.generation = job.generation;
    if (fileJob_.cancel.load(std::memory_order_acquire)) {
        result.ok = false;
        result.message = "The file operation was cancelled";
        result.cancelled = true;
    }
    try {
        std::lock_guard lock(fileJobResultMutex_);
        fileJobResult_ = std::move(result);
    } catch (...) {
        // Storing moves a few strings; should even that fail, the job is dropped rather than escaping
        // the thread, and the running flag is cleared by the teardown or the next job.
    }
}

void Corvalinth::PollFileJob() {
    std::optional<FileJobResult> result;
    {
        std::lock_guard lock(fileJobResultMutex_);
        result = std::move(fileJobResult_);
        fileJobResult_.reset();
    }
    if (!result)
        return;
    if (fileJob_.thread.joinable())
        fileJob_.thread.join();
    fileJob_.running = false;
    ClearProgressStatus(ProgressOwner::FileJob);
    if (result->generation != latestFileJobGeneration_) {
        LaunchPendingFileJob(); // superseded, or its session was cleared: nothing to say
        return;
    }
    if (result->cancelled)
        return;
    if (!result->ok) {
        SetError(cv::fileJobFailureNotice(result->kind, result->message).c_str());
        return;
    }
    const std::string name = cv::pathToUtf8(cv::pathFromUtf8(result->path.c_str()).filename());
    const char* prefix = result->kind == FileJobKind::MidiExport ? "Exported MIDI: " : "Exported WAV: ";
    SetSuccess((prefix + name).c_str());
}

std::string Corvalinth::FileJobWaitText() const {
    const FileJobKind kind = queuedFileJob_ ? queuedFileJob_->kind : fileJob_.kind;
    std::string text = cv::fileJobProgressText(kind);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return "Wait for " + text + " to finish.";
}

bool Corvalinth::WarnWhileFileJobRuns() {
    if (!fileJob_.running)
        return false;
    SetWarning(FileJobWaitText().c_str());
    return true;
}

void Corvalinth::CancelFileJobsForClear() {
    if (fileJob_.running)
        fileJob_.cancel.store(true, std::memory_order_release);
    queuedFileJob_.reset();
    latestFileJobGeneration_ = ++fileJobGenerations_;
}
