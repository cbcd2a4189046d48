#pragma once

// Small helpers shared by the files that draw on NanoVG (internal to the graphics library).

#include "framework/graphics/icolor.h"
#include "nanovg.h"

#include <algorithm>

namespace iplug::igraphics::detail {

inline NVGcolor ToNVG(const IColor& c) {
    auto ch = [](int v) { return static_cast<unsigned char>(std::clamp(v, 0, 255)); };
    return nvgRGBA(ch(c.R), ch(c.G), ch(c.B), ch(c.A));
}

// The blend of one drawing call: the global alpha times the blend's weight, and its composite
// operation; the NanoVG state is restored when the call ends.
class BlendScope {
public:
    BlendScope(NVGcontext* vg, float alpha, const IBlend* blend) : mVG(vg) {
        nvgSave(vg);
        nvgGlobalAlpha(vg, std::clamp(alpha * BlendWeight(blend), 0.f, 1.f));
        if (blend && blend->mMethod == EBlend::Add)
            nvgGlobalCompositeOperation(vg, NVG_LIGHTER);
    }
    ~BlendScope() { nvgRestore(mVG); }
    BlendScope(const BlendScope&) = delete;
    BlendScope& operator=(const BlendScope&) = delete;

private:
    NVGcontext* mVG;
};

} // namespace iplug::igraphics::detail
