#pragma once

// ConfirmOverlay (tag 18): the question with buttons that the plug-in's commands ask before destructive
// steps ("Clear capture?" with "Clear capture" and "Cancel", cancel index 1). It shows and hides at once
// with its backdrop at full strength. The result callback is taken out when the dialog resolves, so it
// runs exactly once. Callers put the destructive choice at 0; the dialog opens with the keyboard focus
// on the cancel choice, and Space (the host's play key) does not answer it. Main thread.

#include "framework/graphics/input.h"
#include "ui/editor_seams.h"
#include "ui/modal_overlay.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace cv::ui {

// The cancel index within the buttons: 0..max(count, 1) - 1.
int ClampCancelIndex(int buttonCount, int cancelIndex);

class ConfirmOverlay : public ModalOverlay, public ConfirmSeam {
public:
    static constexpr float kPanelWidth = 620.f;
    static constexpr float kPanelHeight = 260.f;
    static constexpr float kButtonHeight = 40.f;

    explicit ConfirmOverlay(const IRECT& bounds);

    // Shows the question at once; the callback replaces any earlier one; focus on the cancel choice,
    // shown.
    void OpenModal(const std::string& title, const std::string& message,
                   const std::vector<std::string>& buttons, int cancelIndex,
                   std::function<void(int)> onResult) override;
    // While visible: hides the overlay, takes the callback out and calls it with index. Nothing while
    // hidden, so a second answer is dropped.
    void Resolve(int index);
    // Answers with the cancel choice.
    void CloseModal() override { Resolve(mCancelIndex); }

    // A button's index, the button count for the close button, -1 for nothing.
    int HitTarget(float x, float y) const override;
    // Outside the panel or on the close button: the cancel choice; on a button: that button.
    void OnMouseDown(float x, float y, const iplug::IMouseMod& mod) override;
    // The key handler's turn while the dialog shows; every key is consumed (true). Escape answers with
    // the cancel choice; Tab, Left and Right move the focus with wrap-around (back with Shift or Left);
    // Enter answers with the focused button.
    bool HandleKey(const iplug::IKeyPress& key) override;

    int CancelIndex() const { return mCancelIndex; }
    const std::vector<std::string>& Buttons() const { return mButtons; }
    const std::string& Message() const { return mMessage; }
    // Buttons along the bottom, right-aligned in index order, each ModalButtonWidth wide, 10 apart.
    IRECT ButtonRect(int index) const;

private:
    std::string_view Title() const override { return mTitle; }
    std::string_view Subtitle() const override { return {}; }
    int CloseTarget() const override { return static_cast<int>(mButtons.size()); }
    void DrawBody(IGraphics& g, const IRECT& panel) override;

    std::string mTitle;
    std::string mMessage;
    std::vector<std::string> mButtons;
    int mCancelIndex = 0;
    std::function<void(int)> mOnResult;
};

} // namespace cv::ui
