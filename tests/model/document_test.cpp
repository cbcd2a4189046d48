#include "tests/model/document_fixture.h"

#include <gtest/gtest.h>

TEST(Document, MakeDocumentNumbersNotesAndCopiesShareCurves) {
    const np::Document empty = np::makeDocument(nullptr, 44100.0, np::AnalysisResult{});
    EXPECT_EQ(std::tuple(empty.notes.size(), empty.nextNoteId, empty.sampleRate),
              std::tuple(0ul, 1u, 44100.0));
    const np::Document document = cvtest::makeTestDocument(4);
    const np::Note& second = document.notes[1];
    EXPECT_EQ(std::tuple(document.notes[3].id, document.nextNoteId, document.notes[3].pitched),
              std::tuple(4u, 5u, false));
    EXPECT_EQ(
        std::tuple(second.start, second.sourceStart, second.sourceEnd, second.length, second.pitchConfidence),
        std::tuple(9600, 9600, 14400, 4800, 0.9f));
    const np::Document copy = document; // NOLINT: the copy is the point
    EXPECT_EQ(copy.notes[0].pitchCurve.get(), document.notes[0].pitchCurve.get());
    EXPECT_EQ(std::tuple(document.findNote(0), document.findNote(99), document.findNote(2)),
              std::tuple(nullptr, nullptr, &second));
}

TEST(Document, ResidentEstimateCountsASharedCurveOnceAndRefusesBadAudio) {
    np::Document document = cvtest::makeTestDocument(1, 1000);
    const std::uint64_t separate = np::estimateDocumentResidentBytes(document);
    document.notes[0].levelCurve = document.notes[0].pitchCurve;
    EXPECT_EQ(np::estimateDocumentResidentBytes(document), separate - 4000 - 152);
    // A stereo take holds its 14400 frames twice.
    EXPECT_EQ(np::estimateDocumentResidentBytes(cvtest::makeTestDocument(1, 1000, 2)), separate + 14400 * 4);
    // A buffer whose counts were corrupted past the limits makes the estimate unusable, not small.
    auto bad = std::make_shared<np::AudioBuffer>();
    bad->channels = 3;
    bad->frames = 10;
    document.audio = bad;
    EXPECT_EQ(np::estimateDocumentResidentBytes(document), ~std::uint64_t{0});
}
