#pragma once

#include "engine/model/document.h"
#include "engine/render/render_types.h"

namespace np {

// The span that renders one note on its own: its source span, its timeline length as the output
// length, and
// - for an unpitched note, its pitch offset as constantSemitones and no curves;
// - for a pitched note, per hop of the document's track (max(1, source length / hop) hops): 100 x the
//   pitch offset plus the note's curve x (drift scale - 1) when the drift scale is not 1 (the curve read
//   where its window is centred on the hop, its first value until then), the formant shift in cents,
//   both 0 on hops whose source frame is sibilant, both smoothed with smoothCurve.
// Throws std::length_error "Note render span is too long" when the source span or the timeline length
// does not fit 32 bits. Runs on any thread; allocates the curves.
SpanParams noteSpanParams(const Document& doc, const Note& note);

} // namespace np
