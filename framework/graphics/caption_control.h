#pragma once

// ICaptionControl: shows a parameter's display text; a press on an enumerated parameter opens a popup
// menu of its display texts (the current one checked), and a choice sets the parameter.

#include "framework/graphics/basic_controls.h"
#include "framework/graphics/popup_menu.h"

namespace iplug::igraphics {

class ICaptionControl : public ITextControl {
public:
    ICaptionControl(const IRECT& bounds, int paramIdx, const IText& text = {},
                    const IColor& bgColor = COLOR_TRANSPARENT, bool showParamLabel = true);

    void Draw(IGraphics& g) override;
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    void OnPopupMenuSelection(IPopupMenu* menu, int valIdx) override;
    // The text shown: the parameter's display text, with its label when asked for.
    std::string DisplayText() const;

protected:
    IPopupMenu mMenu;
    bool mShowParamLabel;
};

} // namespace iplug::igraphics
