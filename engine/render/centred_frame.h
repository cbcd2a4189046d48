#pragma once

// Where the render reads the pitch track against the audio. Frame i of a track describes the analysis
// window [i x hop, i x hop + frame), whose centre lies half a window after its start: the frame that
// starts at a position (position / hop) reports the sound about half a window later (21 ms at 48 kHz
// with the default 2048-sample window), so every reading against a source position goes through here.

#include "engine/analysis/analysis_records.h"

#include <cstdint>

namespace np {

// The index of the track frame whose analysis window is centred nearest source frame s: the nearest
// integer to (s - frame / 2) / hop (a hop of 0 counts as 1). Not clamped: negative before the first
// window's centre, past the last frame after the last one's; callers clamp or skip as they need. A
// note's per-hop curve, whose value i describes the window starting at i x hop from the note's source
// start, is read at source frame p with frameCentredAt(track, p - source start). Pure.
std::int64_t frameCentredAt(const PitchTrack& track, std::int64_t s) noexcept;

} // namespace np
