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

// A soft, nearly sinusoidal voice has nothing an octave up for pitch-synchronous grains to move there:
// at +12 semitones the engine's output fell 15 to 45 dB below the source, and a bare sine's lost its
// pitch as well. Such a unit renders with the stretch engine, which lands on pitch and keeps the level
// within a few dB; the formant warp that follows may still lower the bare sine's new fundamental by its
// full factor of 3 (9.5 dB), since the source has nothing there either.
TEST(DocumentRender, APitchSynchronousUnitThatLosesItsPitchOrLevelRendersWithTheStretchEngine) {
    constexpr double rate = 48000.0;
    constexpr auto frames = static_cast<std::int64_t>(rate);
    const std::int64_t margin = static_cast<std::int64_t>(0.15 * rate);
    const std::vector<double> phase =
        cvtest::vibratoPhase(cvtest::kVowelHz, cvtest::kVibratoCents, cvtest::kVibratoHz, rate, frames);
    const auto energy = [&](std::span<const float> x) {
        double sum = 0.0;
        for (std::int64_t i = margin; i < frames - margin; ++i)
            sum += static_cast<double>(x[static_cast<std::size_t>(i)]) * x[static_cast<std::size_t>(i)];
        return sum;
    };
    // The fundamental at 0.1 with its second and third harmonics secondDb and secondDb - 10 below it.
    for (const auto& [secondDb, levelToleranceDb] : {std::pair{-15.0, 4.0}, std::pair{-300.0, 10.0}}) {
        SCOPED_TRACE(secondDb);
        std::vector<float> voice(static_cast<std::size_t>(frames));
        for (std::size_t i = 0; i < voice.size(); ++i)
            voice[i] = static_cast<float>(
                0.1 * (std::sin(phase[i]) + std::pow(10.0, secondDb / 20.0) * std::sin(2 * phase[i]) +
                       std::pow(10.0, (secondDb - 10) / 20.0) * std::sin(3 * phase[i])));
        Document doc = cvtest::trackedDocument(voice, rate);
        Note note;
        note.id = 1;
        note.sourceEnd = note.length = frames;
        note.pitch = 57.0;
        note.pitchConfidence = 0.97f; // confident: the engine choice keeps +12 pitch-synchronous
        note.pitchOffset = 12.0;
        doc.notes.push_back(note);
        RenderHints hints;
        RenderOptions options;
        options.hints = &hints;
        const AudioBuffer out = renderDocument(doc, options);
        EXPECT_EQ(hints.engineByNote.at(1), RenderEngine::Stretch);
        EXPECT_GE(10.0 * std::log10(energy(out.channel(0)) / energy(voice)), -levelToleranceDb);
        // Nine in ten voiced frames of the source render within 50 cents of the octave above.
        const PitchTrack rendered = trackPitchPYin(out.channel(0).data(), out.frames, rate, {}, {});
        int voiced = 0, onPitch = 0;
        for (std::size_t k = margin / doc.track.hop; k < (frames - margin) / doc.track.hop; ++k) {
            const PitchFrame& source = doc.track.frames[k];
            voiced += source.voiced;
            onPitch += source.voiced && rendered.frames[k].voiced &&
                       std::abs(cvtest::centsBetween(rendered.frames[k].hz, 2.0 * source.hz)) < 50.0;
        }
        EXPECT_GE(onPitch, voiced * 9 / 10);
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
