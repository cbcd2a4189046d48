#pragma once

// The render of a whole edited document: an exact copy of the captured source in which every edited
// unit of notes has its source span faded out and its rendered audio added at its timeline position.
// Unedited notes cost nothing.

#include "engine/audio/audio_buffer.h"
#include "engine/model/document.h"
#include "engine/render/render_types.h"

namespace np {

// Renders doc at its own sample rate: the source's channels and max(source frames, the latest note
// end on the timeline) frames.
//
// Validation comes before any output memory is taken, in this order: progress 0 and a cancel poll; no
// source audio (std::invalid_argument "Render requires source audio"); a source outside 1..2 channels,
// 8000..384000 Hz, 1200 s or the sample limit (std::length_error "Render source exceeds the supported
// duration, channel, sample-rate, or memory limits"); more than 100000 notes (std::length_error "Render
// document contains too many notes"); a pitch track that does not describe the source, when there are
// notes (std::invalid_argument "Render pitch-track metadata is invalid"); a note outside the source or
// with a bad timeline or non-finite edit (std::length_error "Document contains an invalid note or
// edited timeline"); an output beyond the working set (std::length_error with kRenderWorkingSetMessage).
// Each unit then checks its own plans (render_plan.h) before it takes memory.
//
// Every edited unit's source span is faded out of the copy first (linear edges of min(length / 4, 5 ms))
// and only then is every unit's audio added (same edges), so a note moved onto the span of a later
// edited unit is not faded away with it. The engine of every rendered unit is recorded into
// *options.hints under its first note's id (nothing for skipped units or muted single notes).
//
// options.progress receives 0 first, once per unit (skipped units too) and 1 last; options.cancel is
// polled during the copy, before each unit and inside the engines, and stopping throws RenderCancelled.
// std::bad_alloc passes through. Keeps no state between calls and takes no lock: renders with their
// own options and hints may run at once on different threads.
AudioBuffer renderDocument(const Document& doc, const RenderOptions& options);

} // namespace np
