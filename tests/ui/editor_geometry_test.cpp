// Pure geometry of the editor: every rectangle at 1280 x 816, the dropdowns' right-to-left alignment and
// the file readout's name shortening.

#include "ui/editor_geometry.h"
#include "ui/header_controls.h"

#include <gtest/gtest.h>

namespace cv::ui {
namespace {

// The rectangles of tagged controls are checked on the built editor (editor_layout_test.cpp); here the rest.
TEST(EditorGeometry, EveryRectangleAt1280x816) {
    const EditorGeometry e = ComputeEditorGeometry(1280.f, 816.f, 300.f);
    const struct {
        const char* what;
        IRECT got, expected;
    } table[] = {
        {"word mark", e.wordmark, {14, 4, 138, 58}},
        {"first separator", e.separators[0], {154, 21, 155, 41}},
        {"clear", e.clear, {371, 15, 429, 47}},
        {"second separator", e.separators[1], {445, 21, 446, 41}},
        {"vol label", e.volLabel, {1132, 4, 1164, 58}},
        {"volume", e.vol, {1170, 15, 1266, 47}},
        {"help", e.help, {972, 15, 1006, 47}},
        {"settings", e.settings, {934, 15, 968, 47}},
        {"tool label", e.toolLabel, {14, 58, 56, 104}},
        {"tabs", e.tabs, {66, 65, 366, 97}},
        {"undo", e.undo, {382, 65, 420, 97}},
        {"redo", e.redo, {424, 65, 462, 97}},
        {"split", e.split, {478, 65, 526, 97}},
        {"merge", e.merge, {530, 65, 578, 97}},
        {"zoom out", e.zoomOut, {1142, 644, 1174, 676}},
        {"zoom in", e.zoomIn, {1181, 644, 1213, 676}},
        {"fit", e.fit, {1220, 644, 1252, 676}},
        {"whole", e.whole, {0, 0, 1280, 816}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.got, row.expected);
    }
    EXPECT_EQ(e.dropdownsRight, 1266.f);
    // Six labels of 40 units: 8 + 6 x (40 + 22).
    const float labels[] = {40, 40, 40, 40, 40, 40};
    EXPECT_EQ(TabsWidth(labels), 380.f);
    // A narrow window keeps the notice line 28 in from the right.
    EXPECT_EQ(ComputeEditorGeometry(600.f, 400.f, 300.f).notice.R, 572.f);
}

TEST(EditorGeometry, DropdownsLieRightToLeftThirteenApart) {
    const float widths[] = {120, 150, 80, 100};
    const std::vector<IRECT> r = AlignRightToLeft(1266.f, 65.f, 97.f, widths);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0], IRECT(1146, 65, 1266, 97));
    EXPECT_EQ(r[1], IRECT(983, 65, 1133, 97));
    EXPECT_EQ(r[2], IRECT(890, 65, 970, 97));
    EXPECT_EQ(r[3], IRECT(777, 65, 877, 97));
}

TEST(FileReadoutName, ShortensAtWholeCharactersKeepingAShortExtension) {
    // One unit per byte, so the limits below count bytes.
    const auto bytes = [](const std::string& s) { return static_cast<float>(s.size()); };
    const std::string e = "\xE2\x80\xA6"; // the ellipsis, three bytes
    const struct {
        const char* what;
        std::string name;
        float width;
        std::string expected;
    } table[] = {
        {"fits", "take.wav", 8, "take.wav"},
        {"ASCII, extension kept", "lead_vocal_take3.wav", 14, "lead_vo" + e + ".wav"},
        {"two-byte characters cut whole", "\xC3\xA9t\xC3\xA9\xC3\xA9t\xC3\xA9.wav", 13,
         "\xC3\xA9t\xC3\xA9" + e + ".wav"},
        {"four-byte characters cut whole", "\xF0\x9F\x8E\xA4\xF0\x9F\x8E\xA4\xF0\x9F\x8E\xA4.wav", 15,
         "\xF0\x9F\x8E\xA4\xF0\x9F\x8E\xA4" + e + ".wav"},
        {"12-byte extension kept", "songs.abcdefghijk", 16, "s" + e + ".abcdefghijk"},
        {"13-byte extension is part of the name", "song.abcdefghijkl", 10, "song.ab" + e},
        {"leading dot is no extension", ".hiddenfile", 6, ".hi" + e},
        {"stops when the stem is empty", "abc.wav", 2, e + ".wav"},
        {"stops when the name is empty", "abc", 1, e},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(ShortenFileName(row.name, row.width, bytes), row.expected);
    }
}

} // namespace
} // namespace cv::ui
