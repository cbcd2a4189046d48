#include "engine/render/unit_curves.h"

#include "engine/analysis/pyin_observation.h"
#include "engine/render/centred_frame.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace np {
namespace {

// Notes scored below this are trusted less: their large excursions go to the vocoder sooner.
constexpr float kConfidentScore = 0.94f;
// Excursion thresholds in cents (down, up): trusted notes, and chains or notes with a low-confidence
// excursion.
constexpr double kDownCents = 900.0, kUpCents = 2100.0;
constexpr double kLowDownCents = 400.0, kLowUpCents = 700.0;
// Glides faster than this (cents per millisecond) damp the edit.
constexpr double kGlideCentsPerMs = 2.0;
// A join is pulled onto the target within about 80 ms on either side.
constexpr double kJunctionSeconds = 0.08;
constexpr double kMinJunctionWeight = 0.001;

const std::vector<float>* curveOf(const Note& note) {
    return note.pitchCurve && !note.pitchCurve->empty() ? note.pitchCurve.get() : nullptr;
}

// The pitch edit of a note at curve index i in cents: offset plus the drift's change of the curve.
double editCents(const Note& note, const std::vector<float>* curve, std::size_t i) {
    double cents = 100.0 * note.pitchOffset;
    if (note.driftScale != 1.0 && curve != nullptr)
        cents += (*curve)[std::min(i, curve->size() - 1)] * (note.driftScale - 1.0);
    return cents;
}

bool excursionBeyond(double low, double high, double down, double up) {
    return low < -down || high > up;
}

// Pulls the edit towards the median where the source glides fast.
void dampGlides(std::vector<double>& cents, const PitchTrack& track, std::int64_t firstFrame, double hopMs) {
    std::vector<double> sorted = cents;
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    const double median = *middle;
    sorted = {};
    for (std::size_t k = 0; k + 5 <= cents.size(); ++k) {
        double a = 0.0, b = 0.0;
        const auto frame = firstFrame + static_cast<std::int64_t>(k);
        if (!voicedFrameMidi(track, frame, a) || !voicedFrameMidi(track, frame + 4, b))
            continue;
        const double r = std::max(0.0, 100.0 * std::abs(b - a) / (4.0 * hopMs) - kGlideCentsPerMs);
        cents[k + 2] = median + (cents[k + 2] - median) / (r * r + 1.0);
    }
}

// Pulls voiced hops near each join onto the smoothed target pitch.
void blendJunctions(std::vector<double>& cents, std::vector<double>& target,
                    std::span<const Note* const> chain, const PitchTrack& track, std::int64_t firstFrame,
                    double rate) {
    const auto hop = static_cast<std::int64_t>(track.hop);
    const std::int64_t spanStart = chain.front()->sourceStart;
    const auto n = static_cast<std::int64_t>(cents.size());
    smoothCurve(target);
    smoothCurve(target);
    const double sigma = kJunctionSeconds * rate / static_cast<double>(hop);
    // exp(-x^2) <= 0.001 beyond |x| = sqrt(ln 1000): farther junctions can never give the largest weight
    // above the threshold.
    const auto radius = static_cast<std::int64_t>(std::sqrt(std::log(1.0 / kMinJunctionWeight)) * sigma) + 2;
    std::vector<double> weight(cents.size(), 0.0);
    for (std::size_t j = 1; j < chain.size(); ++j) {
        const std::int64_t position = (chain[j]->sourceStart - spanStart) / hop;
        const double d =
            (chain[j]->pitch + chain[j]->pitchOffset) - (chain[j - 1]->pitch + chain[j - 1]->pitchOffset);
        const double join = std::exp(-4.0 * d * d);
        for (std::int64_t k = std::max<std::int64_t>(0, position - radius);
             k < std::min(n, position + radius + 1); ++k) {
            const double x = static_cast<double>(k - position) / sigma;
            double& w = weight[static_cast<std::size_t>(k)];
            w = std::max(w, std::exp(-x * x) * join);
        }
    }
    for (std::int64_t k = 0; k < n; ++k) {
        const double w = weight[static_cast<std::size_t>(k)];
        double s = 0.0;
        if (!(w > kMinJunctionWeight) || !voicedFrameMidi(track, firstFrame + k, s))
            continue;
        double& c = cents[static_cast<std::size_t>(k)];
        c = (1.0 - w) * c + w * 100.0 * (target[static_cast<std::size_t>(k)] - s);
    }
}

} // namespace

bool voicedFrameMidi(const PitchTrack& track, std::int64_t frame, double& midi) noexcept {
    if (frame < 0 || frame >= static_cast<std::int64_t>(track.frames.size()))
        return false;
    const PitchFrame& f = track.frames[static_cast<std::size_t>(frame)];
    if (!f.voiced || !(f.hz > 0.0))
        return false;
    midi = midiFromHz(f.hz);
    return std::isfinite(midi);
}

std::int64_t spanFirstFrame(const PitchTrack& track, std::int64_t spanStart) noexcept {
    return frameCentredAt(track, spanStart);
}

ChainCurves buildChainCurves(const Document& doc, std::span<const Note* const> chain) {
    const PitchTrack& track = doc.track;
    const auto hop = std::max<std::int64_t>(1, track.hop);
    const std::int64_t spanStart = chain.front()->sourceStart;
    const std::int64_t spanLength = chain.back()->sourceEnd - spanStart;
    const auto n = static_cast<std::size_t>(std::max<std::int64_t>(1, spanLength / hop));

    ChainCurves curves;
    SpanParams& span = curves.span;
    span.sourceStart = spanStart;
    span.sourceLength = static_cast<std::int32_t>(spanLength);
    span.outputLength = span.sourceLength;
    std::vector<double>& cents = span.centsPerHop;
    std::vector<double>& formant = span.formantCentsPerHop;
    cents.resize(n);
    formant.resize(n);
    std::vector<double> target(n);

    // 1. Each hop takes the edit of the last note starting at or before it.
    std::size_t j = 0;
    double low = std::numeric_limits<double>::infinity(), high = -low;
    const auto closeNote = [&] {
        const Note& note = *chain[j];
        if (note.pitchConfidence < kConfidentScore && excursionBeyond(low, high, kLowDownCents, kLowUpCents))
            curves.lowConfidenceExcursion = true;
        low = std::numeric_limits<double>::infinity();
        high = -low;
    };
    for (std::size_t k = 0; k < n; ++k) {
        const std::int64_t p = spanStart + static_cast<std::int64_t>(k) * hop;
        while (j + 1 < chain.size() && chain[j + 1]->sourceStart <= p) {
            closeNote();
            ++j;
        }
        const Note& note = *chain[j];
        const auto i =
            static_cast<std::size_t>(std::max<std::int64_t>(0, frameCentredAt(track, p - note.sourceStart)));
        cents[k] = editCents(note, curveOf(note), i);
        low = std::min(low, cents[k]);
        high = std::max(high, cents[k]);
        formant[k] = 100.0 * note.formantShift;
        target[k] = note.pitch + note.pitchOffset;
    }
    closeNote();

    // 2. The source frame of hop k is firstFrame + k.
    const std::int64_t firstFrame = spanFirstFrame(track, spanStart);
    // 3. Glide damping.
    if (spanLength / hop >= 5)
        dampGlides(cents, track, firstFrame, 1000.0 * static_cast<double>(hop) / doc.sampleRate);
    // 4. Junctions, only where the pitch is edited: a chain changed in gain or formant alone is copied.
    const bool pitchEdited = std::any_of(chain.begin(), chain.end(), [](const Note* note) {
        return note->pitchOffset != 0.0 || note->driftScale != 1.0;
    });
    if (chain.size() >= 2 && pitchEdited)
        blendJunctions(cents, target, chain, track, firstFrame, doc.sampleRate);
    target = {};
    // 5. Sibilants keep the source. The sibilance marking judges each hop's own samples, so a hop's flag
    //    is read at its start, not at a window centre.
    for (std::size_t k = 0; k < n; ++k) {
        const auto frame = static_cast<std::size_t>((spanStart + static_cast<std::int64_t>(k) * hop) / hop);
        if (frame < track.frames.size() && (track.frames[frame].flags & PitchFrame::kSibilant) != 0) {
            cents[k] = 0.0;
            formant[k] = 0.0;
        }
    }
    // 6. Smoothing.
    smoothCurve(cents);
    smoothCurve(formant);
    curves.formantShift = std::any_of(formant.begin(), formant.end(), [](double c) { return c != 0.0; });
    return curves;
}

RenderEngine chooseChainEngine(const ChainCurves& curves, const RenderOptions& options) noexcept {
    const std::vector<double>& cents = curves.span.centsPerHop;
    const bool unchanged = std::all_of(cents.begin(), cents.end(), [](double c) { return c == 0.0; });
    if (unchanged && !(options.forceStretch && !options.forcePsola))
        return RenderEngine::Copy;
    if (options.forcePsola)
        return RenderEngine::Psola;
    if (options.forceStretch)
        return RenderEngine::Stretch;
    if (options.forceWorld)
        return RenderEngine::World;
    const double down = curves.lowConfidenceExcursion ? kLowDownCents : kDownCents;
    const double up = curves.lowConfidenceExcursion ? kLowUpCents : kUpCents;
    const auto [lo, hi] = std::minmax_element(cents.begin(), cents.end());
    return excursionBeyond(*lo, *hi, down, up) ? RenderEngine::World : RenderEngine::Psola;
}

bool singleNoteUsesWorld(const Document& doc, const Note& note, const RenderOptions& options) noexcept {
    if (!note.pitched || options.forcePsola || options.forceStretch)
        return false;
    if (options.forceWorld)
        return true;
    const auto hop = std::max<std::int64_t>(1, doc.track.hop);
    const auto hops =
        static_cast<std::size_t>(std::max<std::int64_t>(1, (note.sourceEnd - note.sourceStart) / hop));
    const std::vector<float>* curve = curveOf(note);
    // Hops past the curve's end repeat its last value, so the curve's first `hops` values are all there is.
    const std::size_t count = curve != nullptr ? std::min(hops, curve->size()) : 1;
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (std::size_t i = 0; i < count; ++i) {
        const double cents = editCents(note, curve, i);
        low = std::min(low, cents);
        high = std::max(high, cents);
    }
    return note.pitchConfidence < kConfidentScore ? excursionBeyond(low, high, kLowDownCents, kLowUpCents)
                                                  : excursionBeyond(low, high, kDownCents, kUpCents);
}

} // namespace np
