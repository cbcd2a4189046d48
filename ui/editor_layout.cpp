#include "ui/editor_layout.h"

#include "framework/graphics/corner_resizer.h"
#include "framework/graphics/popup_menu_control.h"
#include "plugin/Corvalinth.h"
#include "plugin/editor_hosting.h"
#include "ui/chassis.h"
#include "ui/confirm_overlay.h"
#include "ui/editor_controls_view.h"
#include "ui/editor_geometry.h"
#include "ui/editor_tags.h"
#include "ui/editor_view.h"
#include "ui/header_controls.h"
#include "ui/help_overlay.h"
#include "ui/inspector_view.h"
#include "ui/ivory/palette.h"
#include "ui/key_handler.h"
#include "ui/notice_control.h"
#include "ui/theme/theme.h"

#include <array>
#include <cmath>
#include <memory>

namespace cv::ui {

using namespace iplug::igraphics;

namespace {

struct FontFile {
    const char* id;
    const char* file;
};
constexpr std::array<FontFile, 6> kFonts{{
    {ivory::kFontRegular, "HankenGrotesk-Regular.ttf"},
    {ivory::kFontMedium, "HankenGrotesk-Medium.ttf"},
    {ivory::kFontSemiBold, "HankenGrotesk-SemiBold.ttf"},
    {ivory::kFontBold, "HankenGrotesk-Bold.ttf"},
    {ivory::kFontScreen, "DSEG7Classic-Bold.ttf"},
    {ivory::kFontMono, "JetBrainsMono-Regular.ttf"},
}};

IActionFunction Run(const std::function<void()>& action) {
    return [action](IControl*) {
        if (action)
            action();
    };
}

// Runs f on the canvas when it is there.
IActionFunction OnCanvas(std::function<void(CanvasSeam&)> f) {
    return [f = std::move(f)](IControl* caller) {
        if (auto* canvas = FindSeam<CanvasSeam>(caller->GetUI(), kTagCanvas))
            f(*canvas);
    };
}

IActionFunction OpenOverlay(int tag) {
    return [tag](IControl* caller) {
        if (auto* overlay = FindSeam<ModalSeam>(caller->GetUI(), tag))
            overlay->OpenModal();
    };
}

template <class T>
T* Attach(IGraphics& g, std::unique_ptr<T> control, const char* tooltip, int tag = kNoTag,
          const char* group = "") {
    if (tooltip)
        control->SetTooltip(tooltip);
    return g.AttachControl(std::move(control), tag, group);
}

} // namespace

const std::vector<std::string>& ToolHints() {
    static const std::vector<std::string> hints{
        "Drag to move pitch or timing. Double-click to correct pitch. Cmd-click to split.",
        "Drag vertically to tune. Hold Alt for cents.",
        "Drag vertically to change tone without changing pitch.",
        "Drag vertically to adjust gain. Double-click to mute.",
        "Drag to move. Drag the right edge to stretch.",
        "Drag vertically to adjust vibrato. Double-click to flatten.",
    };
    return hints;
}

std::vector<std::filesystem::path> EditorResourceFolders() {
    return {std::filesystem::path(CV_RESOURCES_DIR) / "fonts", std::filesystem::path(CV_UI_IMAGES_DIR)};
}

void AlignDropdowns(std::span<ivory::IvoryDropdown* const> dropdowns, float right) {
    std::vector<float> widths;
    for (const ivory::IvoryDropdown* d : dropdowns)
        widths.push_back(d->PreferredWidth());
    const std::vector<IRECT> rects = AlignRightToLeft(right, kToolRowTop, kToolRowBottom, widths);
    IGraphics* g = nullptr;
    for (std::size_t i = 0; i < dropdowns.size(); ++i) {
        dropdowns[i]->SetTargetAndDrawRECTs(rects[i]);
        dropdowns[i]->SetMouseIsOver(false);
        g = dropdowns[i]->GetUI();
    }
    if (g)
        g->SetAllControlsDirty();
}

void BuildEditor(IGraphics& g, const EditorActions& actions) {
    const float w = static_cast<float>(g.Width());
    const float h = static_cast<float>(g.Height());

    // 1. Window, background, resources.
    g.SetScaleConstraints(0.7f, 1.5f);
    g.AttachCornerResizer(EUIResizerMode::Scale, false, IColor(10, 0, 0, 0), COLOR_BLACK, COLOR_BLACK, 20.f);
    g.AttachPanelBackground(theme::kBackground);
    g.AttachControl(std::make_unique<BodyPanel>(IRECT(0.f, 0.f, w, h)));
    for (const auto& folder : EditorResourceFolders())
        g.AddResourcePath(folder);
    for (const FontFile& font : kFonts)
        g.LoadFont(font.id, font.file);
    const IBitmap noise = g.LoadBitmap("noise.png");
    const IBitmap brand = g.LoadBitmap("CorvalinthAppIcon.png");
    g.EnableTooltips(true);

    // 2. Popup menus.
    IPopupMenuControl* menus = g.AttachPopupMenuControl(IText(15.f, ivory::kInk, ivory::kFontMedium),
                                                        IRECT(12.f, 12.f, w - 12.f, h - 12.f));
    menus->SetColors(PopupMenuColors{ivory::kSurface, IColor(255, 59, 43, 35), ivory::kAccentHi, ivory::kInk,
                                     ivory::kFaint, ivory::kBtnEdge});

    // Geometry: the tool tabs' width comes from the measured labels.
    std::vector<float> labelWidths;
    for (const std::string& label : kToolLabels)
        labelWidths.push_back(
            g.MeasureTextWidth(IText(17.f, ivory::kInk, ivory::kFontSemiBold, EAlign::Near), label.c_str()));
    const EditorGeometry e = ComputeEditorGeometry(w, h, TabsWidth(labelWidths));

    // 3. Header.
    g.AttachControl(std::make_unique<ivory::IvoryWordmark>(e.wordmark, brand));
    g.AttachControl(std::make_unique<IPanelControl>(e.separators[0], theme::kCardBorder));
    Attach(g,
           std::make_unique<ivory::IvoryToggle>(e.capture, "Capture", "Stop", ivory::kFontSemiBold,
                                                Run(actions.toggleCapture)),
           "Capture audio from this track. Click Capture, then play the section. The capture is stored with "
           "this plug-in instance.",
           kTagCapture);
    Attach(g,
           std::make_unique<ivory::IvoryToggle>(e.original, "Original", "Original", ivory::kFontSemiBold,
                                                Run(actions.toggleOriginal)),
           "Hear the unedited capture. Turn this off to hear your edits.", kTagOriginal, kGroupDoc);
    Attach(g, std::make_unique<ivory::IvoryButton>(e.clear, "Clear", Run(actions.clearCapture)),
           "Remove the captured audio and edits from this plug-in instance.", kNoTag, kGroupDoc);
    g.AttachControl(std::make_unique<IPanelControl>(e.separators[1], theme::kCardBorder));
    Attach(g, std::make_unique<ivory::IvoryButton>(e.exportButton, "Export", Run(actions.exportFile)),
           "Save the edited audio as a WAV file", kTagExport, kGroupDoc);
    g.AttachControl(std::make_unique<ivory::IvoryScreen>(e.time, "00:00.00"), kTagTime);
    g.AttachControl(std::make_unique<ITextControl>(
        e.volLabel, "Vol", IText(18.f, theme::kTextDim, ivory::kFontRegular, EAlign::Far)));
    Attach(g, std::make_unique<ivory::IvoryVol>(e.vol, 0, 4.0), "Output volume");
    Attach(g,
           std::make_unique<ivory::IvoryIconButton>(e.help, ivory::EPhosphorIcon::Help, OpenOverlay(kTagHelp),
                                                    false, 15.f),
           "Open help");
    Attach(g,
           std::make_unique<ivory::IvoryIconButton>(e.settings, ivory::EPhosphorIcon::Settings,
                                                    OpenOverlay(kTagPrefs), false, 15.f),
           "Open preferences");
    g.AttachControl(std::make_unique<FileReadout>(e.file, "No file loaded"), kTagFile);

    // 4. Tool bar.
    g.AttachControl(std::make_unique<ITextControl>(
        e.toolLabel, "Tool", IText(18.f, ivory::kDim, ivory::kFontRegular, EAlign::Near)));
    auto selectTool = [](IControl* caller) {
        const auto tool = static_cast<std::uint32_t>(caller->GetValue() * 5.0 + 0.5);
        if (auto* canvas = FindSeam<CanvasSeam>(caller->GetUI(), kTagCanvas)) {
            canvas->SetTool(tool);
            canvas->SetSplitMode(false);
        }
    };
    g.AttachControl(std::make_unique<TabSwitch>(e.tabs, selectTool, kToolLabels, ToolHints()));
    Attach(g,
           std::make_unique<ivory::IvoryIconButton>(e.undo, ivory::EPhosphorIcon::Undo, Run(actions.undo),
                                                    true, 15.f),
           "Undo (Cmd/Ctrl+Z)");
    Attach(g,
           std::make_unique<ivory::IvoryIconButton>(e.redo, ivory::EPhosphorIcon::Redo, Run(actions.redo),
                                                    true, 15.f),
           "Redo (Cmd/Ctrl+Shift+Z)");
    Attach(
        g, std::make_unique<SplitButton>(e.split, actions.hasDocument),
        "Split \xE2\x80\x94 arm the cut tool, then click notes; S splits at the playhead, Cmd+click anytime",
        kTagSplit, kGroupDoc);
    Attach(g,
           std::make_unique<ivory::IvoryActionIconButton>(e.merge, ivory::EPhosphorIcon::Merge,
                                                          Run(actions.merge)),
           "Merge \xE2\x80\x94 combine the selected notes into one (M)", kNoTag, kGroupDoc);
    struct DropdownRow {
        int param;
        const char* label;
        const char* tooltip;
        bool boxed;
    };
    constexpr std::array<DropdownRow, 4> kDropdowns{{
        {3, "Algo", "Choose Melodic for vocals or Percussive for drums.", false},
        {2, "Scale", "Correct Pitch uses this scale.", false},
        {1, "Key", "Correct Pitch uses this root note.", true},
        {5, "A4", "Reference pitch for the tuning grid.", false},
    }};
    auto dropdowns = std::make_shared<std::array<ivory::IvoryDropdown*, 4>>();
    for (std::size_t i = 0; i < kDropdowns.size(); ++i) {
        const DropdownRow& d = kDropdowns[i];
        (*dropdowns)[i] =
            Attach(g, std::make_unique<ivory::IvoryDropdown>(IRECT(), d.param, d.label, d.boxed), d.tooltip);
    }
    const float right = e.dropdownsRight;
    for (ivory::IvoryDropdown* d : *dropdowns)
        d->SetAfterSelection([dropdowns, right] { AlignDropdowns(*dropdowns, right); });
    AlignDropdowns(*dropdowns, right);

    // 5.-7. Inspector, the bottom line and the canvas.
    g.AttachControl(std::make_unique<InspectorView>(e.inspector), kTagInspector);
    g.AttachControl(std::make_unique<ITextControl>(e.noteCount, "",
                                                   IText(15.f, ivory::kFaint, ivory::kFontMono, EAlign::Far)),
                    kTagNoteCount)
        ->Hide(true);
    g.AttachControl(std::make_unique<ITextControl>(
                        e.hint, "", IText(18.f, theme::kTextDim, ivory::kFontRegular, EAlign::Near)),
                    kTagHint)
        ->Hide(true);
    g.AttachControl(std::make_unique<EditorView>(e.canvas), kTagCanvas);

    // 8. Zoom buttons in the canvas's bottom-right corner.
    Attach(g,
           std::make_unique<ivory::IvoryIconButton>(e.zoomOut, ivory::EPhosphorIcon::ZoomOut,
                                                    OnCanvas([](CanvasSeam& c) { c.ZoomTime(1.3); }), false,
                                                    14.f),
           "Zoom out (Cmd+Minus; Cmd+scroll, Alt+scroll for pitch)", kNoTag, kGroupZoom);
    Attach(g,
           std::make_unique<ivory::IvoryIconButton>(e.zoomIn, ivory::EPhosphorIcon::ZoomIn,
                                                    OnCanvas([](CanvasSeam& c) { c.ZoomTime(1.0 / 1.3); }),
                                                    false, 14.f),
           "Zoom in (Cmd+Plus; Cmd+scroll, Alt+scroll for pitch)", kNoTag, kGroupZoom);
    Attach(g,
           std::make_unique<ivory::IvoryIconButton>(e.fit, ivory::EPhosphorIcon::Fit,
                                                    OnCanvas([](CanvasSeam& c) { c.FitToDocument(); }), false,
                                                    14.f),
           "Fit everything in view (F)", kNoTag, kGroupZoom);

    // 9. Decor.
    g.AttachControl(std::make_unique<GrainOverlay>(e.whole, noise));
    g.AttachControl(std::make_unique<ChassisFrame>(e.whole));

    // 10.-11. The notice line, then the overlays, the confirmation dialog topmost.
    g.AttachControl(std::make_unique<NoticeControl>(e.notice, actions.overlays.cancelBackgroundWork),
                    kTagNotice);
    g.AttachControl(std::make_unique<HelpOverlay>(e.whole, actions.overlays.copyDiagnostics), kTagHelp);
    g.AttachControl(std::make_unique<PrefsOverlay>(e.whole, actions.overlays.prefs), kTagPrefs);
    g.AttachControl(std::make_unique<UpdateCenterOverlay>(e.whole, actions.overlays.updates), kTagUpdates);
    g.AttachControl(std::make_unique<ConfirmOverlay>(e.whole), kTagConfirm);

    // 12. The key handler.
    InstallEditorKeyHandler(g);
}

EditorActions ActionsFor(Corvalinth& plugin) {
    EditorActions a;
    a.toggleCapture = [&plugin] { plugin.ToggleTransfer(); };
    a.toggleOriginal = [&plugin] { plugin.ToggleCompare(); };
    a.clearCapture = [&plugin] { plugin.ClearCapture(); };
    a.undo = [&plugin] { plugin.Undo(); };
    a.redo = [&plugin] { plugin.Redo(); };
    a.merge = [&plugin] { plugin.MergeSelection(); };
    a.exportFile = [&plugin] { plugin.PromptExportFile(); };
    a.hasDocument = [&plugin] { return plugin.Session().document().audio != nullptr; };
    a.overlays = OverlayServicesFor(plugin);
    return a;
}

std::unique_ptr<cv::EditorControls> LayoutEditor(Corvalinth& plugin, IGraphics& g) {
    BuildEditor(g, ActionsFor(plugin));
    return std::make_unique<EditorControlsView>(g);
}

void RegisterEditorLayout() {
    cv::SetEditorLayout(LayoutEditor);
}

} // namespace cv::ui
