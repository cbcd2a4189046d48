#include "engine/analysis/analysis_threads.h"
#include "engine/audio/cancellation.h"
#include "engine/render/document_render.h"
#include "engine/render/render_plan.h"
#include "engine/render/render_units.h"
#include "tests/render/document_fixtures.h"
#include "tests/render/render_measures.h"
#include "tests/support/alloc_counter.h"

#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

namespace np {
namespace {

constexpr double kRate = 48000.0;
constexpr std::int64_t kEdge = 240; // 5 ms: the longest fade of a unit's edges

// Three notes of a vowel, each ending 4 hops before the next starts, so that every note is a unit of
// its own.
const Document& threeNotes() {
    static const Document doc = [] {
        constexpr std::int64_t gap = 1024;
        Document d = cvtest::vowelDocument(0.75, {0.25, 0.5});
        for (std::size_t n = 0; n + 1 < d.notes.size(); ++n) {
            d.notes[n].sourceEnd -= gap;
            d.notes[n].length -= gap;
        }
        return d;
    }();
    return doc;
}

float sourceAt(const Document& doc, std::int64_t i) {
    return doc.audio->channel(0)[static_cast<std::size_t>(i)];
}

// Every frame outside [from, to) equals the source's.
void expectSourceOutside(const AudioBuffer& out, const Document& doc, std::int64_t from, std::int64_t to) {
    ASSERT_EQ(out.frames, doc.audio->frames);
    for (std::int64_t i = 0; i < out.frames; ++i) {
        if (i < from || i >= to) {
            ASSERT_EQ(out.channel(0)[static_cast<std::size_t>(i)], sourceAt(doc, i)) << i;
        }
    }
}

TEST(DocumentRender, UneditedNotesRenderTheSourceBitForBitWithoutHints) {
    for (const bool withNotes : {true, false}) {
        SCOPED_TRACE(withNotes);
        Document doc = threeNotes();
        if (!withNotes)
            doc.notes.clear();
        RenderHints hints;
        std::vector<float> progress;
        RenderOptions options;
        options.hints = &hints;
        options.progress = [&progress](float f) { progress.push_back(f); };
        const AudioBuffer out = renderDocument(doc, options);
        EXPECT_EQ(out.samples, doc.audio->samples);
        EXPECT_TRUE(hints.engineByNote.empty());
        // 0 first, once per unit (skipped units too), 1 last.
        const std::vector<float> expected = withNotes
                                                ? std::vector<float>{0.0f, 1.0f / 3, 2.0f / 3, 1.0f, 1.0f}
                                                : std::vector<float>{0.0f, 1.0f};
        EXPECT_EQ(progress, expected);
    }
}

TEST(DocumentRender, RefusesInTheStatedOrderBeforeTakingMemory) {
    const Document good = threeNotes();
    struct Case {
        const char* what;
        std::function<void(Document&, RenderOptions&)> spoil;
        const char* message;
    };
    const Case cases[] = {
        {"cancelled before anything",
         [](Document& d, RenderOptions& o) {
             d.audio.reset();
             o.cancel = [] { return true; };
         },
         "Render cancelled"},
        {"no source", [](Document& d, RenderOptions&) { d.audio.reset(); }, "Render requires source audio"},
        {"rate", [](Document& d, RenderOptions&) { d.sampleRate = 7999.0; },
         "Render source exceeds the supported duration, channel, sample-rate, or memory limits"},
        {"too many notes", [](Document& d, RenderOptions&) { d.notes.resize(100001); },
         "Render document contains too many notes"},
        {"track longer than the source",
         [](Document& d, RenderOptions&) { d.track.frames.resize(d.audio->frames / d.track.hop + 3); },
         "Render pitch-track metadata is invalid"},
        {"note past the source", [](Document& d, RenderOptions&) { d.notes[2].sourceEnd += 1; },
         "Document contains an invalid note or edited timeline"},
        {"non-finite gain", [](Document& d, RenderOptions&) { d.notes[1].gainDb = NAN; },
         "Document contains an invalid note or edited timeline"},
        {"timeline overflow",
         [](Document& d, RenderOptions&) { d.notes[1].start = std::numeric_limits<std::int64_t>::max(); },
         "Document contains an invalid note or edited timeline"},
        {"output beyond the working set", [](Document& d, RenderOptions&) { d.notes[1].start = 134217728; },
         kRenderWorkingSetMessage},
        {"reserved bytes", [](Document&, RenderOptions& o) { o.reservedBytes = kRenderWorkingSetBytes; },
         kRenderWorkingSetMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Document doc = good;
        RenderOptions options;
        c.spoil(doc, options);
        try {
            renderDocument(doc, options);
            ADD_FAILURE() << "accepted";
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

// Catches a cancel test that is not polled between the stated points or whose stop is swallowed.
TEST(DocumentRender, StopsAtEveryCancelPoint) {
    Document doc = threeNotes();
    doc.notes[1].pitchOffset = 2.0;
    for (int stopAt = 1;; ++stopAt) {
        int polls = 0;
        RenderOptions options;
        options.cancel = [&] { return ++polls >= stopAt; };
        try {
            renderDocument(doc, options);
            // The copy's blocks, the units and the engines all poll.
            EXPECT_GT(stopAt, 10);
            break;
        } catch (const RenderCancelled&) {
            EXPECT_GE(polls, stopAt);
        }
    }
}

TEST(DocumentRender, GainMoveAndMuteChangeOnlyTheirUnit) {
    const Document& source = threeNotes();
    const std::int64_t s = source.notes[1].sourceStart, e = source.notes[1].sourceEnd, shift = 2400;
    RenderHints hints;
    RenderOptions options;
    options.hints = &hints;
    // A gain, and a mute (a gain of 0): the unit is copied, scaled and cross-faded.
    for (const bool mute : {false, true}) {
        Document edited = source;
        edited.notes[1].gainDb = mute ? 0.0 : -6.0;
        edited.notes[1].muted = mute;
        const float gain = mute ? 0.0f : static_cast<float>(std::pow(10.0, -6.0 / 20.0));
        const AudioBuffer out = renderDocument(edited, options);
        expectSourceOutside(out, source, s, e);
        for (std::int64_t i = s; i < e; ++i) {
            const float x = sourceAt(source, i), y = out.channel(0)[static_cast<std::size_t>(i)];
            ASSERT_TRUE(i >= s + kEdge && i < e - kEdge ? y == x * gain : std::abs(y) <= std::abs(x)) << i;
        }
        EXPECT_EQ(hints.engineByNote.at(2), RenderEngine::Copy);
        EXPECT_TRUE(hints.timeDomainByNote.at(2));
    }

    Document moved = source;
    moved.notes[1].start += shift;
    const AudioBuffer out = renderDocument(moved, options);
    expectSourceOutside(out, source, s, e + shift);
    for (std::int64_t i = s; i < e + shift; ++i) {
        if (std::min({std::abs(i - s), std::abs(i - e), std::abs(i - s - shift), std::abs(i - e - shift)}) <
            kEdge)
            continue;
        // The old span is faded out; the note plays again, on top of whatever the source holds there.
        const float old = i < e ? 0.0f : sourceAt(source, i);
        const float added = i >= s + shift ? sourceAt(source, i - shift) : 0.0f;
        ASSERT_EQ(out.channel(0)[static_cast<std::size_t>(i)], old + added) << i;
    }
}

// A note moved onto the span of a later edited unit keeps its audio: every unit's fade comes before
// any unit is added.
TEST(DocumentRender, FadesEveryUnitBeforeAddingAny) {
    Document doc = threeNotes();
    const std::int64_t shift = doc.notes[2].sourceStart - doc.notes[0].sourceStart;
    doc.notes[0].start += shift;
    doc.notes[2].gainDb = -6.0;
    const float gain = static_cast<float>(std::pow(10.0, -6.0 / 20.0));
    const AudioBuffer out = renderDocument(doc, {});
    const Note& third = doc.notes[2];
    for (std::int64_t i = third.sourceStart + kEdge; i < doc.notes[0].sourceEnd + shift - kEdge; ++i)
        ASSERT_FLOAT_EQ(out.channel(0)[static_cast<std::size_t>(i)],
                        sourceAt(doc, i - shift) + sourceAt(doc, i) * gain)
            << i;
}

TEST(DocumentRender, GroupsCloseUnstretchedPitchedNotesIntoChains) {
    constexpr std::int64_t hop = 256;
    // Moves a note's start in source and timeline alike, keeping its end.
    const auto moveStart = [](Note& note, std::int64_t frames) {
        note.sourceStart += frames;
        note.start += frames;
        note.length -= frames;
    };
    const std::tuple<const char*, std::function<void(Document&)>, std::vector<std::size_t>> cases[] = {
        {"gaps of 2 hops", [](Document&) {}, {3}},
        {"a gap of 3 hops", [&](Document& d) { moveStart(d.notes[1], hop); }, {1, 2}},
        {"an overlap", [&](Document& d) { moveStart(d.notes[1], -3 * hop); }, {3}},
        {"another timeline offset", [](Document& d) { d.notes[2].start += 1; }, {2, 1}},
        {"a stretched note", [](Document& d) { d.notes[1].length += 100; }, {1, 1, 1}},
        {"an unpitched note", [](Document& d) { d.notes[0].pitched = false; }, {1, 2}},
        {"sorted by source start", [](Document& d) { std::swap(d.notes[0], d.notes[2]); }, {3}},
    };
    for (const auto& [what, edit, expected] : cases) {
        SCOPED_TRACE(what);
        Document doc = threeNotes();
        for (std::size_t n = 0; n + 1 < doc.notes.size(); ++n) {
            doc.notes[n].sourceEnd = doc.notes[n + 1].sourceStart - 2 * hop;
            doc.notes[n].length = doc.notes[n].sourceEnd - doc.notes[n].sourceStart;
        }
        edit(doc);
        std::vector<std::size_t> sizes;
        for (const RenderUnit& unit : groupRenderUnits(doc).units)
            sizes.push_back(unit.count);
        EXPECT_EQ(sizes, expected);
    }
}

// The engine recorded for the unit of note 1 (a chain, or a single note when stretched), through the
// automatic choice, the overrides and the vocoder's refusal of output that does not show the pitch.
TEST(DocumentRender, RecordsTheEngineOfEachUnit) {
    const Document one = cvtest::vowelDocument(0.5, {});
    enum Force { None, Stretch, World };
    struct Case {
        const char* what;
        double offset = 2.0;
        float score = 0.97f;
        std::int64_t longer = 0; // frames added to the timeline length
        bool pitched = true, silent = false;
        Force force = None;
        RenderEngine engine;
    };
    const Case cases[] = {
        {.what = "automatic chain", .engine = RenderEngine::Psola},
        {.what = "forced stretch", .force = Stretch, .engine = RenderEngine::Stretch},
        {.what = "forced vocoder", .force = World, .engine = RenderEngine::World},
        {.what = "+12, scored 0.9", .offset = 12.0, .score = 0.9f, .engine = RenderEngine::World},
        {.what = "single note", .longer = 4800, .engine = RenderEngine::Stretch},
        {.what = "single note, forced vocoder",
         .longer = 4800,
         .force = World,
         .engine = RenderEngine::World},
        {.what = "unpitched, forced vocoder",
         .pitched = false,
         .force = World,
         .engine = RenderEngine::Stretch},
        {.what = "refused vocoder output", .silent = true, .force = World, .engine = RenderEngine::Stretch},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Document doc = one;
        Note& note = doc.notes[0];
        note.pitchOffset = c.offset;
        note.pitchConfidence = c.score;
        note.length += c.longer;
        note.pitched = c.pitched;
        if (c.silent) {
            auto silence = std::make_shared<AudioBuffer>(*doc.audio);
            silence->clear();
            doc.audio = silence;
        }
        RenderHints hints;
        RenderOptions options;
        options.hints = &hints;
        options.forceStretch = c.force == Stretch;
        options.forceWorld = c.force == World;
        renderDocument(doc, options);
        EXPECT_EQ(hints.engineByNote.at(1), c.engine);
        EXPECT_EQ(hints.timeDomainByNote.at(1), isTimeDomainEngine(c.engine));
    }
}

// An empty (but present) pitch curve is no curve, and a unit under 4 frames has edges of 0 frames:
// neither may read before a curve or divide by a zero fade.
TEST(DocumentRender, EmptyCurvesAndTinyUnitsRenderCleanly) {
    Document doc = threeNotes();
    doc.notes[1].pitchCurve = std::make_shared<const std::vector<float>>();
    doc.notes[1].driftScale = 0.5;
    doc.notes[1].pitchConfidence = 0.5f;
    doc.notes[1].length += 2400; // a single note
    Note tiny = doc.notes[2];
    tiny.id = 4;
    tiny.sourceStart = tiny.start = doc.notes[2].sourceEnd - 3;
    tiny.length = 3;
    tiny.gainDb = -6.0;
    doc.notes[2].sourceEnd = doc.notes[2].sourceEnd - 3 - 1024;
    doc.notes[2].length = doc.notes[2].sourceEnd - doc.notes[2].sourceStart;
    doc.notes.push_back(tiny);
    const AudioBuffer out = renderDocument(doc, {});
    for (const float y : out.samples)
        ASSERT_TRUE(std::isfinite(y));
    const float gain = static_cast<float>(std::pow(10.0, -6.0 / 20.0));
    for (std::int64_t i = tiny.start; i < tiny.start + 3; ++i)
        EXPECT_EQ(out.channel(0)[static_cast<std::size_t>(i)], sourceAt(doc, i) * gain);
}

// The render's own heap stays within the plan of its one unit (the source is the caller's).
TEST(DocumentRender, PeakHeapStaysWithinTheUnitPlan) {
    setAnalysisThreadCount(1); // the pitch check's helper threads would allocate out of sight
    Document doc = cvtest::vowelDocument(1.0, {});
    doc.notes[0].pitchOffset = 3.0;
    PYinConfig retrack;
    const RenderWorkingSetPlan plan =
        planRenderWorkingSet(1, doc.audio->frames, doc.audio->frames, doc.audio->frames, kRate, 6, &retrack,
                             40 * (doc.audio->frames / 256) + 32);
    for (const bool stretch : {false, true}) {
        SCOPED_TRACE(stretch);
        RenderOptions options;
        options.forceStretch = stretch;
        std::uint64_t peak = 0;
        {
            cvtest::ScopedAllocationCounter counter;
            renderDocument(doc, options);
            peak = counter.peakBytes();
        }
        EXPECT_LE(peak, plan.peakBytes - plan.sourceBytes);
    }
    setAnalysisThreadCount(0);
}

// A stored session may hold a stretch far outside the editor's 1/8..8: a long note squeezed into one
// frame of timeline asks the engine for millions of input frames per block. Whatever the ratio, the
// note's render stays within its stretch budget of 16 bytes a frame and channel of its longer length
// (four unit buffers in the planner's terms), also when all the take before it is its pre-roll.
TEST(DocumentRender, ACraftedStretchRatioStaysWithinTheNotesPlan) {
    struct Case {
        const char* what;
        double takeSeconds, noteStartSeconds, noteSeconds;
    };
    const Case cases[] = {
        {"11 s into one frame", 12.0, 0.5, 11.0},
        {"1 s at the end of a minute into one frame", 60.0, 59.0, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto frames = static_cast<std::int64_t>(c.takeSeconds * kRate);
        Document doc = cvtest::spanDocument({cvtest::harmonicTone(cvtest::kVowelHz, kRate, frames)}, kRate);
        Note note;
        note.id = 1;
        note.sourceStart = note.start = static_cast<std::int64_t>(c.noteStartSeconds * kRate);
        note.sourceEnd = note.sourceStart + static_cast<std::int64_t>(c.noteSeconds * kRate);
        note.length = 1;
        note.pitch = 57.0;
        doc.notes.push_back(note);
        const std::int64_t noteFrames = note.sourceEnd - note.sourceStart;
        const RenderWorkingSetPlan plan = planRenderWorkingSet(1, frames, frames, noteFrames, kRate, 4,
                                                               nullptr, 24 * (noteFrames / doc.track.hop));
        std::uint64_t peak = 0;
        AudioBuffer out;
        {
            cvtest::ScopedAllocationCounter counter;
            out = renderDocument(doc, {});
            peak = counter.peakBytes();
        }
        EXPECT_LE(peak, plan.peakBytes - plan.sourceBytes);
        EXPECT_EQ(out.frames, frames);
    }
}

} // namespace
} // namespace np
