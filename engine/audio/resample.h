#pragma once

#include "engine/audio/audio_buffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace np {

// Sample-rate conversion of whole buffers under the 512 MiB audio working set.
//
// Supported rates are finite and within 8000..384000 Hz inclusive. The converted length is
// llroundl(frames * dstRate / srcRate), computed in extended precision, and output sample 0 is aligned
// with input sample 0 (the converter's start delay is removed). All functions run on worker threads;
// none is realtime-safe.

inline constexpr double kMinSampleRateHz = 8000.0;
inline constexpr double kMaxSampleRateHz = 384000.0;
// Memory allowed for one converter and its blocks next to the source and the result.
inline constexpr std::size_t kResampleConverterOverheadBytes = 16777216;
// Source plus result bytes may not exceed this, so that with the converter allowance the whole job
// stays within 512 MiB.
inline constexpr std::size_t kResampleAudioBudgetBytes = 520093696;

// Shape of the converted audio. Zeroes both outputs, then checks the rates (finite, 8000..384000),
// the channel count (0..2) and frames >= 0. Writes the converted frame count and its byte size, and
// returns true iff the result holds at most AudioBuffer::kMaxSamples samples (the outputs are written
// even when only that last test fails).
bool checkedResampledAudioShape(const AudioBuffer& audio, double srcRate, double dstRate,
                                std::int64_t& outFrames, std::size_t& outBytes);

// The working set of one conversion, planned before any memory is taken. Zeroes all four outputs,
// then checks the shape of source and result as above; totalBytes is source plus result plus
// kResampleConverterOverheadBytes. Returns true iff source plus result fit kResampleAudioBudgetBytes.
bool checkedResampleWorkingSet(int channels, std::int64_t frames, double srcRate, double dstRate,
                               std::int64_t& outFrames, std::size_t& sourceBytes, std::size_t& outputBytes,
                               std::size_t& totalBytes);

// Converts in from srcRate to dstRate with a linear-phase band-limited filter (2 % transition band,
// at least 180 dB stop-band attenuation), one channel after another.
//
// keepGoing returns true to go on (an empty function never stops); it is asked at the start, after
// the checks, before each channel and before each block of 8192 input values.
// Throws:
//   OperationCancelled "Resampling was cancelled" when keepGoing says stop;
//   std::invalid_argument "Resampling requires a supported finite sample rate";
//   std::length_error "Resampling source and output exceed the 512 MiB audio working-set budget";
//   std::runtime_error "The sample-rate converter stopped producing output" when the converter
//   produces nothing for 8 blocks in a row; std::bad_alloc.
// Nothing is returned partially. An empty buffer (0 frames or 0 channels) is returned as it is, and
// equal rates return a copy after the size checks.
AudioBuffer resampleBuffer(const AudioBuffer& in, double srcRate, double dstRate,
                           const std::function<bool()>& keepGoing);

namespace detail {

// Decides when a converter has stopped producing output. A block that yields no output counts as
// empty unless the converter's pending output grew (it is still filling its filter, which at large
// down-sampling ratios takes more than 8 blocks); 8 empty blocks in a row are allowed and the next one
// is a stall. Once the input is used up, only as many blocks of silence are fed as the pending output
// needs, plus the same grace of 8, so a converter that keeps swallowing silence cannot loop forever.
class ConverterStallWatch {
public:
    // outputPerInput: dstRate / srcRate.
    explicit ConverterStallWatch(double outputPerInput) noexcept;
    // Records one fed block; false means the converter stalled.
    bool blockDone(std::int64_t produced, double pendingOutput, bool pastInputEnd) noexcept;

private:
    double outputPerInput_;
    double lastPending_ = 0.0;
    int emptyBlocks_ = 0;
    std::int64_t flushBlocks_ = 0;
    std::int64_t flushBlocksAllowed_ = -1;
};

} // namespace detail

} // namespace np
