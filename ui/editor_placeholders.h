#pragma once

// Stand-ins for the controls the layout reserves tags for before they exist: the inspector (13), the notice
// line (17) and the overlays (9, 10, 12, 18). Each draws its area plainly and keeps just enough state for its
// seam, so the editor, the plug-in and the tests run against it.

#include "framework/graphics/icontrol.h"
#include "ui/editor_seams.h"

#include <string>
#include <vector>

namespace cv::ui {

// The inspector's panel, empty.
class InspectorPlaceholder : public iplug::igraphics::IControl {
public:
    explicit InspectorPlaceholder(const iplug::igraphics::IRECT& bounds);
    void Draw(iplug::igraphics::IGraphics& g) override;
};

// The notice line: one notice at a time, shown at once; a timed one hides when its time is up.
class NoticePlaceholder : public iplug::igraphics::IControl, public NoticeSeam {
public:
    explicit NoticePlaceholder(const iplug::igraphics::IRECT& bounds);
    void Draw(iplug::igraphics::IGraphics& g) override;
    void OnMouseDown(float x, float y, const iplug::IMouseMod& mod) override;

    void Show(const char* text, NoticeKind kind, int durationMs) override;
    void ShowProgress(const char* text, float fraction, bool cancellable) override;
    void Dismiss() override;
    std::optional<NoticeKind> ShownKind() const override;
    const std::string& Text() const { return mText; }

private:
    std::string mText;
    NoticeKind mKind = NoticeKind::Status;
    float mFraction = -1.f;
};

// A modal overlay: a dimmed backdrop and a panel with a title; any click closes it.
class OverlayPlaceholder : public iplug::igraphics::IControl, public ModalSeam, public ConfirmSeam {
public:
    OverlayPlaceholder(const iplug::igraphics::IRECT& bounds, std::string title);
    void Draw(iplug::igraphics::IGraphics& g) override;
    void OnMouseDown(float x, float y, const iplug::IMouseMod& mod) override;

    void OpenModal() override;
    void OpenModal(const std::string& title, const std::string& message,
                   const std::vector<std::string>& buttons, int cancelIndex,
                   std::function<void(int)> onResult) override;

private:
    std::string mTitle;
    std::string mMessage;
    int mCancelIndex = 0;
    std::function<void(int)> mOnResult;
};

} // namespace cv::ui
