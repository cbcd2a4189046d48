#include "framework/graphics/caption_control.h"

namespace iplug::igraphics {

ICaptionControl::ICaptionControl(const IRECT& bounds, int paramIdx, const IText& text, const IColor& bgColor,
                                 bool showParamLabel)
    : ITextControl(bounds, "", text, bgColor), mShowParamLabel(showParamLabel) {
    mParamIdx = paramIdx;
}

std::string ICaptionControl::DisplayText() const {
    const IParam* param = GetParam();
    if (!param)
        return {};
    std::string s = param->GetDisplay(GetValue(), true);
    if (mShowParamLabel && param->GetLabel()[0] != '\0')
        s += std::string(" ") + param->GetLabel();
    return s;
}

void ICaptionControl::Draw(IGraphics& g) {
    mStr = DisplayText();
    ITextControl::Draw(g);
}

void ICaptionControl::OnMouseDown(float, float, const IMouseMod&) {
    const IParam* param = GetParam();
    if (!param || param->NDisplayTexts() == 0 || !GetUI())
        return;
    mMenu.Clear();
    const double current = param->FromNormalized(GetValue());
    for (int i = 0; i < param->NDisplayTexts(); ++i) {
        double value = 0.0;
        const char* text = param->GetDisplayTextAtIdx(i, &value);
        mMenu.AddItem(text, i).checked = value == current;
    }
    GetUI()->CreatePopupMenu(this, mMenu, GetRECT());
}

void ICaptionControl::OnPopupMenuSelection(IPopupMenu* menu, int) {
    const IParam* param = GetParam();
    if (!menu || !param)
        return;
    double value = 0.0;
    param->GetDisplayTextAtIdx(menu->GetChosenItemIdx(), &value);
    SetValueFromUserInput(param->ToNormalized(value));
}

} // namespace iplug::igraphics
