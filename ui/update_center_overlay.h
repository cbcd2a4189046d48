#pragma once

// UpdateCenterOverlay (tag 12): where the user asks whether a newer version exists and, when one does,
// opens its download or release notes in the browser. No check runs by itself: only this overlay's
// buttons start one. The page follows the update status word, so it turns by itself while a check runs.
// The header has no control for it: the preferences overlay's "Software updates…" opens it. Main thread.

#include "framework/graphics/input.h"
#include "plugin/update_status.h"
#include "ui/editor_seams.h"
#include "ui/modal_overlay.h"

#include <functional>
#include <string>
#include <vector>

namespace cv::ui {

// What the overlay reads and runs of the plug-in's update check; an empty member reads as nothing to show
// or does nothing.
struct UpdateCenterModel {
    std::function<UpdateStatusWord()> status;
    std::function<const UpdateCheckResult&()> result;
    std::function<void()> checkForUpdates;  // a check the user asked for
    std::function<void()> dismissTransient; // "up to date" and "failed" go back to nothing to show
};
// The model over an update check flow (which must outlive it), checking this build's version.
UpdateCenterModel UpdateModelFor(UpdateCheckFlow& flow);

// Where "Download update" and "Release notes" go when the manifest gave no address: the maker's pages.
inline constexpr const char* kMakerDownloadUrl = "https://corvalinth.com/download";
inline constexpr const char* kMakerChangelogUrl = "https://corvalinth.com/changelog";

// A page's texts and buttons (in index order).
struct UpdatePage {
    int page = 3; // 3 idle, else the status word + 3: 4 checking, 5 up to date, 6 available, 7 failed
    std::string headline;
    std::string detail;
    std::string note; // the check's own sentence on the failed page, else empty
    std::string statusLine;
    std::vector<std::string> buttons;
};
UpdatePage UpdatePageFor(UpdateStatusWord status, const UpdateCheckResult& result);

class UpdateCenterOverlay : public ModalOverlay, public ModalSeam {
public:
    static constexpr int kClose = 4; // the close button's target
    static constexpr float kButtonHeight = 36.f;

    UpdateCenterOverlay(const IRECT& bounds, UpdateCenterModel model);

    // Clears the status text, resets focus, hover and press, shows the overlay and fades it in.
    void OpenModal() override;
    // Runs a button of a page: "Check for updates" and "Try again" start a check the user asked for;
    // "Close" and "Not now" close; "Download update" and "Release notes" open the manifest's address, or
    // the maker's page without one. "Checking…" and an index outside the page do nothing.
    void RunAction(int button, int page);

    // 0..2 a button of the current page, 4 the close button, -1 nothing.
    int HitTarget(float x, float y) const override;
    void OnMouseDown(float x, float y, const iplug::IMouseMod& mod) override;
    // Every key is consumed (true). Escape closes. Tab moves the focus forward over the page's buttons
    // and the close button (their count L + 1), Shift+Tab back; Space and Enter close on the checking
    // page or on the close button, and otherwise run the focused button.
    bool HandleKey(const iplug::IKeyPress& key) override;
    // Also true when the status word changed since the last draw: the page turns by itself.
    bool IsDirty() override;

    UpdatePage CurrentPage() const;
    // What the overlay says beside the page, such as a link the browser could not open; empty for none.
    const std::string& StatusText() const { return mStatusText; }
    IRECT ButtonRect(int index) const;

private:
    std::string_view Title() const override { return "Check for updates"; }
    std::string_view Subtitle() const override { return "Corvalinth checks only when you ask"; }
    int CloseTarget() const override { return kClose; }
    void DrawBody(IGraphics& g, const IRECT& panel) override;
    void OnClosed() override;
    UpdateStatusWord Status() const;
    void Open(const std::string& address, const char* fallback);

    UpdateCenterModel mModel;
    std::string mStatusText;
    UpdateStatusWord mDrawnStatus = UpdateStatusWord::Nothing;
};

} // namespace cv::ui
