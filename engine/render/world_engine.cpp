#include "engine/render/world_engine.h"

#include "engine/render/centred_frame.h"
#include "engine/render/note_span.h"
#include "engine/render/stretch_render.h"
#include "engine/render/vocoder/aperiodicity.h"
#include "engine/render/vocoder/f0_estimation.h"
#include "engine/render/vocoder/spectral_envelope.h"
#include "engine/render/vocoder/synthesis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace np {
namespace {

// The shift in cents at source offset t (samples into the span) from a per-hop curve, whose entry k
// holds the shift at the hop's start: the entry of the hop starting nearest t, at most the last, or
// fallback when the curve is empty. Read like the track (the frame centred nearest t), the shift and the
// pitch it applies to describe the same instant.
double centsAt(const std::vector<double>& curve, double t, std::uint32_t hop, double fallback) {
    if (curve.empty())
        return fallback;
    const double index = std::round(std::max(0.0, t / hop));
    return curve[static_cast<std::size_t>(std::min(index, static_cast<double>(curve.size() - 1)))];
}

// The track frame that describes source position s: the one centred nearest s, clamped to the track.
const PitchFrame& trackFrameAt(const PitchTrack& track, std::int64_t s) {
    const auto last = static_cast<std::int64_t>(track.frames.size()) - 1;
    return track
        .frames[static_cast<std::size_t>(std::clamp<std::int64_t>(frameCentredAt(track, s), 0, last))];
}

// The frames of context the analysis reads on either side of a span at fs Hz (a valid vocoder rate):
// an FFT size, more than half of the longest window any stage centres on a frame (the aperiodicity's
// four periods of the F0 floor).
std::int64_t analysisContextFrames(int fs) noexcept {
    return vocoder::fftSizeForRate(fs);
}

// The mono mean of the source over [start, start + length), in double precision; zeros outside it.
std::vector<double> sourceMono(const AudioBuffer& source, std::int64_t start, std::int64_t length) {
    std::vector<double> x(static_cast<std::size_t>(length), 0.0);
    for (int c = 0; c < source.channels; ++c) {
        const std::span<const float> channel = source.channel(c);
        for (std::int64_t i = 0; i < length; ++i) {
            const std::int64_t at = start + i;
            if (at >= 0 && at < source.frames)
                x[static_cast<std::size_t>(i)] += channel[static_cast<std::size_t>(at)];
        }
    }
    for (double& v : x)
        v /= source.channels;
    return x;
}

} // namespace

std::int64_t worldAnalysisFrames(std::int64_t sourceLength, double sampleRate) noexcept {
    const double fs = std::round(sampleRate);
    if (!(fs >= vocoder::kMinSampleRate && fs <= vocoder::kMaxSampleRate))
        return sourceLength;
    return sourceLength + 2 * analysisContextFrames(static_cast<int>(fs));
}

std::optional<AudioBuffer> renderWorldSpan(const Document& doc, const SpanParams& span) {
    const double rounded = std::round(doc.sampleRate);
    if (!(rounded >= vocoder::kMinSampleRate && rounded <= vocoder::kMaxSampleRate))
        return std::nullopt;
    const int fs = static_cast<int>(rounded);
    if (span.outputLength < 1 || span.sourceLength < 256 || !doc.audio || doc.audio->channels < 1 ||
        doc.track.hop < 1 || doc.track.frames.empty())
        return std::nullopt;

    // The analysis reads the sound around the span too: cut off at the span's edges, its first and last
    // frames would describe the cut (a burst of high frequencies and noise) rather than the sound, and
    // the unit would tick where it meets the source.
    const std::int64_t context = analysisContextFrames(fs);
    const std::vector<double> x =
        sourceMono(*doc.audio, span.sourceStart - context, span.sourceLength + 2 * context);
    std::vector<double> analysedF0;
    vocoder::FrameSpectra envelope, aperiodicity;
    try {
        analysedF0 = vocoder::estimateF0(x, fs);
        if (std::none_of(analysedF0.begin(), analysedF0.end(), [](double f) { return f > 0.0; }))
            return std::nullopt;
        envelope = vocoder::estimateSpectralEnvelope(x, fs, analysedF0);
        aperiodicity = vocoder::estimateAperiodicity(x, fs, analysedF0);
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }

    // The time map: synthesis frame j reads the source at t (from the span's start), the analysis frame
    // nearest t, and the document's track frame at t; the new F0 follows the track, not the analysis.
    const double period = fs * vocoder::kFramePeriodMs / 1000.0;
    const double frames = std::max(0.0, std::ceil(span.outputLength / period));
    const auto count = static_cast<std::size_t>(frames) + 2;
    const int bins = envelope.bins();
    const bool formant = std::any_of(span.formantCentsPerHop.begin(), span.formantCentsPerHop.end(),
                                     [](double cents) { return cents != 0.0; });
    std::vector<double> f0(count);
    std::vector<const double*> envelopes(count), aperiodicities(count);
    std::vector<double> warped(formant ? count * static_cast<std::size_t>(bins) : 0);
    for (std::size_t j = 0; j < count; ++j) {
        double t = std::min(static_cast<double>(j) * period * span.sourceLength / span.outputLength,
                            span.sourceLength - 1.0);
        t = std::max(t, 0.0);
        const int a = static_cast<int>(std::clamp<long>(
            std::lround((t + static_cast<double>(context)) / period), 0, envelope.frames - 1));
        const PitchFrame& frame = trackFrameAt(doc.track, span.sourceStart + std::llround(t));
        const double cents = centsAt(span.centsPerHop, t, doc.track.hop, 100.0 * span.constantSemitones);
        f0[j] = frame.voiced && frame.hz > 0.0 ? frame.hz * std::exp2(cents / 1200.0) : 0.0;
        envelopes[j] = envelope.frame(a).data();
        aperiodicities[j] = aperiodicity.frame(a).data();
        if (formant) {
            const double ratio = std::exp2(centsAt(span.formantCentsPerHop, t, doc.track.hop, 0.0) / 1200.0);
            if (ratio != 1.0) {
                const std::span<double> target(warped.data() + j * static_cast<std::size_t>(bins),
                                               static_cast<std::size_t>(bins));
                vocoder::warpEnvelope(envelope.frame(a), ratio, target);
                envelopes[j] = target.data();
            }
        }
    }

    const std::vector<double> mono =
        vocoder::synthesize({f0, envelopes, aperiodicities, envelope.fftSize}, fs, span.outputLength);
    AudioBuffer out;
    out.resize(doc.audio->channels, span.outputLength);
    for (int c = 0; c < out.channels; ++c)
        std::transform(mono.begin(), mono.end(), out.channel(c).begin(),
                       [](double v) { return static_cast<float>(v); });
    return out;
}

bool worldOutputUsable(const AudioBuffer& out, const Document& doc, const SpanParams& span) {
    const PitchTrack& track = doc.track;
    if (out.channels < 1 || span.outputLength <= 0 || out.frames != span.outputLength || track.hop < 1 ||
        track.frames.empty())
        return false;
    const std::int64_t frames = out.frames;
    std::vector<double> x(static_cast<std::size_t>(frames), 0.0);
    for (int c = 0; c < out.channels; ++c)
        for (std::int64_t i = 0; i < frames; ++i)
            x[static_cast<std::size_t>(i)] += out.channel(c)[static_cast<std::size_t>(i)];
    double energy = 0.0, peak = 0.0;
    for (double& v : x) {
        v /= out.channels;
        if (!std::isfinite(v))
            return false;
        energy += v * v;
        peak = std::max(peak, std::abs(v));
    }
    const double rms = std::sqrt(energy / static_cast<double>(frames));
    if (!std::isfinite(rms) || rms < 1e-6 || peak > 8.0)
        return false;

    const std::int64_t hop = track.hop;
    if (frames - hop <= hop)
        return true;
    // Normalised autocorrelation at lag over [from, to - lag).
    const auto correlation = [&](std::int64_t from, std::int64_t to, std::int64_t lag) {
        double xy = 0.0, xx = 0.0, yy = 0.0;
        for (std::int64_t i = from; i < to - lag; ++i) {
            const double a = x[static_cast<std::size_t>(i)], b = x[static_cast<std::size_t>(i + lag)];
            xy += a * b;
            xx += a * a;
            yy += b * b;
        }
        return xx <= 1e-12 || yy <= 1e-12 ? 0.0 : xy / std::sqrt(xx * yy);
    };
    double atPeriod = 0.0, overHalf = 0.0, overDouble = 0.0;
    int measured = 0;
    const double rate = doc.sampleRate;
    for (std::int64_t p = hop; p < frames - hop; p += 2 * hop) {
        const std::int64_t s = std::max<std::int64_t>(
            0, std::llround(static_cast<double>(p) * span.sourceLength / span.outputLength));
        const PitchFrame& frame = trackFrameAt(track, span.sourceStart + s);
        if (!frame.voiced || !(frame.hz > 0.0) || (frame.flags & PitchFrame::kSibilant) != 0)
            continue;
        const double cents =
            centsAt(span.centsPerHop, static_cast<double>(s), track.hop, 100.0 * span.constantSemitones);
        const double expected = frame.hz * std::exp2(cents / 1200.0);
        if (!std::isfinite(expected) || expected < 30.0 || expected > 0.24 * rate)
            continue;
        const std::int64_t lag = std::llround(rate / expected);
        if (lag < 4 || 2 * lag >= frames)
            continue;
        const std::int64_t reach = std::max(2 * lag, hop);
        const std::int64_t from = std::max<std::int64_t>(0, p - reach);
        const std::int64_t to = std::min(frames, p + reach);
        if (to - from < 3 * lag)
            continue;
        const double r = correlation(from, to, lag);
        atPeriod += r;
        overHalf += r - correlation(from, to, lag / 2);
        overDouble += r - correlation(from, to, 2 * lag);
        ++measured;
    }
    if (measured < 2)
        return true;
    return overHalf / measured >= 0.04 && atPeriod / measured >= 0.45 && overDouble / measured >= -0.08;
}

AudioBuffer renderNoteAudioWorldImpl(const Document& doc, const Note& note, bool* report) {
    if (report != nullptr)
        *report = false;
    constexpr std::int64_t kMaxSpan = std::numeric_limits<std::int32_t>::max();
    if (!note.pitched || note.sourceEnd - note.sourceStart > kMaxSpan || note.length > kMaxSpan)
        return renderNoteAudio(doc, note);
    const SpanParams span = noteSpanParams(doc, note);
    std::optional<AudioBuffer> out = renderWorldSpan(doc, span);
    if (!out || !worldOutputUsable(*out, doc, span))
        return renderNoteAudio(doc, note);
    if (report != nullptr)
        *report = true;
    // The envelope already carries the formant shift, so no formant warp follows.
    if (note.gainDb != 0.0) {
        const auto gain = static_cast<float>(std::pow(10.0, note.gainDb / 20.0));
        for (float& v : out->samples)
            v *= gain;
    }
    return std::move(*out);
}

AudioBuffer renderNoteAudioWorld(const Document& doc, const Note& note) {
    return renderNoteAudioWorldImpl(doc, note, nullptr);
}

} // namespace np
