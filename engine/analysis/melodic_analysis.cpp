#include "engine/analysis/analyses.h"
#include "engine/analysis/analysis_plan.h"
#include "engine/analysis/analysis_stage.h"
#include "engine/analysis/octave_correction.h"
#include "engine/analysis/onsets.h"
#include "engine/analysis/polyphony.h"
#include "engine/analysis/pyin.h"
#include "engine/analysis/segmentation.h"
#include "engine/analysis/sibilance.h"

namespace np {

// Stage fractions: pitch tracking takes most of the time, so it reports 0..0.8 of the whole.
AnalysisResult analyzeMelodic(const AudioBuffer& audio, double sampleRate, const AnalysisConfig& config,
                              const std::function<bool(float)>& progress) {
    if (audio.frames == 0 || audio.channels == 0) {
        AnalysisResult empty;
        empty.sampleRate = sampleRate;
        return empty;
    }
    const AnalysisMemoryPlan plan =
        planMelodicAnalysisMemory(audio.channels, audio.frames, sampleRate, config);
    if (!plan.ok)
        throwAnalysisWorkingSetError(plan.totalBytes);
    AnalysisConfig scaled;
    if (!scaledAnalysisConfig(sampleRate, config, scaled))
        throwAnalysisWorkingSetError(0);

    const detail::MonoView mono(audio);
    const std::int64_t frames = audio.frames;
    detail::StageProgress stage(progress);

    const std::function<bool(float)> trackerProgress = [&stage](float fraction) {
        return stage.report(0.8f * fraction);
    };
    PitchTrack track = trackPitchPYin(mono.data(), frames, sampleRate, scaled.pyin, trackerProgress);
    if (stage.cancelled())
        return detail::cancelledResult(sampleRate);

    if (!classifySibilance(mono.data(), frames, sampleRate, track, SibilanceConfig{}, stage.at(0.81f)))
        return detail::cancelledResult(sampleRate);

    const std::optional<float> polyphony =
        polyphonyScore(mono.data(), frames, sampleRate, scaled.pyin, stage.at(0.84f));
    if (!polyphony || !stage.report(0.85f))
        return detail::cancelledResult(sampleRate);

    std::vector<std::int64_t> onsets =
        detectOnsets(mono.data(), frames, sampleRate, scaled.onset, stage.at(0.88f));
    if (stage.cancelled() || !stage.report(0.92f))
        return detail::cancelledResult(sampleRate);

    std::vector<NoteEvent> notes =
        segmentNotes(track, mono.data(), frames, onsets, scaled.segmenter, stage.at(0.95f));
    if (stage.cancelled())
        return detail::cancelledResult(sampleRate);

    if (!correctOctaveErrors(notes, track, stage.at(0.98f)) || !stage.report(1.0f))
        return detail::cancelledResult(sampleRate);

    AnalysisResult result;
    result.sampleRate = sampleRate;
    result.track = std::move(track);
    result.notes = std::move(notes);
    result.onsets = std::move(onsets);
    result.polyphonyScore = *polyphony;
    return result;
}

} // namespace np
