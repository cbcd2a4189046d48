#include "engine/render/stretch_render.h"
#include "tests/render/render_measures.h"
#include "tests/support/signals.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace np {
namespace {

// A span over the whole source, outputLength frames long, shifted by constantSemitones or a curve.
SpanParams wholeSpan(const Document& doc, std::int32_t outputLength, double semitones = 0.0) {
    SpanParams span;
    span.sourceLength = static_cast<std::int32_t>(doc.audio->frames);
    span.outputLength = outputLength;
    span.constantSemitones = semitones;
    return span;
}

// A curve that glides 0 -> peak -> 0 cents as a raised cosine over the whole span.
std::vector<double> glideCurve(const Document& doc, double peakCents) {
    const auto hops = static_cast<std::size_t>(doc.audio->frames / doc.track.hop);
    std::vector<double> cents(hops);
    for (std::size_t k = 0; k < hops; ++k)
        cents[k] = 0.5 * peakCents * (1.0 - std::cos(2.0 * std::numbers::pi * (k + 0.5) / hops));
    return cents;
}

// The curve's value at output frame o, read between hop centres.
double curveAt(const std::vector<double>& cents, double hop, double o) {
    const double x = std::clamp(o / hop - 0.5, 0.0, static_cast<double>(cents.size() - 1));
    const auto i = static_cast<std::size_t>(x);
    const std::size_t j = std::min(i + 1, cents.size() - 1);
    return cents[i] + (cents[j] - cents[i]) * (x - static_cast<double>(i));
}

// Worst distance in samples between the 50 % envelope points of the bursts in out and in the source,
// out being time-scaled by outPerIn; an onset not found within 50 ms counts as far off.
double worstOnsetError(const AudioBuffer& out, int channel, const std::vector<float>& source,
                       const std::vector<std::int64_t>& onsets, double rate, double outPerIn = 1.0) {
    const auto sourceOnsets = cvtest::halfLevelCrossings(cvtest::hilbertEnvelope(source), 0.5, onsets, 64);
    std::vector<std::int64_t> expected;
    for (const double s : sourceOnsets)
        expected.push_back(std::llround(s * outPerIn));
    const auto found = cvtest::halfLevelCrossings(cvtest::hilbertEnvelope(out.channel(channel)), 0.5,
                                                  expected, std::llround(0.05 * rate));
    double worst = 0.0;
    for (std::size_t i = 0; i < found.size(); ++i)
        worst = std::max(worst, std::isnan(found[i]) ? 1e9 : std::abs(found[i] - sourceOnsets[i] * outPerIn));
    return worst;
}

struct RateCase {
    double rate;
    double onsetSamples; // the allowed onset error: a fifth of a millisecond at 48 kHz, scaled
    double medianCents;
};

class StretchAlignment : public testing::TestWithParam<RateCase> {};

// Catches a latency that follows the pitch, a pre-roll or discard off by a frame, and onsets smeared by
// phases that ignore the analysis.
TEST_P(StretchAlignment, OnsetsStayInPlaceAtEveryShiftAndThroughAGlide) {
    const double rate = GetParam().rate;
    std::vector<std::int64_t> onsets;
    const std::vector<float> bursts = cvtest::sineBursts(rate, 0.45, onsets);
    const Document doc = cvtest::spanDocument({bursts}, rate);
    for (const double semitones : {-12.0, -7.0, -3.0, 0.0, 3.0, 7.0, 12.0}) {
        SCOPED_TRACE(semitones);
        const AudioBuffer out =
            renderSpan(doc, wholeSpan(doc, static_cast<std::int32_t>(doc.audio->frames), semitones));
        EXPECT_LE(worstOnsetError(out, 0, bursts, onsets, rate), GetParam().onsetSamples);
    }
    SpanParams glide = wholeSpan(doc, static_cast<std::int32_t>(doc.audio->frames));
    glide.centsPerHop = glideCurve(doc, 700.0);
    EXPECT_LE(worstOnsetError(renderSpan(doc, glide), 0, bursts, onsets, rate), GetParam().onsetSamples);
}

// Catches a transpose factor off by rounding or a frequency estimate biased by the window.
TEST_P(StretchAlignment, ConstantShiftsKeepTheirPitchWithinACent) {
    const double rate = GetParam().rate;
    const auto frames = static_cast<std::int64_t>(0.32 * rate);
    const Document doc = cvtest::spanDocument({cvtest::harmonicTone(220.0, rate, frames)}, rate);
    const auto window = static_cast<int>(4096 * rate / 48000);
    for (const double semitones : {-12.0, -7.0, -3.0, 3.0, 7.0, 12.0}) {
        SCOPED_TRACE(semitones);
        const AudioBuffer out = renderSpan(doc, wholeSpan(doc, static_cast<std::int32_t>(frames), semitones));
        const double want = 220.0 * std::exp2(semitones / 12.0);
        std::vector<double> errors;
        for (double t = 0.1; t < 0.23; t += 0.02)
            errors.push_back(std::abs(
                cvtest::centsBetween(cvtest::frequencyNear(out.channel(0), rate, std::llround(t * rate), want,
                                                           window, window / 16),
                                     want)));
        EXPECT_LE(cvtest::percentile(errors, 0.5), GetParam().medianCents);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, StretchAlignment,
                         testing::Values(RateCase{8000.0, 2.0, 2.0}, RateCase{48000.0, 1.0, 1.0},
                                         RateCase{384000.0, 5.0, 1.0}),
                         [](const auto& info) { return std::to_string(static_cast<int>(info.param.rate)); });

// Catches channels moved apart in time by shifts or rotations computed per channel, and peaks looked for
// in one channel only.
TEST(StretchRender, StereoChannelsKeepTheirOffset) {
    const double rate = 48000.0;
    std::vector<std::int64_t> onsets;
    const std::vector<float> left = cvtest::sineBursts(rate, 0.75, onsets);
    std::vector<float> right(left.size(), 0.0f);
    cvtest::mixInto(right, left, 3, 0.6f); // 3 samples later and quieter
    const Document doc = cvtest::spanDocument({left, right}, rate);
    for (const double semitones : {-12.0, -7.0, 5.0, 12.0}) {
        SCOPED_TRACE(semitones);
        const AudioBuffer out =
            renderSpan(doc, wholeSpan(doc, static_cast<std::int32_t>(left.size()), semitones));
        const auto onsetsOf = [&](std::span<const float> x, double level) {
            return cvtest::halfLevelCrossings(cvtest::hilbertEnvelope(x), level, onsets, 2400);
        };
        const auto sourceLeft = onsetsOf(left, 0.5), sourceRight = onsetsOf(right, 0.3);
        const auto outLeft = onsetsOf(out.channel(0), 0.5), outRight = onsetsOf(out.channel(1), 0.3);
        for (std::size_t i = 0; i < onsets.size(); ++i)
            EXPECT_NEAR(outRight[i] - outLeft[i], sourceRight[i] - sourceLeft[i], 1.0) << i;
    }
    // A take heard on the right only: the peaks are found in both channels together, so the right keeps
    // its level and the left stays silent.
    const Document rightOnly = cvtest::spanDocument({std::vector<float>(left.size(), 0.0f), right}, rate);
    const AudioBuffer out =
        renderSpan(rightOnly, wholeSpan(rightOnly, static_cast<std::int32_t>(left.size()), 5.0));
    const auto from = static_cast<std::int64_t>(0.1 * rate), to = static_cast<std::int64_t>(0.65 * rate);
    EXPECT_NEAR(20.0 *
                    std::log10(cvtest::rmsOver(out.channel(1), from, to) / cvtest::rmsOver(right, from, to)),
                0.0, 1.0);
    EXPECT_EQ(cvtest::rmsOver(out.channel(0), 0, out.frames), 0.0);
}

// Catches a pitch schedule read late (the centre of the frames made in a block lies half a window after
// its first produced frame) or early, and glitches where the whole-bin shift steps.
TEST(StretchRender, AGlideFollowsItsCurveWithoutLag) {
    const double rate = 48000.0;
    const Document doc = cvtest::spanDocument({cvtest::harmonicTone(220.0, rate, 96000)}, rate);
    SpanParams span = wholeSpan(doc, 96000);
    span.centsPerHop = glideCurve(doc, 700.0);
    const AudioBuffer out = renderSpan(doc, span);
    const auto errorsWithLag = [&](double lagMs) {
        std::vector<double> errors;
        for (double t = 0.1; t < 1.9; t += 0.01) {
            const double o = t * rate;
            const double want =
                220.0 * std::exp2(curveAt(span.centsPerHop, doc.track.hop, o + lagMs * 48) / 1200);
            const double got = cvtest::frequencyNear(out.channel(0), rate, std::llround(o), want, 2048, 32);
            errors.push_back(std::abs(cvtest::centsBetween(got, want)));
        }
        return errors;
    };
    const std::vector<double> aligned = errorsWithLag(0.0);
    EXPECT_LE(cvtest::percentile(aligned, 0.5), 1.0);
    EXPECT_LE(cvtest::percentile(aligned, 0.95), 3.0);
    for (const double lagMs : {-5.0, 5.0})
        EXPECT_GT(cvtest::percentile(errorsWithLag(lagMs), 0.5), 2.0 * cvtest::percentile(aligned, 0.5))
            << lagMs;
}

// Catches outputs a frame long or short, and time mappings that treat input frames as output frames
// (a squeezed note losing its attack, a stretched one starting early).
TEST(StretchRender, EveryRatioGivesTheExactLengthWithOnsetsInPlace) {
    const double rate = 48000.0;
    struct Case {
        double outPerIn, allowedMs;
    };
    for (const Case& c : std::vector<Case>{
             {0.125, 25.0}, {0.5, 3.0}, {0.8, 0.5}, {1.0, 0.5}, {1.25, 0.5}, {2.0, 3.0}, {8.0, 25.0}}) {
        SCOPED_TRACE(c.outPerIn);
        // Bursts long enough to stay apart after squeezing.
        const double scale = std::max(1.0, 1.0 / c.outPerIn);
        std::vector<std::int64_t> onsets;
        const std::vector<float> bursts =
            cvtest::sineBursts(rate, 0.75 * scale, onsets, 440.0, 0.12 * scale, 0.08 * scale, 0.1 * scale);
        const Document doc = cvtest::spanDocument({bursts}, rate);
        const auto length =
            static_cast<std::int32_t>(std::llround(static_cast<double>(bursts.size()) * c.outPerIn));
        const AudioBuffer out = renderSpan(doc, wholeSpan(doc, length, 0.01));
        ASSERT_EQ(out.frames, length);
        EXPECT_LE(worstOnsetError(out, 0, bursts, onsets, rate, c.outPerIn), c.allowedMs * rate / 1000.0);
    }
}

// Catches a zero shift that is not a copy, and a return to zero that stays out of phase with the source,
// which would dip when the document render cross-fades back into the source.
TEST(StretchRender, ZeroShiftCopiesTheSourceAndReturnsToItAfterAShift) {
    const double rate = 48000.0;
    const Document doc = cvtest::spanDocument({cvtest::harmonicTone(220.0, rate, 96000)}, rate);
    const std::span<const float> source = doc.audio->channel(0);
    const auto snrDb = [&](std::span<const float> out, std::int64_t from, std::int64_t to) {
        double signal = 0.0, noise = 0.0;
        for (std::int64_t i = from; i < to; ++i) {
            signal += source[static_cast<std::size_t>(i)] * source[static_cast<std::size_t>(i)];
            const double d = out[static_cast<std::size_t>(i)] - source[static_cast<std::size_t>(i)];
            noise += d * d;
        }
        return 10.0 * std::log10(signal / noise);
    };
    SpanParams span = wholeSpan(doc, 96000);
    span.centsPerHop.assign(static_cast<std::size_t>(96000 / doc.track.hop), 0.0);
    EXPECT_GE(snrDb(renderSpan(doc, span).channel(0), 0, 96000), 45.0);

    // 0 -> +3 -> 0 between 0.3 s and 0.7 s, then a 5 ms cross-fade into the source 100 ms later.
    for (std::size_t k = 0; k < span.centsPerHop.size(); ++k) {
        const double t = (static_cast<double>(k) + 0.5) * doc.track.hop / rate;
        span.centsPerHop[k] =
            t > 0.3 && t < 0.7 ? 150.0 * (1.0 - std::cos(2.0 * std::numbers::pi * (t - 0.3) / 0.4)) : 0.0;
    }
    const AudioBuffer out = renderSpan(doc, span);
    const std::int64_t fade = std::llround(0.8 * rate), fadeFrames = 240;
    double lowestDb = 0.0;
    for (std::int64_t centre = fade - 480; centre < fade + 720; centre += 24) {
        double mixed = 0.0, original = 0.0;
        for (std::int64_t i = centre - 109; i < centre + 109; ++i) { // one period of 220 Hz
            const double g = std::clamp(static_cast<double>(i - fade) / fadeFrames, 0.0, 1.0);
            const double v = (1.0 - g) * out.channel(0)[static_cast<std::size_t>(i)] +
                             g * source[static_cast<std::size_t>(i)];
            mixed += v * v;
            original += source[static_cast<std::size_t>(i)] * source[static_cast<std::size_t>(i)];
        }
        lowestDb = std::min(lowestDb, 10.0 * std::log10(mixed / original));
    }
    EXPECT_GE(lowestDb, -0.5);
}

// Catches unlocked phases, per-bin instead of per-region rotation and smearing of moving partials.
TEST(StretchRender, HarmonicsStayCleanSteadyAndWithVibrato) {
    const double rate = 48000.0;
    const std::int64_t frames = 48000;
    struct Case {
        double depthCents, outPerIn, limitDb;
    };
    for (const Case& c : std::vector<Case>{{0.0, 1.0, -40.0}, {50.0, 1.0, -25.0}, {0.0, 2.0, -40.0}}) {
        const std::vector<double> phase = cvtest::vibratoPhase(220.0, c.depthCents, 5.5, rate, frames);
        const Document doc = cvtest::spanDocument({cvtest::harmonicFromPhase(phase, 10, 0.5f)}, rate);
        const auto length = static_cast<std::int32_t>(frames * c.outPerIn);
        for (const double semitones : {-12.0, -7.0, -3.0, 3.0, 7.0, 12.0}) {
            SCOPED_TRACE(testing::Message()
                         << c.depthCents << " cents, x" << c.outPerIn << ", " << semitones);
            const AudioBuffer out = renderSpan(doc, wholeSpan(doc, length, semitones));
            // Output frame o sounds source frame o / outPerIn at the shifted pitch.
            const double p = std::exp2(semitones / 12.0);
            std::vector<double> expected(static_cast<std::size_t>(length));
            for (std::size_t o = 0; o < expected.size(); ++o) {
                const double s =
                    std::min(static_cast<double>(o) / c.outPerIn, static_cast<double>(frames - 2));
                const auto i = static_cast<std::size_t>(s);
                expected[o] =
                    p * c.outPerIn * (phase[i] + (phase[i + 1] - phase[i]) * (s - static_cast<double>(i)));
            }
            int harmonics = 10;
            while (harmonics * 220.0 * p * std::exp2(c.depthCents / 1200.0) > 0.45 * rate)
                --harmonics;
            double worst = -300.0;
            for (std::int64_t at = 4800; at + 9600 <= length; at += 19200)
                worst = std::max(worst,
                                 cvtest::harmonicResidualDb(out.channel(0), expected, at, 4800, harmonics));
            EXPECT_LE(worst, c.limitDb);
        }
    }
}

} // namespace
} // namespace np

namespace np {
namespace {

// Catches a note rendered at the wrong length or time ratio, a warp applied to an unpitched note or
// left out of a pitched one, and a gain left out.
TEST(StretchRender, NoteAudioAppliesTimeScaleFormantWarpAndGain) {
    const double rate = 48000.0;
    Document doc = cvtest::spanDocument({cvtest::harmonicTone(220.0, rate, 48000)}, rate);
    Note note;
    note.sourceStart = 4800;
    note.sourceEnd = 28800;
    note.start = 4800;
    note.length = 48000; // twice the source span
    note.pitchCurve = std::make_shared<const std::vector<float>>(std::vector<float>(100, 0.0f));
    const AudioBuffer stretched = renderNoteAudio(doc, note);
    ASSERT_EQ(stretched.frames, 48000);
    EXPECT_NEAR(cvtest::centsBetween(cvtest::frequencyNear(stretched.channel(0), rate, 24000, 220.0), 220.0),
                0.0, 1.0);

    note.length = 24000;
    note.pitchOffset = 2.0;
    note.formantShift = 3.0;
    SpanParams span;
    span.sourceStart = 4800;
    span.sourceLength = 24000;
    span.outputLength = 24000;
    span.constantSemitones = 2.0;
    note.pitched = false;
    EXPECT_EQ(renderNoteAudio(doc, note).samples, renderSpan(doc, span).samples); // never warped

    note.gainDb = -6.0;
    const AudioBuffer quieter = renderNoteAudio(doc, note);
    const AudioBuffer plain = renderSpan(doc, span);
    const auto gain = static_cast<float>(std::pow(10.0, -6.0 / 20.0));
    for (std::size_t i = 0; i < plain.samples.size(); ++i)
        ASSERT_EQ(quieter.samples[i], plain.samples[i] * gain) << i;

    note.pitched = true;
    note.gainDb = 0.0;
    span.constantSemitones = 0.0;
    span.centsPerHop.assign(static_cast<std::size_t>(24000 / doc.track.hop), 200.0);
    EXPECT_NE(renderNoteAudio(doc, note).samples, renderSpan(doc, span).samples); // warped
}

// Catches reads outside the source, empty spans that allocate or fail, and a latency check that comes
// after the output was taken.
TEST(StretchRender, EmptyOutsideAndOverlongSpans) {
    const double rate = 48000.0;
    const Document doc = cvtest::spanDocument({cvtest::sine(440.0, rate, 4800)}, rate);
    SpanParams span;
    span.sourceStart = 9600; // wholly after the source
    span.sourceLength = 2000;
    span.outputLength = 3000;
    const AudioBuffer outside = renderSpan(doc, span);
    EXPECT_EQ(outside.frames, 3000);
    EXPECT_EQ(outside.samples, std::vector<float>(3000, 0.0f));

    span.sourceLength = 0;
    EXPECT_EQ(renderSpan(doc, span).samples, std::vector<float>(3000, 0.0f));
    EXPECT_EQ(renderSpan(Document{}, wholeSpan(doc, 10)).frames, 10);

    span.sourceLength = 2000;
    span.outputLength = std::numeric_limits<std::int32_t>::max() - 100;
    try {
        renderSpan(doc, span);
        ADD_FAILURE() << "no refusal";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "Spectral render span is too long");
    }
}

} // namespace
} // namespace np
