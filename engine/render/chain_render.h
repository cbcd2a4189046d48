#pragma once

// Rendering one unit of the document render: a chain through its curves, engine, pitch check, formant
// warp, sibilant restoration and gains; a single note through the stretch engine or the vocoder. Each
// checks its memory against the 512 MiB working set before it takes any.

#include "engine/analysis/analysis_records.h"
#include "engine/audio/audio_buffer.h"
#include "engine/model/document.h"
#include "engine/render/render_types.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace np {

// What the units of one render share: the document and options, the limits every unit's plan must
// respect, and the epoch table, detected by the first pitch-synchronous chain and kept for the others.
struct RenderContext {
    const Document& doc;
    const RenderOptions& options;
    std::int64_t outputFrames = 0;
    std::uint64_t noteListBytes = 0; // 128 a note
    std::optional<std::vector<long long>> epochs;

    // Throws RenderCancelled when the cancel test says stop.
    void pollCancel() const;
    // The epoch table and the note list; throws std::length_error "Render metadata is too large" when
    // the sum overflows.
    std::uint64_t metadataBytes() const;
};

struct RenderedUnit {
    AudioBuffer audio;                  // source channels; empty for a muted single note
    std::optional<RenderEngine> engine; // what to record; empty: nothing (a muted single note)
};

// Renders a chain (notes by source start, pitched and unstretched, one timeline offset): source span
// length frames to be added at the first note's timeline start. Throws std::length_error with the
// working-set messages when a plan does not fit, RenderCancelled when cancelled; std::bad_alloc passes
// through. A vocoder plan, or a pitch-synchronous epoch analysis of the source, that does not fit
// renders with the stretch engine instead, and so does an automatically chosen pitch-synchronous unit
// that pitchSynchronousOutputUsable refuses.
RenderedUnit renderChain(RenderContext& context, std::span<const Note* const> chain);

// Renders a single-note unit: nothing for a muted note, else the vocoder's note renderer when the
// engine choice says so and its plan fits, else the stretch engine's. Throws as renderChain does.
RenderedUnit renderSingleNote(RenderContext& context, const Note& note);

namespace detail {

// The pitch check of a rendered chain: tracks the pitch of `rendered` (its mono mean) with config and,
// where the new frame and the source frame centred on hop k are both voiced, measures the error
// against the source's pitch plus centsPerHop[k] (errors of 150 cents or more count as 0). When some
// error was measured and the largest exceeds 3 cents, the smoothed errors are subtracted from
// centsPerHop and render(centsPerHop) renders the span once more; that result is returned (it is not
// checked again), else `rendered` is. Throws RenderCancelled when the options' cancel test says stop.
AudioBuffer checkPitchAndRenderAgain(const Document& doc, std::int64_t spanStart, AudioBuffer rendered,
                                     std::vector<double>& centsPerHop, const PYinConfig& config,
                                     const RenderOptions& options,
                                     const std::function<AudioBuffer(const std::vector<double>&)>& render);

// Whether a pitch-synchronous rendering `out` of span may stand: it follows the expected pitch, by the
// vocoder's usability test (worldOutputUsable), and over most of its blocks of four hops (the median)
// its energy is no more than 12 dB below the source's there. Grains cannot move a harmonic the source
// lacks: a near-sine shifted an octave up comes out far quieter, or without its pitch, and then the
// stretch engine serves. Allocates a few values per block.
bool pitchSynchronousOutputUsable(const AudioBuffer& out, const Document& doc, const SpanParams& span);

} // namespace detail

} // namespace np
