#pragma once

#include "engine/audio/audio_buffer.h"
#include "engine/model/document.h"
#include "engine/render/render_types.h"

namespace np {

// Renders one note with the stretch engine: its span (noteSpanParams), then, for a pitched note with a
// formant shift, the formant warp against the source at the note's time ratio, then its gain. Unpitched
// notes are never formant-warped. The result has the source's channels and the note's timeline length.
// Throws std::length_error for spans that do not fit 32 bits; std::bad_alloc passes through.
AudioBuffer renderNoteAudio(const Document& doc, const Note& note);

// Renders a span of the document's source with the stretch engine: outputLength frames, the source's
// channels, pitch-shifted per hop of centsPerHop (or by constantSemitones), time-scaled by
// sourceLength / outputLength. Output frame o corresponds to source frame sourceStart + o x sourceLength
// / outputLength within half a sample, at every pitch. Reads silence outside the source. Applies no
// formant handling and no gain. Returns zeros when the span or the source is empty. Throws
// std::length_error "Spectral render span is too long" when the output plus the engine's latency does
// not fit 32 bits; std::bad_alloc passes through.
AudioBuffer renderSpan(const Document& doc, const SpanParams& span);

} // namespace np
