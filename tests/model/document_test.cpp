#include "engine/model/document.h"
#include "tests/model/document_fixture.h"

#include <gtest/gtest.h>

TEST(Document, MakeDocumentNumbersNotesAndSharesCurvesInCopies) {
    const np::Document document = cvtest::makeTestDocument(3);
    ASSERT_EQ(document.notes.size(), 3u);
    EXPECT_EQ(document.notes[2].id, 3u);
    EXPECT_EQ(document.nextNoteId, 4u);
    EXPECT_EQ(document.notes[1].start, document.notes[1].sourceStart);
    EXPECT_EQ(document.notes[1].length, 4800);
    EXPECT_EQ(document.notes[1].driftScale, 1.0);

    const np::Document copy = document; // NOLINT: the copy is the point
    EXPECT_EQ(copy.notes[0].pitchCurve.get(), document.notes[0].pitchCurve.get());
    EXPECT_EQ(copy.audio.get(), document.audio.get());

    EXPECT_EQ(document.findNote(0), nullptr);
    EXPECT_EQ(document.findNote(99), nullptr);
    EXPECT_EQ(document.findNote(2), &document.notes[1]);
}

TEST(Document, EmptyAnalysisGivesAnEmptyDocument) {
    const np::Document document = np::makeDocument(nullptr, 44100.0, np::AnalysisResult{});
    EXPECT_TRUE(document.notes.empty());
    EXPECT_EQ(document.nextNoteId, 1u);
    EXPECT_EQ(document.sampleRate, 44100.0);
}

TEST(Document, ResidentEstimateCountsSharedCurvesOnceAndRefusesBadAudio) {
    np::Document document;
    EXPECT_EQ(np::estimateDocumentResidentBytes(document), 96u);

    auto curve = std::make_shared<const std::vector<float>>(1000, 0.0f);
    np::Note a;
    a.id = 1;
    a.pitchCurve = curve;
    a.levelCurve = curve;
    document.notes = {a};
    const std::uint64_t oneNote = np::estimateDocumentResidentBytes(document);
    const std::uint64_t notesBytes = document.notes.capacity() * sizeof(np::Note) + 64;
    EXPECT_EQ(oneNote, 96 + notesBytes + curve->capacity() * 4 + 152);

    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(2, 100);
    document.audio = audio;
    EXPECT_EQ(np::estimateDocumentResidentBytes(document), oneNote - 96 + 800 + 264);

    // A buffer whose counts were corrupted past the limits makes the estimate unusable, not small.
    auto bad = std::make_shared<np::AudioBuffer>();
    bad->channels = 3;
    bad->frames = 10;
    document.audio = bad;
    EXPECT_EQ(np::estimateDocumentResidentBytes(document), ~std::uint64_t{0});
}
