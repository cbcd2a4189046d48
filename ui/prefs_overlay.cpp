#include "ui/prefs_overlay.h"

#include "plugin/update_manifest.h"
#include "ui/editor_tags.h"
#include "ui/ivory/painter_util.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

namespace cv::ui {

using namespace iplug::igraphics;

namespace {

constexpr std::array<int, 4> kIntervalsSec{60, 120, 300, 600};
constexpr float kRowsTop = 102.f;   // below the panel's top
constexpr float kRowsBottom = 76.f; // above the panel's bottom, leaving the footer below the well
constexpr float kFooterBottom = 20.f;
constexpr const char* kUpdatesLabel = "Software updates\xE2\x80\xA6";

bool IsOnOffRow(int row) {
    return row == 2 || row == 4;
}

} // namespace

std::span<const PrefRow> PrefRows() {
    static const std::array<PrefRow, kPrefRowCount> rows{{
        {"Default export format",
         "Default bit depth for WAV exports",
         {"16-bit", "24-bit", "32-bit float"},
         kPrefExportDepthIdx,
         kPrefExportDepthIdxDefault},
        {"Default A4 reference",
         "Default tuning reference for new sessions",
         {"415 Hz", "432 Hz", "435 Hz", "440 Hz", "441 Hz", "442 Hz", "443 Hz", "444 Hz"},
         kPrefA4Idx,
         kPrefA4IdxDefault},
        {"Autosave",
         "Save recovery data while you work",
         {"On", "Off"},
         kPrefAutosaveEnabled,
         kPrefAutosaveEnabledDefault},
        {"Autosave interval",
         "How often recovery data is saved",
         {"1 min", "2 min", "5 min", "10 min"},
         kPrefAutosaveIntervalSec,
         kPrefAutosaveIntervalSecDefault},
        {"Update checks",
         "Ask " + std::string(kUpdateHost) + " for new versions",
         {"Automatic", "Manual"},
         kPrefUpdateChecksEnabled,
         kPrefUpdateChecksEnabledDefault},
    }};
    return rows;
}

int PrefChoiceForStored(int row, int stored) {
    if (row == 3) {
        for (int i = 3; i > 0; --i)
            if (stored == kIntervalsSec[static_cast<std::size_t>(i)])
                return i;
        return 0;
    }
    if (IsOnOffRow(row))
        return stored == 0 ? 1 : 0;
    if (row < 0 || row >= kPrefRowCount)
        return 0;
    const int last = static_cast<int>(PrefRows()[static_cast<std::size_t>(row)].choices.size()) - 1;
    return std::clamp(stored, 0, last);
}

std::optional<int> PrefStoredForChoice(int row, int choice) {
    if (row < 0 || row >= kPrefRowCount)
        return std::nullopt;
    const int count = static_cast<int>(PrefRows()[static_cast<std::size_t>(row)].choices.size());
    if (choice < 0 || choice >= count)
        return std::nullopt;
    if (row == 3)
        return kIntervalsSec[static_cast<std::size_t>(choice)];
    if (IsOnOffRow(row))
        return choice == 0 ? 1 : 0;
    return choice;
}

PrefsOverlay::PrefsOverlay(const IRECT& bounds, Services services)
    : ModalOverlay(bounds), mServices(std::move(services)) {
    mPanel = IRECT(bounds.MW() - 320.f, bounds.MH() - 220.f, bounds.MW() + 320.f, bounds.MH() + 220.f);
}

cv::Prefs& PrefsOverlay::Store() const {
    return mServices.store ? *mServices.store : cv::Prefs::shared();
}

IRECT PrefsOverlay::Dropdown(int row) const {
    const float pitch = (mPanel.H() - kRowsTop - kRowsBottom) * 0.2f;
    const float c = mPanel.T + kRowsTop + (static_cast<float>(row) + 0.5f) * pitch;
    return IRECT(mPanel.R - 214.f, c - 18.f, mPanel.R - 50.f, c + 18.f);
}

IRECT PrefsOverlay::UpdatesButton() const {
    const std::string label = kUpdatesLabel;
    return ModalButtonRow(mPanel.R - 28.f, mPanel.B - kFooterBottom, kButtonHeight, {&label, 1})[0];
}

void PrefsOverlay::OpenModal() {
    mOpenRow = -1;
    BeginOpen();
}

int PrefsOverlay::ShownChoice(int row) const {
    const PrefRow& r = PrefRows()[static_cast<std::size_t>(row)];
    return PrefChoiceForStored(row, Store().getInt(r.key, r.defaultValue));
}

const char* PrefsOverlay::StatusText() const {
    if (mSaveFailed)
        return "Couldn't save";
    return mSaved ? "Saved" : "";
}

void PrefsOverlay::OpenDropdown(int row) {
    if (row < 0 || row >= kPrefRowCount || !GetUI())
        return;
    mMenu = IPopupMenu(PrefRows()[static_cast<std::size_t>(row)].choices, ShownChoice(row));
    mOpenRow = row;
    GetUI()->CreatePopupMenu(this, mMenu, Dropdown(row));
}

void PrefsOverlay::OnPopupMenuSelection(IPopupMenu* menu, int) {
    const int row = std::exchange(mOpenRow, -1);
    if (menu != nullptr)
        Choose(row, menu->GetChosenItemIdx());
    SetDirty(false);
}

void PrefsOverlay::Choose(int row, int choice) {
    const std::optional<int> value = PrefStoredForChoice(row, choice);
    const PrefRow* r = value ? &PrefRows()[static_cast<std::size_t>(row)] : nullptr;
    if (r != nullptr && Store().set(r->key, std::to_string(*value))) {
        mSaved = true;
        mSaveFailed = false;
        mSavedAt = Now();
        if (row == 4 && mServices.updateChecksChanged)
            mServices.updateChecksChanged(*value == 1);
    } else {
        mSaved = false;
        mSaveFailed = true;
    }
    SetDirty(false);
}

void PrefsOverlay::OpenSoftwareUpdates() {
    CloseModal();
    // Attached above this overlay and first in the key handler's order, it takes the pointer and the
    // keys while this one fades out.
    if (auto* updates = FindSeam<ModalSeam>(GetUI(), kTagUpdates))
        updates->OpenModal();
}

int PrefsOverlay::HitTarget(float x, float y) const {
    for (int row = 0; row < kPrefRowCount; ++row)
        if (Dropdown(row).Contains(x, y))
            return row;
    if (UpdatesButton().Contains(x, y))
        return kUpdates;
    return ModalCloseButton(mPanel).Contains(x, y) ? kClose : -1;
}

void PrefsOverlay::OnMouseDown(float x, float y, const iplug::IMouseMod&) {
    mFocusVisible = false;
    const int target = HitTarget(x, y);
    PressTarget(target);
    if (!mPanel.Contains(x, y) || target == kClose)
        CloseModal();
    else if (target == kUpdates)
        OpenSoftwareUpdates();
    else if (target >= 0)
        OpenDropdown(target);
    SetDirty(false);
}

bool PrefsOverlay::HandleKey(const iplug::IKeyPress& key) {
    switch (key.VK) {
    case iplug::kVK_ESCAPE:
        CloseModal();
        break;
    case iplug::kVK_TAB:
        StepFocus(kClose + 1, key.S);
        break;
    case iplug::kVK_UP:
    case iplug::kVK_DOWN:
        StepFocus(kClose + 1, key.VK == iplug::kVK_UP);
        break;
    case iplug::kVK_RETURN:
    case iplug::kVK_SPACE:
        if (mFocus == kClose)
            CloseModal();
        else if (mFocus == kUpdates)
            OpenSoftwareUpdates();
        else
            OpenDropdown(mFocus);
        break;
    default:
        break;
    }
    return true;
}

bool PrefsOverlay::IsDirty() {
    bool dirty = ModalOverlay::IsDirty();
    if (mSaved && Now() - mSavedAt >= std::chrono::milliseconds(kSavedMs)) {
        mSaved = false;
        dirty = true;
    }
    return dirty;
}

void PrefsOverlay::DrawBody(IGraphics& g, const IRECT& panel) {
    const float dy = panel.T - mPanel.T;
    ivory::DrawWell(
        g, IRECT(panel.L + 28.f, panel.T + kRowsTop - 8.f, panel.R - 28.f, panel.B - kRowsBottom + 8.f),
        12.f);
    const IText label = ivory::Font(ivory::kFontSemiBold, 17.f, ivory::kInk, EAlign::Near);
    const IText description = ivory::Font(ivory::kFontRegular, 14.f, ivory::kDim, EAlign::Near);
    const IText value = ivory::Font(ivory::kFontSemiBold, 16.f, ivory::kInk, EAlign::Near);
    for (int row = 0; row < kPrefRowCount; ++row) {
        const PrefRow& r = PrefRows()[static_cast<std::size_t>(row)];
        const IRECT field = Dropdown(row).GetVShifted(dy);
        const float c = field.MH();
        g.DrawText(label, r.label.c_str(), IRECT(panel.L + 48.f, c - 20.f, field.L - 16.f, c - 1.f));
        g.DrawText(description, r.description.c_str(),
                   IRECT(panel.L + 48.f, c + 1.f, field.L - 16.f, c + 20.f));
        const IRECT face = field.GetVShifted(0.85f * std::min(PressOf(row), 1.f));
        ivory::DrawWell(g, face, 9.f);
        const std::string& shown = r.choices[static_cast<std::size_t>(ShownChoice(row))];
        g.DrawText(value, shown.c_str(), IRECT(face.L + 14.f, face.T, face.R - 30.f, face.B));
        // A small chevron says the field opens a menu.
        const float cx = face.R - 17.f, cy = face.MH();
        g.DrawLine(ivory::kDim, cx - 4.f, cy - 2.f, cx, cy + 2.f, nullptr, 1.5f);
        g.DrawLine(ivory::kDim, cx, cy + 2.f, cx + 4.f, cy - 2.f, nullptr, 1.5f);
        ivory::HoverPress(g, *this, face, 9.f, HoverOf(row), PressOf(row), false);
    }
    const IRECT updates = UpdatesButton().GetVShifted(dy);
    const IRECT updatesFace = updates.GetVShifted(0.85f * std::min(PressOf(kUpdates), 1.f));
    ivory::DrawButtonFace(g, updatesFace, 9.f);
    g.DrawText(ivory::Font(ivory::kFontSemiBold, 16.f, ivory::kInk), kUpdatesLabel, updatesFace);
    ivory::HoverPress(g, *this, updatesFace, 9.f, HoverOf(kUpdates), PressOf(kUpdates), false);
    if (mFocusVisible) {
        const IRECT focused = mFocus == kClose     ? ModalCloseButton(panel)
                              : mFocus == kUpdates ? updates
                                                   : Dropdown(mFocus).GetVShifted(dy);
        DrawFocusRing(g, focused, mFocus == kUpdates ? 11.f : 9.f, 1.5f);
    }
    const IRECT close = ModalCloseButton(panel);
    g.DrawText(ivory::Font(ivory::kFontSemiBold, 15.f, ivory::kAccentHi, EAlign::Far), StatusText(),
               IRECT(close.L - 220.f, close.T, close.L - 16.f, close.B));
}

} // namespace cv::ui
