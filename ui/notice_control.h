#pragma once

// NoticeControl (tag 17): the single line through which the system tells the user what happened. It
// draws the NoticeLine state machine on the graphics context's clock: a recessed box with the kind's
// badge, the message, a close mark "×" (status, success, warning, error) or "Cancel" (a cancellable
// progress notice) at the right, and a progress bar along the bottom. The box fades and rises into
// place. Main thread.

#include "framework/graphics/icontrol.h"
#include "ui/editor_seams.h"
#include "ui/ivory/interaction_motion.h"
#include "ui/notice_line.h"

#include <functional>
#include <string>

namespace cv::ui {

class NoticeControl : public iplug::igraphics::IControl, public NoticeSeam {
public:
    using Kind = NoticeKind;

    static constexpr float kCloseWidth = 30.f;
    static constexpr float kCancelWidth = 63.36f;
    static constexpr float kRightInset = 14.f;

    // cancelBackgroundWork: what "Cancel" on a progress notice runs (the plug-in's cancel action).
    NoticeControl(const iplug::igraphics::IRECT& bounds, std::function<void()> cancelBackgroundWork);

    // NoticeSeam
    void Show(const char* text, NoticeKind kind, int durationMs) override;
    void ShowProgress(const char* text, float fraction, bool cancellable) override;
    void Dismiss() override;
    std::optional<NoticeKind> ShownKind() const override { return mLine.ShownKind(); }

    void OnMouseDown(float x, float y, const iplug::IMouseMod& mod) override;
    void OnMouseOver(float x, float y, const iplug::IMouseMod& mod) override;
    void OnMouseOut() override;
    void Draw(iplug::igraphics::IGraphics& g) override;
    // Advances the line (a timed notice ending shows the waiting one or hides the control) and the hover
    // and press motion; true while the line's opacity moves away from the one drawn last, or the motion
    // runs.
    bool IsDirty() override;

    const NoticeLine& Line() const { return mLine; }
    // The close mark's area for kinds 0..3, the "Cancel" area for a cancellable progress notice, else
    // empty; in the control's place (the drawn box may sit lower while it fades).
    iplug::igraphics::IRECT ActionArea() const;
    // What that area shows: the close mark "×", "Cancel", or null when there is no area.
    const char* ActionLabel() const;
    // Where the message is drawn, between the badge and the action area; in the control's place.
    iplug::igraphics::IRECT MessageArea() const;
    // The message as the last Draw drew it: the whole text, or as much of it as fits, ending with "…"
    // after a whole word, when the whole text, also the control's tooltip then, does not fit.
    const std::string& DrawnMessage() const { return mDrawnMessage; }

private:
    iplug::igraphics::TimePoint Now() const;
    // Shows or hides the control to match the line and redraws.
    void Sync();
    // Shows or hides the control to match the line; hidden, it forgets its tooltip and fitted message.
    void ShowOrHide();

    NoticeLine mLine;
    std::function<void()> mCancel;
    bool mHover = false;
    ivory::InteractionMotion mMotion;
    float mDrawnOpacity = -1.f; // the line's opacity at the last Draw; none before the first
    // The message as drawn: the notice's text, shortened with "…" when wider than its place; refitted
    // when the text or the width changes.
    std::string mDrawnMessage;
    std::string mFittedText;
    float mFittedWidth = -1.f;
};

} // namespace cv::ui
