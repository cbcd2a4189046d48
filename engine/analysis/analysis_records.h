#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace np {

// One analysis hop of a pitch track.
struct PitchFrame {
    static constexpr std::uint8_t kSibilant = 1; // flags bit 0, set by sibilance marking

    double hz = 0.0;         // estimated fundamental in Hz; 0 when unvoiced
    double confidence = 0.0; // 0..1 (1 - the YIN value of the chosen candidate); 0 when unvoiced
    bool voiced = false;     // the decoded path is voiced at this hop
    std::uint8_t flags = 0;  // bit 0: sibilant; other bits 0
};

// A pitch track: frame i describes the analysis window starting at sample i*hop.
struct PitchTrack {
    double sampleRate = 48000.0;
    std::uint32_t hop = 256;    // samples between frames
    std::uint32_t frame = 2048; // analysis window in samples
    std::vector<PitchFrame> frames;
};

// One analysed note as the analysis delivers it.
struct NoteEvent {
    std::int64_t start = 0; // first source sample
    std::int64_t end = 0;   // one past the last source sample
    double pitch = 60.0;    // fractional MIDI number; 60 for unpitched events
    // Per hop: deviation from pitch in cents, gaps filled from neighbours (never NaN); 0 when unpitched.
    std::vector<float> pitchCurve;
    // Per hop: RMS level (linear) of the hop's window (Melodic) or samples (Percussive).
    std::vector<float> levelCurve;
    float pitchConfidence = 0.0f; // mean confidence of the voiced hops; 0 for unpitched events
    bool pitched = false;         // true for melodic notes, false for percussive events
};

// What an analysis delivers.
struct AnalysisResult {
    double sampleRate = 48000.0;
    bool cancelled = false; // stopped by its progress callback; every other field then holds its default
    PitchTrack track;
    std::vector<NoteEvent> notes;     // in time order
    std::vector<std::int64_t> onsets; // ascending sample positions
    float polyphonyScore = 0.0f;      // several-voices score 0..1
};

// Limits every note keeps from analysis to project file, so that a session can always be saved.
inline constexpr std::size_t kMaxNotes = 100000; // notes in one document
inline constexpr double kMinNotePitch = -24.0;   // base pitch, MIDI
inline constexpr double kMaxNotePitch = 156.0;
// A note's cents curve never exceeds four octaves either way: a slow glide measured against its
// median can go further, and such a curve could not be stored.
inline constexpr float kMaxNoteCurveCents = 4800.0f;

// Above this several-voices score the user is warned that chords may not edit reliably.
inline constexpr float kPolyphonyWarningScore = 0.25f;

// Probabilistic YIN settings. The defaults describe 48 kHz audio.
struct PYinConfig {
    std::uint32_t hop = 256;        // 1..4194304
    std::uint32_t frame = 2048;     // power of two, 2..4194304
    double minHz = 50.0;            // > 0
    double maxHz = 1800.0;          // > minHz, < half the sample rate
    double binCents = 10.0;         // > 0
    double maxJumpCents = 240.0;    // >= 0
    double voicedToUnvoiced = 0.01; // 0..1 per frame
    double unvoicedToVoiced = 0.01; // 0..1 per frame
    double silenceDb = -70.0;       // frames quieter than this (dBFS RMS) get no candidates
};

// Onset detection settings.
struct OnsetConfig {
    std::int32_t hop = 256;           // > 0
    std::int32_t frame = 1024;        // > 0; a power of two after scaling
    double medianWindowSeconds = 0.2; // 0..1200
    double thresholdRatio = 1.4;      // >= 0
    double minGapSeconds = 0.05;      // 0..1200
};

// Note segmentation settings.
struct SegmenterConfig {
    double minSegmentSeconds = 0.06; // shortest piece kept, and half-width of the level-dip test (0..1200)
    double splitCents = 60.0;        // median pitch step that cuts a note (>= 0)
    std::int32_t medianFrames = 3;   // half-width of the pitch median filter in frames (>= 0)
    std::int32_t maxGapFrames = 2;   // longest unvoiced run bridged inside a voiced run (>= 0)
    double onsetSnapSeconds = 0.03;  // a note start this close to an onset moves onto it (0..1200)
    double silenceDb = -60.0;        // notes whose loudest hop is below this (dBFS) are dropped (finite)
};

// All analysis settings; sample-count settings are rescaled to the audio's rate before use.
struct AnalysisConfig {
    PYinConfig pyin;
    OnsetConfig onset;
    SegmenterConfig segmenter;
};

} // namespace np
