// What the inspector shows, without a control. The drags' paces are checked through the control
// (inspector_view_test.cpp).

#include "ui/inspector_values.h"

#include <gtest/gtest.h>

namespace cv::ui {
namespace {

TEST(InspectorValues, HeadingNamesTheNearestNoteInTheReferencesTuning) {
    const struct {
        double pitch, offset, a4;
        const char* name;
        const char* cents;
    } cases[] = {
        {69.0, 0.0, 440.0, "A4", "+0 cents"},
        {69.0, 0.0, 432.0, "A4", "+32 cents"}, // 12 log2(432/440) = -0.318: the note sounds sharp of A4
        {60.0, 0.6, 440.0, "C#4", "-40 cents"},
        {60.0, -0.6, 440.0, "B3", "+40 cents"},
        {69.0, 0.0, 415.0, "A#4", "+1 cents"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const NoteHeading h = HeadingFor(c.pitch, c.offset, c.a4);
        EXPECT_EQ(h.name, c.name);
        EXPECT_EQ(h.cents, c.cents);
    }
}

TEST(InspectorValues, CellsShowTheNoteOrTheirNeutralValuesInactive) {
    const auto none = NoteCellFaces(std::nullopt);
    const char* neutral[] = {"+0.0 st", "100%", "+0.0 st", "+0.0 dB"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(none[i].value, neutral[i]);
        EXPECT_FALSE(none[i].active);
    }

    const auto faces = NoteCellFaces(NoteValues{2.0, 1.5, 0.0, -30.0});
    EXPECT_EQ(faces[0].value, "+2.0 st");
    EXPECT_FLOAT_EQ(faces[0].fill, 14.f / 24.f);
    EXPECT_FLOAT_EQ(faces[0].anchor, 0.5f);
    EXPECT_TRUE(faces[0].active);
    // A drift between 1 and 2 reads as it is and fills the whole sweep, never beyond it.
    EXPECT_EQ(faces[1].value, "150%");
    EXPECT_FLOAT_EQ(faces[1].fill, 1.f);
    EXPECT_FLOAT_EQ(faces[1].anchor, 1.f);
    EXPECT_TRUE(faces[1].active);
    EXPECT_FALSE(faces[2].active); // a formant shift of 0 is neutral
    EXPECT_EQ(faces[3].value, "-30.0 dB");
    EXPECT_FLOAT_EQ(faces[3].fill, 0.f);
    EXPECT_TRUE(faces[3].active);

    // Each cell's active flag follows its own value.
    for (int changed = 0; changed < 4; ++changed) {
        NoteValues v;
        (changed == 0   ? v.pitchOffset
         : changed == 1 ? v.driftScale
         : changed == 2 ? v.formantShift
                        : v.gainDb) = 0.5;
        const auto one = NoteCellFaces(v);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(one[i].active, i == changed) << changed << " " << i;
    }
}

} // namespace
} // namespace cv::ui
