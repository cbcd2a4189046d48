#include "plugin/file_job.h"

#include <system_error>

namespace cv {

void FileJobSlot::cancelAndJoin() noexcept {
    cancel.store(true, std::memory_order_release);
    if (thread.joinable()) {
        try {
            thread.join();
        } catch (const std::system_error&) {
            // Nothing more can be done for a thread that cannot be joined.
        }
    }
}

const char* fileJobProgressText(FileJobKind kind) noexcept {
    switch (kind) {
    case FileJobKind::WavExport:
        return "Exporting WAV";
    case FileJobKind::MidiExport:
        return "Exporting MIDI";
    }
    return "Working";
}

const char* fileJobCancelText(FileJobKind kind) noexcept {
    switch (kind) {
    case FileJobKind::WavExport:
        return "Cancelling WAV export";
    case FileJobKind::MidiExport:
        return "Cancelling MIDI export";
    }
    return "Cancelling";
}

const char* fileJobFailureText(FileJobKind kind) noexcept {
    switch (kind) {
    case FileJobKind::WavExport:
        return "Couldn't export the WAV file.";
    case FileJobKind::MidiExport:
        return "Couldn't export the MIDI file.";
    }
    return "Couldn't complete the file operation.";
}

std::string fileJobFailureNotice(FileJobKind kind, const std::string& reason) {
    std::string notice = fileJobFailureText(kind);
    if (reason.empty())
        return notice;
    notice.pop_back(); // the kind's text ends in a full stop, which the reason now takes
    notice += ": ";
    const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
    const bool word = reason.size() > 1 && reason[0] >= 'A' && reason[0] <= 'Z' && lower(reason[1]);
    notice += word ? static_cast<char>(reason[0] - 'A' + 'a') : reason[0];
    notice.append(reason, 1);
    if (notice.back() != '.' && notice.back() != '!' && notice.back() != '?')
        notice += '.';
    return notice;
}

bool fileJobUsesGlobalProgress(FileJobKind kind) noexcept {
    const auto value = static_cast<std::uint32_t>(kind);
    return value <= 2 || value == 4 || value == 5;
}

} // namespace cv
