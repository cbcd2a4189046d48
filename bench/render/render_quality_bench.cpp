// Quality figures of the document render, not timings: each case runs once and reports its figures
// as counters.
// - Vibrato left by each engine when a note's drift is 0: a vowel with a 6 Hz vibrato of 50 cents,
//   analysed by the Melodic analysis, rendered with every note's drift at 0; the 6 Hz component of the
//   output's pitch contour (cents, peak) against the source's.
// - Roughness of the pitch-synchronous engine at +3 semitones on synthetic multi-note takes (the
//   demonstration take, and a take of vowels with glides, vibrato and legato joins): the mean
//   harmonic-to-noise ratio (at most 40 dB) of frames the source's track calls voiced, source minus
//   render (dB), and the onsets found in the render farther than 30 ms from every onset of the source.

#include "bench/render/engine_units.h"
#include "engine/analysis/analysis_plan.h"
#include "engine/analysis/onsets.h"
#include "engine/render/document_render.h"
#include "tests/render/document_fixtures.h"
#include "tests/support/signals.h"
#include "tools/demo_take.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

namespace {

constexpr double kRate = 48000.0;

std::vector<float> render(const np::Document& doc, const np::RenderOptions& options) {
    const np::AudioBuffer out = np::renderDocument(doc, options);
    return {out.channel(0).begin(), out.channel(0).end()};
}

void FlattenedVibrato(benchmark::State& state, np::RenderOptions options) {
    constexpr double kHz = 220.0, kDepth = 50.0, kVibratoHz = 6.0;
    const auto frames = static_cast<std::int64_t>(2.0 * kRate);
    const std::vector<float> x = cvtest::vowel(kHz, kHz, kDepth, kVibratoHz, kRate, frames, 0.2f);
    np::Document doc = cvtest::analysedDocument(x, kRate);
    for (np::Note& note : doc.notes)
        note.driftScale = 0.0;
    np::RenderHints hints;
    options.hints = &hints;
    std::vector<float> y;
    for (auto _ : state)
        y = render(doc, options);
    const std::int64_t margin = static_cast<std::int64_t>(0.25 * kRate);
    state.counters["notes"] = static_cast<double>(doc.notes.size());
    state.counters["sourceVibratoCents"] =
        cvtest::vibratoCents(x, kRate, kHz, kVibratoHz, margin, frames - margin);
    state.counters["residualVibratoCents"] =
        cvtest::vibratoCents(y, kRate, kHz, kVibratoHz, margin, frames - margin);
    cvbench::reportEngineUnits(state, hints);
}

void FlattenedVibratoPitchSynchronous(benchmark::State& state) {
    np::RenderOptions options;
    options.forcePsola = true;
    FlattenedVibrato(state, options);
}
BENCHMARK(FlattenedVibratoPitchSynchronous)->Unit(benchmark::kMillisecond)->Iterations(1);

void FlattenedVibratoVocoder(benchmark::State& state) {
    np::RenderOptions options;
    options.forceWorld = true;
    FlattenedVibrato(state, options);
}
BENCHMARK(FlattenedVibratoVocoder)->Unit(benchmark::kMillisecond)->Iterations(1);

void FlattenedVibratoStretch(benchmark::State& state) {
    np::RenderOptions options;
    options.forceStretch = true;
    FlattenedVibrato(state, options);
}
BENCHMARK(FlattenedVibratoStretch)->Unit(benchmark::kMillisecond)->Iterations(1);

// Frames of 2048 samples every 1024 in which every track frame centred inside is voiced and not
// sibilant; each receives the frame's start and the mean frequency of those track frames.
template <typename Each>
void forVoicedFrames(const np::PitchTrack& track, std::int64_t frames, Each each) {
    const std::int64_t hop = track.hop, half = track.frame / 2;
    for (std::int64_t start = half; start + 2048 <= frames; start += 1024) {
        bool voiced = true;
        double hz = 0.0;
        int count = 0;
        // Track frame f's window is centred at f x hop + frame / 2.
        for (std::int64_t f = (start - half + hop - 1) / hop; f * hop + half < start + 2048; ++f) {
            const bool inside = f < static_cast<std::int64_t>(track.frames.size());
            const np::PitchFrame& p = track.frames[static_cast<std::size_t>(inside ? f : 0)];
            if (!inside || !p.voiced || !(p.hz > 0.0) || (p.flags & np::PitchFrame::kSibilant) != 0) {
                voiced = false;
                break;
            }
            hz += p.hz;
            ++count;
        }
        if (voiced && count > 0)
            each(start, hz / count);
    }
}

std::vector<std::int64_t> onsetsOf(const std::vector<float>& x) {
    np::AnalysisConfig config;
    np::scaledAnalysisConfig(kRate, {}, config);
    return np::detectOnsets(x.data(), static_cast<std::int64_t>(x.size()), kRate, config.onset, {});
}

void Roughness(benchmark::State& state, const std::vector<float>& x) {
    np::Document doc = cvtest::analysedDocument(x, kRate);
    for (np::Note& note : doc.notes)
        note.pitchOffset = 3.0;
    np::RenderOptions options;
    options.forcePsola = true;
    std::vector<float> y;
    for (auto _ : state)
        y = render(doc, options);
    const double ratio = std::exp2(3.0 / 12.0);
    double drop = 0.0;
    int voiced = 0;
    forVoicedFrames(doc.track, static_cast<std::int64_t>(x.size()), [&](std::int64_t start, double hz) {
        drop += cvtest::harmonicToNoiseDb(x, start, 2048, kRate / hz) -
                cvtest::harmonicToNoiseDb(y, start, 2048, kRate / (hz * ratio));
        ++voiced;
    });
    const std::vector<std::int64_t> before = onsetsOf(x), after = onsetsOf(y);
    const auto tolerance = static_cast<std::int64_t>(0.03 * kRate);
    int unmatched = 0;
    for (const std::int64_t onset : after)
        unmatched += std::none_of(before.begin(), before.end(),
                                  [&](std::int64_t o) { return std::llabs(o - onset) <= tolerance; });
    state.counters["notes"] = static_cast<double>(doc.notes.size());
    state.counters["voicedFrames"] = voiced;
    state.counters["hnrDropDb"] = voiced > 0 ? drop / voiced : 0.0;
    state.counters["sourceOnsets"] = static_cast<double>(before.size());
    state.counters["unmatchedOnsets"] = unmatched;
}

void PitchSynchronousRoughnessDemoTake(benchmark::State& state) {
    Roughness(state, cvdemo::makeDemoTake(kRate).mono);
}
BENCHMARK(PitchSynchronousRoughnessDemoTake)->Unit(benchmark::kMillisecond)->Iterations(1);

// Vowel notes: steady, gliding into the next note, with vibrato, joined legato or after a short gap.
std::vector<float> vowelTake() {
    struct Phrase {
        double startHz, endHz, vibratoCents, seconds, gapSeconds;
    };
    const Phrase phrases[] = {
        {196.0, 196.0, 0.0, 0.5, 0.15},  {220.0, 247.0, 0.0, 0.45, 0.0},   {247.0, 247.0, 30.0, 0.6, 0.1},
        {262.0, 262.0, 20.0, 0.4, 0.0},  {294.0, 262.0, 0.0, 0.35, 0.0},   {175.0, 175.0, 40.0, 0.7, 0.2},
        {220.0, 220.0, 0.0, 0.3, 0.0},   {330.0, 330.0, 25.0, 0.55, 0.12}, {147.0, 165.0, 0.0, 0.5, 0.0},
        {165.0, 165.0, 35.0, 0.6, 0.15},
    };
    std::vector<float> take(static_cast<std::size_t>(0.2 * kRate), 0.0f);
    for (const Phrase& p : phrases) {
        take.resize(take.size() + static_cast<std::size_t>(p.gapSeconds * kRate), 0.0f);
        const auto frames = static_cast<std::int64_t>(p.seconds * kRate);
        std::vector<float> note = cvtest::vowel(p.startHz, p.endHz, p.vibratoCents, 5.5, kRate, frames, 0.2f);
        // 10 ms fades, so that every note starts and ends without a click.
        const auto fade = static_cast<std::int64_t>(0.01 * kRate);
        for (std::int64_t i = 0; i < fade; ++i) {
            const auto g = static_cast<float>(i) / static_cast<float>(fade);
            note[static_cast<std::size_t>(i)] *= g;
            note[static_cast<std::size_t>(frames - 1 - i)] *= g;
        }
        take.insert(take.end(), note.begin(), note.end());
    }
    take.resize(take.size() + static_cast<std::size_t>(0.2 * kRate), 0.0f);
    return take;
}

void PitchSynchronousRoughnessVowelTake(benchmark::State& state) {
    Roughness(state, vowelTake());
}
BENCHMARK(PitchSynchronousRoughnessVowelTake)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
