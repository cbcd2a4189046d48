#include "ui/help_overlay.h"

#include "ui/ivory/painter_util.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"

#include <algorithm>
#include <chrono>
#include <string>

namespace cv::ui {

using namespace iplug::igraphics;

namespace {

constexpr std::array<ReferenceRow, 6> kTools{{
    {"Main", "Move pitch and timing; double-click to correct pitch"},
    {"Pitch", "Tune by semitone; hold Alt for cents"},
    {"Formant", "Change tone without changing pitch"},
    {"Amp", "Adjust gain; double-click to mute"},
    {"Time", "Move notes; drag the right edge to stretch"},
    {"Mod", "Adjust vibrato; double-click to flatten"},
}};

constexpr std::array<ReferenceRow, 5> kNavigation{{
    {"scroll", "Move vertically through pitches"},
    {"Shift + scroll", "Move horizontally through time"},
    {"Cmd + scroll / pinch", "Zoom time around the pointer"},
    {"Alt + scroll", "Zoom the pitch range"},
    {"Capture", "Stored with this plug-in instance"},
}};

constexpr std::array<ReferenceRow, 8> kShortcuts{{
    {"Space", "Play or stop the DAW"},
    {"Cmd/Ctrl + Z", "Undo; add Shift to redo"},
    {"Cmd/Ctrl + A", "Select all notes"},
    {"S / M", "Split at the playhead or merge"},
    {"Cmd/Ctrl + = / -", "Zoom in or out"},
    {"F", "Fit everything in view"},
    {"Up / Down", "Nudge pitch; hold Alt for cents"},
    {"Cmd/Ctrl + \xE2\x86\x90 / \xE2\x86\x92", "Nudge time; hold Alt for 1 ms"},
}};

const std::vector<std::string>& TabLabels() {
    static const std::vector<std::string> labels(kHelpPageLabels.begin(), kHelpPageLabels.end());
    return labels;
}

} // namespace

std::span<const ReferenceRow> HelpPageRows(int page) {
    switch (page) {
    case 1:
        return kNavigation;
    case 2:
        return kShortcuts;
    default:
        return kTools;
    }
}

ReferenceStyle HelpPageStyle(int page) {
    return page == 0 ? ReferenceStyle::Tools : ReferenceStyle::Keys;
}

HelpOverlay::HelpOverlay(const IRECT& bounds, std::function<bool()> copyDiagnostics)
    : ModalOverlay(bounds), mCopyDiagnostics(std::move(copyDiagnostics)) {
    mPanel = bounds.GetCentredInside(760.f, 450.f);
}

IRECT HelpOverlay::TabBar() const {
    const float top = mPanel.T + kModalHeaderHeight + 16.f;
    return IRECT(mPanel.MW() - 220.f, top, mPanel.MW() + 220.f, top + 36.f);
}

IRECT HelpOverlay::Table() const {
    return IRECT(mPanel.L + 28.f, TabBar().B + 16.f, mPanel.R - 28.f, mPanel.B - 64.f);
}

IRECT HelpOverlay::CopyButton() const {
    return IRECT(mPanel.R - 28.f - 150.f, mPanel.B - 20.f - 28.f, mPanel.R - 28.f, mPanel.B - 20.f);
}

void HelpOverlay::OpenModal() {
    mPage = 0;
    mCopied = false;
    mCopyFailed = false;
    BeginOpen();
}

void HelpOverlay::SetPage(int page) {
    mPage = ((page % 3) + 3) % 3;
    SetDirty(false);
}

const char* HelpOverlay::CopyLabel() const {
    if (mCopied)
        return "Copied";
    return mCopyFailed ? "Couldn't copy" : "Copy diagnostics";
}

void HelpOverlay::CopyDiagnosticsWithFeedback() {
    if (mCopyDiagnostics && mCopyDiagnostics()) {
        mCopied = true;
        mCopyFailed = false;
        mCopiedAt = Now();
    } else {
        mCopyFailed = true;
    }
    SetDirty(false);
}

int HelpOverlay::HitTarget(float x, float y) const {
    const IRECT bar = TabBar();
    if (bar.Contains(x, y))
        return std::clamp(static_cast<int>((x - bar.L) / (bar.W() / 3.f)), 0, 2);
    if (CopyButton().Contains(x, y))
        return kCopy;
    if (ModalCloseButton(mPanel).Contains(x, y))
        return kClose;
    return -1;
}

void HelpOverlay::OnMouseDown(float x, float y, const iplug::IMouseMod&) {
    mFocusVisible = false;
    const int target = HitTarget(x, y);
    PressTarget(target);
    if (!mPanel.Contains(x, y) || target == kClose) {
        CloseModal();
    } else if (target == kCopy) {
        mFocus = kFocusCopy;
        CopyDiagnosticsWithFeedback();
    } else if (target >= kTabFirst && target < kCopy) {
        mFocus = kFocusTabs;
        SetPage(target);
    }
    SetDirty(false);
}

bool HelpOverlay::HandleKey(const iplug::IKeyPress& key) {
    const bool activate = key.VK == iplug::kVK_SPACE || key.VK == iplug::kVK_RETURN;
    if (key.VK == iplug::kVK_TAB) {
        StepFocus(3, key.S);
    } else if (key.VK == iplug::kVK_ESCAPE) {
        CloseModal();
    } else if (mFocus == kFocusTabs && (key.VK == iplug::kVK_LEFT || key.VK == iplug::kVK_RIGHT)) {
        SetPage(mPage + (key.VK == iplug::kVK_LEFT ? -1 : 1));
        mFocusVisible = true;
    } else if (mFocus == kFocusCopy && activate) {
        CopyDiagnosticsWithFeedback();
    } else if (mFocus == kFocusClose && activate) {
        CloseModal();
    }
    return true;
}

bool HelpOverlay::IsDirty() {
    bool dirty = ModalOverlay::IsDirty();
    if (mCopied && Now() - mCopiedAt >= std::chrono::milliseconds(kCopiedMs)) {
        mCopied = false;
        dirty = true;
    }
    return dirty;
}

void HelpOverlay::DrawBody(IGraphics& g, const IRECT& panel) {
    const float dy = panel.T - mPanel.T;
    const IRECT bar = TabBar().GetVShifted(dy);
    ivory::TabsState tabs;
    tabs.selected = mPage;
    if (mHovered >= kTabFirst && mHovered < kCopy) {
        tabs.hovered = mHovered;
        tabs.hoverAmount = mMotion.hover;
    }
    if (mPressed >= kTabFirst && mPressed < kCopy) {
        tabs.pressed = mPressed;
        tabs.pressAmount = mMotion.press;
    }
    ivory::DrawTabs(g, bar, TabLabels(), tabs);
    DrawReferenceGrid(g, Table().GetVShifted(dy), HelpPageRows(mPage), HelpPageStyle(mPage));

    const IRECT copy = CopyButton().GetVShifted(dy);
    const IRECT face = copy.GetVShifted(0.85f * std::min(PressOf(kCopy), 1.f));
    ivory::DrawButtonFace(g, face, 9.f);
    const bool answered = mCopied || mCopyFailed;
    g.DrawText(ivory::Font(ivory::kFontSemiBold, 15.f, answered ? ivory::kAccentHi : ivory::kInk),
               CopyLabel(), face);
    ivory::HoverPress(g, *this, face, 9.f, HoverOf(kCopy), PressOf(kCopy), false);
    if (mFocusVisible) {
        if (mFocus == kFocusTabs)
            DrawFocusRing(g, bar, 13.f, 1.5f);
        else if (mFocus == kFocusCopy)
            DrawFocusRing(g, copy, 11.f, 1.5f);
        else
            DrawFocusRing(g, ModalCloseButton(panel), 11.f, 1.5f);
    }
}

} // namespace cv::ui
