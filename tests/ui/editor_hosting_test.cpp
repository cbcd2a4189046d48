// The plug-in hosting its editor: window-size rules, resizes while open and closed, the canvas's view kept
// per session, parameter values pushed on open, and an error raised while closed shown on the next open.

#include "tests/plugin/corvalinth_probe.h"
#include "tests/ui/editor_fixture.h"
#include "ui/editor_tags.h"
#include "ui/notice_control.h"

namespace cv::ui {
namespace {

using namespace iplug::igraphics;

TEST(EditorHosting, ConstrainsWindowSizesToTheScaleLimits) {
    EditorFixture f(false);
    const struct {
        int w, h, expectedW, expectedH;
    } table[] = {
        {640, 480, 896, 571},     // scale 0.7
        {4000, 4000, 1920, 1224}, // scale 1.5
        {1600, 816, 1280, 816},   // the height limits
        {0, 0, 896, 571},         // no size: the smallest
        {1280, 816, 1280, 816},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(testing::Message() << row.w << " x " << row.h);
        int w = row.w, h = row.h;
        EXPECT_EQ(f.plugin->ConstrainEditorResize(w, h), row.w == row.expectedW && row.h == row.expectedH);
        EXPECT_EQ(w, row.expectedW);
        EXPECT_EQ(h, row.expectedH);
    }
}

TEST(EditorHosting, ResizesWhileOpenAndAppliesAResizeMadeWhileClosedOnOpen) {
    EditorFixture f(false);
    f.plugin->OnParentWindowResize(1600, 1100); // closed: scale 1.25, remembered
    EXPECT_EQ(f.plugin->GetEditorWidth(), 1600);
    EXPECT_EQ(f.plugin->GetEditorHeight(), 1020);
    f.plugin->OnParentWindowResize(0, 500); // nothing
    EXPECT_EQ(f.plugin->GetEditorWidth(), 1600);
    f.Open();
    EXPECT_FLOAT_EQ(f.g->GetDrawScale(), 1.25f);
    EXPECT_EQ(f.g->Width(), 1280); // scaled, never laid out again
    EXPECT_EQ(f.Tagged(kTagCanvas)->GetRECT(), IRECT(14, 114, 1266, 688));
    f.plugin->OnParentWindowResize(640, 480);
    EXPECT_FLOAT_EQ(f.g->GetDrawScale(), 0.7f);
    EXPECT_EQ(f.plugin->GetEditorWidth(), 896);
    EXPECT_EQ(f.plugin->GetEditorHeight(), 571);
    f.Close();
    f.Open(); // the open-time resize was not remembered
    EXPECT_FLOAT_EQ(f.g->GetDrawScale(), 1.f);
}

TEST(EditorHosting, KeepsTheCanvasViewForTheSameSessionAndFitsANewOne) {
    EditorFixture f(false);
    CorvalinthProbe::replaceSource(*f.plugin, std::make_shared<np::AudioBuffer>());
    f.Open();
    auto canvas = [&] { return FindSeam<CanvasSeam>(f.g, kTagCanvas); };
    const EditorViewportState zoomed{64.0, 1000.0, 72.0, 20.f};
    ASSERT_TRUE(canvas()->RestoreViewport(zoomed));
    f.Close();
    f.Open();
    EXPECT_EQ(canvas()->ViewportState().framesPerPixel, 64.0);
    EXPECT_EQ(canvas()->ViewportState().topMidi, 72.0);
    f.Close();
    CorvalinthProbe::replaceSource(*f.plugin, std::make_shared<np::AudioBuffer>()); // a new capture
    f.Open();
    EXPECT_EQ(canvas()->ViewportState().framesPerPixel, 256.0); // a fresh view: nothing to fit without notes
    f.Close();
    EXPECT_EQ(f.plugin->GetUI(), nullptr);
}

TEST(EditorHosting, PushesEveryParameterValueOnOpen) {
    // A layout of one probe per parameter, counting the values the plug-in sends to each.
    struct Probe : IControl {
        explicit Probe(int param) : IControl(IRECT(0, 0, 1, 1), param) {}
        void Draw(IGraphics&) override {}
        void SetValueFromDelegate(double v) override {
            ++received;
            IControl::SetValueFromDelegate(v);
        }
        int received = 0;
    };
    std::vector<Probe*> probes;
    EditorFixture f(false);
    cv::SetEditorLayout([&](Corvalinth& plugin, IGraphics& g) -> std::unique_ptr<cv::EditorControls> {
        for (int i = 0; i < plugin.NParams(); ++i)
            probes.push_back(g.AttachControl(std::make_unique<Probe>(i)));
        return nullptr;
    });
    f.plugin->GetParam(4)->Set(150.0); // Tempo, while the editor is closed
    f.Open();
    ASSERT_EQ(probes.size(), 6u);
    for (const Probe* p : probes)
        EXPECT_EQ(p->received, 2) << p->GetParamIdx(); // once when attached, once by the open
    EXPECT_DOUBLE_EQ(probes[4]->GetValue(), f.plugin->GetParam(4)->GetNormalized());
    f.Close();
    RegisterEditorLayout();
}

TEST(EditorHosting, AnErrorRaisedWhileClosedShowsWhenTheEditorOpens) {
    EditorFixture f(false);
    f.plugin->SetStatus("Lost while closed"); // only errors wait
    f.plugin->SetError("Couldn't export the file.");
    f.Open();
    const auto* notice = dynamic_cast<NoticeControl*>(f.Tagged(kTagNotice));
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->ShownKind(), NoticeKind::Error);
    EXPECT_EQ(notice->Line().Current().text, "Couldn't export the file.");
    f.Close();
    f.Open(); // shown once
    EXPECT_EQ(dynamic_cast<NoticeControl*>(f.Tagged(kTagNotice))->ShownKind(), std::nullopt);
}

} // namespace
} // namespace cv::ui
