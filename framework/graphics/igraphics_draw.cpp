// IGraphics drawing on NanoVG: shapes, paths, patterns, shadows, bitmaps and icons.

#include "framework/graphics/gradient_cache.h"
#include "framework/graphics/igraphics.h"
#include "framework/graphics/nvg_util.h"

#include <algorithm>
#include <cmath>

namespace iplug::igraphics {
using detail::BlendScope;
using detail::ToNVG;

float IGraphics::DeviceScale() const {
    return mDrawScale * GetScreenScale();
}

// Moves a rectangle's edges onto device pixel boundaries (thickness 0: a fill) or, for a stroke of the
// given thickness, onto the pixel centres or boundaries where a line a whole number of pixels wide (at
// least one) covers its pixels exactly, so that thin lines stay crisp at every scale. Only under an
// axis-aligned transform; returns whether it snapped. The caller strokes with the rounded pixel width.
bool IGraphics::SnapAxisAligned(IRECT& r, float thickness) const {
    float x[6];
    nvgCurrentTransform(mVG, x);
    if (x[1] != 0.f || x[2] != 0.f || x[0] <= 0.f || x[3] <= 0.f)
        return false;
    auto snap = [&](float v, float a, float e, float px) {
        const float d = a * v + e;
        const float s = (static_cast<int>(std::lround(px)) % 2 == 1) ? std::floor(d) + 0.5f : std::round(d);
        return (s - e) / a;
    };
    if (thickness <= 0.f) {
        // Edges round to the nearest pixel boundary, so abutting fills stay gap-free; a thin band keeps
        // its rounded width instead (at least one pixel), so equal bands stay equal.
        auto span = [](float a, float b, float& outA, float& outB) {
            outA = std::round(a);
            const float w = b - a;
            outB = w < 2.5f ? outA + std::max(1.f, std::round(w)) : std::round(b);
        };
        float l, t, rr, b;
        span(x[0] * r.L + x[4], x[0] * r.R + x[4], l, rr);
        span(x[3] * r.T + x[5], x[3] * r.B + x[5], t, b);
        r = {(l - x[4]) / x[0], (t - x[5]) / x[3], (rr - x[4]) / x[0], (b - x[5]) / x[3]};
        return true;
    }
    const float px = std::max(1.f, std::round(thickness * x[0]));
    const float py = std::max(1.f, std::round(thickness * x[3]));
    r = {snap(r.L, x[0], x[4], px), snap(r.T, x[3], x[5], py), snap(r.R, x[0], x[4], px),
         snap(r.B, x[3], x[5], py)};
    return true;
}

void IGraphics::ApplyPaint(const IPattern& pattern, bool stroke) {
    NVGpaint paint{};
    bool usePaint = true;
    const auto& stops = pattern.mStops;
    if (stops.empty() || pattern.mType == EPatternType::Solid || stops.size() == 1) {
        const IColor c = stops.empty() ? COLOR_TRANSPARENT : stops.front().mColor;
        if (stroke)
            nvgStrokeColor(mVG, ToNVG(c));
        else
            nvgFillColor(mVG, ToNVG(c));
        usePaint = false;
    } else if (pattern.mType == EPatternType::Linear) {
        const float dx = pattern.x2 - pattern.x1, dy = pattern.y2 - pattern.y1;
        const float len = std::hypot(dx, dy);
        if (len <= 0.f) {
            const IColor c = stops.back().mColor;
            stroke ? nvgStrokeColor(mVG, ToNVG(c)) : nvgFillColor(mVG, ToNVG(c));
            usePaint = false;
        } else if (stops.size() == 2) {
            const float o0 = stops[0].mOffset, o1 = stops[1].mOffset;
            paint = nvgLinearGradient(mVG, pattern.x1 + dx * o0, pattern.y1 + dy * o0, pattern.x1 + dx * o1,
                                      pattern.y1 + dy * o1, ToNVG(stops[0].mColor), ToNVG(stops[1].mColor));
        } else {
            paint = nvgImagePattern(mVG, pattern.x1, pattern.y1, len, 1.f, std::atan2(dy, dx),
                                    mGradients->Image(pattern), 1.f);
        }
    } else {
        if (stops.size() == 2) {
            paint = nvgRadialGradient(mVG, pattern.x1, pattern.y1, pattern.r * stops[0].mOffset,
                                      pattern.r * stops[1].mOffset, ToNVG(stops[0].mColor),
                                      ToNVG(stops[1].mColor));
        } else {
            const float r = std::max(pattern.r, 1e-3f);
            paint = nvgImagePattern(mVG, pattern.x1 - r, pattern.y1 - r, 2.f * r, 2.f * r, 0.f,
                                    mGradients->Image(pattern), 1.f);
        }
    }
    if (usePaint) {
        if (stroke)
            nvgStrokePaint(mVG, paint);
        else
            nvgFillPaint(mVG, paint);
    }
}

void IGraphics::ReplayPath(const Path& path, const std::vector<ESubpathFill>* fills) {
    nvgBeginPath(mVG);
    int subpath = -1;
    bool skipping = false;
    auto finishSubpath = [&] {
        if (subpath >= 0 && fills && !skipping)
            nvgPathWinding(mVG, (*fills)[static_cast<std::size_t>(subpath)] == ESubpathFill::Hole
                                    ? NVG_HOLE
                                    : NVG_SOLID);
    };
    for (const PathCommand& c : path.Commands()) {
        if (c.op == EPathOp::MoveTo) {
            finishSubpath();
            ++subpath;
            skipping = fills && (static_cast<std::size_t>(subpath) >= fills->size() ||
                                 (*fills)[static_cast<std::size_t>(subpath)] == ESubpathFill::Skip);
        }
        if (skipping)
            continue;
        switch (c.op) {
        case EPathOp::MoveTo:
            nvgMoveTo(mVG, c.p.x, c.p.y);
            break;
        case EPathOp::LineTo:
            nvgLineTo(mVG, c.p.x, c.p.y);
            break;
        case EPathOp::CubicTo:
            nvgBezierTo(mVG, c.c1.x, c.c1.y, c.c2.x, c.c2.y, c.p.x, c.p.y);
            break;
        case EPathOp::Close:
            nvgClosePath(mVG);
            break;
        }
    }
    finishSubpath();
}

void IGraphics::PathFill(const IPattern& pattern, const IFillOptions& options, const IBlend* blend,
                         bool preserve) {
    if (!mInFrame || mPath.Empty())
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    // NanoVG fills every sub-path solid unless told otherwise: decide each one's role from the rule.
    const std::vector<Polyline> lines = mPath.Flatten(0.05f);
    const std::vector<ESubpathFill> perLine = ClassifySubpaths(lines, options.mFillRule);
    std::vector<ESubpathFill> fills(static_cast<std::size_t>(mPath.SubpathCount()), ESubpathFill::Skip);
    for (std::size_t i = 0; i < lines.size(); ++i)
        fills[static_cast<std::size_t>(lines[i].subpath)] = perLine[i];
    ReplayPath(mPath, &fills);
    ApplyPaint(pattern, false);
    nvgFill(mVG);
    if (!preserve)
        mPath.Clear();
}

void IGraphics::PathStroke(const IPattern& pattern, float thickness, const IStrokeOptions& options,
                           const IBlend* blend, bool preserve) {
    if (!mInFrame || mPath.Empty())
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    if (options.mDash.mArray.empty()) {
        ReplayPath(mPath, nullptr);
    } else {
        // NanoVG has no dashes: lay the pattern along the flattened path and stroke the pieces.
        const float tolerance = 0.1f / std::max(DeviceScale(), 1e-3f);
        const std::vector<Polyline> lines = mPath.Flatten(tolerance);
        nvgBeginPath(mVG);
        for (const Polyline& piece : DashPolylines(lines, options.mDash)) {
            nvgMoveTo(mVG, piece.points[0].x, piece.points[0].y);
            for (std::size_t i = 1; i < piece.points.size(); ++i)
                nvgLineTo(mVG, piece.points[i].x, piece.points[i].y);
        }
    }
    static constexpr int kCaps[] = {NVG_BUTT, NVG_ROUND, NVG_SQUARE};
    static constexpr int kJoins[] = {NVG_MITER, NVG_ROUND, NVG_BEVEL};
    nvgLineCap(mVG, kCaps[static_cast<int>(options.mCapOption)]);
    nvgLineJoin(mVG, kJoins[static_cast<int>(options.mJoinOption)]);
    nvgMiterLimit(mVG, options.mMiterLimit);
    nvgStrokeWidth(mVG, thickness);
    ApplyPaint(pattern, true);
    nvgStroke(mVG);
    if (!preserve)
        mPath.Clear();
}

void IGraphics::FillRect(const IColor& color, const IRECT& r, const IBlend* blend) {
    if (!mInFrame || r.Empty())
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    IRECT s = r;
    if (SnapAxisAligned(s, 0.f))
        nvgShapeAntiAlias(mVG, 0);
    nvgBeginPath(mVG);
    nvgRect(mVG, s.L, s.T, s.W(), s.H());
    nvgFillColor(mVG, ToNVG(color));
    nvgFill(mVG);
}

void IGraphics::DrawRect(const IColor& color, const IRECT& r, const IBlend* blend, float thickness) {
    if (!mInFrame)
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    IRECT s = r;
    float x[6];
    nvgCurrentTransform(mVG, x);
    float width = thickness;
    if (SnapAxisAligned(s, thickness)) {
        nvgShapeAntiAlias(mVG, 0);
        width = std::max(1.f, std::round(thickness * x[0])) / x[0];
    }
    nvgBeginPath(mVG);
    nvgRect(mVG, s.L, s.T, s.W(), s.H());
    nvgStrokeWidth(mVG, width);
    nvgStrokeColor(mVG, ToNVG(color));
    nvgStroke(mVG);
}

void IGraphics::FillRoundRect(const IColor& color, const IRECT& r, float cr, const IBlend* blend) {
    FillRoundRect(color, r, cr, cr, cr, cr, blend);
}

void IGraphics::FillRoundRect(const IColor& color, const IRECT& r, float tl, float tr, float br, float bl,
                              const IBlend* blend) {
    if (!mInFrame || r.Empty())
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    nvgBeginPath(mVG);
    nvgRoundedRectVarying(mVG, r.L, r.T, r.W(), r.H(), tl, tr, br, bl);
    nvgFillColor(mVG, ToNVG(color));
    nvgFill(mVG);
}

void IGraphics::DrawRoundRect(const IColor& color, const IRECT& r, float cr, const IBlend* blend,
                              float thickness) {
    DrawRoundRect(color, r, cr, cr, cr, cr, blend, thickness);
}

void IGraphics::DrawRoundRect(const IColor& color, const IRECT& r, float tl, float tr, float br, float bl,
                              const IBlend* blend, float thickness) {
    if (!mInFrame)
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    // The straight edges of a thin outline land on whole pixels; the corners keep their antialiasing.
    IRECT s = r;
    SnapAxisAligned(s, thickness);
    nvgBeginPath(mVG);
    nvgRoundedRectVarying(mVG, s.L, s.T, s.W(), s.H(), tl, tr, br, bl);
    nvgStrokeWidth(mVG, thickness);
    nvgStrokeColor(mVG, ToNVG(color));
    nvgStroke(mVG);
}

void IGraphics::FillCircle(const IColor& color, float cx, float cy, float r, const IBlend* blend) {
    if (!mInFrame || r <= 0.f)
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    nvgBeginPath(mVG);
    nvgCircle(mVG, cx, cy, r);
    nvgFillColor(mVG, ToNVG(color));
    nvgFill(mVG);
}

void IGraphics::DrawCircle(const IColor& color, float cx, float cy, float r, const IBlend* blend,
                           float thickness) {
    if (!mInFrame || r <= 0.f)
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    nvgBeginPath(mVG);
    nvgCircle(mVG, cx, cy, r);
    nvgStrokeWidth(mVG, thickness);
    nvgStrokeColor(mVG, ToNVG(color));
    nvgStroke(mVG);
}

void IGraphics::FillEllipse(const IColor& color, const IRECT& r, const IBlend* blend) {
    if (!mInFrame || r.Empty())
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    nvgBeginPath(mVG);
    nvgEllipse(mVG, r.MW(), r.MH(), 0.5f * r.W(), 0.5f * r.H());
    nvgFillColor(mVG, ToNVG(color));
    nvgFill(mVG);
}

void IGraphics::DrawArc(const IColor& color, float cx, float cy, float r, float fromDeg, float toDeg,
                        const IBlend* blend, float thickness) {
    Path saved = std::move(mPath);
    mPath.Clear();
    mPath.Arc(cx, cy, r, fromDeg, toDeg);
    PathStroke(color, thickness, {}, blend);
    mPath = std::move(saved);
}

void IGraphics::DrawLine(const IColor& color, float x1, float y1, float x2, float y2, const IBlend* blend,
                         float thickness) {
    if (!mInFrame)
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    float x[6];
    nvgCurrentTransform(mVG, x);
    float width = thickness;
    // Horizontal and vertical lines sit on whole pixels.
    if ((x1 == x2 || y1 == y2) && x[1] == 0.f && x[2] == 0.f) {
        IRECT s{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
        if (SnapAxisAligned(s, thickness)) {
            nvgShapeAntiAlias(mVG, 0);
            if (y1 == y2) {
                width = std::max(1.f, std::round(thickness * x[3])) / x[3];
                const IRECT ends{std::min(x1, x2), 0.f, std::max(x1, x2), 0.f};
                IRECT e = ends;
                SnapAxisAligned(e, 0.f);
                x1 = e.L;
                x2 = e.R;
                y1 = y2 = s.T;
            } else {
                width = std::max(1.f, std::round(thickness * x[0])) / x[0];
                IRECT e{0.f, std::min(y1, y2), 0.f, std::max(y1, y2)};
                SnapAxisAligned(e, 0.f);
                y1 = e.T;
                y2 = e.B;
                x1 = x2 = s.L;
            }
        }
    }
    nvgBeginPath(mVG);
    nvgMoveTo(mVG, x1, y1);
    nvgLineTo(mVG, x2, y2);
    nvgStrokeWidth(mVG, width);
    nvgStrokeColor(mVG, ToNVG(color));
    nvgStroke(mVG);
}

void IGraphics::DrawDottedLine(const IColor& color, float x1, float y1, float x2, float y2,
                               const IBlend* blend, float thickness, float dashLength) {
    Path saved = std::move(mPath);
    mPath.Clear();
    mPath.MoveTo(x1, y1);
    mPath.LineTo(x2, y2);
    IStrokeOptions options;
    options.mDash.mArray = {dashLength, dashLength};
    PathStroke(color, thickness, options, blend);
    mPath = std::move(saved);
}

void IGraphics::DrawDottedRect(const IColor& color, const IRECT& r, const IBlend* blend, float thickness,
                               float dashLength) {
    Path saved = std::move(mPath);
    mPath.Clear();
    mPath.Rect(r);
    IStrokeOptions options;
    options.mDash.mArray = {dashLength, dashLength};
    PathStroke(color, thickness, options, blend);
    mPath = std::move(saved);
}

void IGraphics::DrawCubic(const IColor& color, float x1, float y1, float c1x, float c1y, float c2x, float c2y,
                          float x2, float y2, const IBlend* blend, float thickness) {
    Path saved = std::move(mPath);
    mPath.Clear();
    mPath.MoveTo(x1, y1);
    mPath.CubicTo(c1x, c1y, c2x, c2y, x2, y2);
    PathStroke(color, thickness, {}, blend);
    mPath = std::move(saved);
}

void IGraphics::DrawData(const IColor& color, const float* xs, const float* ys, int n, const IBlend* blend,
                         float thickness) {
    if (!mInFrame || n < 2)
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    nvgBeginPath(mVG);
    nvgMoveTo(mVG, xs[0], ys[0]);
    for (int i = 1; i < n; ++i)
        nvgLineTo(mVG, xs[i], ys[i]);
    nvgStrokeWidth(mVG, thickness);
    nvgStrokeColor(mVG, ToNVG(color));
    nvgLineJoin(mVG, NVG_ROUND);
    nvgStroke(mVG);
}

void IGraphics::FillConvexPolygon(const IColor& color, const float* xs, const float* ys, int n,
                                  const IBlend* blend) {
    if (!mInFrame || n < 3)
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    nvgBeginPath(mVG);
    nvgMoveTo(mVG, xs[0], ys[0]);
    for (int i = 1; i < n; ++i)
        nvgLineTo(mVG, xs[i], ys[i]);
    nvgClosePath(mVG);
    nvgFillColor(mVG, ToNVG(color));
    nvgFill(mVG);
}

void IGraphics::DrawFastDropShadow(const IRECT& inner, const IRECT& outer, float yDrop, float roundness,
                                   float blur, const IBlend* blend) {
    if (!mInFrame)
        return;
    // One box gradient: opaque inside the inner rectangle, fading over the blur width around it.
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    const IRECT o = outer.GetVShifted(yDrop);
    nvgBeginPath(mVG);
    nvgRect(mVG, o.L, o.T, o.W(), o.H());
    nvgFillPaint(mVG, nvgBoxGradient(mVG, inner.L, inner.T + yDrop, inner.W(), inner.H(), roundness,
                                     std::max(blur, 0.01f), nvgRGBA(0, 0, 0, 255), nvgRGBA(0, 0, 0, 0)));
    nvgFill(mVG);
}

void IGraphics::DrawBitmap(const IBitmap& bitmap, const IRECT& r, int srcX, int srcY, const IBlend* blend) {
    if (!mInFrame || !bitmap.IsValid() || r.Empty())
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    const float w = std::min(r.W(), static_cast<float>(bitmap.mW - srcX));
    const float h = std::min(r.H(), static_cast<float>(bitmap.mH - srcY));
    if (w <= 0.f || h <= 0.f)
        return;
    nvgBeginPath(mVG);
    nvgRect(mVG, r.L, r.T, w, h);
    nvgFillPaint(mVG, nvgImagePattern(mVG, r.L - static_cast<float>(srcX), r.T - static_cast<float>(srcY),
                                      static_cast<float>(bitmap.mW), static_cast<float>(bitmap.mH), 0.f,
                                      bitmap.mImage, 1.f));
    nvgFill(mVG);
}

void IGraphics::DrawFittedBitmap(const IBitmap& bitmap, const IRECT& r, const IBlend* blend) {
    if (!mInFrame || !bitmap.IsValid() || r.Empty())
        return;
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    nvgBeginPath(mVG);
    nvgRect(mVG, r.L, r.T, r.W(), r.H());
    nvgFillPaint(mVG, nvgImagePattern(mVG, r.L, r.T, r.W(), r.H(), 0.f, bitmap.mImage, 1.f));
    nvgFill(mVG);
}

void IGraphics::DrawTiledBitmap(const IBitmap& bitmap, const IRECT& r, const IBlend* blend) {
    if (!mInFrame || !bitmap.IsValid() || r.Empty())
        return;
    // Bitmaps are loaded with repeat flags, so one fill covers every tile.
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    nvgBeginPath(mVG);
    nvgRect(mVG, r.L, r.T, r.W(), r.H());
    nvgFillPaint(mVG, nvgImagePattern(mVG, r.L, r.T, static_cast<float>(bitmap.mW),
                                      static_cast<float>(bitmap.mH), 0.f, bitmap.mImage, 1.f));
    nvgFill(mVG);
}

void IGraphics::DrawSVG(const ISVG& svg, const IRECT& r, const IBlend* blend, const IColor* fill) {
    if (!mInFrame || !svg.IsValid() || r.Empty())
        return;
    const SVGDocument& doc = *svg.Document();
    const float scale = std::min(r.W() / doc.viewW, r.H() / doc.viewH);
    BlendScope scope(mVG, mAlphaStack.back(), blend);
    nvgTranslate(mVG, r.MW() - 0.5f * doc.viewW * scale, r.MH() - 0.5f * doc.viewH * scale);
    nvgScale(mVG, scale, scale);
    nvgTranslate(mVG, -doc.viewX, -doc.viewY);
    for (const SVGShape& shape : doc.shapes) {
        ReplayPath(shape.path, &shape.subpathFill);
        nvgFillColor(mVG, ToNVG(shape.fillCurrentColor ? (fill ? *fill : COLOR_BLACK) : shape.fill));
        nvgFill(mVG);
    }
}

void IGraphics::PathTransformSave() {
    nvgSave(mVG);
    mAlphaStack.push_back(mAlphaStack.back());
}

void IGraphics::PathTransformRestore() {
    nvgRestore(mVG);
    if (mAlphaStack.size() > 1)
        mAlphaStack.pop_back();
}

void IGraphics::PathTransformReset() {
    nvgResetTransform(mVG);
    nvgTranslate(mVG, -mFrameOffsetX, -mFrameOffsetY);
    const float s = DeviceScale();
    nvgScale(mVG, s, s);
}

void IGraphics::PathTransformTranslate(float x, float y) {
    nvgTranslate(mVG, x, y);
}
void IGraphics::PathTransformScale(float s) {
    nvgScale(mVG, s, s);
}
void IGraphics::PathTransformRotate(float degrees) {
    nvgRotate(mVG, nvgDegToRad(degrees));
}

void IGraphics::PathClipRegion(const IRECT& r) {
    if (!r.Empty()) {
        nvgScissor(mVG, r.L, r.T, r.W(), r.H());
        return;
    }
    // NanoVG has no empty scissor: one of no size still lets through a quarter of the pixel at its
    // centre (its edges are antialiased), and a negative size means none at all. One of no size far
    // from anything drawn lets nothing through.
    constexpr float kNowhere = -1.0e6f;
    nvgScissor(mVG, kNowhere, kNowhere, 0.f, 0.f);
}

void IGraphics::SetGlobalAlpha(float alpha) {
    mAlphaStack.back() = std::clamp(alpha, 0.f, 1.f);
}

} // namespace iplug::igraphics
