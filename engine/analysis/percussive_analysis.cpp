#include "engine/analysis/analyses.h"
#include "engine/analysis/analysis_plan.h"
#include "engine/analysis/analysis_stage.h"
#include "engine/analysis/onsets.h"

#include <algorithm>
#include <cmath>

namespace np {

namespace {

constexpr double kLeadInSeconds = 0.05;

double blockRms(const float* mono, std::int64_t begin, std::int64_t end) {
    double sum = 0.0;
    for (std::int64_t i = begin; i < end; ++i)
        sum += static_cast<double>(mono[i]) * static_cast<double>(mono[i]);
    return end > begin ? std::sqrt(sum / static_cast<double>(end - begin)) : 0.0;
}

} // namespace

AnalysisResult analyzePercussive(const AudioBuffer& audio, double sampleRate, const AnalysisConfig& config,
                                 const std::function<bool(float)>& progress) {
    if (audio.frames == 0 || audio.channels == 0) {
        AnalysisResult empty;
        empty.sampleRate = sampleRate;
        return empty;
    }
    const AnalysisMemoryPlan plan =
        planPercussiveAnalysisMemory(audio.channels, audio.frames, sampleRate, config);
    if (!plan.ok)
        throwAnalysisWorkingSetError(plan.totalBytes);
    AnalysisConfig scaled;
    if (!scaledPercussiveConfig(sampleRate, config, scaled))
        throwAnalysisWorkingSetError(0);

    const detail::MonoView mono(audio);
    const std::int64_t frames = audio.frames;
    detail::StageProgress stage(progress);
    std::vector<std::int64_t> onsets =
        detectOnsets(mono.data(), frames, sampleRate, scaled.onset, stage.at(0.35f));
    if (stage.cancelled() || !stage.report(0.6f))
        return detail::cancelledResult(sampleRate);

    const std::int64_t hop = scaled.onset.hop;
    const double silence = std::pow(10.0, config.segmenter.silenceDb / 20.0);
    std::vector<std::int64_t> boundaries;
    boundaries.reserve(onsets.size() + 2);
    if (onsets.empty() || onsets.front() > static_cast<std::int64_t>(kLeadInSeconds * sampleRate))
        boundaries.push_back(0);
    boundaries.insert(boundaries.end(), onsets.begin(), onsets.end());
    boundaries.push_back(frames);

    std::vector<NoteEvent> events;
    std::vector<float> levels;
    for (std::size_t pair = 0; pair + 1 < boundaries.size(); ++pair) {
        if (pair % 32 == 0 && !stage.report(0.75f))
            return detail::cancelledResult(sampleRate);
        const std::int64_t a = boundaries[pair];
        const std::int64_t b = boundaries[pair + 1];
        if (b - a < hop)
            continue;
        levels.clear();
        double loudest = 0.0;
        std::int64_t last = 0;
        std::int64_t block = 0;
        for (std::int64_t begin = a; begin < b; begin += hop, ++block) {
            if (block % 64 == 0 && !stage.report(0.75f))
                return detail::cancelledResult(sampleRate);
            const double level = blockRms(mono.data(), begin, std::min(begin + hop, b));
            levels.push_back(static_cast<float>(level));
            loudest = std::max(loudest, level);
            if (level > silence)
                last = block + 1;
        }
        if (loudest < silence || last == 0)
            continue;
        NoteEvent event;
        event.start = a;
        event.end = std::min(a + last * hop, b);
        event.pitch = 60.0;
        event.levelCurve.assign(levels.begin(), levels.begin() + last);
        event.pitchCurve.assign(static_cast<std::size_t>(last), 0.0f);
        event.pitchConfidence = 0.0f;
        event.pitched = false;
        events.push_back(std::move(event));
    }
    if (!stage.report(1.0f))
        return detail::cancelledResult(sampleRate);

    AnalysisResult result;
    result.sampleRate = sampleRate;
    result.track.sampleRate = sampleRate;
    result.track.hop = static_cast<std::uint32_t>(hop);
    result.track.frame = static_cast<std::uint32_t>(scaled.onset.frame);
    result.notes = std::move(events);
    result.onsets = std::move(onsets);
    return result;
}

} // namespace np
