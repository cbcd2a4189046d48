#pragma once

// What the modal overlays share (help, preferences, software updates and the confirmation): a control
// spanning the editor that takes every mouse event while it shows, a dimmed backdrop with a centred soft
// panel, its targets found by HitTarget, hover and press motion on them, a keyboard focus whose ring keys
// show and the mouse hides, and the open and close fades. Also the shared drawing: the frame (backdrop,
// panel, close button, title, subtitle, divider) and the reference grid of the help pages. Main thread.

#include "framework/graphics/icontrol.h"
#include "ui/ivory/interaction_motion.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cv::ui {

using iplug::igraphics::IControl;
using iplug::igraphics::IGraphics;
using iplug::igraphics::IRECT;
using iplug::igraphics::TimePoint;

inline constexpr int kModalOpenMs = 120;
inline constexpr int kModalCloseMs = 90;
inline constexpr float kModalBackdropAlpha = 176.f; // black, at full opacity
inline constexpr float kModalHeaderHeight = 86.f;   // from the panel's top to the divider

// The open and close fades of an overlay under a clock the caller passes in. Opening: opacity
// 1 - (1 - p)^3 over 120 ms. Closing from the opacity o it had: o x (1 - s(p)) over 90 ms, s the
// smoothstep; at its end the overlay is hidden and its opacity reset to 1.
class ModalFade {
public:
    void Open(TimePoint now);
    // Shown at full strength without a fade (the confirmation).
    void ShowAtOnce();
    // Starts the fade-out; false, changing nothing, while hidden or already closing.
    bool Close(TimePoint now);
    void Hide();
    // Brings the fade to now; true while a fade ran before this call. A finished close hides.
    bool Advance(TimePoint now);
    float Opacity(TimePoint now) const;
    bool Visible() const { return mPhase != Phase::Hidden; }
    bool Closing() const { return mPhase == Phase::Closing; }

private:
    enum class Phase { Hidden, Opening, Shown, Closing };
    Phase mPhase = Phase::Hidden;
    TimePoint mStart{};
    float mCloseFrom = 1.f; // the opacity at which the close began
};

// The overlay base. Subclasses place the panel and their targets, and draw their body in DrawBody.
class ModalOverlay : public IControl {
public:
    explicit ModalOverlay(const IRECT& bounds);

    // The target under (x, y), or -1 for none.
    virtual int HitTarget(float x, float y) const = 0;
    // Fades out over 90 ms from the current opacity, then hides. Nothing while hidden or closing.
    virtual void CloseModal();

    // The overlay's keys while it shows: the editor's key handler gives it every key first, and a key
    // reaching it as the control under the pointer goes the same way. Every key is consumed (true).
    virtual bool HandleKey(const iplug::IKeyPress& key) = 0;
    bool OnKeyDown(float, float, const iplug::IKeyPress& key) override { return HandleKey(key); }

    void OnMouseOver(float x, float y, const iplug::IMouseMod& mod) override;
    void OnMouseOut() override;
    // Advances the fade and the hover and press motion; true while any runs.
    bool IsDirty() override;
    // The frame (DrawModalFrame), then the body at the overlay's opacity; the panel is drawn
    // (1 - opacity) x 7 lower while it fades.
    void Draw(IGraphics& g) final;

    float Opacity() const { return mFade.Opacity(Now()); }
    bool Closing() const { return mFade.Closing(); }
    const IRECT& Panel() const { return mPanel; }
    int FocusIndex() const { return mFocus; }
    bool FocusVisible() const { return mFocusVisible; }
    int HoveredTarget() const { return mHovered; }

protected:
    // Shows the overlay with focus 0 (hidden), no hover or press, and starts the 120-ms fade-in.
    void BeginOpen();
    // The frame's texts and the target number of the close button.
    virtual std::string_view Title() const = 0;
    virtual std::string_view Subtitle() const = 0;
    virtual int CloseTarget() const = 0;
    // Draws what lies inside the panel below the header, at the overlay's opacity; panel is where the
    // panel is drawn now.
    virtual void DrawBody(IGraphics& g, const IRECT& panel) = 0;
    // The close fade ended and the overlay is hidden.
    virtual void OnClosed() {}
    // Starts the press pulse on a target (hover follows the pointer).
    void PressTarget(int target);
    // Moves the keyboard focus over count places with wrap-around: forward by one, or back by one.
    void StepFocus(int count, bool back);
    // Hover and press amounts of a target (0 unless it is the hovered or pressed one).
    float HoverOf(int target) const;
    float PressOf(int target) const;
    TimePoint Now() const;

    IRECT mPanel;
    int mFocus = 0;
    bool mFocusVisible = false;
    int mHovered = -1;
    int mPressed = -1;
    ivory::InteractionMotion mMotion;
    ModalFade mFade;
};

// The close button: a 34 x 34 square whose right edge is 28 inside the panel's and whose top is 28
// below the panel's.
IRECT ModalCloseButton(const IRECT& panel);

// The frame: the control filled with black at alpha round(clamp(opacity, 0, 1) x 176); the panel as a
// soft panel of radius 16; the close button's face with "×" and its hover and press washes; the title
// (semibold 21) 28 in and 26 down, ending 50 before the right edge; the subtitle (regular 14) below it;
// a white line at alpha 24 between the header and the body. The panel part is drawn at the opacity.
struct ModalFrameStyle {
    std::string_view title;
    std::string_view subtitle;
    float opacity = 1.f;
    float closeHover = 0.f;
    float closePress = 0.f;
};
void DrawModalFrame(IGraphics& g, const IControl& overlay, const IRECT& panel, const ModalFrameStyle& style);

// A keyboard-focus ring in the accent, 2 outside r, with the ring's own corner radius.
void DrawFocusRing(IGraphics& g, const IRECT& r, float ringRadius, float thickness);

// A button of the overlays, wide enough for its label: max(108, min(166, 7.5 x label bytes + 50)).
float ModalButtonWidth(std::string_view label);
// A row of such buttons, right-aligned at right in index order, 10 apart, from bottom - height to bottom.
std::vector<IRECT> ModalButtonRow(float right, float bottom, float height,
                                  std::span<const std::string> labels);

// One row of a help table: the key or tool name and its description.
struct ReferenceRow {
    const char* key;
    const char* description;
};
enum class ReferenceStyle { Tools = 0, Keys = 1 };

// The cells of a reference grid of count rows inside rect, in row order: 20 of padding, two columns
// with a gutter between them, the first column holding the first half of the rows (rounded up), each
// row as tall as the rows of the first column share, at most 64.
std::vector<IRECT> ReferenceGridCells(const IRECT& rect, int count);
// A well of radius 12 holding the rows with 1-unit dividers between rows and between the columns.
// Keys: the key in the monospaced face in a column min(0.44 x column width, 146) wide, the description
// 10 after it, dimmed. Tools: the name in the semibold face, its description 22 below it, dimmed.
void DrawReferenceGrid(IGraphics& g, const IRECT& rect, std::span<const ReferenceRow> rows,
                       ReferenceStyle style);

} // namespace cv::ui
