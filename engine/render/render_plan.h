#pragma once

// Working-set plans of a render, computed before any of its memory is taken. The callers refuse the
// work with std::length_error and one of the messages below when a plan does not fit.

#include "engine/analysis/analysis_records.h"

#include <cstdint>

namespace np {

inline constexpr std::uint64_t kRenderWorkingSetBytes = 536870912;    // 512 MiB
inline constexpr std::uint64_t kRenderResampleLimitBytes = 520093696; // 496 MiB
inline constexpr std::uint64_t kRenderResampleOverheadBytes = 16777216;
// Fixed allowance of an engine's own buffers beside the unit buffers.
inline constexpr std::uint64_t kRenderEngineAllowanceBytes = 4194304;
inline constexpr double kRenderMinSampleRate = 8000.0;
inline constexpr double kRenderMaxSampleRate = 384000.0;

inline constexpr const char* kRenderWorkingSetMessage =
    "Render source, output, edited-unit and analysis buffers exceed the 512 MiB working-set limit";
inline constexpr const char* kRenderResampleWorkingSetMessage =
    "Render source, playback output and resampled output exceed the 512 MiB working-set limit";

// The result of every planner. A plan that fails validation has fits false, frames as stated, the byte
// fields computed before the failing step, and zeros after it.
struct RenderWorkingSetPlan {
    bool fits = false;
    std::int64_t frames = 0;         // output frames (resampled frames for the resampling plan)
    std::uint64_t sourceBytes = 0;   // source frames x channels x 4
    std::uint64_t outputBytes = 0;   // output (rendered) frames x channels x 4
    std::uint64_t unitBytes = 0;     // unit, synthesis or resampled frames x channels x 4
    std::uint64_t workBytes = 0;     // engine buffers
    std::uint64_t extraBytes = 0;    // what the caller added (curves)
    std::uint64_t analysisBytes = 0; // pitch re-tracking of the rendered unit
    std::uint64_t retrackBytes = 0;  // comparison of the re-tracked pitch against the target
    std::uint64_t overheadBytes = 0; // resampler allowance
    std::uint64_t peakBytes = 0;     // the largest working set at any moment
};

// Rendering one unit of notes with the copy, pitch-synchronous or stretch engine: the source, the
// output, unitBuffers (1..64) buffers of unitFrames (>= 0) frames plus a 4 MiB engine allowance when
// unitFrames > 0, extraBytes (at most 512 MiB), and, when retrack is not null, the pitch tracking of
// the rendered unit. Pure; never throws.
RenderWorkingSetPlan planRenderWorkingSet(int channels, std::int64_t sourceFrames, std::int64_t outputFrames,
                                          std::int64_t unitFrames, double sampleRate,
                                          std::uint64_t unitBuffers, const PYinConfig* retrack,
                                          std::uint64_t extraBytes);

// A vocoder analysis of analysisFrames source frames and a resynthesis of synthesisFrames frames (both
// 1..2147483647) at a 5 ms frame period; formantEnvelope adds a second spectral envelope per frame.
// The millisecond-squared term makes long spans expensive: at 48 kHz mono about 9.2 s no longer fits.
// Pure; never throws.
RenderWorkingSetPlan planWorldRenderWorkingSet(int channels, std::int64_t sourceFrames,
                                               std::int64_t outputFrames, std::int64_t analysisFrames,
                                               std::int64_t synthesisFrames, double sampleRate,
                                               bool formantEnvelope);

// Converting renderedFrames frames of the rendered document from fromRate to toRate beside the
// source. Pure; never throws.
RenderWorkingSetPlan planRenderResampleWorkingSet(int channels, std::int64_t sourceFrames,
                                                  std::int64_t renderedFrames, double fromRate,
                                                  double toRate);

// The vocoder's spectral-envelope FFT size at a rate of fs Hz (rounded): the power of two
// 2^(1 + floor(log2(3 fs / 71 + 1))), three periods of its 71 Hz lowest F0 and more. 512 at 8 kHz,
// 2048 at 48 kHz, 16384 at 384 kHz; 0 when fs is not positive.
int vocoderFftSize(int fs) noexcept;

} // namespace np
