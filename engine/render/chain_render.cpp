#include "engine/render/chain_render.h"

#include "engine/analysis/pyin.h"
#include "engine/analysis/pyin_observation.h"
#include "engine/audio/cancellation.h"
#include "engine/render/centred_frame.h"
#include "engine/render/epochs.h"
#include "engine/render/formant_warp.h"
#include "engine/render/psola_render.h"
#include "engine/render/render_plan.h"
#include "engine/render/render_units.h"
#include "engine/render/stretch_render.h"
#include "engine/render/unit_curves.h"
#include "engine/render/world_engine.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <stdexcept>

namespace np {
namespace {

// Buffers of a unit's span the copy, pitch-synchronous and stretch engines hold at once.
constexpr std::uint64_t kUnitBuffers = 6;
// The stretch engine's budget per frame and channel beside its fixed allowance.
constexpr std::uint64_t kStretchBytesPerSample = 16;
// The epoch analysis: the mono mixdown, its filtered copy and the table.
constexpr std::uint64_t kEpochBytesPerFrame = 16;
// A single note's curves: pitch and formant cents and the smoothing copy.
constexpr std::uint64_t kNoteCurveBytesPerHop = 24;
constexpr std::uint64_t kMaxNoteCurveHops = 22369621; // 512 MiB / 24
// Units whose shift never exceeds this are not pitch-checked.
constexpr double kPitchCheckCents = 5.0;
constexpr double kPitchCheckMaxErrorCents = 150.0;
constexpr double kPitchCheckToleranceCents = 3.0;
constexpr std::size_t kPitchCheckPollHops = 256;

constexpr const char* kCurveBytesMessage = "Render curve data is too large";
// How far below the source's energy a pitch-synchronous unit may fall over most of its blocks (of four
// hops) before the stretch engine renders it instead: 12 dB, 10^(-12/10). Blocks of a source this
// quiet are not compared.
constexpr double kPsolaLevelFloor = 0.0630957344480193;
constexpr std::int64_t kPsolaLevelBlockHops = 4;
constexpr double kSilentBlockEnergy = 1e-12;

// The sum of parts; false when it overflows.
bool sumBytes(std::initializer_list<std::uint64_t> parts, std::uint64_t& total) {
    total = 0;
    for (const std::uint64_t part : parts)
        if (__builtin_add_overflow(total, part, &total))
            return false;
    return true;
}

bool withinWorkingSet(std::initializer_list<std::uint64_t> parts) {
    std::uint64_t total = 0;
    return sumBytes(parts, total) && total <= kRenderWorkingSetBytes;
}

void requireWorkingSet(std::initializer_list<std::uint64_t> parts) {
    if (!withinWorkingSet(parts))
        throw std::length_error(kRenderWorkingSetMessage);
}

std::uint64_t sampleBytes(std::int64_t frames, int channels) {
    return static_cast<std::uint64_t>(frames) * static_cast<std::uint64_t>(channels) * 4;
}

// a x b + c, refused with message when it overflows.
std::uint64_t checkedBytes(std::uint64_t a, std::uint64_t b, std::uint64_t c, const char* message) {
    std::uint64_t product = 0, total = 0;
    if (__builtin_mul_overflow(a, b, &product) || __builtin_add_overflow(product, c, &total))
        throw std::length_error(message);
    return total;
}

// The pitch tracker's settings for the check of a rendered unit: the document track's hop and frame.
PYinConfig pitchCheckConfig(const PitchTrack& track) {
    PYinConfig config;
    config.hop = track.hop;
    config.frame = track.frame;
    return config;
}

// Whether the tracker accepts config at this rate at all (a track restored with a frame size the
// tracker cannot use is not pitch-checked rather than refused).
bool pitchCheckUsable(const PYinConfig& config, double rate) {
    return planPYinDecoderMemory(config.frame, rate, config).ok;
}

struct SpanBytes {
    std::uint64_t source = 0, output = 0, metadata = 0, reserved = 0;
};

SpanBytes spanBytes(const RenderContext& context) {
    const AudioBuffer& source = *context.doc.audio;
    return {sampleBytes(source.frames, source.channels), sampleBytes(context.outputFrames, source.channels),
            context.metadataBytes(), context.options.reservedBytes};
}

// Detects the source's epochs once per render, from the mono mixdown. False, before taking any memory,
// when the analysis of the whole source does not fit beside what the render holds.
bool ensureEpochs(RenderContext& context, std::uint64_t curveBytes) {
    if (context.epochs)
        return true;
    const AudioBuffer& source = *context.doc.audio;
    const SpanBytes held = spanBytes(context);
    std::uint64_t analysis = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(source.frames), kEpochBytesPerFrame, &analysis) ||
        !withinWorkingSet({analysis, held.source, held.output, held.metadata, curveBytes, held.reserved}))
        return false;
    std::vector<float> mono(static_cast<std::size_t>(source.frames));
    source.mixdownToMono(mono);
    context.epochs = detectEpochs(mono.data(), source.frames, context.doc.sampleRate, context.doc.track);
    context.pollCancel();
    return true;
}

// Blends the rendered unit back to the source over runs of sibilant hops, with linear ramps of about
// 2 ms on either side.
void restoreSibilants(AudioBuffer& out, const AudioBuffer& source, const PitchTrack& track,
                      std::int64_t spanStart, double rate) {
    const auto hop = static_cast<std::int64_t>(std::max<std::uint32_t>(1, track.hop));
    // The sibilance marking judges each hop's own samples: hop k's flag is that of the frame starting
    // nearest it, not of a window centred on it.
    const std::int64_t firstFrame = (spanStart + hop / 2) / hop;
    const std::int64_t ramp = static_cast<std::int64_t>(0.002 * rate);
    const std::int64_t hops = (out.frames + hop - 1) / hop;
    const int channels = std::min(out.channels, source.channels);
    const auto sibilant = [&](std::int64_t k) {
        const std::int64_t frame = firstFrame + k;
        return frame < static_cast<std::int64_t>(track.frames.size()) &&
               (track.frames[static_cast<std::size_t>(frame)].flags & PitchFrame::kSibilant) != 0;
    };
    for (std::int64_t k = 0; k < hops;) {
        if (!sibilant(k)) {
            ++k;
            continue;
        }
        std::int64_t end = k + 1;
        while (end < hops && sibilant(end))
            ++end;
        const std::int64_t from = k * hop, to = std::min(end * hop, out.frames);
        for (std::int64_t i = std::max<std::int64_t>(0, from - ramp); i < std::min(out.frames, to + ramp);
             ++i) {
            const std::int64_t s = spanStart + i;
            if (s < 0 || s >= source.frames)
                continue;
            const float w = i < from  ? static_cast<float>(i - (from - ramp)) / static_cast<float>(ramp)
                            : i >= to ? static_cast<float>(to + ramp - 1 - i) / static_cast<float>(ramp)
                                      : 1.0f;
            for (int c = 0; c < channels; ++c) {
                float& y = out.channel(c)[static_cast<std::size_t>(i)];
                y = y * (1.0f - w) + source.channel(c)[static_cast<std::size_t>(s)] * w;
            }
        }
        k = end;
    }
}

// The stretch engine's budget for a span of `frames` frames: 16 bytes a sample and its fixed allowance.
std::uint64_t stretchBytes(std::int64_t frames, int channels) {
    return checkedBytes(static_cast<std::uint64_t>(frames),
                        static_cast<std::uint64_t>(channels) * kStretchBytesPerSample,
                        frames > 0 ? kRenderEngineAllowanceBytes : 0, kRenderWorkingSetMessage);
}

double linearGain(const Note& note) {
    return note.muted ? 0.0 : std::pow(10.0, note.gainDb / 20.0);
}

// Applies each chain note's gain over its part of the unit, ramping over 5 ms from the previous note's.
void applyChainGains(AudioBuffer& out, std::span<const Note* const> chain, std::int64_t spanStart,
                     double rate) {
    const auto ramp = static_cast<std::int64_t>(0.005 * rate);
    for (std::size_t j = 0; j < chain.size(); ++j) {
        const std::int64_t from = std::clamp<std::int64_t>(chain[j]->sourceStart - spanStart, 0, out.frames);
        const std::int64_t to =
            j + 1 < chain.size()
                ? std::clamp<std::int64_t>(chain[j + 1]->sourceStart - spanStart, from, out.frames)
                : out.frames;
        const double gain = linearGain(*chain[j]);
        const double previous = j == 0 ? gain : linearGain(*chain[j - 1]);
        for (std::int64_t i = from; i < to; ++i) {
            const std::int64_t into = i - (chain[j]->sourceStart - spanStart);
            const double g =
                into < ramp ? previous + (gain - previous) * static_cast<double>(into) / ramp : gain;
            if (g == 1.0)
                continue;
            for (int c = 0; c < out.channels; ++c)
                out.channel(c)[static_cast<std::size_t>(i)] *= static_cast<float>(g);
        }
    }
}

double largestMagnitude(const std::vector<double>& curve) {
    double largest = 0.0;
    for (const double c : curve)
        largest = std::max(largest, std::abs(c));
    return largest;
}

} // namespace

void RenderContext::pollCancel() const {
    if (options.cancelled())
        throw RenderCancelled();
}

std::uint64_t RenderContext::metadataBytes() const {
    const std::uint64_t epochBytes = epochs ? static_cast<std::uint64_t>(epochs->size()) * 8 : 0;
    std::uint64_t total = 0;
    if (__builtin_add_overflow(epochBytes, noteListBytes, &total))
        throw std::length_error("Render metadata is too large");
    return total;
}

RenderedUnit renderChain(RenderContext& context, std::span<const Note* const> chain) {
    const Document& doc = context.doc;
    const AudioBuffer& source = *doc.audio;
    const double rate = doc.sampleRate;
    const std::int64_t spanStart = chainSpanStart(chain), spanLength = chainSpanLength(chain);
    const auto hops = static_cast<std::uint64_t>(std::max<std::int64_t>(1, spanLength / doc.track.hop));
    const std::uint64_t curveBytes = checkedBytes(hops, kChainCurveBytesPerHop,
                                                  chain.size() * kChainCurveBytesPerNote, kCurveBytesMessage);
    const SpanBytes held = spanBytes(context);
    requireWorkingSet({held.source, held.output, held.metadata, curveBytes, held.reserved});

    ChainCurves curves = buildChainCurves(doc, chain);
    std::vector<double>& cents = curves.span.centsPerHop;
    RenderEngine engine = chooseChainEngine(curves, context.options);

    if (engine == RenderEngine::World) {
        const RenderWorkingSetPlan plan = planWorldRenderWorkingSet(
            source.channels, source.frames, context.outputFrames, worldAnalysisFrames(spanLength, rate),
            spanLength, rate, curves.formantShift);
        // A span the vocoder cannot hold is one it cannot serve: the stretch engine renders it.
        if (!plan.fits || !withinWorkingSet({plan.peakBytes, held.metadata, held.reserved}))
            engine = RenderEngine::Stretch;
    }
    const PYinConfig config = pitchCheckConfig(doc.track);
    const PYinConfig* retrack = nullptr;
    if (engine == RenderEngine::World) {
        // The stretch engine must be able to stand in when the vocoder's output is refused.
        requireWorkingSet({held.source, held.output, curveBytes, stretchBytes(spanLength, source.channels),
                           held.metadata, held.reserved});
    } else {
        if (largestMagnitude(cents) > kPitchCheckCents && pitchCheckUsable(config, rate))
            retrack = &config;
        const RenderWorkingSetPlan plan =
            planRenderWorkingSet(source.channels, source.frames, context.outputFrames, spanLength, rate,
                                 kUnitBuffers, retrack, curveBytes);
        if (!plan.fits || !withinWorkingSet({plan.peakBytes, held.metadata, held.reserved}))
            throw std::length_error(kRenderWorkingSetMessage);
    }
    // A take too long for its epoch analysis still has its edits rendered: the stretch engine's plan,
    // checked above, is the same as this one's.
    if (engine == RenderEngine::Psola && !ensureEpochs(context, curveBytes))
        engine = RenderEngine::Stretch;

    AudioBuffer audio;
    if (engine == RenderEngine::World) {
        std::optional<AudioBuffer> world = renderWorldSpan(doc, curves.span);
        if (world && worldOutputUsable(*world, doc, curves.span)) {
            audio = std::move(*world);
        } else {
            world.reset();
            audio = renderSpan(doc, curves.span);
            engine = RenderEngine::Stretch;
        }
    } else {
        // The stretch engine reads the span's own curve, which is the one the pitch check corrects.
        const auto render = [&](const std::vector<double>& shift) {
            switch (engine) {
            case RenderEngine::Copy:
                return copySourceSpan(source, spanStart, spanLength);
            case RenderEngine::Psola:
                return renderPsolaSpan(source, rate, doc.track, *context.epochs, spanStart, spanLength,
                                       shift);
            default:
                return renderSpan(doc, curves.span);
            }
        };
        audio = render(cents);
        context.pollCancel();
        // The automatic choice keeps confident notes pitch-synchronous far up, where the engine may have
        // nothing to move; a forced engine is rendered as asked.
        if (engine == RenderEngine::Psola && !context.options.forcePsola &&
            !detail::pitchSynchronousOutputUsable(audio, doc, curves.span)) {
            audio = AudioBuffer();
            engine = RenderEngine::Stretch; // the pitch check below renders again with it too
            audio = render(cents);
            context.pollCancel();
        }
        if (retrack != nullptr)
            audio = detail::checkPitchAndRenderAgain(doc, spanStart, std::move(audio), cents, *retrack,
                                                     context.options, render);
    }
    context.pollCancel();

    if (engine == RenderEngine::Stretch || (curves.formantShift && engine != RenderEngine::World)) {
        FormantWarpParams warp;
        warp.sourceStart = spanStart;
        warp.formantCents = &curves.span.formantCentsPerHop;
        warp.pitchCents = &cents;
        warp.track = &doc.track;
        applyFormantWarp(audio, source, warp);
    }
    if (engine == RenderEngine::World || engine == RenderEngine::Stretch || curves.formantShift)
        restoreSibilants(audio, source, doc.track, spanStart, rate);
    applyChainGains(audio, chain, spanStart, rate);
    return {std::move(audio), engine};
}

RenderedUnit renderSingleNote(RenderContext& context, const Note& note) {
    const Document& doc = context.doc;
    const AudioBuffer& source = *doc.audio;
    const std::int64_t sourceLength = note.sourceEnd - note.sourceStart;
    std::uint64_t curveBytes = 0;
    if (note.pitched) {
        const auto hops = static_cast<std::uint64_t>(std::max<std::int64_t>(1, sourceLength / doc.track.hop));
        if (hops > kMaxNoteCurveHops)
            throw std::length_error(kCurveBytesMessage);
        curveBytes = hops * kNoteCurveBytesPerHop;
    }
    const SpanBytes held = spanBytes(context);
    requireWorkingSet({held.source, held.output, curveBytes,
                       stretchBytes(std::max(note.length, sourceLength), source.channels), held.metadata,
                       held.reserved});
    if (note.muted)
        return {};

    bool world = singleNoteUsesWorld(doc, note, context.options);
    if (world) {
        const RenderWorkingSetPlan plan =
            planWorldRenderWorkingSet(source.channels, source.frames, context.outputFrames,
                                      worldAnalysisFrames(sourceLength, doc.sampleRate), note.length,
                                      doc.sampleRate, note.pitched && note.formantShift != 0.0);
        // A note the vocoder cannot hold is one it cannot serve: the stretch engine renders it.
        world = plan.fits && withinWorkingSet({plan.peakBytes, held.metadata, held.reserved});
    }
    if (!world)
        return {renderNoteAudio(doc, note), RenderEngine::Stretch};
    bool kept = false;
    AudioBuffer audio = renderNoteAudioWorldImpl(doc, note, &kept);
    return {std::move(audio), kept ? RenderEngine::World : RenderEngine::Stretch};
}

namespace detail {

AudioBuffer checkPitchAndRenderAgain(const Document& doc, std::int64_t spanStart, AudioBuffer rendered,
                                     std::vector<double>& centsPerHop, const PYinConfig& config,
                                     const RenderOptions& options,
                                     const std::function<AudioBuffer(const std::vector<double>&)>& render) {
    PitchTrack measured;
    {
        std::vector<float> mono(static_cast<std::size_t>(rendered.frames));
        rendered.mixdownToMono(mono);
        measured = trackPitchPYin(mono.data(), rendered.frames, doc.sampleRate, config,
                                  [&options](float) { return !options.cancelled(); });
    }
    if (options.cancelled())
        throw RenderCancelled();

    // Hop k is compared where the sound is: the source frame and the rendered unit's frame centred on it.
    const std::int64_t firstFrame = spanFirstFrame(doc.track, spanStart);
    const std::int64_t firstMeasured = frameCentredAt(measured, 0);
    std::vector<double> errors(centsPerHop.size(), 0.0);
    bool measuredAny = false;
    double largest = 0.0;
    for (std::size_t k = 0; k < errors.size(); ++k) {
        if (k % kPitchCheckPollHops == 0 && options.cancelled())
            throw RenderCancelled();
        const std::int64_t m = firstMeasured + static_cast<std::int64_t>(k);
        if (m < 0)
            continue;
        if (m >= static_cast<std::int64_t>(measured.frames.size()))
            break;
        const PitchFrame& frame = measured.frames[static_cast<std::size_t>(m)];
        double sourceMidi = 0.0;
        if (!frame.voiced || !(frame.hz > 0.0) ||
            !voicedFrameMidi(doc.track, firstFrame + static_cast<std::int64_t>(k), sourceMidi))
            continue;
        const double error = 100.0 * (midiFromHz(frame.hz) - (sourceMidi + centsPerHop[k] / 100.0));
        if (!(std::abs(error) < kPitchCheckMaxErrorCents))
            continue;
        errors[k] = error;
        measuredAny = true;
        largest = std::max(largest, std::abs(error));
    }
    if (!measuredAny || !(largest > kPitchCheckToleranceCents))
        return rendered;
    smoothCurve(errors);
    for (std::size_t k = 0; k < errors.size(); ++k)
        centsPerHop[k] -= errors[k];
    rendered = AudioBuffer(); // the second rendering replaces the first: never hold both
    return render(centsPerHop);
}

bool pitchSynchronousOutputUsable(const AudioBuffer& out, const Document& doc, const SpanParams& span) {
    if (!worldOutputUsable(out, doc, span))
        return false;
    // Energy ratios block by block, so that stretches the engine left as copies (its edges, unvoiced
    // sound) do not hide a unit that is quiet wherever grains were laid.
    const AudioBuffer& source = *doc.audio;
    const std::int64_t block = kPsolaLevelBlockHops * std::max<std::int64_t>(1, doc.track.hop);
    const int channels = std::min(out.channels, source.channels);
    std::vector<double> ratios;
    ratios.reserve(static_cast<std::size_t>(out.frames / block + 1));
    for (std::int64_t from = 0; from < out.frames; from += block) {
        double rendered = 0.0, original = 0.0;
        for (std::int64_t i = from; i < std::min(out.frames, from + block); ++i) {
            const std::int64_t s = span.sourceStart + i;
            for (int c = 0; c < channels; ++c) {
                const double y = out.channel(c)[static_cast<std::size_t>(i)];
                const double x =
                    s >= 0 && s < source.frames ? source.channel(c)[static_cast<std::size_t>(s)] : 0.0;
                rendered += y * y;
                original += x * x;
            }
        }
        if (original > kSilentBlockEnergy)
            ratios.push_back(rendered / original);
    }
    if (ratios.empty())
        return true;
    const auto middle = ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2);
    std::nth_element(ratios.begin(), middle, ratios.end());
    return !(*middle < kPsolaLevelFloor);
}

} // namespace detail

} // namespace np
