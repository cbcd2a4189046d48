#pragma once

// The two exports as file jobs: what each takes from the main thread (copies and shared immutable audio
// only, so the user may go on editing while it runs), the body that runs on the job thread, and the
// save dialog's default file names. The extension an export adds to a chosen name follows the
// framework's SaveDestination, the rule its save prompt judges the destination by.

#include "engine/audio/audio_buffer.h"
#include "engine/model/document.h"
#include "engine/render/render_types.h"
#include "plugin/file_job.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace cv {

// UTF-8 text to a path and back (any thread).
std::filesystem::path pathFromUtf8(const char* text);
std::string pathToUtf8(const std::filesystem::path& path);

// The name the save dialog offers: the stem of the file label's last path component (after "/" or
// "\"), or "Corvalinth Export" (WAV) / "Corvalinth" (MIDI) when that is empty or a generic label such as
// "Captured audio"; then "-edited.wav" or "-notes.mid".
std::string defaultExportName(const std::string& fileLabel, FileJobKind kind);

// The working-set bytes an export render counts as already taken: three times the largest render the
// session holds for playback, or the whole 512 MiB when that product overflows.
std::uint64_t exportReservedBytes(std::uint64_t largestRenderBytes) noexcept;

// What a job body sees of its slot. The flag only rises; the body polls it and stops early.
struct FileJobContext {
    const std::atomic<bool>& cancel;
    std::atomic<float>& progress; // 0..1
    bool cancelled() const noexcept { return cancel.load(std::memory_order_acquire); }
    void report(float fraction) const noexcept { progress.store(fraction, std::memory_order_relaxed); }
};

// The WAV export, captured when the save dialog completes.
struct WavExportRequest {
    std::filesystem::path path;
    int depthIdx = 1;         // 0 16-bit PCM, 1 24-bit PCM, 2 32-bit float
    bool hasDocument = false; // an analysed document with source audio: its render is written
    np::Document document;
    std::shared_ptr<const np::AudioBuffer> source; // written as it is without a document
    double sourceRate = 48000.0;
    std::uint64_t reservedBytes = 0;
    np::RenderHints hints; // the render records its engine choices here
};

// Renders the document (or takes the captured audio as it is) and writes it through a temporary file
// that replaces the destination only once complete. Progress: 0.1 at the start, the render over
// 0.1..0.7, the file over 0.75..1. Stopped by the cancel flag with "WAV export was cancelled" (nothing
// is written); a failed write carries the writer's sentence. Job thread; throws on anything else
// (a render refused by its limits, memory), which the job wrapper reports as the job's reason.
FileJobResult runWavExport(WavExportRequest& request, const FileJobContext& context);

// The MIDI export, captured when the save dialog completes.
struct MidiExportRequest {
    std::filesystem::path path;
    np::Document document;
    double tempoBpm = 120.0;
    double tuningOffset = 0.0; // 12 x log2(A4 / 440)
};

// Builds the Standard MIDI File and writes it atomically (not private: an export is the user's file).
// "There are no notes to export" when no note can be exported; "MIDI export was cancelled" when the
// cancel flag stopped it. Job thread.
FileJobResult runMidiExport(const MidiExportRequest& request, const FileJobContext& context);

} // namespace cv
