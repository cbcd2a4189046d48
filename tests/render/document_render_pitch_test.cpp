#include "engine/render/document_render.h"
#include "engine/render/render_plan.h"
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

// An engine whose plan does not fit hands the unit to the stretch engine rather than failing the render.
// A vocoder plan grows with the square of the span: a 12 s note never fits (as a chain and as a single
// note). The pitch-synchronous engine's epoch analysis covers the whole take: a minute of it does not fit
// beside what the caller already holds, while the stretch engine's plan for a one-second note does.
TEST(DocumentRender, AnEnginePlanThatDoesNotFitFallsBackToTheStretchEngine) {
    const Document longNote = cvtest::vowelDocument(12.0, {}, 8000.0);
    const Document longTake = [] {
        constexpr double rate = 8000.0;
        Document doc = cvtest::spanDocument(
            {cvtest::harmonicTone(cvtest::kVowelHz, rate, static_cast<std::int64_t>(60 * rate))}, rate);
        Note note;
        note.id = 1;
        note.sourceStart = note.start = static_cast<std::int64_t>(30 * rate);
        note.sourceEnd = note.sourceStart + static_cast<std::int64_t>(rate);
        note.length = note.sourceEnd - note.sourceStart;
        note.pitch = 57.0;
        note.pitchConfidence = 0.97f;
        doc.notes.push_back(note);
        return doc;
    }();
    // Room for the source, the output and the stretch engine's unit, not for the epoch analysis (16
    // bytes a frame of the take).
    const std::uint64_t tightReserve =
        kRenderWorkingSetBytes - 20 * static_cast<std::uint64_t>(longTake.audio->frames);
    struct Case {
        const char* what;
        const Document& doc;
        std::int64_t longer = 0; // frames added to the timeline length: a single note
        bool forcePsola = false, forceWorld = false;
        std::uint64_t reservedBytes = 0;
    };
    const Case cases[] = {
        {"vocoder, chain", longNote, 0, false, true},
        {"vocoder, single note", longNote, 800, false, true},
        {"pitch-synchronous, automatic", longTake, 0, false, false, tightReserve},
        {"pitch-synchronous, forced", longTake, 0, true, false, tightReserve},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Document doc = c.doc;
        doc.notes[0].pitchOffset = 2.0;
        doc.notes[0].length += c.longer;
        RenderHints hints;
        RenderOptions options;
        options.forcePsola = c.forcePsola;
        options.forceWorld = c.forceWorld;
        options.reservedBytes = c.reservedBytes;
        options.hints = &hints;
        const AudioBuffer out = renderDocument(doc, options);
        EXPECT_EQ(out.frames, std::max(doc.audio->frames, doc.notes[0].start + doc.notes[0].length));
        EXPECT_EQ(hints.engineByNote.at(1), RenderEngine::Stretch);
    }
}

} // namespace
} // namespace np
