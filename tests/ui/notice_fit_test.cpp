// A notice wider than its line: shortened after its last whole word that fits, with "…", and shown whole
// in the tooltip of the line under the pointer; a notice that fits is drawn as it is, without a tooltip.

#include "framework/graphics/offscreen.h"
#include "framework/graphics/testing/test_driver.h"
#include "framework/graphics/testing/test_scene.h"
#include "ui/ivory/painter_util.h"
#include "ui/ivory/palette.h"
#include "ui/notice_control.h"

#include <cstring>
#include <gtest/gtest.h>

namespace cv::ui {
namespace {

using namespace iplug::igraphics;

constexpr const char* kEllipsis = "\xE2\x80\xA6";

TEST(NoticeFit, ALongNoticeEndsAfterAWholeWordAndShowsWholeInItsTooltip) {
    std::unique_ptr<IGraphics> g = MakeOffscreenGraphics(nullptr, 1280, 816, 60, 1.f);
    TestDriver d(*g);
    g->AddResourcePath(ResourcesDir() / "fonts");
    for (const SceneFont& f : EditorFonts())
        ASSERT_TRUE(g->LoadFont(f.id, f.file)) << f.file;
    g->EnableTooltips(true);
    auto* notice = g->AttachControl(std::make_unique<NoticeControl>(IRECT(28, 650, 634, 688), [] {}));
    const IText font = ivory::Font(ivory::kFontRegular, 14.f, ivory::kInk, EAlign::Near);
    const struct {
        std::string text;
        NoticeKind kind;
        bool shortened;
    } rows[] = {
        {"Couldn't prepare edited playback. Render source, output, edited-unit and analysis buffers exceed "
         "the 512 MiB working-set limit.",
         NoticeKind::Error, true},
        {"Couldn't export the WAV file: the destination's file name is too long: names of at most 255 bytes "
         "fit in this folder.",
         NoticeKind::Warning, true},
        // One word wider than the line: cut between two of its characters, none split.
        {"/home/ana/" +
             [] {
                 std::string accents;
                 for (int i = 0; i < 120; ++i)
                     accents += "\xC3\xA9"; // "é", two bytes
                 return accents;
             }() +
             ".wav",
         NoticeKind::Error, true},
        {"Exported WAV: take.wav", NoticeKind::Success, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        notice->Dismiss(); // the one before, which would keep a notice of lower rank waiting
        d.RunFrames(10);
        notice->Show(row.text.c_str(), row.kind, 0);
        d.RunFrames(10); // past the fade-in
        d.Render();
        const std::string& drawn = notice->DrawnMessage();
        const IRECT area = notice->MessageArea();
        d.MouseMove(area.MW(), area.MH());
        d.AdvanceMs(600);
        d.Tick();
        if (!row.shortened) {
            EXPECT_EQ(drawn, row.text);
            EXPECT_EQ(notice->GetTooltip(), "");
            EXPECT_EQ(d.Tooltip(), "");
            continue;
        }
        ASSERT_TRUE(drawn.ends_with(kEllipsis)) << drawn;
        EXPECT_LE(g->MeasureTextWidth(font, drawn.c_str()), area.W());
        const std::string kept = drawn.substr(0, drawn.size() - std::strlen(kEllipsis));
        ASSERT_GT(kept.size(), 10u) << "as much as fits is kept";
        ASSERT_TRUE(row.text.starts_with(kept)) << kept;
        const char next = row.text[kept.size()];
        if (row.text.find(' ') != std::string::npos) {
            EXPECT_NE(kept.back(), ' ');
            EXPECT_TRUE(next == ' ' || next == '.' || next == ',' || next == ':') << "cut inside a word";
        }
        EXPECT_NE(static_cast<unsigned char>(next) & 0xC0, 0x80) << "a character split";
        // One more word would not have fitted.
        const std::size_t after = row.text.find(' ', kept.size() + 1);
        if (after != std::string::npos && row.text.find(' ') != std::string::npos) {
            EXPECT_GT(g->MeasureTextWidth(font, (row.text.substr(0, after) + kEllipsis).c_str()), area.W());
        }
        EXPECT_EQ(notice->GetTooltip(), row.text);
        EXPECT_EQ(d.Tooltip(), row.text);
        d.MouseMove(700, 400); // off the line: no tooltip
        d.AdvanceMs(600);
        d.Tick();
        EXPECT_EQ(d.Tooltip(), "");
    }
}

} // namespace
} // namespace cv::ui
