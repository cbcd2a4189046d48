#include "ui/chassis.h"

using namespace iplug::igraphics;

GrainOverlay::GrainOverlay(const IRECT& bounds, IBitmap noise) : IControl(bounds), mNoise(std::move(noise)) {
    SetIgnoreMouse(true);
}

void GrainOverlay::Draw(IGraphics& g) {
    if (!mNoise.IsValid() || GetRECT().Empty())
        return;
    const IBlend faint{EBlend::Default, 0.045f};
    g.DrawTiledBitmap(mNoise, GetRECT(), &faint);
}

ChassisFrame::ChassisFrame(const IRECT& bounds) : IControl(bounds) {
    SetIgnoreMouse(true);
}

void ChassisFrame::Draw(IGraphics& g) {
    const IRECT& r = GetRECT();
    g.FillRect(IColor(13, 255, 255, 255), IRECT(r.L, r.T, r.R, r.T + 1.f));
    g.FillRect(IColor(10, 255, 255, 255), IRECT(r.L, r.T, r.L + 1.f, r.B));
    g.FillRect(IColor(115, 0, 0, 0), IRECT(r.L, r.B - 2.f, r.R, r.B));
    g.FillRect(IColor(95, 0, 0, 0), IRECT(r.R - 2.f, r.T, r.R, r.B));
    // Inset by half the line, so the outline's right and bottom edges fall inside the window too.
    g.DrawRect(IColor(102, 0, 0, 0), r.GetPadded(-0.5f));
}
