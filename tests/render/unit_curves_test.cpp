#include "engine/render/unit_curves.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace np {
namespace {

constexpr double kRate = 48000.0;
constexpr std::int64_t kHop = 256;

// A document with only a track: `frames` voiced frames at hz(i).
template <typename Hz>
Document trackDocument(std::size_t frames, Hz hz) {
    Document doc;
    doc.sampleRate = kRate;
    doc.track.sampleRate = kRate;
    doc.track.hop = kHop;
    for (std::size_t i = 0; i < frames; ++i)
        doc.track.frames.push_back({hz(i), 0.9, true, 0});
    return doc;
}

Note pitchedNote(std::uint32_t id, std::int64_t start, std::int64_t end, double pitch = 57.0) {
    Note note;
    note.id = id;
    note.sourceStart = note.start = start;
    note.sourceEnd = end;
    note.length = end - start;
    note.pitch = pitch;
    note.pitchConfidence = 0.97f;
    return note;
}

ChainCurves curvesOf(const Document& doc) {
    std::vector<const Note*> chain;
    for (const Note& note : doc.notes)
        chain.push_back(&note);
    return buildChainCurves(doc, chain);
}

// Two notes of three hops on a fast glide: each hop takes its note's offset (an empty curve adds no
// drift), the glide pulls hops towards the median, element n / 2 = 200 of the six, not the mean of the
// middle two; the notes lie 11 semitones apart, so their join pulls nothing. The span starts four hops
// in, where the window of track frame 0 is centred.
TEST(ChainCurves, EditsPerHopThenGlideDampingTowardsTheUpperMedian) {
    Document doc =
        trackDocument(12, [](std::size_t i) { return 220.0 * std::exp2(static_cast<double>(i) / 12.0); });
    doc.notes = {pitchedNote(1, 4 * kHop, 7 * kHop), pitchedNote(2, 7 * kHop, 10 * kHop, 68.0)};
    doc.notes[0].pitchOffset = 1.0;
    doc.notes[0].driftScale = 1.5;
    doc.notes[0].pitchCurve = std::make_shared<const std::vector<float>>();
    doc.notes[1].pitchOffset = 2.0;

    const ChainCurves curves = curvesOf(doc);
    // 4 semitones over 4 hops of 16/3 ms: 18.75 cents per ms, 16.75 above the threshold.
    const double damping = 16.75 * 16.75 + 1.0;
    std::vector<double> expected = {100, 100, 200 - 100 / damping, 200, 200, 200};
    smoothCurve(expected);
    ASSERT_EQ(curves.span.centsPerHop.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_NEAR(curves.span.centsPerHop[k], expected[k], 1e-9) << k;
    EXPECT_EQ(curves.span.sourceLength, 6 * kHop);
    EXPECT_FALSE(curves.formantShift);
}

// Same-pitch joins are pulled onto the target only when the pitch is edited; a gain-only chain stays
// at 0 cents (and is copied). Sibilant hops keep 0 in both curves.
TEST(ChainCurves, JunctionsOnlyUnderPitchEditsAndSibilantsUntouched) {
    // The source sings 30 cents sharp of the notes' pitch throughout.
    Document doc = trackDocument(130, [](std::size_t) { return 220.0 * std::exp2(0.3 / 12.0); });
    doc.notes = {pitchedNote(1, 0, 60 * kHop), pitchedNote(2, 60 * kHop, 120 * kHop)};
    doc.notes[1].gainDb = -6.0;
    doc.notes[1].formantShift = 1.0;
    ChainCurves curves = curvesOf(doc);
    for (const double c : curves.span.centsPerHop)
        ASSERT_EQ(c, 0.0);
    EXPECT_TRUE(curves.formantShift);

    for (Note& note : doc.notes)
        note.pitchOffset = 1.0;
    for (std::size_t f = 100; f < 107; ++f)
        doc.track.frames[f].flags = PitchFrame::kSibilant;
    curves = curvesOf(doc);
    const std::vector<double>& cents = curves.span.centsPerHop;
    EXPECT_NEAR(cents[60], 70.0, 0.5); // at the join: onto the target, 100 - 30
    EXPECT_NEAR(cents[5], 100.0, 0.01);
    EXPECT_NEAR(cents[75], 100.0 - 30.0 * std::exp(-std::pow(15.0 / 15.0, 2.0)), 1.0); // one sigma on
    EXPECT_EQ(cents[103], 0.0);
    EXPECT_EQ(curves.span.formantCentsPerHop[103], 0.0);
    EXPECT_EQ(curves.span.formantCentsPerHop[80], 100.0);

    // Notes a semitone apart are pulled by a weight of exp(-4) only: their transition keeps the edit
    // (the pull onto the target, 20 cents here, would be 7 cents at a weight of exp(-1)).
    doc.notes[1].pitch += 1.0;
    EXPECT_NEAR(curvesOf(doc).span.centsPerHop[60], 100.0, 2.0);
}

TEST(EngineChoice, ChainsByShiftOverridesAndConfidence) {
    struct Case {
        double cents;
        bool lowConfidence, psola, stretch, world;
        RenderEngine engine;
    };
    const Case cases[] = {
        {0, false, false, false, true, RenderEngine::Copy},
        {0, false, false, true, false, RenderEngine::Stretch}, // forced stretch copies nothing
        {0, false, true, true, false, RenderEngine::Copy},
        {200, false, false, false, false, RenderEngine::Psola},
        {2050, false, false, false, false, RenderEngine::Psola},
        {2150, false, false, false, false, RenderEngine::World},
        {-850, false, false, false, false, RenderEngine::Psola},
        {-950, false, false, false, false, RenderEngine::World},
        {650, true, false, false, false, RenderEngine::Psola},
        {750, true, false, false, false, RenderEngine::World},
        {-450, true, false, false, false, RenderEngine::World},
        {200, false, false, false, true, RenderEngine::World},
        {200, false, false, true, true, RenderEngine::Stretch},
        {2150, false, true, true, true, RenderEngine::Psola},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cents << " low " << c.lowConfidence << " forced " << c.psola
                                        << c.stretch << c.world);
        ChainCurves curves;
        curves.span.centsPerHop = {0.0, c.cents, 0.0};
        curves.lowConfidenceExcursion = c.lowConfidence;
        RenderOptions options;
        options.forcePsola = c.psola;
        options.forceStretch = c.stretch;
        options.forceWorld = c.world;
        EXPECT_EQ(chooseChainEngine(curves, options), c.engine);
    }
}

TEST(EngineChoice, SingleNotesGoToTheVocoderOnlyForLargeExcursions) {
    const Document doc = trackDocument(8, [](std::size_t) { return 220.0; });
    struct Case {
        const char* what;
        double offset;
        float score;
        std::vector<float> curve;
        bool world;
        bool forcePsola = false, forceStretch = false, forceWorld = false;
    };
    const Case cases[] = {
        {"+8 scored 0.9", 8, 0.9f, {}, true},
        {"+8 trusted", 8, 0.97f, {}, false},
        {"+22 trusted", 22, 0.97f, {}, true},
        {"-5 scored 0.9", -5, 0.9f, {}, true},
        {"-5 scored 0.94", -5, 0.94f, {}, false},
        {"drift reaches +8", 0, 0.9f, {0, 800}, true},
        {"beyond its hops", 0, 0.9f, {0, 0, 900}, false},
        {"forced", 0, 0.97f, {}, true, false, false, true},
        {"forced elsewhere too", 0, 0.97f, {}, false, false, true, true},
        {"pitch-synchronous forced", 22, 0.97f, {}, false, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Note note = pitchedNote(1, 0, 2 * kHop);
        note.pitchOffset = c.offset;
        note.pitchConfidence = c.score;
        note.driftScale = 2.0;
        note.pitchCurve = std::make_shared<const std::vector<float>>(c.curve);
        RenderOptions options;
        options.forcePsola = c.forcePsola;
        options.forceStretch = c.forceStretch;
        options.forceWorld = c.forceWorld;
        EXPECT_EQ(singleNoteUsesWorld(doc, note, options), c.world);
    }
}

} // namespace
} // namespace np
