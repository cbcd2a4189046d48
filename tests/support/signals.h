#pragma once

// Synthetic test signals. Every generator is deterministic (noise takes a seed) and returns mono
// float samples; use np::AudioBuffer::fromInterleaved or copy into a buffer channel as needed.

#include <cstdint>
#include <vector>

namespace cvtest {

// A sine of constant frequency. phase in radians.
std::vector<float> sine(double hz, double sampleRate, std::int64_t frames, float amplitude = 0.5f,
                        double phase = 0.0);

// A sine whose frequency glides exponentially (constant cents per second) from startHz to endHz.
std::vector<float> glide(double startHz, double endHz, double sampleRate, std::int64_t frames,
                         float amplitude = 0.5f);

// A sine at centreHz with sinusoidal vibrato of depthCents (peak) at rateHz.
std::vector<float> vibrato(double centreHz, double depthCents, double rateHz, double sampleRate,
                           std::int64_t frames, float amplitude = 0.5f);

// A harmonic tone (sawtooth-like, harmonics 1..count with amplitude 1/k), closer to a voice than a sine.
std::vector<float> harmonicTone(double hz, double sampleRate, std::int64_t frames, int harmonics = 10,
                                float amplitude = 0.5f);

// The harmonic amplitude (linear, 1 at the source's reference) of the test vowel at hz: an "ah" with
// formants at 700, 1220, 2600 and 3500 Hz on a source falling 6 dB per octave above 200 Hz.
double vowelAmplitude(double hz);

// A source-filter vowel by additive synthesis: every harmonic of the F0 contour below 0.45 x rate and
// 10 kHz, weighted by amplitude x vowelAmplitude at its instantaneous frequency, so the true envelope
// is known at every instant. The contour glides exponentially from startHz to endHz (equal for a steady
// vowel) with sinusoidal vibrato of vibratoCents (peak) at vibratoHz on top.
std::vector<float> vowel(double startHz, double endHz, double vibratoCents, double vibratoHz,
                         double sampleRate, std::int64_t frames, float amplitude = 0.1f);

// The same vowel on a given F0 contour (Hz at every sample): a melody with glides between its notes.
std::vector<float> vowelOnContour(const std::vector<double>& hz, double sampleRate, float amplitude = 0.1f);

// The phase (radians) of a fundamental at centreHz with sinusoidal vibrato of depthCents (peak) at
// rateHz, per sample, starting at 0: the instantaneous phase that harmonicFromPhase turns into a tone and
// that measurements of a rendered tone compare against.
std::vector<double> vibratoPhase(double centreHz, double depthCents, double rateHz, double sampleRate,
                                 std::int64_t frames);

// A harmonic tone (harmonics 1..count with amplitude 1/k, scaled like harmonicTone) on a given phase of
// the fundamental, per sample.
std::vector<float> harmonicFromPhase(const std::vector<double>& phase, int harmonics, float amplitude = 0.5f);

// Uniform white noise in [-amplitude, amplitude] from a fixed seed.
std::vector<float> noise(std::int64_t frames, float amplitude, std::uint32_t seed);

// A percussive hit: noise(frames, amplitude, seed) under an exponential decay of time constant
// decaySeconds.
std::vector<float> hit(std::int64_t frames, float amplitude, double decaySeconds, double sampleRate,
                       std::uint32_t seed);

// Zeros.
std::vector<float> silence(std::int64_t frames);

// Adds burst (scaled by gain) into target starting at offset, clipped to target's length.
void mixInto(std::vector<float>& target, const std::vector<float>& burst, std::int64_t offset,
             float gain = 1.0f);

// Cents between two frequencies (1200 * log2(a / b)).
double centsBetween(double a, double b);

} // namespace cvtest
