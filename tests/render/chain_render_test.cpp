#include "engine/analysis/pyin.h"
#include "engine/render/chain_render.h"
#include "engine/render/document_render.h"
#include "tests/render/document_fixtures.h"
#include "tests/render/render_measures.h"
#include "tests/support/signals.h"

#include <array>
#include <functional>
#include <gtest/gtest.h>

namespace np {
namespace {

constexpr double kRate = 48000.0;
constexpr double kHz = 220.0;
constexpr std::int64_t kFrames = 24000;

// A stand-in engine that renders the source's tone at the requested shift, missing it by flatCents, and
// counts its renderings: the pitch check must render again exactly when the miss exceeds 3 cents, and
// the second rendering must ask for the shift corrected by the miss.
TEST(PitchCheck, RendersOnceMoreOnlyWhenTheUnitMissesItsPitch) {
    const Document doc = cvtest::spanDocument({cvtest::harmonicTone(kHz, kRate, kFrames)}, kRate, kHz);
    for (const auto& [flat, renders] : {std::pair{20.0, 2}, std::pair{2.0, 1}}) {
        SCOPED_TRACE(flat);
        const double flatCents = flat; // a copy the stand-in can capture
        int calls = 0;
        const auto standIn = [&](const std::vector<double>& cents) {
            ++calls;
            const std::vector<float> tone = cvtest::harmonicTone(
                kHz * std::exp2((cents[cents.size() / 2] - flatCents) / 1200.0), kRate, kFrames);
            return AudioBuffer::fromInterleaved(tone.data(), 1, kFrames);
        };
        std::vector<double> cents(kFrames / doc.track.hop, 300.0);
        const AudioBuffer out =
            detail::checkPitchAndRenderAgain(doc, 0, standIn(cents), cents, PYinConfig{}, {}, standIn);
        EXPECT_EQ(calls, renders);
        EXPECT_EQ(out.frames, kFrames);
        if (renders == 2) {
            EXPECT_NEAR(cents[cents.size() / 2], 300.0 + flatCents, 1.0);
        }
    }
}

// A pitch-synchronous unit is kept only when it follows the expected pitch (an octave up here) and keeps
// the source's level; a unit at the source's unshifted pitch, or one 20 dB down, is refused.
TEST(PitchSynchronousOutput, IsUsableOnlyOnPitchAndNearTheSourceLevel) {
    const Document doc = cvtest::spanDocument({cvtest::harmonicTone(kHz, kRate, kFrames)}, kRate, kHz);
    SpanParams span;
    span.sourceLength = span.outputLength = kFrames;
    span.centsPerHop.assign(kFrames / doc.track.hop, 1200.0);
    struct Case {
        const char* what;
        double hz;
        float amplitude;
        bool usable;
    };
    const Case cases[] = {
        {"on pitch, at the source level", 2 * kHz, 0.5f, true},
        {"unshifted, at the source level", kHz, 0.5f, false},
        {"on pitch, 20 dB down", 2 * kHz, 0.05f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<float> tone = cvtest::harmonicTone(c.hz, kRate, kFrames, 10, c.amplitude);
        EXPECT_EQ(detail::pitchSynchronousOutputUsable(AudioBuffer::fromInterleaved(tone.data(), 1, kFrames),
                                                       doc, span),
                  c.usable);
    }
}

// What a listener hears under each note of a three-note chain of a steady 220 Hz vowel after one
// edit, per channel: how much of the original is left (the output's projection onto the source: 1
// unedited, the gain for a gain edit, 0 under a pitch shift), the level, the pitch, where its first
// formant lies against the source's and how far the gain has moved 2.5 ms into a note (halfway
// through its 5 ms glide from the previous note's). Each row is a way of getting it wrong: a source
// span faded only under the chain's first note (the original heard doubled, 3 to 6 dB louder), a muted
// note that forms a unit of its own still sounding, a pitch check that "corrects" a unit by an octave
// when the re-tracker disagrees with the track by 1200 cents, an edit heard on one channel only, a
// gain that jumps (a click) or reaches past its note, a sibilant left to the engine or restored from
// another channel or left to pass through the stretch engine (near the source, yet not the source's own
// "s"), formants moved with the pitch.
TEST(ChainRender, EveryNoteSoundsAtItsEditedLevelPitchAndFormants) {
    constexpr double kHz = 220.0;
    constexpr double kSilentDb = -60.0;
    constexpr double kShareTolerance = 0.15;  // a shifted tone projects a little onto the source
    constexpr double kLevelToleranceDb = 3.0; // the engines keep the level within about 2 dB
    constexpr double kPitchToleranceCents = 25.0;
    constexpr double kFormantTolerance = 0.15; // of the ratio; moved with a 7-semitone shift it is 1.5
    constexpr double kJoinGainTolerance = 0.05;
    constexpr std::int64_t kHalfGlide = 120; // 2.5 ms
    struct Heard {
        double share = 1.0; // of the source; NAN: not measured
        double db = 0.0;    // -infinity: silent
        double semitones = 0.0;
        double formantRatio = NAN;
        double joinGain = NAN;
        bool kept = false; // the source itself: what differs from it lies below kSilentDb
    };
    const Heard silent{0.0, -INFINITY, NAN};
    // An unedited note of a chain rendered again: at the source's level and pitch, its phase the engine's.
    const Heard again{NAN, 0.0, 0.0};
    const auto shifted = [](double semitones) { return Heard{0.0, 0.0, semitones}; };
    const double halfGain = std::pow(10.0, -6.0 / 20.0);
    // The first note +6 semitones through the vocoder (or, in stereo, whose channels the vocoder would
    // render as one, the stretch engine), and the middle note replaced by an "s": noise (at each
    // channel's level, the second channel's half the first's) marked sibilant, which comes out as the
    // source has it.
    const auto sibilantMiddle = [](Document& d, RenderOptions& o) {
        d.notes[0].pitchOffset = 6.0;
        o.forceWorld = d.audio->channels == 1;
        o.forceStretch = d.audio->channels == 2;
        const Note& s = d.notes[1];
        auto audio = std::make_shared<AudioBuffer>(*d.audio);
        const std::vector<float> hiss = cvtest::noise(s.sourceEnd - s.sourceStart, 0.05f, 3);
        for (int c = 0; c < audio->channels; ++c)
            std::transform(hiss.begin(), hiss.end(), audio->channel(c).begin() + s.sourceStart,
                           [c](float v) { return v / static_cast<float>(c + 1); });
        d.audio = audio;
        for (std::int64_t f = s.sourceStart / d.track.hop; f < s.sourceEnd / d.track.hop; ++f)
            d.track.frames[static_cast<std::size_t>(f)] = {0.0, 0.0, false, PitchFrame::kSibilant};
    };
    const Heard sibilant{.semitones = NAN, .kept = true};
    struct Case {
        const char* what;
        std::function<void(Document&, RenderOptions&)> edit;
        std::array<Heard, 3> heard;
        double trackHz = kHz;
        int channels = 1;
    };
    const Case cases[] = {
        {"middle note +2 semitones",
         [](Document& d, RenderOptions&) { d.notes[1].pitchOffset = 2.0; },
         {again, shifted(2.0), again}},
        {"middle note -6 dB (copied)",
         [](Document& d, RenderOptions&) { d.notes[1].gainDb = -6.0; },
         {Heard{}, Heard{.share = halfGain, .db = -6.0, .joinGain = (1.0 + halfGain) / 2},
          Heard{.joinGain = (1.0 + halfGain) / 2}}},
        {"middle note's formants +5 semitones",
         [](Document& d, RenderOptions&) { d.notes[1].formantShift = 5.0; },
         {again, Heard{.share = NAN, .formantRatio = std::exp2(5.0 / 12.0)}, again}},
        {"stereo, middle note +3 semitones",
         [](Document& d, RenderOptions&) { d.notes[1].pitchOffset = 3.0; },
         {again, shifted(3.0), again},
         kHz,
         2},
        {"muted stretched note (a unit of its own)",
         [](Document& d, RenderOptions&) {
             d.notes[1].length = d.notes[1].length * 4 / 5;
             d.notes[1].muted = true;
         },
         {Heard{}, silent, Heard{}}},
        {"muted note of a Percussive analysis (every note unpitched)",
         [](Document& d, RenderOptions&) {
             for (Note& note : d.notes)
                 note.pitched = false;
             d.notes[1].muted = true;
         },
         {Heard{}, silent, Heard{}}},
        {"track an octave below the sound: the re-tracker disagrees by 1200 cents",
         [](Document& d, RenderOptions& o) {
             d.notes[1].pitchOffset = 1.0;
             o.forceStretch = true;
         },
         {again, shifted(1.0), again},
         kHz / 2},
        {"stretch engine, first note +7 semitones: its formants stay",
         [](Document& d, RenderOptions& o) {
             d.notes[0].pitchOffset = 7.0;
             o.forceStretch = true;
         },
         {Heard{.share = NAN, .semitones = 7.0, .formantRatio = 1.0}, again, again}},
        {"vocoder, first note +6 semitones, the middle note an \"s\" (noise marked sibilant)",
         sibilantMiddle,
         {shifted(6.0), sibilant, again}},
        {"stretch engine, first note +6 semitones, the middle note an \"s\"",
         [&sibilantMiddle](Document& d, RenderOptions& o) {
             sibilantMiddle(d, o);
             o.forceWorld = false;
             o.forceStretch = true;
         },
         {shifted(6.0), sibilant, again}},
        {"stereo, stretch engine, first note +6 semitones, the middle note an \"s\" (each channel its own)",
         sibilantMiddle,
         {shifted(6.0), sibilant, again},
         kHz,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Document doc = cvtest::steadyChain(3, 0.6, kHz, c.trackHz, c.channels);
        RenderOptions options;
        c.edit(doc, options);
        const AudioBuffer out = renderDocument(doc, options);
        ASSERT_EQ(out.frames, doc.audio->frames);
        const PitchTrack track = trackPitchPYin(out.channel(0).data(), out.frames, kRate, {}, {});
        for (std::size_t n = 0; n < 3; ++n) {
            SCOPED_TRACE(testing::Message() << "note " << n + 1);
            const Heard& heard = c.heard[n];
            const Note& note = doc.notes[n];
            // Clear of the 5 ms edges and of the tracker's window reaching into the next note.
            const std::int64_t from = note.sourceStart + 1200, to = note.sourceEnd - 1200;
            for (int ch = 0; ch < out.channels; ++ch) {
                SCOPED_TRACE(testing::Message() << "channel " << ch);
                const std::span<const float> x = doc.audio->channel(ch), y = out.channel(ch);
                const double db =
                    20.0 * std::log10(cvtest::rmsOver(y, from, to) / cvtest::rmsOver(x, from, to));
                if (!std::isnan(heard.share)) {
                    EXPECT_NEAR(cvtest::projectionOver(y, x, from, to), heard.share, kShareTolerance);
                }
                if (heard.kept) {
                    double differs = 0.0;
                    for (std::int64_t i = from; i < to; ++i)
                        differs +=
                            std::pow(y[static_cast<std::size_t>(i)] - x[static_cast<std::size_t>(i)], 2);
                    const double rms = std::sqrt(differs / static_cast<double>(to - from));
                    EXPECT_LT(20.0 * std::log10(rms / cvtest::rmsOver(x, from, to)), kSilentDb);
                }
                if (std::isinf(heard.db)) {
                    EXPECT_LT(db, kSilentDb);
                } else {
                    EXPECT_NEAR(db, heard.db, kLevelToleranceDb);
                }
            }
            const std::span<const float> x = doc.audio->channel(0), y = out.channel(0);
            if (!std::isnan(heard.semitones)) {
                EXPECT_NEAR(cvtest::centsBetween(cvtest::medianVoicedHz(track, from, to), kHz),
                            100.0 * heard.semitones, kPitchToleranceCents);
            }
            if (!std::isnan(heard.formantRatio)) {
                const double f0 = kHz * std::exp2(heard.semitones / 12.0);
                const auto region = [&](std::span<const float> v) {
                    return v.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
                };
                EXPECT_NEAR(cvtest::envelopePeakHz(region(y), kRate, f0, 300.0, 2000.0) /
                                cvtest::envelopePeakHz(region(x), kRate, kHz, 300.0, 2000.0),
                            heard.formantRatio, kFormantTolerance);
            }
            if (!std::isnan(heard.joinGain)) {
                // Read where the source is loudest near the glide's middle.
                auto at = static_cast<std::size_t>(note.sourceStart + kHalfGlide);
                for (std::size_t i = at - 8; i <= at + 8; ++i)
                    if (std::abs(x[i]) > std::abs(x[at]))
                        at = i;
                EXPECT_NEAR(y[at] / x[at], heard.joinGain, kJoinGainTolerance);
            }
        }
    }
}

} // namespace
} // namespace np
