#include "engine/render/note_span.h"

#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

namespace np {
namespace {

Document documentWithTrack(std::size_t frames) {
    Document doc;
    doc.track.hop = 256;
    doc.track.frames.resize(frames);
    return doc;
}

TEST(NoteSpan, PitchedNoteCarriesDriftAndFormantWithSibilantHopsZeroed) {
    Document doc = documentWithTrack(16);
    doc.track.frame = 512;                             // frame i is centred one hop after its start
    doc.track.frames[5].flags = PitchFrame::kSibilant; // source frame of hop 3 (start 512)
    Note note;
    note.sourceStart = 512;
    note.sourceEnd = 512 + 6 * 256 + 100; // six whole hops
    note.length = 4000;
    note.pitchOffset = 2.0;
    note.driftScale = 1.5;
    note.formantShift = -1.0;
    note.pitchCurve = std::make_shared<const std::vector<float>>(std::vector<float>{10, 20, 30, 40});

    const SpanParams span = noteSpanParams(doc, note);
    EXPECT_EQ(span.sourceStart, 512);
    EXPECT_EQ(span.sourceLength, 6 * 256 + 100);
    EXPECT_EQ(span.outputLength, 4000);
    // Before smoothing: 200 + curve x 0.5, hop k reading the value centred on it (k - 1), the first value
    // before that and the last one past its end; hop 3 zeroed.
    std::vector<double> cents = {205, 205, 210, 0, 220, 220};
    std::vector<double> formant = {-100, -100, -100, 0, -100, -100};
    smoothCurve(cents);
    smoothCurve(formant);
    EXPECT_EQ(span.centsPerHop, cents);
    EXPECT_EQ(span.formantCentsPerHop, formant);
}

TEST(NoteSpan, UnpitchedNoteUsesAConstantShiftAndLongSpansAreRefused) {
    Document doc = documentWithTrack(4);
    Note note;
    note.pitched = false;
    note.sourceStart = 0;
    note.sourceEnd = 100;
    note.length = 50;
    note.pitchOffset = 2.0;
    note.formantShift = 3.0;
    const SpanParams span = noteSpanParams(doc, note);
    EXPECT_EQ(span.constantSemitones, 2.0);
    EXPECT_TRUE(span.centsPerHop.empty());
    EXPECT_TRUE(span.formantCentsPerHop.empty());

    note.length = 2147483648LL;
    EXPECT_THROW(noteSpanParams(doc, note), std::length_error);
    note.length = 50;
    note.sourceEnd = 2147483648LL;
    EXPECT_THROW(noteSpanParams(doc, note), std::length_error);
}

} // namespace
} // namespace np
