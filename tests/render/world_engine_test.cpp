#include "engine/analysis/pyin.h"
#include "engine/render/stretch_render.h"
#include "engine/render/vocoder/spectral_envelope.h"
#include "engine/render/world_engine.h"
#include "tests/render/document_fixtures.h"
#include "tests/support/signals.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <vector>

namespace np {
namespace {

constexpr double kRate = 48000.0;

Document voiceDocument(const std::vector<float>& mono, int channels = 1) {
    return cvtest::trackedDocument(mono, kRate, channels);
}

// The whole source, unstretched, shifted by a constant number of semitones per hop.
SpanParams wholeSpan(const Document& doc, double semitones, double formantSemitones = 0.0) {
    SpanParams span;
    span.sourceLength = static_cast<std::int32_t>(doc.audio->frames);
    span.outputLength = span.sourceLength;
    const auto hops = static_cast<std::size_t>(span.sourceLength / doc.track.hop);
    span.centsPerHop.assign(hops, 100.0 * semitones);
    span.formantCentsPerHop.assign(hops, 100.0 * formantSemitones);
    return span;
}

AudioBuffer monoBuffer(const std::vector<float>& x) {
    return AudioBuffer::fromInterleaved(x.data(), 1, static_cast<std::int64_t>(x.size()));
}

// The frequencies of the largest envelope value within each band, from the middle frame's envelope.
std::vector<double> envelopePeaks(const AudioBuffer& out, double f0,
                                  const std::vector<std::pair<double, double>>& bands) {
    const std::vector<double> x(out.channel(0).begin(), out.channel(0).end());
    const auto fs = static_cast<int>(kRate);
    const vocoder::FrameSpectra e = vocoder::estimateSpectralEnvelope(
        x, fs, std::vector<double>(static_cast<std::size_t>(vocoder::frameCount(out.frames, fs)), f0));
    const std::span<const double> middle = e.frame(e.frames / 2);
    std::vector<double> peaks;
    for (const auto& [from, to] : bands) {
        const auto first = static_cast<std::size_t>(from * e.fftSize / kRate);
        const auto last = static_cast<std::size_t>(to * e.fftSize / kRate);
        const auto top = std::max_element(middle.begin() + first, middle.begin() + last);
        peaks.push_back(static_cast<double>(top - middle.begin()) * kRate / e.fftSize);
    }
    return peaks;
}

TEST(WorldEngine, ShiftsTwoOctavesEitherWayUsablyAndOnPitch) {
    // A slow glide: the measuring tracker's longer window (for 50 Hz) reads it like the document's.
    const Document doc = voiceDocument(cvtest::vowel(200.0, 240.0, 0.0, 0.0, kRate, 28800));
    PYinConfig wide;
    wide.minHz = 40.0;
    wide.frame = 4096;
    for (const double semitones : {-24.0, -12.0, -5.0, 7.0, 12.0, 24.0}) {
        SCOPED_TRACE(semitones);
        const SpanParams span = wholeSpan(doc, semitones);
        const std::optional<AudioBuffer> out = renderWorldSpan(doc, span);
        ASSERT_TRUE(out.has_value());
        EXPECT_TRUE(worldOutputUsable(*out, doc, span));
        // The output follows the track times the shift: its tracker frame k was synthesised from the
        // document's track frame centred on the same sample, half the difference of the windows later.
        const PitchTrack measured = trackPitchPYin(out->channel(0).data(), out->frames, kRate, wide, {});
        const std::size_t lag = (wide.frame - doc.track.frame) / 2 / doc.track.hop;
        std::vector<double> errors;
        for (std::size_t k = 2; k + 20 < measured.frames.size(); ++k) {
            const PitchFrame& requested = doc.track.frames[k + lag];
            if (measured.frames[k].voiced && requested.voiced)
                errors.push_back(
                    std::abs(cvtest::centsBetween(measured.frames[k].hz, requested.hz) - 100.0 * semitones));
        }
        ASSERT_GT(errors.size(), 50u);
        // Within a few cents everywhere: an octave error would be 1200, a fifth 700.
        EXPECT_LT(*std::max_element(errors.begin(), errors.end()), 10.0);
    }
}

TEST(WorldEngine, FormantRatioTwoMovesEnvelopePeaksAnOctave) {
    const Document doc = voiceDocument(cvtest::vowel(150.0, 150.0, 0.0, 0.0, kRate, 24000));
    const std::vector<std::pair<double, double>> low = {{500.0, 950.0}, {1000.0, 1600.0}};
    const std::vector<std::pair<double, double>> high = {{1000.0, 1900.0}, {2000.0, 3200.0}};
    const std::vector<double> before = envelopePeaks(*renderWorldSpan(doc, wholeSpan(doc, 0.0)), 150.0, low);
    const std::optional<AudioBuffer> out = renderWorldSpan(doc, wholeSpan(doc, 0.0, 12.0));
    ASSERT_TRUE(out.has_value());
    const std::vector<double> after = envelopePeaks(*out, 150.0, high);
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_NEAR(after[i] / before[i], 2.0, 0.1) << before[i] << " Hz";
}

TEST(WorldEngine, VoicingFollowsTheCentresOfTheTrackWindows) {
    // A steady vowel whose track turns unvoiced at frame 40: frame i describes the window starting at
    // i x hop, so the source is voiced up to about the centre of frame 39 and the output must stay
    // periodic there rather than turn to noise at the vowel's level half a window early.
    Document doc = voiceDocument(cvtest::vowel(200.0, 200.0, 0.0, 0.0, kRate, 19200));
    const std::int64_t hop = doc.track.hop, half = doc.track.frame / 2, last = 39;
    for (std::size_t i = 0; i < doc.track.frames.size(); ++i)
        doc.track.frames[i] = i <= last ? PitchFrame{200.0, 0.9, true, 0} : PitchFrame{};
    const std::optional<AudioBuffer> out = renderWorldSpan(doc, wholeSpan(doc, 2.0));
    ASSERT_TRUE(out.has_value());
    const std::span<const float> y = out->channel(0);
    const auto period = std::lround(kRate / (200.0 * std::exp2(2.0 / 12.0)));
    // Normalised autocorrelation at the period over 15 ms from `from`: near 1 periodic, near 0 noise.
    const auto periodicity = [&](std::int64_t from) {
        double xy = 0.0, xx = 0.0, yy = 0.0;
        for (std::int64_t i = from; i < from + 720; ++i) {
            const double a = y[static_cast<std::size_t>(i)], b = y[static_cast<std::size_t>(i + period)];
            xy += a * b;
            xx += a * a;
            yy += b * b;
        }
        return xy / std::sqrt(xx * yy);
    };
    // Midway between the centres of the last voiced and the first unvoiced window.
    const std::int64_t boundary = last * hop + half + hop / 2;
    EXPECT_GT(periodicity(boundary - 720 - 480), 0.9) << "voiced up to the last voiced window's centre";
    EXPECT_LT(periodicity(boundary + 480), 0.5) << "unvoiced past it";
}

TEST(WorldEngine, ServesOnlySpansItCanAnalyse) {
    const Document voice = voiceDocument(cvtest::vowel(200.0, 200.0, 0.0, 0.0, kRate, 9600), 2);
    SpanParams tiny = wholeSpan(voice, 3.0);
    tiny.sourceLength = 255;
    EXPECT_FALSE(renderWorldSpan(voice, tiny).has_value());
    Document trackless = voice;
    trackless.track.frames.clear();
    EXPECT_FALSE(renderWorldSpan(trackless, wholeSpan(voice, 3.0)).has_value());
    const Document noise = voiceDocument(cvtest::noise(9600, 0.3f, 4));
    EXPECT_FALSE(renderWorldSpan(noise, wholeSpan(noise, 3.0)).has_value());

    // A stereo source comes back with identical channels of the asked length, the same every time.
    SpanParams stretched = wholeSpan(voice, 3.0);
    stretched.outputLength = 12345;
    const std::optional<AudioBuffer> out = renderWorldSpan(voice, stretched);
    ASSERT_TRUE(out.has_value());
    ASSERT_EQ(out->channels, 2);
    ASSERT_EQ(out->frames, 12345);
    EXPECT_TRUE(std::equal(out->channel(0).begin(), out->channel(0).end(), out->channel(1).begin()));
    EXPECT_EQ(renderWorldSpan(voice, stretched)->samples, out->samples);
}

TEST(WorldOutputUsable, WantsLevelAndTheExpectedPeriod) {
    const std::int64_t frames = 9600;
    const Document doc = cvtest::spanDocument({std::vector<float>(frames)}, kRate, 200.0);
    SpanParams span;
    span.sourceLength = span.outputLength = static_cast<std::int32_t>(frames);
    span.centsPerHop.assign(static_cast<std::size_t>(frames / 256), 0.0);
    const auto tone = [&](double hz, float amplitude) {
        return cvtest::harmonicTone(hz, kRate, frames, 10, amplitude);
    };
    std::vector<float> withNan = tone(200.0, 0.5f), short_ = tone(200.0, 0.5f);
    withNan[5000] = std::numeric_limits<float>::quiet_NaN();
    short_.pop_back();
    const struct {
        const char* what;
        std::vector<float> x;
        bool usable;
    } cases[] = {{"the expected period", tone(200.0, 0.5f), true},
                 {"half the expected period", tone(400.0, 0.5f), false},
                 {"RMS below 1e-6", tone(200.0, 1e-7f), false},
                 {"peak above 8", tone(200.0, 20.0f), false},
                 {"a sample not finite", withNan, false},
                 {"one frame short", short_, false}};
    for (const auto& c : cases)
        EXPECT_EQ(worldOutputUsable(monoBuffer(c.x), doc, span), c.usable) << c.what;
    // Expected pitches below 30 Hz are not measured, and sibilant frames neither: with fewer than two
    // measurements even noise is accepted.
    const AudioBuffer noise = monoBuffer(cvtest::noise(frames, 0.3f, 2));
    EXPECT_FALSE(worldOutputUsable(noise, doc, span));
    SpanParams low = span;
    low.centsPerHop.assign(low.centsPerHop.size(), -2400.0); // 50 Hz
    EXPECT_FALSE(worldOutputUsable(noise, doc, low));
    low.centsPerHop.assign(low.centsPerHop.size(), -3300.0); // 29.7 Hz
    EXPECT_TRUE(worldOutputUsable(noise, doc, low));
    Document sibilant = doc;
    for (PitchFrame& f : sibilant.track.frames)
        f.flags = PitchFrame::kSibilant;
    EXPECT_TRUE(worldOutputUsable(noise, sibilant, span));
}

TEST(WorldNoteRenderer, KeepsUsableOutputWithItsGainAndFallsBackOtherwise) {
    Document doc = voiceDocument(cvtest::vowel(200.0, 200.0, 0.0, 0.0, kRate, 19200));
    Note note;
    note.id = 1;
    note.sourceStart = note.start = 2400;
    note.sourceEnd = 16800;
    note.length = note.sourceEnd - note.sourceStart;
    note.pitchOffset = 12.0;
    note.gainDb = -6.0;
    note.pitchCurve = std::make_shared<const std::vector<float>>(56, 0.0f);
    bool kept = false;
    const AudioBuffer world = renderNoteAudioWorldImpl(doc, note, &kept);
    EXPECT_TRUE(kept);
    Note flat = note;
    flat.gainDb = 0.0;
    const AudioBuffer ungained = renderNoteAudioWorld(doc, flat);
    ASSERT_EQ(world.samples.size(), ungained.samples.size());
    for (std::size_t i = 0; i < world.samples.size(); i += 97)
        EXPECT_FLOAT_EQ(world.samples[i],
                        ungained.samples[i] * static_cast<float>(std::pow(10.0, -6.0 / 20.0)));

    // Unpitched notes and notes over noise go to the stretch engine.
    for (const bool pitched : {false, true}) {
        Document source = pitched ? voiceDocument(cvtest::noise(19200, 0.3f, 6)) : doc;
        Note other = note;
        other.pitched = pitched;
        kept = true;
        EXPECT_EQ(renderNoteAudioWorldImpl(source, other, &kept).samples,
                  renderNoteAudio(source, other).samples);
        EXPECT_FALSE(kept);
    }
}

} // namespace
} // namespace np
