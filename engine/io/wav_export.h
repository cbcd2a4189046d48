#pragma once

#include "engine/audio/audio_buffer.h"
#include "engine/io/wav_data.h"
#include "engine/io/wav_writer.h"

#include <functional>
#include <string>

namespace np {

// Frames coded and written per block; also the progress granularity.
inline constexpr std::int64_t kWavExportBlockFrames = 8192;

// Space kept free beyond the file itself when checking the destination's disk (1 MiB + 4 KiB).
inline constexpr std::uint64_t kWavExportSpareBytes = 1052672;

// Writes audio to path (UTF-8) as a RIFF WAVE file of the given depth, through a temporary file in the
// destination's folder that replaces the destination atomically only once every byte has been written,
// flushed, closed and its size verified. The destination is found and checked as
// AtomicFileReplacement::prepare does (links followed, permission bits kept, read-only files refused).
//   sampleRate: 8000..384000 Hz, written rounded to the nearest integer.
//   error: optional; cleared at entry, holds one sentence on failure.
//   progress: optional; called with 0..1 (the first 0.15 for the check of the samples, the rest for
//     the writing); returning false cancels.
// Refuses empty audio, more than two channels, non-finite samples and too little free space before
// anything is written; a failed write names the system's reason (a full disk, a file-size limit). On any
// failure the destination keeps its old content and no temporary remains. Runs on the file-job thread;
// blocking; takes no lock of its own.
bool saveWav(const std::string& path, const AudioBuffer& audio, double sampleRate, WavBitDepth depth,
             std::string* error, const std::function<bool(float)>& progress = {});

// Writes audio already coded as WAV data, as it stands, with every check and sentence of the form above:
// data of no frame, of more than two channels or past the limits is refused, and so is data that coded
// a non-finite sample; the progress goes from 0.15 (the check) to 1 over the writing.
bool saveWav(const std::string& path, const WavData& data, double sampleRate, std::string* error,
             const std::function<bool(float)>& progress = {});

} // namespace np
