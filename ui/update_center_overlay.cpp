#include "ui/update_center_overlay.h"

#include "plugin/diagnostics.h"
#include "ui/ivory/painter_util.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"

#include <algorithm>

namespace cv::ui {

using namespace iplug::igraphics;

namespace {

const UpdateCheckResult& NoResult() {
    static const UpdateCheckResult none;
    return none;
}

} // namespace

UpdateCenterModel UpdateModelFor(UpdateCheckFlow& flow) {
    UpdateCenterModel m;
    m.status = [&flow] { return flow.statusWord(); };
    m.result = [&flow]() -> const UpdateCheckResult& { return flow.lastResult(); };
    m.checkForUpdates = [&flow] { flow.check(true, kProductVersion); };
    m.dismissTransient = [&flow] { flow.dismissTransient(); };
    return m;
}

UpdatePage UpdatePageFor(UpdateStatusWord status, const UpdateCheckResult& result) {
    const std::string version = kProductVersion;
    UpdatePage p;
    p.page = static_cast<int>(status) + 3;
    switch (status) {
    case UpdateStatusWord::Checking:
        p.headline = "Checking for updates\xE2\x80\xA6";
        p.detail = "Corvalinth sends only the installed version number.";
        p.statusLine = "Checking " + std::string(kUpdateHost) + "\xE2\x80\xA6";
        p.buttons = {"Checking\xE2\x80\xA6"};
        break;
    case UpdateStatusWord::UpToDate:
        p.headline = "You're up to date";
        p.detail = "Version " + version + " is installed.";
        p.statusLine = "Up to date";
        p.buttons = {"Check for updates", "Close"};
        break;
    case UpdateStatusWord::UpdateAvailable:
        p.headline =
            "Corvalinth " + (result.version.empty() ? std::string("update") : result.version) + " is ready";
        p.detail = "Download and run the installer. It keeps your settings and projects.";
        p.statusLine = "A signed installer is ready to download";
        p.buttons = {"Download update", "Release notes", "Not now"};
        break;
    case UpdateStatusWord::Error:
        p.headline = "Couldn't check for updates";
        p.detail = "Check your internet connection and try again.";
        p.note = result.message;
        p.statusLine = "Update check failed";
        p.buttons = {"Try again", "Close"};
        break;
    case UpdateStatusWord::Nothing:
    default:
        p.page = 3;
        p.headline = "Is there a newer Corvalinth?";
        p.detail = "Ask the update service; only the installed version number is sent.";
        p.statusLine = "Version " + version + " installed";
        p.buttons = {"Check for updates", "Close"};
        break;
    }
    return p;
}

UpdateCenterOverlay::UpdateCenterOverlay(const IRECT& bounds, UpdateCenterModel model)
    : ModalOverlay(bounds), mModel(std::move(model)) {
    mPanel = bounds.GetCentredInside(620.f, 440.f);
}

UpdateStatusWord UpdateCenterOverlay::Status() const {
    return mModel.status ? mModel.status() : UpdateStatusWord::Nothing;
}

UpdatePage UpdateCenterOverlay::CurrentPage() const {
    return UpdatePageFor(Status(), mModel.result ? mModel.result() : NoResult());
}

void UpdateCenterOverlay::OpenModal() {
    mStatusText.clear();
    BeginOpen();
}

void UpdateCenterOverlay::OnClosed() {
    if (mModel.dismissTransient)
        mModel.dismissTransient();
}

void UpdateCenterOverlay::Open(const std::string& address, const char* fallback) {
    const std::string url = address.empty() ? fallback : address;
    if (GetUI() == nullptr || !GetUI()->OpenURL(url))
        mStatusText = "Couldn't open the browser";
    SetDirty(false);
}

void UpdateCenterOverlay::RunAction(int button, int page) {
    const UpdateCheckResult& result = mModel.result ? mModel.result() : NoResult();
    auto check = [this] {
        if (mModel.checkForUpdates)
            mModel.checkForUpdates();
        mFocus = 0;
        SetDirty(false);
    };
    switch (page) {
    case 3: // idle: "Check for updates", "Close"
    case 5: // up to date: the same
    case 7: // failed: "Try again", "Close"
        if (button == 0)
            check();
        else if (button == 1)
            CloseModal();
        break;
    case 6:
        if (button == 0)
            Open(result.downloadUrl, kMakerDownloadUrl);
        else if (button == 1)
            Open(result.releaseNotesUrl, kMakerChangelogUrl);
        else if (button == 2)
            CloseModal();
        break;
    default: // 4: "Checking…" starts nothing more
        break;
    }
}

IRECT UpdateCenterOverlay::ButtonRect(int index) const {
    const std::vector<std::string> labels = CurrentPage().buttons;
    if (index < 0 || index >= static_cast<int>(labels.size()))
        return {};
    return ModalButtonRow(mPanel.R - 28.f, mPanel.B - 28.f, kButtonHeight,
                          labels)[static_cast<std::size_t>(index)];
}

int UpdateCenterOverlay::HitTarget(float x, float y) const {
    for (int i = 0; i < 3; ++i)
        if (ButtonRect(i).Contains(x, y))
            return i;
    return ModalCloseButton(mPanel).Contains(x, y) ? kClose : -1;
}

void UpdateCenterOverlay::OnMouseDown(float x, float y, const iplug::IMouseMod&) {
    mFocusVisible = false;
    const int target = HitTarget(x, y);
    PressTarget(target);
    if (!mPanel.Contains(x, y) || target == kClose)
        CloseModal();
    else if (target >= 0)
        RunAction(target, CurrentPage().page);
    SetDirty(false);
}

bool UpdateCenterOverlay::HandleKey(const iplug::IKeyPress& key) {
    if (key.VK == iplug::kVK_ESCAPE) {
        CloseModal();
        return true;
    }
    const UpdatePage page = CurrentPage();
    const int last = static_cast<int>(page.buttons.size()); // the close button's focus place
    if (key.VK == iplug::kVK_TAB) {
        StepFocus(last + 1, key.S);
    } else if (key.VK == iplug::kVK_SPACE || key.VK == iplug::kVK_RETURN) {
        if (page.page == 4 || mFocus >= last)
            CloseModal();
        else
            RunAction(mFocus, page.page);
    }
    return true;
}

bool UpdateCenterOverlay::IsDirty() {
    const bool dirty = ModalOverlay::IsDirty();
    const UpdateStatusWord status = Status();
    if (status == mDrawnStatus || IsHidden())
        return dirty;
    mDrawnStatus = status;
    return true;
}

void UpdateCenterOverlay::DrawBody(IGraphics& g, const IRECT& panel) {
    const float dy = panel.T - mPanel.T;
    const UpdatePage page = CurrentPage();
    const IRECT hero(panel.L + 28.f, panel.T + 100.f, panel.R - 28.f, panel.T + 270.f);
    ivory::DrawWell(g, hero, 12.f);
    g.DrawText(ivory::Font(ivory::kFontSemiBold, 24.f, ivory::kInk), page.headline.c_str(),
               IRECT(hero.L + 20.f, hero.T + 36.f, hero.R - 20.f, hero.T + 76.f));
    g.DrawText(ivory::Font(ivory::kFontRegular, 15.f, ivory::kDim), page.detail.c_str(),
               IRECT(hero.L + 20.f, hero.T + 84.f, hero.R - 20.f, hero.T + 108.f));
    if (!page.note.empty())
        g.DrawText(ivory::Font(ivory::kFontRegular, 14.f, ivory::kFaint), page.note.c_str(),
                   IRECT(hero.L + 20.f, hero.T + 112.f, hero.R - 20.f, hero.T + 134.f));

    const IRECT status(panel.L + 28.f, hero.B + 14.f, panel.R - 28.f, hero.B + 62.f);
    ivory::DrawWell(g, status, 3.5f);
    g.DrawText(ivory::Font(ivory::kFontSemiBold, 15.f, ivory::kInk, EAlign::Near), "Software updates",
               status.GetPadded(-16.f, 0.f, -16.f, 0.f));
    const std::string& statusLine = mStatusText.empty() ? page.statusLine : mStatusText;
    g.DrawText(ivory::Font(ivory::kFontRegular, 14.f, ivory::kDim, EAlign::Far), statusLine.c_str(),
               status.GetPadded(-16.f, 0.f, -16.f, 0.f));

    for (int i = 0; i < static_cast<int>(page.buttons.size()); ++i) {
        const IRECT r = ButtonRect(i).GetVShifted(dy);
        const IRECT face = r.GetVShifted(0.85f * std::min(PressOf(i), 1.f));
        ivory::DrawButtonFace(g, face, 9.f);
        const bool inert = page.page == 4;
        g.DrawText(ivory::Font(ivory::kFontSemiBold, 16.f, inert ? ivory::kFaint : ivory::kInk),
                   page.buttons[static_cast<std::size_t>(i)].c_str(), face);
        if (!inert)
            ivory::HoverPress(g, *this, face, 9.f, HoverOf(i), PressOf(i), false);
        if (mFocusVisible && i == mFocus)
            DrawFocusRing(g, r, 11.f, 1.5f);
    }
    if (mFocusVisible && mFocus >= static_cast<int>(page.buttons.size()))
        DrawFocusRing(g, ModalCloseButton(panel), 11.f, 1.5f);
}

} // namespace cv::ui
