#pragma once

// The file-job slot of the plug-in object: what the shell's idle loop, cancel action and teardown read
// of a file operation running on a thread of its own, and the per-kind texts of the progress line and
// the notices.
//
// Threads: the slot belongs to the main thread, except `cancel` (set by the main thread, read by the
// job) and `progress` (written by the job, read by the idle loop).

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace cv {

// The file operations; 4 and 5 are the two this system offers. Values outside 0..6 are unknown.
enum class FileJobKind : std::uint32_t {
    WavExport = 4,
    MidiExport = 5,
};

// What a job hands back to the idle loop.
struct FileJobResult {
    FileJobKind kind = FileJobKind::WavExport;
    bool ok = false;
    std::string message; // why the job failed, shown after the kind's failure text; empty by default
    std::string path;    // UTF-8 path of the file written
    std::uint64_t generation = 0;
    // Set by the job thread when the cancel flag was up once the body returned: only such a result is
    // hidden, so a real failure whose text happens to mention cancelling is still reported.
    bool cancelled = false;
};

// A job waiting behind the running one.
struct PendingFileJob {
    FileJobKind kind = FileJobKind::WavExport;
    std::function<FileJobResult()> body;
    std::uint64_t generation = 0;
};

struct FileJobSlot {
    std::thread thread;
    bool running = false;
    std::atomic<bool> cancel{false};
    FileJobKind kind = FileJobKind::WavExport;
    std::atomic<float> progress{0.0f}; // 0..1
    std::int64_t startNs = 0;          // steady clock, for the 450 ms rule of the progress line

    // Sets the cancel flag and waits for the thread; an error from the join ends the waiting.
    void cancelAndJoin() noexcept;
};

// "Exporting WAV", "Exporting MIDI"; "Working" for an unknown kind.
const char* fileJobProgressText(FileJobKind kind) noexcept;
// "Cancelling WAV export", "Cancelling MIDI export"; "Cancelling" for an unknown kind.
const char* fileJobCancelText(FileJobKind kind) noexcept;
// "Couldn't export the WAV file.", "Couldn't export the MIDI file."; "Couldn't complete the file
// operation." for an unknown kind.
const char* fileJobFailureText(FileJobKind kind) noexcept;
// The error notice of a failed job: the kind's failure text alone without a reason, else that text with
// the reason after a colon ("Couldn't export the WAV file: the destination file is read-only."), the
// reason's first letter lowered unless it starts a capitalised word such as "WAV", and a full stop added
// when it ends without one.
std::string fileJobFailureNotice(FileJobKind kind, const std::string& reason);
// Kinds 0, 1, 2, 4 and 5 show their progress in the progress line.
bool fileJobUsesGlobalProgress(FileJobKind kind) noexcept;

} // namespace cv
