#pragma once

#include "engine/analysis/analysis_records.h"
#include "engine/audio/audio_buffer.h"

#include <functional>
#include <vector>

// Pieces shared by the Melodic and Percussive analyses.

namespace np {

namespace detail {

// A keep-going test for one stage of an analysis: reports a fixed fraction to progress, remembers a
// "stop" so the analysis can tell a cancel apart from an empty result, and answers it.
class StageProgress {
public:
    explicit StageProgress(const std::function<bool(float)>& progress) : progress_(progress) {}

    // Reports fraction; false (and remembered) when progress asks to stop.
    bool report(float fraction) {
        if (progress_ && !progress_(fraction))
            cancelled_ = true;
        return !cancelled_;
    }
    // A keep-going callable that reports fraction each time it is asked.
    std::function<bool()> at(float fraction) {
        return [this, fraction] { return report(fraction); };
    }
    bool cancelled() const { return cancelled_; }

private:
    const std::function<bool(float)>& progress_;
    bool cancelled_ = false;
};

// The mono signal an analysis reads: the buffer itself when mono, else a mixdown it owns.
class MonoView {
public:
    explicit MonoView(const AudioBuffer& audio);
    const float* data() const { return data_; }

private:
    std::vector<float> mixdown_;
    const float* data_ = nullptr;
};

// The result of a cancelled analysis: cancelled set, sampleRate kept, everything else default.
AnalysisResult cancelledResult(double sampleRate);

} // namespace detail

} // namespace np
