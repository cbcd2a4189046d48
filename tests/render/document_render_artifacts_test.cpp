#include "engine/render/document_render.h"
#include "tests/render/document_fixtures.h"
#include "tests/render/render_measures.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <tuple>

namespace np {
namespace {

using cvtest::MelodyVoice;

const Document& melody(MelodyVoice voice) {
    static const std::map<MelodyVoice, Document> takes = {
        {MelodyVoice::Vowel, cvtest::melodyDocument(MelodyVoice::Vowel)},
        {MelodyVoice::Harmonic, cvtest::melodyDocument(MelodyVoice::Harmonic)}};
    return takes.at(voice);
}

// The melody with every note shifted by semitones through one forced engine, rendered once per run.
const AudioBuffer& rendered(MelodyVoice voice, RenderEngine engine, double semitones) {
    static std::map<std::tuple<MelodyVoice, RenderEngine, double>, AudioBuffer> cache;
    const auto key = std::make_tuple(voice, engine, semitones);
    if (const auto found = cache.find(key); found != cache.end())
        return found->second;
    Document doc = melody(voice);
    for (Note& note : doc.notes)
        note.pitchOffset = semitones;
    RenderHints hints;
    RenderOptions options;
    options.forcePsola = engine == RenderEngine::Psola;
    options.forceStretch = engine == RenderEngine::Stretch;
    options.forceWorld = engine == RenderEngine::World;
    options.hints = &hints;
    AudioBuffer out = renderDocument(doc, options);
    for (const auto& [id, used] : hints.engineByNote)
        EXPECT_EQ(used, engine) << "note " << id;
    return cache.emplace(key, std::move(out)).first->second;
}

const char* engineName(RenderEngine engine) {
    return engine == RenderEngine::Psola   ? "pitch-synchronous"
           : engine == RenderEngine::World ? "vocoder"
                                           : "stretch";
}

// The takes hold nothing below 20 Hz (their 20 Hz low-pass reaches under 0.1 % of their peak). A grain
// or pulse that carries its own mean leaves an offset under every unit, which steps where the unit meets
// the source: a thump at every edited note. A clean render of the vowel stays well within 1 % of its
// peak, and its low-pass steps by less than 0.005 of full scale at the unit edges. The harmonic tone's
// asymmetric wave is the harsher test of the offsets under the units; where a unit blends into the source
// over its 5 ms fades, two such waves at different pitches leave a low-frequency blip of about 1 % whatever
// the engine (even an exactly shifted tone does), so for that voice the frames within 50 ms of a unit edge
// are left out. Every engine is rendered at -7 and +12 semitones; the pitch-synchronous engine also at -9,
// the furthest down the automatic choice keeps it, and an octave down, where its grains lie two periods
// apart: were the source to show through between them, its harmonics would beat against the new ones
// at a few hertz.
constexpr double kInfrasonicShare = 0.01;
constexpr double kEdgeStep = 0.005;
constexpr double kEdgeBlendSeconds = 0.05;

struct Shift {
    RenderEngine engine;
    double semitones;
};
constexpr Shift kShifts[] = {{RenderEngine::Psola, -7.0},   {RenderEngine::Psola, 12.0},
                             {RenderEngine::Psola, -9.0},   {RenderEngine::Psola, -12.0},
                             {RenderEngine::Stretch, -7.0}, {RenderEngine::Stretch, 12.0},
                             {RenderEngine::World, -7.0},   {RenderEngine::World, 12.0}};

TEST(DocumentRender, NoEngineAddsAnInfrasonicOffsetOrEdgeSteps) {
    for (const MelodyVoice voice : {MelodyVoice::Vowel, MelodyVoice::Harmonic}) {
        const Document& source = melody(voice);
        const bool vowel = voice == MelodyVoice::Vowel;
        const std::vector<cvtest::UnitEdge> edges =
            vowel ? std::vector<cvtest::UnitEdge>{} : cvtest::noteEdges(source);
        const auto margin = static_cast<std::int64_t>(kEdgeBlendSeconds * source.sampleRate);
        ASSERT_LT(cvtest::infrasonicShare(source.audio->channel(0), source.sampleRate),
                  kInfrasonicShare / 10);
        for (const auto& [engine, semitones] : kShifts) {
            SCOPED_TRACE(testing::Message()
                         << (vowel ? "vowel " : "harmonic tone ") << engineName(engine) << " " << semitones);
            const std::span<const float> out = rendered(voice, engine, semitones).channel(0);
            EXPECT_LT(cvtest::infrasonicShare(out, source.sampleRate, edges, margin), kInfrasonicShare);
            if (vowel) {
                EXPECT_LT(cvtest::largestEdgeStep(out, source), kEdgeStep);
            }
        }
    }
}

// A unit's edges are faded over 5 ms; an engine whose output starts or stops with a burst of high
// frequencies there ticks at every edited note. The vocoder must tick at no more edges than the stretch
// engine (allowing one edge in twenty more). The shares are recorded as test properties.
TEST(DocumentRender, VocoderUnitEdgesTickNoMoreThanTheStretchEngines) {
    const Document& source = melody(MelodyVoice::Vowel);
    for (const double semitones : {-7.0, 12.0}) {
        SCOPED_TRACE(semitones);
        const double stretch = cvtest::edgeTickShare(
            rendered(MelodyVoice::Vowel, RenderEngine::Stretch, semitones).channel(0), source);
        const double vocoder = cvtest::edgeTickShare(
            rendered(MelodyVoice::Vowel, RenderEngine::World, semitones).channel(0), source);
        const std::string at = std::to_string(static_cast<int>(semitones));
        RecordProperty("stretchEdgeTickShare" + at, std::to_string(stretch));
        RecordProperty("vocoderEdgeTickShare" + at, std::to_string(vocoder));
        EXPECT_LE(vocoder, stretch + 0.05) << "stretch " << stretch;
    }
}

} // namespace
} // namespace np
