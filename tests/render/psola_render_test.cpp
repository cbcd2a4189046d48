#include "engine/render/epochs.h"
#include "engine/render/psola_render.h"
#include "tests/render/render_measures.h"
#include "tests/support/signals.h"

#include <gtest/gtest.h>

namespace np {
namespace {

constexpr double kRate = 48000.0;
constexpr double kHz = 200.0; // a period of exactly 240 samples

Document toneDocument(double seconds = 0.4) {
    return cvtest::spanDocument(
        {cvtest::harmonicTone(kHz, kRate, static_cast<std::int64_t>(seconds * kRate))}, kRate, kHz);
}

std::vector<long long> epochsOf(const Document& doc) {
    return detectEpochs(doc.audio->channel(0).data(), doc.audio->frames, kRate, doc.track);
}

TEST(Epochs, OnePerPeriodOnVoicedFramesOnly) {
    Document doc = toneDocument();
    const std::vector<long long> epochs = epochsOf(doc);
    ASSERT_GT(epochs.size(), 70u);
    EXPECT_LT(epochs.front(), 240);
    // One every period, apart from the ends, where the filter starts up in either direction.
    for (std::size_t i = 2; i + 2 < epochs.size(); ++i)
        ASSERT_EQ(epochs[i] - epochs[i - 1], 240) << i;
    // The same phase of every period: the sawtooth's jump, where the filtered wave peaks.
    EXPECT_EQ(epochs[10] % 240, epochs[20] % 240);

    for (PitchFrame& frame : doc.track.frames)
        frame.voiced = false;
    EXPECT_TRUE(epochsOf(doc).empty());
}

double rmsDifferenceDb(const AudioBuffer& a, const AudioBuffer& b, std::int64_t from, std::int64_t to) {
    double difference = 0.0, energy = 0.0;
    for (std::int64_t i = from; i < to; ++i) {
        const double x = a.channel(0)[static_cast<std::size_t>(i)],
                     y = b.channel(0)[static_cast<std::size_t>(i)];
        difference += (x - y) * (x - y);
        energy += x * x;
    }
    return 10.0 * std::log10(difference / energy + 1e-30);
}

TEST(PsolaRender, ShiftsPitchAndKeepsTheCopyWhereNoGrainsLie) {
    Document doc = toneDocument();
    const std::vector<long long> epochs = epochsOf(doc);
    const long long start = 4800, length = 9600;
    const AudioBuffer copy = copySourceSpan(*doc.audio, start, length);
    const std::vector<double> up(length / 256, 300.0);
    const AudioBuffer shifted = renderPsolaSpan(*doc.audio, kRate, doc.track, epochs, start, length, up);
    const double hz =
        cvtest::frequencyNear(shifted.channel(0), kRate, length / 2, kHz * std::exp2(0.25), 2048);
    EXPECT_NEAR(cvtest::centsBetween(hz, kHz * std::exp2(0.25)), 0.0, 2.0);

    // No shift still lays grains at the source's spacing: close to the source, but re-synthesised.
    const AudioBuffer same = renderPsolaSpan(*doc.audio, kRate, doc.track, epochs, start, length, {});
    const double db = rmsDifferenceDb(copy, same, 1000, length - 1000);
    EXPECT_LT(db, -20.0);
    EXPECT_GT(db, -200.0);

    // No epoch in the span, or only runs of two: the copy.
    EXPECT_EQ(renderPsolaSpan(*doc.audio, kRate, doc.track, {}, start, length, up).samples, copy.samples);
    EXPECT_EQ(
        renderPsolaSpan(*doc.audio, kRate, doc.track, {epochs[30], epochs[31]}, start, length, up).samples,
        copy.samples);

    // Sibilant frames lay no grains: the middle of a sibilant stretch is the copy.
    for (std::size_t f = (start + 3000) / 256; f < (start + 7000) / 256; ++f)
        doc.track.frames[f].flags = PitchFrame::kSibilant;
    const AudioBuffer sibilant = renderPsolaSpan(*doc.audio, kRate, doc.track, epochs, start, length, up);
    for (long long i = 4000; i < 6000; ++i)
        ASSERT_EQ(sibilant.channel(0)[static_cast<std::size_t>(i)],
                  copy.channel(0)[static_cast<std::size_t>(i)]);
    EXPECT_NE(sibilant.samples, copy.samples);
}

// A grain is laid where the new spacing puts it, not at the nearest sample: rounding would shift every
// period by up to half a sample, a hoarseness about 30 dB below a clean tone whose period (218.2 samples
// at 220 Hz) is no whole number of samples. What remains (mean over frames, 40 dB at most) comes from
// the epochs' own whole-sample positions. Nine semitones down, grains lie further apart than they are
// long and each new period is one grain on its own, so those positions show undamped (about 34 dB);
// were the source to show through between the grains, its harmonics would beat against the new ones
// (about 5 dB).
TEST(PsolaRender, ShiftedSteadyToneStaysClean) {
    constexpr double kToneHz = 220.0, kCleanDb = 37.0, kSpreadCleanDb = 30.0;
    const Document doc = cvtest::spanDocument(
        {cvtest::harmonicTone(kToneHz, kRate, static_cast<std::int64_t>(0.5 * kRate))}, kRate, kToneHz);
    const std::vector<long long> epochs = epochsOf(doc);
    const long long length = doc.audio->frames;
    struct Shift {
        double cents, cleanDb;
    };
    for (const auto& [cents, cleanDb] :
         {Shift{300.0, kCleanDb}, {-300.0, kCleanDb}, {700.0, kCleanDb}, {-900.0, kSpreadCleanDb}}) {
        SCOPED_TRACE(cents);
        const std::vector<double> curve(static_cast<std::size_t>(length / 256), cents);
        const AudioBuffer out = renderPsolaSpan(*doc.audio, kRate, doc.track, epochs, 0, length, curve);
        const double period = kRate / (kToneHz * std::exp2(cents / 1200.0));
        double sum = 0.0;
        int count = 0;
        for (long long start = 4800; start + 2048 < length - 4800; start += 2048, ++count)
            sum += cvtest::harmonicToNoiseDb(out.channel(0), start, 2048, period);
        EXPECT_GT(sum / count, cleanDb);
    }
}

} // namespace
} // namespace np
