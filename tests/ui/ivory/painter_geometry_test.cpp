// The painters' pure parts: the screen's font size and ghost digits, the knob square, the icon table.

#include "framework/graphics/testing/test_scene.h"
#include "ui/ivory/icons.h"
#include "ui/ivory/painters.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace ivory {
namespace {

TEST(ScreenText, ShrinksLongTextAndNeverGoesBelowOnePoint) {
    const struct {
        const char* what;
        float textWidth, rectWidth, expected;
    } table[] = {
        {"fits: 20", 60, 94, 20},
        {"exactly the room: 20", 70, 94, 20},
        {"too wide: shrinks to the room", 140, 94, 10},
        {"narrower than the margins", 60, 20, 1},
        {"exactly the margins", 60, 24, 1},
        {"no text", 0, 10, 20},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        EXPECT_FLOAT_EQ(ScreenFontSize(row.textWidth, row.rectWidth), row.expected);
    }
    EXPECT_EQ(GhostDigits("00:00.00"), "88:88.88");
    EXPECT_EQ(GhostDigits("-12:3a"), "-88:8a");
    EXPECT_EQ(GhostDigits(std::string(80, '5')), std::string(63, '8'));
}

TEST(KnobGeometry, SquareFollowsTheCellWithinItsLimits) {
    const struct {
        const char* what;
        IRECT cell;
        bool compact;
        IRECT expected;
    } table[] = {
        {"height bound", {0, 0, 200, 50}, false, {2, 5, 42, 45}},
        {"width bound", {0, 0, 50, 50}, false, {2, 13.5f, 25, 36.5f}},
        {"compact ignores the width", {0, 0, 50, 50}, true, {2, 5, 42, 45}},
        {"at most 58", {10, 0, 400, 100}, false, {12, 21, 70, 79}},
        {"at least 1", {0, 0, 1, 0.5f}, true, {2, -0.25f, 3, 0.75f}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(KnobSquare(row.cell, row.compact), row.expected);
    }
}

TEST(Icons, ThirteenIconsAndHelpForAnythingElse) {
    EXPECT_EQ(IconOrHelp(13), EPhosphorIcon::Help);
    EXPECT_EQ(IconOrHelp(-1), EPhosphorIcon::Help);
    EXPECT_EQ(IconOrHelp(12), EPhosphorIcon::Fit);
    EXPECT_STREQ(IconResourceName(static_cast<EPhosphorIcon>(13)), "phosphor-help-bold-2.1.1");
    EXPECT_STREQ(IconResourceName(EPhosphorIcon::ZoomOut), "phosphor-zoom-out-bold-2.1.1");
    EXPECT_EQ(IconSvg(static_cast<EPhosphorIcon>(40)), kPhHelp);
    // Each icon draws the fetched file of its own name.
    const char* files[] = {"split",     "merge", "unison", "undo",     "redo",    "help", "settings",
                           "skip-back", "play",  "stop",   "zoom-out", "zoom-in", "fit"};
    for (int i = 0; i < kNumIcons; ++i) {
        SCOPED_TRACE(files[i]);
        const std::string_view svg = IconSvg(static_cast<EPhosphorIcon>(i));
        EXPECT_NE(svg.find("viewBox=\"0 0 256 256\""), std::string_view::npos);
        EXPECT_NE(svg.find("fill=\"currentColor\""), std::string_view::npos);
        std::ifstream in(iplug::igraphics::ResourcesDir() / "icons" / (std::string(files[i]) + ".svg"));
        const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t first = file.find_first_not_of(" \t\r\n"), last = file.find_last_not_of(" \t\r\n");
        ASSERT_NE(first, std::string::npos);
        EXPECT_EQ(svg, std::string_view(file).substr(first, last + 1 - first));
    }
}

} // namespace
} // namespace ivory
