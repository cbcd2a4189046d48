#pragma once

#include "engine/analysis/analysis_records.h"

#include <functional>
#include <vector>

namespace np {

// Lifts by one octave each note that the tracker put an octave too low between its neighbours: a note
// 9.5..14.5 semitones below both neighbours (or below its only neighbour, for the first and last
// note), each less than 0.7 s away, gets 12 semitones added and the voiced frames of track under it
// doubled in Hz. Every decision is made on the pitches as they were before any change; cents curves
// stay as they are because note and frames move together.
//
// notes must be in time order. Returns false when keepGoing returned false (some notes may then be
// lifted already), true otherwise. Runs on the calling thread.
bool correctOctaveErrors(std::vector<NoteEvent>& notes, PitchTrack& track,
                         const std::function<bool()>& keepGoing);

} // namespace np
