#pragma once

// The editor's own small controls beside the kit: the window's body background, the file readout, the
// tool tabs and the split button. The layout places them; the idle loop writes the readouts.

#include "framework/graphics/basic_controls.h"
#include "framework/graphics/tab_switch_control.h"
#include "ui/ivory/controls.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The body behind everything: a radial shelf of light from above and a shade along the bottom. Ignores
// the mouse.
class BodyPanel : public iplug::igraphics::IControl {
public:
    explicit BodyPanel(const iplug::igraphics::IRECT& bounds);
    void Draw(iplug::igraphics::IGraphics& g) override;
};

// The file readout (tag 2). Its text is a display name, optionally followed by "  —  " and details; with
// the separator it shows two lines, the name shortened to fit. A status word ("Saving…", "Unsaved",
// "Saved") takes the right end while one of the flags is set. Ignores the mouse.
class FileReadout : public iplug::igraphics::ITextControl {
public:
    static constexpr const char* kSeparator = "  \xE2\x80\x94  "; // two spaces, an em dash, two spaces
    static constexpr int kSavedMs = 1800;

    FileReadout(const iplug::igraphics::IRECT& bounds, const char* str);
    // The session has edits that are not saved; turning it on ends a running "Saved" period. Redraws only
    // when it changes.
    void SetUnsaved(bool unsaved);
    bool Unsaved() const { return mUnsaved; }
    void SetSaving(bool saving);
    // A save finished: "Saved" shows for 1.8 s.
    void ShowSaved();
    // The status word shown, or null for none.
    const char* StatusWord() const;
    // Where the name and details go: the whole readout, or all but its right 76 units beside a status
    // word.
    iplug::igraphics::IRECT TextArea() const;
    void Draw(iplug::igraphics::IGraphics& g) override;

private:
    bool mUnsaved = false;
    bool mJustSaved = false;
    bool mSaving = false;
};

namespace cv::ui {

// The name shortened to maxWidth as measure reports widths: unchanged when it fits. With an extension
// (from the last ".", not at the very start, at most 12 bytes with its dot) the extension stays and whole
// UTF-8 characters go from the end of the part before it until that part, "…" and the extension fit;
// otherwise characters go from the end of the name and "…" is appended. Stops when nothing is left to
// remove, so the result may still be wider than maxWidth.
std::string ShortenFileName(std::string_view name, float maxWidth,
                            const std::function<float(const std::string&)>& measure);

} // namespace cv::ui

// The tool tabs ("Main" .. "Mod"): the kit's tabs with a hover fade and press pulse per tab and a tooltip
// per tab. The tab rectangles are measured at every draw and kept for hit tests.
class TabSwitch : public iplug::igraphics::IVTabSwitchControl {
public:
    TabSwitch(const iplug::igraphics::IRECT& bounds, iplug::igraphics::IActionFunction action,
              std::vector<std::string> labels, std::vector<std::string> hints);
    void DrawWidget(iplug::igraphics::IGraphics& g) override;
    int GetButtonForPoint(float x, float y) const override;
    void OnMouseDown(float x, float y, const iplug::IMouseMod& mod) override;
    void OnMouseOver(float x, float y, const iplug::IMouseMod& mod) override;
    void OnMouseOut() override;
    bool IsDirty() override;
    const std::vector<iplug::igraphics::IRECT>& TabRects() const { return mTabRects; }
    int HoveredTab() const { return mHovered; }

private:
    iplug::igraphics::TimePoint Now() const;

    std::vector<std::string> mHints;
    ivory::InteractionMotion mMotion;
    int mHovered = -1;
    int mPressed = -1;
    std::vector<iplug::igraphics::IRECT> mTabRects;
};

// The split button (tag 15): shows and flips the canvas's split mode; it keeps no state of its own.
// canSplit says whether the plug-in has a document to split.
class SplitButton : public ivory::Animated<iplug::igraphics::IControl> {
public:
    SplitButton(const iplug::igraphics::IRECT& bounds, std::function<bool()> canSplit);
    void OnMouseDown(float x, float y, const iplug::IMouseMod& mod) override;
    void Draw(iplug::igraphics::IGraphics& g) override;

private:
    std::function<bool()> mCanSplit;
};
