#pragma once

// The two steps of a note audition, as pure functions the note-audition worker runs on its thread: a
// freeze keeps the spectral envelope and aperiodicity of one voiced frame of a short excerpt of the
// note (or only the excerpt, when no frame can be analysed), and a synth makes a steady tone from the
// frozen frame at a wanted F0 and formant ratio, with a slight natural wobble, at the host's rate.

#include "engine/audio/audio_buffer.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace np {

// A freeze keeps at most the middle 0.35 s of its excerpt (the plug-in sends 0.35 s).
inline constexpr double kAuditionExcerptSeconds = 0.35;
// Excerpts shorter than this are not analysed; the synth then loops them.
inline constexpr std::size_t kAuditionMinAnalysedSamples = 256;
// The longest seam of the looped excerpt.
inline constexpr std::size_t kAuditionMaxSeamSamples = 512;
inline constexpr const char* kAuditionWorkingSetMessage =
    "Note audition synthesis and resampled output exceed the 512 MiB working-set limit";

// What a freeze keeps of one note.
struct FrozenNote {
    std::uint32_t noteId = 0;
    std::uint64_t tag = 0;            // the freeze request's source tag
    bool ready = false;               // envelope and aperiodicity hold a voiced frame
    int fftSize = 0;                  // of the envelope and aperiodicity (fftSize / 2 + 1 values each)
    int sampleRate = 0;               // the excerpt's rate rounded; 0 outside 1..384000 Hz
    std::vector<double> envelope;     // linear power, as vocoder::estimateSpectralEnvelope
    std::vector<double> aperiodicity; // 0..1, as vocoder::estimateAperiodicity
    std::vector<float> excerpt;       // the fallback: the (trimmed) excerpt, non-finite samples as 0

    // Whether a synth can make something of it: a voiced frame or a fallback excerpt.
    bool usable() const noexcept { return ready || !excerpt.empty(); }
};

// Freezes excerpt (mono, at sampleRate): keeps the excerpt as the fallback, then, for at least 256
// samples at a rate the vocoder takes (8000..384000 Hz after rounding), estimates the F0 at a 5 ms
// frame period, picks the voiced frame nearest the middle (looking at m - k before m + k from the middle
// frame m), and keeps its envelope and aperiodicity. Any analysis failure leaves only the fallback.
// noteId and tag are left 0 for the caller. Runs on the audition thread; std::bad_alloc passes through
// only from the fallback copy.
FrozenNote freezeNoteExcerpt(std::span<const float> excerpt, double sampleRate);

// What a synth makes.
struct AuditionTone {
    double f0Hz = 0.0;         // the steady F0 before the wobble; not positive gives noise
    std::int64_t frames = 0;   // samples at the frozen rate (negative: 0)
    double outputRate = 0.0;   // resampled to this rate when above 0 and different from the frozen rate
    double formantRatio = 1.0; // 2: formants an octave up; not finite or not positive: 1
};

// Synthesises tone from frozen, as a mono buffer:
// - ready: the vocoder's synthesis of `frames` samples at the frozen rate, every 5 ms frame with the
//   frozen envelope (warped by the formant ratio) and aperiodicity, the F0 of frame j at t = j x 5 ms
//   being f0 x (1 + 0.002 x (sin(2 pi 12.7 t) + sin(2 pi 7.1 t) + sin(2 pi 4.7 t)));
// - else with an excerpt of at least 2 samples: the excerpt looped seamlessly (loopExcerpt);
// - else silence;
// then resampled to the output rate. keepGoing (true to go on; may be empty) is asked by the resampling.
// Throws std::length_error (kAuditionWorkingSetMessage) when the synthesis and its resampling would
// exceed the 512 MiB working set, before taking the memory; the resampler's exceptions pass through.
// Runs on the audition thread.
AudioBuffer synthesizeAudition(const FrozenNote& frozen, const AuditionTone& tone,
                               const std::function<bool()>& keepGoing);

namespace detail {

// Fills out with excerpt (n >= 2 samples) repeated without a click: with a seam of
// L = min(n / 2, 512) samples, the last L samples of each pass cross-fade (sine and cosine, equal
// power) into the first L, and every later pass starts at sample L, so the loop's period is n - L and
// no sample is played twice. Pure; never throws.
void loopExcerpt(std::span<const float> excerpt, std::span<float> out) noexcept;

} // namespace detail

} // namespace np
