#pragma once

// PrefsOverlay (tag 10): the five user preferences as rows with a drop-down each, and in its footer the
// way to the software-updates overlay (tag 12). A choice is written at once to the preferences store;
// "Saved" shows for 10 s after a write, "Couldn't save" after a failed one until the next write
// succeeds. Keyboard focus runs over the five drop-downs, the footer's button and the close button.
// Main thread.

#include "framework/graphics/input.h"
#include "framework/graphics/popup_menu.h"
#include "plugin/prefs.h"
#include "ui/editor_seams.h"
#include "ui/modal_overlay.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cv::ui {

// One preference row: its texts, its choices, the store's key and the stored value's default.
struct PrefRow {
    std::string label;
    std::string description;
    std::vector<std::string> choices;
    const char* key;
    int defaultValue;
};
inline constexpr int kPrefRowCount = 5;
// Export format, A4 reference, autosave, autosave interval, update checks.
std::span<const PrefRow> PrefRows();
// The choice shown for a stored value: indexes clamped (rows 0 and 1); 600, 300 and 120 s show
// "10 min", "5 min", "2 min" and anything else "1 min" (row 3); 0 the second choice and anything else
// the first (rows 2 and 4).
int PrefChoiceForStored(int row, int stored);
// The value a choice stores: the index (rows 0, 1), 1 or 0 (rows 2, 4), 60/120/300/600 (row 3); empty
// for a row or choice out of range.
std::optional<int> PrefStoredForChoice(int row, int choice);

class PrefsOverlay : public ModalOverlay, public ModalSeam {
public:
    static constexpr int kUpdates = 5; // target and focus place of "Software updates…"
    static constexpr int kClose = 6;   // target and focus place of the close button
    static constexpr int kSavedMs = 10000;
    static constexpr float kButtonHeight = 36.f;

    struct Services {
        cv::Prefs* store = nullptr;                    // null: the process-wide store, at first use
        std::function<void(bool)> updateChecksChanged; // the plug-in's copy, after a successful write
    };

    PrefsOverlay(const IRECT& bounds, Services services);

    // Drops any running fade, clears hover, press, focus and the open menu, shows the overlay on its
    // 640 x 440 panel and fades it in over 120 ms.
    void OpenModal() override;
    // Opens the row's menu (its choices, the current one checked) at its drop-down.
    void OpenDropdown(int row);
    // Writes the row's value for the choice; shows "Saved" or "Couldn't save".
    void Choose(int row, int choice);
    // Closes this overlay and opens the software-updates overlay of the same editor, which then has the
    // keyboard; only the closing without one.
    void OpenSoftwareUpdates();

    // 0..4 a row's drop-down, 5 "Software updates…", 6 the close button, -1 nothing.
    int HitTarget(float x, float y) const override;
    void OnMouseDown(float x, float y, const iplug::IMouseMod& mod) override;
    void OnPopupMenuSelection(iplug::igraphics::IPopupMenu* menu, int valIdx) override;
    // Every key is consumed (true). Tab and Down move the focus forward, Shift+Tab and Up back, over the
    // seven places with wrap-around; Enter or Space opens the focused row's menu, opens the software
    // updates on their button, or closes on the close button; Escape closes.
    bool HandleKey(const iplug::IKeyPress& key) override;
    bool IsDirty() override;

    // The choice a row shows now, from the store.
    int ShownChoice(int row) const;
    // "Saved", "Couldn't save" or empty.
    const char* StatusText() const;
    int OpenRow() const { return mOpenRow; }
    IRECT Dropdown(int row) const;
    // The footer's "Software updates…" button, right-aligned with the rows' well.
    IRECT UpdatesButton() const;

private:
    std::string_view Title() const override { return "Preferences"; }
    std::string_view Subtitle() const override { return "Defaults for new sessions, recovery, and updates"; }
    int CloseTarget() const override { return kClose; }
    void DrawBody(IGraphics& g, const IRECT& panel) override;
    cv::Prefs& Store() const;

    Services mServices;
    int mOpenRow = -1;
    iplug::igraphics::IPopupMenu mMenu;
    bool mSaved = false;
    bool mSaveFailed = false;
    TimePoint mSavedAt{};
};

} // namespace cv::ui
