#pragma once

#include "engine/analysis/analysis_records.h"
#include "engine/audio/audio_buffer.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace np {

// A per-hop curve shared by reference between a document, its copies and its undo states. Never
// changed in place: an operation that needs a different curve builds a new vector.
using SharedCurve = std::shared_ptr<const std::vector<float>>;

// One editable note. Sample positions are at the document rate.
struct Note {
    std::uint32_t id = 0;         // from 1; never reused within a document
    std::int64_t sourceStart = 0; // first sample of the analysed span in the source audio
    std::int64_t sourceEnd = 0;   // end of the analysed span (exclusive)
    std::int64_t start = 0;       // timeline position
    std::int64_t length = 0;      // timeline length; differs from the source span when stretched
    double pitch = 60.0;          // base pitch, fractional MIDI number (69 = A4)
    SharedCurve pitchCurve;       // per hop: cents from pitch, gaps filled
    SharedCurve levelCurve;       // per hop: RMS level (linear)
    float pitchConfidence = 0.0f; // 0..1 mean confidence of the voiced hops
    bool pitched = true;          // false for notes with no usable pitch (Percussive)
    double pitchOffset = 0.0;     // semitones, -24..24
    double driftScale = 1.0;      // scale of the curve's deviation, 0..2
    double formantShift = 0.0;    // semitones, -12..12
    double gainDb = 0.0;          // -60..24
    bool muted = false;
};

// The editable form of one analysed take. Copies share the source audio and every curve.
struct Document {
    double sampleRate = 48000.0;
    std::shared_ptr<const AudioBuffer> audio; // null in an empty document
    PitchTrack track;
    std::vector<Note> notes;      // analysis order as made (ascending source position)
    std::uint32_t nextNoteId = 1; // only grows; undo never gives an id back

    // Linear scan; the first note with that id, or null.
    const Note* findNote(std::uint32_t id) const noexcept;
    Note* findNote(std::uint32_t id) noexcept;
};

// The session settings stored beside a document in the project format and the host state.
struct SessionMeta {
    std::int32_t keyRoot = 0;   // 0 = C .. 11 = B
    std::int32_t scaleKind = 0; // 0 Chromatic, 1 Major, 2 Minor
    double a4Hz = 440.0;
    double tempoBpm = 120.0;    // 20..300
    std::int32_t algorithm = 0; // 0 Melodic, 1 Percussive
};

// Builds a document from an analysis result: one note per event, ids from 1, edit fields at defaults.
Document makeDocument(std::shared_ptr<const AudioBuffer> audio, double sampleRate,
                      const AnalysisResult& result);

// Estimate of the memory a document holds (audio, pitch frames, notes and each distinct curve once);
// saturating; all ones when the audio's shape is out of range or counting fails.
std::uint64_t estimateDocumentResidentBytes(const Document& document);

} // namespace np
