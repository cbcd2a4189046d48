#include "engine/render/document_render.h"
#include "tests/render/document_fixtures.h"

#include <gtest/gtest.h>

namespace np {
namespace {

// Each engine shifts a sung vowel with vibrato by +3, -7 and +12 semitones; an autocorrelation measure
// that shares no code with the render finds the median error. The time-domain and stretch engines are
// pitch-checked and corrected (5 cents); the vocoder follows the document's track, whose analysis
// window lags the vibrato a little (10 cents).
TEST(DocumentRender, EachEngineShiftsAVowelWithVibratoToItsTarget) {
    const Document source = cvtest::vowelDocument(1.6, {});
    struct Case {
        const char* name;
        bool forcePsola, forceStretch, forceWorld;
        RenderEngine engine;
        double toleranceCents;
    };
    const Case cases[] = {
        {"pitch-synchronous", true, false, false, RenderEngine::Psola, 5.0},
        {"stretch", false, true, false, RenderEngine::Stretch, 5.0},
        {"vocoder", false, false, true, RenderEngine::World, 10.0},
    };
    const std::int64_t margin = static_cast<std::int64_t>(0.15 * source.sampleRate);
    for (const Case& c : cases) {
        for (const double semitones : {3.0, -7.0, 12.0}) {
            SCOPED_TRACE(testing::Message() << c.name << " " << semitones);
            Document doc = source;
            doc.notes[0].pitchOffset = semitones;
            RenderHints hints;
            RenderOptions options;
            options.forcePsola = c.forcePsola;
            options.forceStretch = c.forceStretch;
            options.forceWorld = c.forceWorld;
            options.hints = &hints;
            const AudioBuffer out = renderDocument(doc, options);
            EXPECT_EQ(hints.engineByNote.at(1), c.engine);
            const std::vector<float> y(out.channel(0).begin(), out.channel(0).end());
            EXPECT_LE(
                cvtest::medianPitchErrorCents(y, doc.sampleRate, semitones, margin, out.frames - margin),
                c.toleranceCents);
        }
    }
}

// Drift 0 flattens a 6 Hz vibrato of 50 cents onto the note's pitch. What each engine leaves of it
// comes from reading the note's curve, the track and the pitch check's measurement at positions other
// than the sound's own: half a window ahead, a third to a half of the vibrato stayed.
TEST(DocumentRender, EachEngineFlattensAVibratoAtDriftZero) {
    constexpr double kHz = 220.0, kDepthCents = 50.0, kRateHz = 6.0;
    // The track's window and the curves' smoothing leave a few cents.
    constexpr double kResidualCents = 6.0;
    const double rate = 48000.0;
    const auto frames = static_cast<std::int64_t>(2.0 * rate);
    const std::vector<float> x = cvtest::vowel(kHz, kHz, kDepthCents, kRateHz, rate, frames, 0.2f);
    Document source = cvtest::analysedDocument(x, rate);
    ASSERT_FALSE(source.notes.empty());
    for (Note& note : source.notes)
        note.driftScale = 0.0;
    const std::int64_t margin = static_cast<std::int64_t>(0.25 * rate);
    ASSERT_GT(cvtest::vibratoCents(x, rate, kHz, kRateHz, margin, frames - margin), 45.0);
    struct Case {
        const char* name;
        bool forcePsola, forceStretch, forceWorld;
    };
    const Case cases[] = {{"pitch-synchronous", true, false, false},
                          {"stretch", false, true, false},
                          {"vocoder", false, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RenderOptions options;
        options.forcePsola = c.forcePsola;
        options.forceStretch = c.forceStretch;
        options.forceWorld = c.forceWorld;
        const AudioBuffer out = renderDocument(source, options);
        EXPECT_LT(cvtest::vibratoCents(out.channel(0), rate, kHz, kRateHz, margin, frames - margin),
                  kResidualCents);
    }
}

// A vocoder plan grows with the square of the span: a 12 s note never fits, and the render goes on with
// the stretch engine instead of failing (as a chain and as a single note).
TEST(DocumentRender, AVocoderPlanThatDoesNotFitFallsBackToTheStretchEngine) {
    const Document source = cvtest::vowelDocument(12.0, {}, 8000.0);
    for (const bool single : {false, true}) {
        SCOPED_TRACE(single);
        Document doc = source;
        doc.notes[0].pitchOffset = 2.0;
        if (single)
            doc.notes[0].length += 800;
        RenderHints hints;
        RenderOptions options;
        options.forceWorld = true;
        options.hints = &hints;
        const AudioBuffer out = renderDocument(doc, options);
        EXPECT_EQ(out.frames, doc.notes[0].start + doc.notes[0].length);
        EXPECT_EQ(hints.engineByNote.at(1), RenderEngine::Stretch);
    }
}

} // namespace
} // namespace np
