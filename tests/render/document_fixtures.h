#pragma once

// Documents for the document render tests: a sung-like vowel with vibrato, tracked by the pitch
// tracker as an analysis would, cut into notes at given times; and the pitch error of a rendering.
// Header-only because only the render tests use them.

#include "engine/analysis/analyses.h"
#include "engine/analysis/pyin.h"
#include "engine/model/document.h"
#include "tests/render/render_measures.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace cvtest {

inline constexpr double kVowelHz = 220.0;
inline constexpr double kVibratoCents = 20.0;
inline constexpr double kVibratoHz = 5.5;

// The vowel's fundamental at sample i.
inline double vowelHzAt(double rate, std::int64_t i) {
    return kVowelHz * std::exp2(kVibratoCents * std::sin(2.0 * M_PI * kVibratoHz * i / rate) / 1200.0);
}

// A document of mono (copied into every channel) at rate, without notes, whose track the pitch tracker
// made, as an analysis would.
inline np::Document trackedDocument(const std::vector<float>& mono, double rate, int channels = 1) {
    const auto frames = static_cast<std::int64_t>(mono.size());
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(channels, frames);
    for (int c = 0; c < channels; ++c)
        std::copy(mono.begin(), mono.end(), audio->channel(c).begin());
    np::Document doc;
    doc.sampleRate = rate;
    doc.audio = std::move(audio);
    doc.track = np::trackPitchPYin(mono.data(), frames, rate, {}, {});
    return doc;
}

// A document of mono at rate as the Melodic analysis makes it: its track, and its notes with their
// curves.
inline np::Document analysedDocument(const std::vector<float>& mono, double rate) {
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(1, static_cast<std::int64_t>(mono.size()));
    std::copy(mono.begin(), mono.end(), audio->samples.begin());
    const np::AnalysisResult analysis = np::analyzeMelodic(*audio, rate, {}, {});
    return np::makeDocument(audio, rate, analysis);
}

// seconds of the vowel at rate (mono), tracked, cut into pitched notes at the given times (seconds,
// ascending, inside the take), without pitch curves.
inline np::Document vowelDocument(double seconds, const std::vector<double>& cuts, double rate = 48000.0) {
    const auto frames = static_cast<std::int64_t>(seconds * rate);
    np::Document doc =
        trackedDocument(vowel(kVowelHz, kVowelHz, kVibratoCents, kVibratoHz, rate, frames, 0.2f), rate);
    std::vector<std::int64_t> bounds = {0};
    for (const double cut : cuts)
        bounds.push_back(static_cast<std::int64_t>(cut * rate));
    bounds.push_back(frames);
    for (std::size_t n = 0; n + 1 < bounds.size(); ++n) {
        np::Note note;
        note.id = static_cast<std::uint32_t>(n + 1);
        note.sourceStart = note.start = bounds[n];
        note.sourceEnd = bounds[n + 1];
        note.length = note.sourceEnd - note.sourceStart;
        note.pitch = 69.0 + 12.0 * std::log2(kVowelHz / 440.0);
        note.pitchConfidence = 0.97f;
        doc.notes.push_back(note);
    }
    doc.nextNoteId = static_cast<std::uint32_t>(doc.notes.size() + 1);
    return doc;
}

// The voice a melody take is sung with: the vowel, or a harmonic tone (harmonics falling 6 dB per
// octave, like a sawtooth), whose asymmetric waveform shows any offset a grain or pulse carries.
enum class MelodyVoice { Vowel, Harmonic };

// A sung line of three phrases of legato notes (60 ms glides between them, 25-cent vibrato at 5.5 Hz, a
// 20 ms attack and a 40 ms release, peaking at half of full scale) with silences between, tracked as an
// analysis would and cut into pitched notes. Each note ends 3 hops before the next begins, so that every
// note is a unit of its own and its edges lie in sustained sound or at a phrase's ends.
inline np::Document melodyDocument(MelodyVoice voice, double rate = 48000.0) {
    const std::vector<std::vector<double>> phrases = {{57, 60, 62}, {64, 59}, {55, 57, 60, 64}};
    constexpr double kNoteSeconds = 0.3, kGlideSeconds = 0.06, kAttackSeconds = 0.02, kReleaseSeconds = 0.04,
                     kMelodyVibratoCents = 25.0;
    const auto silence = static_cast<std::int64_t>(0.2 * rate), gap = static_cast<std::int64_t>(0.15 * rate);
    const auto noteFrames = static_cast<std::int64_t>(kNoteSeconds * rate);
    std::vector<double> hz, envelope;
    std::vector<std::pair<std::int64_t, double>> notes; // source start and MIDI pitch
    for (std::size_t p = 0; p < phrases.size(); ++p) {
        const std::vector<double>& midi = phrases[p];
        const std::int64_t pause = p == 0 ? silence : gap;
        hz.insert(hz.end(), static_cast<std::size_t>(pause), hz.empty() ? 440.0 : hz.back());
        envelope.insert(envelope.end(), static_cast<std::size_t>(pause), 0.0);
        const auto length = static_cast<std::int64_t>(midi.size()) * noteFrames;
        for (std::int64_t i = 0; i < length; ++i) {
            const std::size_t k = static_cast<std::size_t>(i / noteFrames);
            const double t = static_cast<double>(i) / rate, in = static_cast<double>(i % noteFrames) / rate;
            double m = midi[k];
            if (k > 0 && in < kGlideSeconds)
                m = midi[k - 1] + (midi[k] - midi[k - 1]) * (0.5 - 0.5 * std::cos(M_PI * in / kGlideSeconds));
            m += kMelodyVibratoCents / 100.0 * std::sin(2.0 * M_PI * kVibratoHz * t);
            hz.push_back(440.0 * std::exp2((m - 69.0) / 12.0));
            envelope.push_back(std::min(
                {1.0, t / kAttackSeconds, (static_cast<double>(length - i) / rate) / kReleaseSeconds}));
            if (i % noteFrames == 0)
                notes.emplace_back(static_cast<std::int64_t>(hz.size()) - 1, midi[k]);
        }
    }
    hz.insert(hz.end(), static_cast<std::size_t>(silence), hz.back());
    envelope.insert(envelope.end(), static_cast<std::size_t>(silence), 0.0);

    std::vector<float> mono;
    if (voice == MelodyVoice::Vowel) {
        mono = vowelOnContour(hz, rate);
    } else {
        std::vector<double> phase(hz.size());
        for (std::size_t i = 1; i < hz.size(); ++i)
            phase[i] = phase[i - 1] + 2.0 * M_PI * hz[i - 1] / rate;
        mono = harmonicFromPhase(phase, 12);
    }
    float peak = 0.0f;
    for (std::size_t i = 0; i < mono.size(); ++i) {
        mono[i] *= static_cast<float>(envelope[i]);
        peak = std::max(peak, std::abs(mono[i]));
    }
    for (float& v : mono)
        v *= 0.5f / peak;

    np::Document doc = trackedDocument(mono, rate);
    const std::int64_t hop = doc.track.hop;
    for (std::size_t n = 0; n < notes.size(); ++n) {
        np::Note note;
        note.id = static_cast<std::uint32_t>(n + 1);
        note.sourceStart = note.start = notes[n].first;
        // A phrase's last note runs to the end of its release; any other stops 3 hops before the next.
        const bool last = n + 1 == notes.size() || notes[n + 1].first != notes[n].first + noteFrames;
        note.sourceEnd = last ? notes[n].first + noteFrames : notes[n + 1].first - 3 * hop;
        note.length = note.sourceEnd - note.sourceStart;
        note.pitch = notes[n].second;
        note.pitchConfidence = 0.97f;
        doc.notes.push_back(note);
    }
    doc.nextNoteId = static_cast<std::uint32_t>(doc.notes.size() + 1);
    return doc;
}

// seconds of a steady vowel at hz over `channels` channels at rate (channel c at 1 / (c + 1) of the
// first's level), with a flat voiced track at trackHz (the analysis's reading, right or not), cut into
// `notes` pitched notes of equal length that follow one another without a gap: one chain.
inline np::Document steadyChain(int notes, double seconds, double hz, double trackHz, int channels,
                                double rate = 48000.0) {
    const auto frames = static_cast<std::int64_t>(seconds * rate);
    const std::vector<float> mono = vowel(hz, hz, 0.0, 0.0, rate, frames, 0.2f);
    std::vector<std::vector<float>> planes;
    for (int c = 0; c < channels; ++c) {
        planes.push_back(mono);
        for (float& x : planes.back())
            x /= static_cast<float>(c + 1);
    }
    np::Document doc = spanDocument(std::move(planes), rate, trackHz);
    for (int n = 0; n < notes; ++n) {
        np::Note note;
        note.id = static_cast<std::uint32_t>(n + 1);
        note.sourceStart = note.start = frames * n / notes;
        note.sourceEnd = frames * (n + 1) / notes;
        note.length = note.sourceEnd - note.sourceStart;
        note.pitch = 69.0 + 12.0 * std::log2(trackHz / 440.0);
        note.pitchConfidence = 0.97f;
        doc.notes.push_back(note);
    }
    doc.nextNoteId = static_cast<std::uint32_t>(notes + 1);
    return doc;
}

// The median absolute error in cents of the rendered vowel y against the source's fundamental shifted by
// `semitones`, measured every 10 ms over [from, to) samples by the phase advance of the fundamental
// (frequencyNear, which shares nothing with the render), against the mean fundamental over its window.
inline double medianPitchErrorCents(const std::vector<float>& y, double rate, double semitones,
                                    std::int64_t from, std::int64_t to) {
    constexpr int kWindow = 2048, kLag = 256;
    std::vector<double> errors;
    for (std::int64_t centre = from; centre < to; centre += static_cast<std::int64_t>(0.01 * rate)) {
        double cents = 0.0;
        for (std::int64_t i = -kWindow / 2 - kLag / 2; i < kWindow / 2 + kLag / 2; ++i)
            cents += 1200.0 * std::log2(vowelHzAt(rate, centre + i) / kVowelHz) / (kWindow + kLag);
        const double expected = kVowelHz * std::exp2(cents / 1200.0 + semitones / 12.0);
        const double measured = frequencyNear(y, rate, centre, expected, kWindow, kLag);
        errors.push_back(std::abs(centsBetween(measured, expected)));
    }
    std::nth_element(errors.begin(), errors.begin() + static_cast<std::ptrdiff_t>(errors.size() / 2),
                     errors.end());
    return errors[errors.size() / 2];
}

} // namespace cvtest

namespace cvtest {

// A take of two sung phrases, each one note, with the track a perfect analysis would make: every frame
// carries the sung contour at its window's centre, voiced where that centre lies inside a phrase. The
// first phrase holds 220 Hz for 0.12 s, glides up 200 cents over 0.16 s (slowly enough that the render
// does not damp an edit of it) and holds for 0.12 s; after a rest the second holds 196 Hz. Each note's
// curve holds its contour in cents from its pitch, per hop, read where that hop's window is centred.
struct GlideTake {
    static constexpr double kSeconds = 1.0;
    static constexpr double kFirstFrom = 0.05, kFirstTo = 0.45, kSecondFrom = 0.75, kSecondTo = 0.95;
    static constexpr double kGlideFrom = 0.17, kGlideTo = 0.33, kGlideCents = 200.0;
    static constexpr double kFirstHz = 220.0, kSecondHz = 196.0;
    static constexpr double kFirstPitch = 58.0; // the middle of the glide, 220 Hz + 100 cents

    // The sung fundamental at source time `seconds` (held outside the phrases).
    static double hzAt(double seconds) {
        if (seconds >= 0.5 * (kFirstTo + kSecondFrom))
            return kSecondHz;
        const double along = std::clamp((seconds - kGlideFrom) / (kGlideTo - kGlideFrom), 0.0, 1.0);
        return kFirstHz * std::exp2(kGlideCents * along / 1200.0);
    }
};

// The glide take over `channels` channels (channel c at 1 / (c + 1) of the first's level) at rate.
inline np::Document glideTake(int channels, double rate = 48000.0) {
    using T = GlideTake;
    const auto frames = static_cast<std::int64_t>(T::kSeconds * rate);
    const auto at = [rate](double seconds) { return static_cast<std::int64_t>(seconds * rate); };
    const std::pair<std::int64_t, std::int64_t> phrases[] = {{at(T::kFirstFrom), at(T::kFirstTo)},
                                                             {at(T::kSecondFrom), at(T::kSecondTo)}};
    std::vector<double> hz(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i)
        hz[static_cast<std::size_t>(i)] = T::hzAt(static_cast<double>(i) / rate);
    std::vector<float> mono = vowelOnContour(hz, rate, 0.2f);
    // Silence outside the phrases, with 10 ms ramps at their edges.
    const auto ramp = static_cast<double>(at(0.01));
    for (std::int64_t i = 0; i < frames; ++i) {
        double gain = 0.0;
        for (const auto& [from, to] : phrases)
            if (i >= from && i < to)
                gain =
                    std::min({1.0, static_cast<double>(i - from) / ramp, static_cast<double>(to - i) / ramp});
        mono[static_cast<std::size_t>(i)] *= static_cast<float>(gain);
    }
    std::vector<std::vector<float>> planes;
    for (int c = 0; c < channels; ++c) {
        planes.push_back(mono);
        for (float& x : planes.back())
            x /= static_cast<float>(c + 1);
    }
    np::Document doc = spanDocument(std::move(planes), rate);
    np::PitchTrack& track = doc.track;
    const auto centre = [&track](std::size_t i) {
        return static_cast<std::int64_t>(i * track.hop + track.frame / 2);
    };
    for (std::size_t i = 0; i < track.frames.size(); ++i) {
        const std::int64_t c = centre(i);
        bool voiced = false;
        for (const auto& [from, to] : phrases)
            voiced = voiced || (c >= from && c < to);
        track.frames[i] = {voiced ? T::hzAt(static_cast<double>(c) / rate) : 0.0, voiced ? 0.9 : 0.0, voiced,
                           0};
    }
    const double pitches[] = {T::kFirstPitch, 69.0 + 12.0 * std::log2(T::kSecondHz / 440.0)};
    for (std::size_t n = 0; n < 2; ++n) {
        np::Note note;
        note.id = static_cast<std::uint32_t>(n + 1);
        note.sourceStart = note.start = phrases[n].first;
        note.sourceEnd = phrases[n].second;
        note.length = note.sourceEnd - note.sourceStart;
        note.pitch = pitches[n];
        note.pitchConfidence = 0.97f;
        std::vector<float> curve(static_cast<std::size_t>(note.length / track.hop));
        for (std::size_t k = 0; k < curve.size(); ++k) {
            const double seconds = static_cast<double>(note.sourceStart + centre(k)) / rate;
            curve[k] =
                static_cast<float>(100.0 * (69.0 + 12.0 * std::log2(T::hzAt(seconds) / 440.0) - note.pitch));
        }
        note.pitchCurve = std::make_shared<const std::vector<float>>(std::move(curve));
        doc.notes.push_back(note);
    }
    doc.nextNoteId = 3;
    return doc;
}

} // namespace cvtest
