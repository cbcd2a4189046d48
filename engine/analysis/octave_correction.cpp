#include "engine/analysis/octave_correction.h"

#include <algorithm>
#include <cstdint>

namespace np {
namespace {

constexpr double kMinOctaveDrop = 9.5;
constexpr double kMaxOctaveDrop = 14.5;
constexpr double kMaxGapSeconds = 0.7;

bool ask(const std::function<bool()>& keepGoing) {
    return !keepGoing || keepGoing();
}

bool octaveBelow(const NoteEvent& higher, const NoteEvent& lower, const NoteEvent& earlier,
                 const NoteEvent& later, double maxGap) {
    const double drop = higher.pitch - lower.pitch;
    return drop >= kMinOctaveDrop && drop <= kMaxOctaveDrop &&
           static_cast<double>(later.start - earlier.end) < maxGap;
}

} // namespace

bool correctOctaveErrors(std::vector<NoteEvent>& notes, PitchTrack& track,
                         const std::function<bool()>& keepGoing) {
    if (notes.size() < 2 || track.frames.empty())
        return ask(keepGoing);
    if (!ask(keepGoing))
        return false;
    const double maxGap = kMaxGapSeconds * track.sampleRate;
    const std::size_t count = notes.size();
    std::vector<char> marked(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 256 == 0 && !ask(keepGoing))
            return false;
        const bool belowPrevious =
            i > 0 && octaveBelow(notes[i - 1], notes[i], notes[i - 1], notes[i], maxGap);
        const bool belowNext =
            i + 1 < count && octaveBelow(notes[i + 1], notes[i], notes[i], notes[i + 1], maxGap);
        if (i == 0)
            marked[i] = belowNext;
        else if (i + 1 == count)
            marked[i] = belowPrevious;
        else
            marked[i] = belowPrevious && belowNext;
    }

    const auto frameCount = static_cast<std::int64_t>(track.frames.size());
    const auto hop = static_cast<std::int64_t>(track.hop);
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 256 == 0 && !ask(keepGoing))
            return false;
        if (!marked[i])
            continue;
        NoteEvent& note = notes[i];
        note.pitch += 12.0;
        if (hop <= 0)
            continue;
        const std::int64_t first = std::max<std::int64_t>(0, note.start) / hop;
        const std::int64_t last = std::min(std::max<std::int64_t>(0, note.end) / hop, frameCount);
        for (std::int64_t f = first; f < last; ++f) {
            PitchFrame& frame = track.frames[static_cast<std::size_t>(f)];
            if (frame.voiced)
                frame.hz *= 2.0;
        }
    }
    return ask(keepGoing);
}

} // namespace np
