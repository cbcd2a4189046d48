#pragma once

// HelpOverlay (tag 9): three pages of reference tables ("Editing tools", "Navigation", "Shortcuts") and
// "Copy diagnostics", which puts the plug-in's diagnostics report on the clipboard and answers "Copied"
// for 1.8 s or "Couldn't copy" until the overlay opens again. Main thread.

#include "framework/graphics/input.h"
#include "ui/editor_seams.h"
#include "ui/modal_overlay.h"

#include <array>
#include <functional>
#include <span>

namespace cv::ui {

inline constexpr std::array<const char*, 3> kHelpPageLabels{"Editing tools", "Navigation", "Shortcuts"};
// The rows of a page (0..2) and the style it is drawn in.
std::span<const ReferenceRow> HelpPageRows(int page);
ReferenceStyle HelpPageStyle(int page);

class HelpOverlay : public ModalOverlay, public ModalSeam {
public:
    // Targets of HitTarget.
    enum Target : int { kTabFirst = 0, kCopy = 3, kClose = 4 };
    // Keyboard focus places.
    enum Focus : int { kFocusTabs = 0, kFocusCopy = 1, kFocusClose = 2 };
    static constexpr int kCopiedMs = 1800;

    // copyDiagnostics: puts the report on the clipboard; false when it could not (the plug-in's
    // CopyDiagnostics). An empty one always fails.
    HelpOverlay(const IRECT& bounds, std::function<bool()> copyDiagnostics);

    // Shows page 0 with both copy answers cleared and fades in over 120 ms.
    void OpenModal() override;
    void CopyDiagnosticsWithFeedback();
    int HitTarget(float x, float y) const override;
    void OnMouseDown(float x, float y, const iplug::IMouseMod& mod) override;
    // The key handler's turn while help shows; every key is consumed (true). Tab moves the focus over
    // the tabs, "Copy diagnostics" and the close button (back with Shift); Escape closes; on the tabs Left
    // and Right turn the page with wrap-around; Space or Enter copies on "Copy diagnostics" and closes on
    // the close button.
    bool HandleKey(const iplug::IKeyPress& key) override;
    bool IsDirty() override;

    int Page() const { return mPage; }
    void SetPage(int page);
    // "Copied", "Couldn't copy" or "Copy diagnostics".
    const char* CopyLabel() const;
    IRECT TabBar() const;
    IRECT Table() const;
    IRECT CopyButton() const;

private:
    std::string_view Title() const override { return "Help"; }
    std::string_view Subtitle() const override { return "Tools, navigation, and shortcuts"; }
    int CloseTarget() const override { return kClose; }
    void DrawBody(IGraphics& g, const IRECT& panel) override;

    std::function<bool()> mCopyDiagnostics;
    int mPage = 0;
    bool mCopied = false;
    bool mCopyFailed = false;
    TimePoint mCopiedAt{};
};

} // namespace cv::ui
