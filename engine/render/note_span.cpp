#include "engine/render/note_span.h"

#include "engine/render/centred_frame.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace np {

SpanParams noteSpanParams(const Document& doc, const Note& note) {
    constexpr std::int64_t kMaxSpan = std::numeric_limits<std::int32_t>::max();
    const std::int64_t sourceLength = note.sourceEnd - note.sourceStart;
    if (sourceLength > kMaxSpan || note.length > kMaxSpan)
        throw std::length_error("Note render span is too long");

    SpanParams span;
    span.sourceStart = note.sourceStart;
    span.sourceLength = static_cast<std::int32_t>(sourceLength);
    span.outputLength = static_cast<std::int32_t>(note.length);
    if (!note.pitched) {
        span.constantSemitones = note.pitchOffset;
        return span;
    }

    const std::int64_t hop = std::max<std::int64_t>(1, doc.track.hop);
    const auto hops = static_cast<std::size_t>(std::max<std::int64_t>(1, sourceLength / hop));
    const std::vector<float>* curve = note.pitchCurve ? note.pitchCurve.get() : nullptr;
    const bool drifts = note.driftScale != 1.0 && curve != nullptr && !curve->empty();
    span.centsPerHop.assign(hops, 100.0 * note.pitchOffset);
    span.formantCentsPerHop.assign(hops, 100.0 * note.formantShift);
    const auto& frames = doc.track.frames;
    for (std::size_t k = 0; k < hops; ++k) {
        if (drifts) {
            // The curve's value whose window is centred on the hop (its first value until there is one).
            const std::int64_t i = frameCentredAt(doc.track, static_cast<std::int64_t>(k) * hop);
            const auto at = static_cast<std::size_t>(std::max<std::int64_t>(0, i));
            span.centsPerHop[k] += (*curve)[std::min(at, curve->size() - 1)] * (note.driftScale - 1.0);
        }
        const std::int64_t position = note.sourceStart + static_cast<std::int64_t>(k) * hop;
        const auto frame = static_cast<std::size_t>(std::max<std::int64_t>(0, position) / hop);
        if (frame < frames.size() && (frames[frame].flags & PitchFrame::kSibilant) != 0) {
            span.centsPerHop[k] = 0.0;
            span.formantCentsPerHop[k] = 0.0;
        }
    }
    smoothCurve(span.centsPerHop);
    smoothCurve(span.formantCentsPerHop);
    return span;
}

} // namespace np
