#pragma once

// The per-hop pitch and formant curves of a chain of notes, and the engine choice for chains and for
// single notes. A chain's curves follow each note's edits, damp the edit on fast glides, pull same-pitch
// joins onto the target, leave sibilants alone and are smoothed.

#include "engine/model/document.h"
#include "engine/render/render_types.h"

#include <span>
#include <vector>

namespace np {

// A chain's span and curves, in the span's hops (n = max(1, span length / hop)).
struct ChainCurves {
    SpanParams span;                     // outputLength = sourceLength; constantSemitones 0
    bool formantShift = false;           // some formant cent is non-zero after smoothing
    bool lowConfidenceExcursion = false; // a note scored below 0.94 goes over 400 cents down or 700 up
};

// Bytes a chain's curves take while they are built and used: 40 a hop and 32 a note.
inline constexpr std::uint64_t kChainCurveBytesPerHop = 40;
inline constexpr std::uint64_t kChainCurveBytesPerNote = 32;

// The MIDI pitch of track frame `frame` when it exists and is voiced with a frequency above 0; else
// false.
bool voicedFrameMidi(const PitchTrack& track, std::int64_t frame, double& midi) noexcept;

// The track frame that describes the pitch at hop 0 of a span starting at spanStart: the one centred
// there (frameCentredAt, not clamped); hop k is described by that frame + k.
std::int64_t spanFirstFrame(const PitchTrack& track, std::int64_t spanStart) noexcept;

// Builds the curves of a chain (notes by source start, span from the first's start to the last's end),
// in this order:
// 1. each hop takes its note's edit (the last note starting at or before the hop): 100 x the pitch
//    offset plus the note's curve x (drift scale - 1), the curve read where its window is centred on the
//    hop (its first value until then); 100 x the formant shift;
// 2. on spans of 5 hops or more, where the source glides faster than 2 cents per millisecond over 4
//    hops, the edit is pulled towards the curve's median;
// 3. when some note of the chain has a pitch edit (offset or drift) and the chain has two notes or
//    more, voiced hops near each join are pulled onto the target pitch, the more the closer the two
//    notes' targets (a gain-only or formant-only chain keeps its cents at 0 and is copied);
// 4. sibilant hops (the flag of the frame starting at the hop) get 0 cents in both curves;
// 5. both curves are smoothed (smoothCurve).
// An empty pitch curve counts as no curve. Allocates the curves; std::bad_alloc passes through.
ChainCurves buildChainCurves(const Document& doc, std::span<const Note* const> chain);

// The engine of a chain: Copy when every cent is 0 (never with forceStretch alone); else the overrides
// (forcePsola, then forceStretch, then forceWorld); else World when the curve goes below -900 or above
// 2100 cents (-400 and 700 after a low-confidence excursion), otherwise Psola.
RenderEngine chooseChainEngine(const ChainCurves& curves, const RenderOptions& options) noexcept;

// Whether a single-note unit goes to the vocoder: pitched, not forced to another engine, and either
// forceWorld or an excursion (100 x offset + curve x (drift - 1) over its hops) below -400 or above
// 700 cents with a score below 0.94, or below -900 or above 2100 cents with a score of 0.94 or more.
bool singleNoteUsesWorld(const Document& doc, const Note& note, const RenderOptions& options) noexcept;

} // namespace np
