#pragma once

// The empty editor with the overlays given test services: a stand-in update check whose status and
// result the test sets, a private preferences store, and a diagnostics copy through the driver's clipboard.

#include "tests/ui/editor_fixture.h"
#include "ui/confirm_overlay.h"
#include "ui/editor_tags.h"
#include "ui/help_overlay.h"
#include "ui/prefs_overlay.h"
#include "ui/update_center_overlay.h"

#include <memory>

// The update check as the overlay sees it: the test sets the status word and result and counts the
// checks and dismissals the overlay asks for.
struct StandInUpdates {
    cv::UpdateStatusWord status = cv::UpdateStatusWord::Nothing;
    cv::UpdateCheckResult result;
    int checks = 0;
    int dismissals = 0;
    cv::ui::UpdateCenterModel Model() {
        return {[this] { return status; }, [this]() -> const cv::UpdateCheckResult& { return result; },
                [this] {
                    ++checks;
                    status = cv::UpdateStatusWord::Checking;
                },
                [this] {
                    ++dismissals;
                    if (status == cv::UpdateStatusWord::UpToDate || status == cv::UpdateStatusWord::Error)
                        status = cv::UpdateStatusWord::Nothing;
                }};
    }
};

struct OverlayFixture : EditorFixture {
    StandInUpdates updates;
    cv::ui::HelpOverlay* help = nullptr;
    cv::ui::PrefsOverlay* prefsOverlay = nullptr;
    cv::ui::UpdateCenterOverlay* updateCenter = nullptr;
    cv::ui::ConfirmOverlay* confirm = nullptr;

    OverlayFixture() {
        using namespace cv::ui;
        const iplug::igraphics::IRECT whole(0, 0, 1280, 816);
        // Replaced in the layout's order, so the confirmation stays on top.
        help = Replace(kTagHelp, std::make_unique<HelpOverlay>(
                                     whole, [this] { return g->SetTextInClipboard("Corvalinth 1.0.0\n"); }));
        prefsOverlay =
            Replace(kTagPrefs, std::make_unique<PrefsOverlay>(whole, PrefsOverlay::Services{&prefs, {}}));
        updateCenter = Replace(kTagUpdates, std::make_unique<UpdateCenterOverlay>(whole, updates.Model()));
        confirm = Replace(kTagConfirm, std::make_unique<ConfirmOverlay>(whole));
    }
    template <class T>
    T* Replace(int tag, std::unique_ptr<T> control) {
        g->RemoveControl(Tagged(tag));
        return g->AttachControl(std::move(control), tag);
    }
};
