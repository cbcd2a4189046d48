#pragma once

// IPopupMenuControl: popup menus drawn inside the editor. While open it is modal: it takes every mouse
// event and key; a press outside the menu dismisses it; Up and Down move the highlight over the items that
// can be chosen, Enter chooses, Escape dismisses. A release over an item chooses it.

#include "framework/graphics/icontrol.h"
#include "framework/graphics/popup_menu.h"

namespace iplug::igraphics {

struct PopupMenuColors {
    IColor panel{255, 40, 40, 40};
    IColor highlightedCell{255, 70, 90, 140};
    IColor highlightedText = COLOR_WHITE;
    IColor itemText{255, 220, 220, 220};
    IColor disabledText{255, 120, 120, 120};
    IColor separator{255, 70, 70, 70};
};

class IPopupMenuControl : public IControl {
public:
    // text: the item text style (font, size, colour unused: the colours come from PopupMenuColors,
    // alignment). menuBounds: where menus may open, empty for the whole editor.
    IPopupMenuControl(const IText& text, const IRECT& menuBounds);

    void SetColors(const PopupMenuColors& colors) { mColors = colors; }
    const PopupMenuColors& GetColors() const { return mColors; }
    void SetMenuBounds(const IRECT& bounds) { mMenuBounds = bounds; }
    const IRECT& GetMenuBounds() const { return mMenuBounds; }

    // Opens menu under anchor (above it when there is no room below). The menu must outlive the opening.
    void Open(IControl* caller, IPopupMenu& menu, const IRECT& anchor);
    bool IsOpen() const { return mMenu != nullptr; }
    // Closes it: chosen item index, or -1 to dismiss.
    void Close(int chosen);
    // The menu's panel and the rectangle of each item, valid while open.
    const IRECT& GetPanelRECT() const { return mPanel; }
    IRECT GetItemRECT(int index) const;
    int GetHighlightedItem() const { return mHighlight; }

    void Draw(IGraphics& g) override;
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    void OnMouseUp(float x, float y, const IMouseMod& mod) override;
    void OnMouseDrag(float x, float y, float dX, float dY, const IMouseMod& mod) override;
    void OnMouseOver(float x, float y, const IMouseMod& mod) override;
    bool OnKeyDown(float x, float y, const IKeyPress& key) override;

private:
    int ItemAt(float x, float y) const;
    void MoveHighlight(int step);

    IText mText;
    IRECT mMenuBounds;
    PopupMenuColors mColors;
    IPopupMenu* mMenu = nullptr;
    IControl* mCaller = nullptr;
    IRECT mPanel;
    std::vector<IRECT> mItemRects;
    int mHighlight = -1;
    bool mPressInside = false;
};

} // namespace iplug::igraphics
