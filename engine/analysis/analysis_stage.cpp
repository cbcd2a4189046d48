#include "engine/analysis/analysis_stage.h"

namespace np {

namespace detail {

MonoView::MonoView(const AudioBuffer& audio) {
    if (audio.channels == 1) {
        data_ = audio.samples.data();
        return;
    }
    mixdown_.resize(static_cast<std::size_t>(audio.frames));
    audio.mixdownToMono(mixdown_);
    data_ = mixdown_.data();
}

AnalysisResult cancelledResult(double sampleRate) {
    AnalysisResult result;
    result.sampleRate = sampleRate;
    result.cancelled = true;
    return result;
}

} // namespace detail

} // namespace np
