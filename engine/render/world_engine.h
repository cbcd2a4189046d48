#pragma once

// The vocoder engine: resynthesises a span of the source from its spectral envelope and aperiodicity
// (engine/render/vocoder) with a new F0 taken from the document's own pitch track times the span's
// shift, the envelope stretched in frequency by the span's formant shift. Used for large pitch shifts;
// output whose periodicity does not follow the expected pitch is refused, and the stretch engine
// renders instead.

#include "engine/audio/audio_buffer.h"
#include "engine/model/document.h"
#include "engine/render/render_types.h"

#include <optional>

namespace np {

// Renders one note with the vocoder: the note's span (noteSpanParams), then its gain. Unpitched notes,
// spans that do not fit 32 bits, spans the vocoder cannot serve and output that worldOutputUsable
// refuses go to renderNoteAudio (the stretch engine, which applies its own formant warp and gain).
// *report (when report is not null) is set to true exactly when the vocoder's output was kept.
// Runs on the render thread; std::bad_alloc passes through.
AudioBuffer renderNoteAudioWorldImpl(const Document& doc, const Note& note, bool* report);

// renderNoteAudioWorldImpl without a report.
AudioBuffer renderNoteAudioWorld(const Document& doc, const Note& note);

// The vocoder's rendering of span: outputLength frames in every channel of the source (the mono mean
// of the source resynthesised), or nothing when the vocoder cannot be applied: a document rate outside
// 8000..384000 Hz, no output, fewer than 256 source frames, no source channels, a hop below 1, an empty
// pitch track, or a span without any voiced frame. Output frame o reads the source at
// o x sourceLength / outputLength, its pitch from the track frame whose analysis window is centred
// nearest there and its shifts from the hop starting nearest there. The analysis reads
// worldAnalysisFrames source frames: the span and the sound around it. Deterministic; std::bad_alloc
// passes through.
std::optional<AudioBuffer> renderWorldSpan(const Document& doc, const SpanParams& span);

// The source frames the vocoder analyses for a span of sourceLength frames at sampleRate (Hz): the span
// and, on either side, the context its first and last frames' analysis windows reach into. Memory plans
// count these. Pure; never throws.
std::int64_t worldAnalysisFrames(std::int64_t sourceLength, double sampleRate) noexcept;

// Whether out is usable as the rendering of span: outputLength frames, finite, RMS at least 1e-6, peak
// at most 8, and, where the document's track expects a pitch (voiced, not sibilant, 30 Hz .. 0.24 x
// rate after the span's shift), normalised autocorrelations of the mono mean at the expected period P,
// P / 2 and 2 P that show that period (measured at every other hop; fewer than 2 measurements accept).
bool worldOutputUsable(const AudioBuffer& out, const Document& doc, const SpanParams& span);

} // namespace np
