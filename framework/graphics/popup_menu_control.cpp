#include "framework/graphics/popup_menu_control.h"

#include <algorithm>

namespace iplug::igraphics {
namespace {

constexpr float kPad = 6.f;         // inside the panel
constexpr float kCheckWidth = 20.f; // column for the check mark
constexpr float kSeparatorHeight = 9.f;

} // namespace

IPopupMenuControl::IPopupMenuControl(const IText& text, const IRECT& menuBounds)
    : IControl(IRECT()), mText(text), mMenuBounds(menuBounds) {
    Hide(true);
}

void IPopupMenuControl::Open(IControl* caller, IPopupMenu& menu, const IRECT& anchor) {
    IGraphics* ui = GetUI();
    if (!ui)
        return;
    mMenu = &menu;
    mCaller = caller;
    menu.SetChosenItemIdx(-1);
    const IRECT area = mMenuBounds.Empty() ? ui->GetBounds() : mMenuBounds;
    const float itemH = std::max(mText.mSize * 1.8f, 12.f);
    float width = anchor.W();
    float height = 2.f * kPad;
    for (const IPopupMenu::Item& item : menu.Items()) {
        height += item.separator ? kSeparatorHeight : itemH;
        if (!item.separator)
            width = std::max(width,
                             ui->MeasureTextWidth(mText, item.text.c_str()) + 2.f * kCheckWidth + 2.f * kPad);
    }
    width = std::min(width, area.W());
    height = std::min(height, area.H());
    float top = anchor.B + 2.f;
    if (top + height > area.B)
        top = std::max(area.T, anchor.T - 2.f - height);
    const float left = std::clamp(anchor.L, area.L, std::max(area.L, area.R - width));
    mPanel = IRECT::MakeXYWH(left, top, width, height);
    mItemRects.clear();
    float y = mPanel.T + kPad;
    for (const IPopupMenu::Item& item : menu.Items()) {
        const float h = item.separator ? kSeparatorHeight : itemH;
        mItemRects.push_back({mPanel.L + kPad, y, mPanel.R - kPad, y + h});
        y += h;
    }
    mHighlight = -1;
    for (int i = 0; i < menu.NItems(); ++i) {
        if (menu.GetItem(i)->checked && menu.IsSelectable(i))
            mHighlight = i;
    }
    mPressInside = false;
    // It draws its panel and shadow; it takes the mouse everywhere while open.
    SetRECT(mPanel.GetPadded(14.f));
    SetTargetRECT(area);
    Hide(false);
    SetDirty(false);
}

void IPopupMenuControl::Close(int chosen) {
    if (!mMenu)
        return;
    IPopupMenu* menu = mMenu;
    IControl* caller = mCaller;
    mMenu = nullptr;
    mCaller = nullptr;
    const bool choice = chosen >= 0 && menu->IsSelectable(chosen);
    menu->SetChosenItemIdx(choice ? chosen : -1);
    Hide(true);
    if (GetUI())
        GetUI()->AddDirtyArea(GetRECT().GetPadded(IGraphics::kDirtyMargin));
    if (menu->GetFunction())
        menu->GetFunction()(choice ? menu : nullptr);
    else if (caller)
        caller->OnPopupMenuSelection(choice ? menu : nullptr, -1);
}

IRECT IPopupMenuControl::GetItemRECT(int index) const {
    return index >= 0 && index < static_cast<int>(mItemRects.size())
               ? mItemRects[static_cast<std::size_t>(index)]
               : IRECT();
}

int IPopupMenuControl::ItemAt(float x, float y) const {
    for (int i = 0; i < static_cast<int>(mItemRects.size()); ++i) {
        if (mItemRects[static_cast<std::size_t>(i)].Contains(x, y))
            return i;
    }
    return -1;
}

void IPopupMenuControl::MoveHighlight(int step) {
    if (!mMenu)
        return;
    int i = mHighlight;
    for (int n = 0; n < mMenu->NItems(); ++n) {
        i += step;
        if (i < 0 || i >= mMenu->NItems())
            return; // stays on the first or last choosable item
        if (mMenu->IsSelectable(i)) {
            mHighlight = i;
            SetDirty(false);
            return;
        }
    }
}

void IPopupMenuControl::Draw(IGraphics& g) {
    if (!mMenu)
        return;
    const IBlend shadow{EBlend::Default, 0.35f};
    g.DrawFastDropShadow(mPanel, mPanel.GetPadded(10.f), 3.f, 6.f, 8.f, &shadow);
    g.FillRoundRect(mColors.panel, mPanel, 6.f);
    for (int i = 0; i < mMenu->NItems(); ++i) {
        const IPopupMenu::Item& item = *mMenu->GetItem(i);
        const IRECT r = mItemRects[static_cast<std::size_t>(i)];
        if (item.separator) {
            g.DrawLine(mColors.separator, r.L + 4.f, r.MH(), r.R - 4.f, r.MH());
            continue;
        }
        const bool lit = i == mHighlight && item.enabled;
        if (lit)
            g.FillRoundRect(mColors.highlightedCell, r, 4.f);
        const IColor color =
            !item.enabled ? mColors.disabledText : (lit ? mColors.highlightedText : mColors.itemText);
        if (item.checked) {
            const float cx = r.L + 0.5f * kCheckWidth, cy = r.MH(), s = std::min(5.f, 0.25f * r.H());
            g.PathClear();
            g.PathMoveTo(cx - s, cy);
            g.PathLineTo(cx - 0.3f * s, cy + 0.7f * s);
            g.PathLineTo(cx + s, cy - 0.8f * s);
            IStrokeOptions round;
            round.mCapOption = ELineCap::Round;
            round.mJoinOption = ELineJoin::Round;
            g.PathStroke(color, 1.6f, round);
        }
        g.DrawText(mText.WithFGColor(color), item.text.c_str(), r.GetHPadded(-kCheckWidth));
    }
}

void IPopupMenuControl::OnMouseDown(float x, float y, const IMouseMod&) {
    if (!mPanel.Contains(x, y)) {
        Close(-1);
        return;
    }
    mPressInside = true;
    const int i = ItemAt(x, y);
    if (mMenu && mMenu->IsSelectable(i)) {
        mHighlight = i;
        SetDirty(false);
    }
}

void IPopupMenuControl::OnMouseUp(float x, float y, const IMouseMod&) {
    if (!mPressInside)
        return;
    mPressInside = false;
    const int i = ItemAt(x, y);
    if (mMenu && mMenu->IsSelectable(i))
        Close(i);
}

void IPopupMenuControl::OnMouseDrag(float x, float y, float, float, const IMouseMod& mod) {
    OnMouseOver(x, y, mod);
}

void IPopupMenuControl::OnMouseOver(float x, float y, const IMouseMod&) {
    const int i = ItemAt(x, y);
    if (mMenu && mMenu->IsSelectable(i) && i != mHighlight) {
        mHighlight = i;
        SetDirty(false);
    }
}

bool IPopupMenuControl::OnKeyDown(float, float, const IKeyPress& key) {
    switch (key.VK) {
    case kVK_ESCAPE:
        Close(-1);
        break;
    case kVK_RETURN:
        if (mHighlight >= 0)
            Close(mHighlight);
        break;
    case kVK_UP:
        MoveHighlight(-1);
        break;
    case kVK_DOWN:
        MoveHighlight(+1);
        break;
    default:
        break;
    }
    return true; // modal: no key passes a menu
}

} // namespace iplug::igraphics
