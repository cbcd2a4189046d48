#include "framework/graphics/corner_resizer.h"

#include <algorithm>

namespace iplug::igraphics {

ICornerResizerControl::ICornerResizerControl(const IRECT& bounds, float size, const IColor& color,
                                             const IColor& mouseOverColor, const IColor& dragColor)
    : IControl(bounds), mSize(size), mColor(color), mMouseOverColor(mouseOverColor), mDragColor(dragColor) {}

void ICornerResizerControl::PlaceInCorner(int w, int h) {
    SetTargetAndDrawRECTs({float(w) - mSize, float(h) - mSize, float(w), float(h)});
}

void ICornerResizerControl::Draw(IGraphics& g) {
    const IColor c = mDragging ? mDragColor : (GetMouseIsOver() ? mMouseOverColor : mColor);
    if (c.A == 0)
        return;
    // Three diagonal grip lines towards the corner.
    const IRECT r = GetRECT();
    for (int i = 1; i <= 3; ++i) {
        const float d = r.W() * static_cast<float>(i) / 4.f;
        g.DrawLine(c, r.R - d, r.B - 1.f, r.R - 1.f, r.B - d, nullptr, 1.f);
    }
}

void ICornerResizerControl::OnMouseDown(float x, float y, const IMouseMod&) {
    IGraphics* ui = GetUI();
    mDragging = true;
    mPressScale = ui->GetDrawScale();
    mPressWindowX = x * mPressScale;
    mPressWindowY = y * mPressScale;
    SetDirty(false);
}

void ICornerResizerControl::OnMouseDrag(float x, float y, float, float, const IMouseMod&) {
    IGraphics* ui = GetUI();
    if (!mDragging)
        return;
    // The event is in design units of the current scale; the window grows by the pointer's travel.
    const float s = ui->GetDrawScale();
    const float winW = float(ui->Width()) * mPressScale + (x * s - mPressWindowX);
    const float winH = float(ui->Height()) * mPressScale + (y * s - mPressWindowY);
    const float scale = std::clamp(std::min(winW / float(ui->Width()), winH / float(ui->Height())),
                                   ui->GetMinScale(), ui->GetMaxScale());
    if (scale == s)
        return;
    ui->Resize(ui->Width(), ui->Height(), scale, true);
    // The editor's own resize: the delegate records the size and asks the host to follow.
    if (IEditorDelegate* delegate = ui->GetDelegate())
        delegate->EditorResizeFromUI(ui->WindowWidth(), ui->WindowHeight(), true);
}

void ICornerResizerControl::OnMouseUp(float, float, const IMouseMod&) {
    mDragging = false;
    SetDirty(false);
}

void ICornerResizerControl::OnMouseOver(float x, float y, const IMouseMod& mod) {
    IControl::OnMouseOver(x, y, mod);
    GetUI()->SetMouseCursor(ECursor::SIZENWSE);
    SetDirty(false);
}

void ICornerResizerControl::OnMouseOut() {
    IControl::OnMouseOut();
    GetUI()->SetMouseCursor(ECursor::ARROW);
    SetDirty(false);
}

} // namespace iplug::igraphics
