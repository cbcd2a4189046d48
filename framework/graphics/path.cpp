#include "framework/graphics/path.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace iplug::igraphics {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;
// Control-point distance of a cubic that approximates a quarter circle of radius 1.
constexpr float kKappa = 0.5522847498f;

float DegToRad(float deg) {
    return deg * kPi / 180.f;
}

// Appends cubics for an arc of the unit circle mapped through centre, radii and rotation, from angle a0
// over sweep (radians, y down). Pieces of at most a quarter turn keep the error far below a pixel.
void AppendEllipticArc(Path& path, float cx, float cy, float rx, float ry, float rotation, float a0,
                       float sweep) {
    if (!std::isfinite(sweep) || !std::isfinite(a0))
        return;
    const int pieces = std::max(1, static_cast<int>(std::ceil(std::abs(sweep) / (kPi / 2.f) - 1e-4f)));
    const float step = sweep / static_cast<float>(pieces);
    const float k = 4.f / 3.f * std::tan(step / 4.f);
    const float cr = std::cos(rotation);
    const float sr = std::sin(rotation);
    auto map = [&](float ux, float uy) {
        const float x = ux * rx;
        const float y = uy * ry;
        return PathPoint{cx + x * cr - y * sr, cy + x * sr + y * cr};
    };
    float a = a0;
    for (int i = 0; i < pieces; ++i) {
        const float b = a + step;
        const float ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
        const PathPoint c1 = map(ca - k * sa, sa + k * ca);
        const PathPoint c2 = map(cb + k * sb, sb - k * cb);
        const PathPoint p = map(cb, sb);
        path.CubicTo(c1.x, c1.y, c2.x, c2.y, p.x, p.y);
        a = b;
    }
}

float Distance(PathPoint a, PathPoint b) {
    return std::hypot(b.x - a.x, b.y - a.y);
}

// Distance of p from the line through a and b (from a when they coincide).
float DistanceToLine(PathPoint p, PathPoint a, PathPoint b) {
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float len = std::hypot(dx, dy);
    if (len < 1e-12f)
        return Distance(p, a);
    return std::abs((p.x - a.x) * dy - (p.y - a.y) * dx) / len;
}

void FlattenCubic(std::vector<PathPoint>& out, PathPoint p0, PathPoint p1, PathPoint p2, PathPoint p3,
                  float tol, int depth) {
    // At most 2^10 pieces per curve, however large its coordinates are against the tolerance.
    if (depth >= 10 || std::max(DistanceToLine(p1, p0, p3), DistanceToLine(p2, p0, p3)) <= tol) {
        out.push_back(p3);
        return;
    }
    auto mid = [](PathPoint a, PathPoint b) { return PathPoint{0.5f * (a.x + b.x), 0.5f * (a.y + b.y)}; };
    const PathPoint p01 = mid(p0, p1), p12 = mid(p1, p2), p23 = mid(p2, p3);
    const PathPoint p012 = mid(p01, p12), p123 = mid(p12, p23);
    const PathPoint m = mid(p012, p123);
    FlattenCubic(out, p0, p01, p012, m, tol, depth + 1);
    FlattenCubic(out, m, p123, p23, p3, tol, depth + 1);
}

// Even-odd point-in-polygon test.
bool Inside(const Polyline& poly, PathPoint p) {
    bool in = false;
    const auto& v = poly.points;
    for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
        if ((v[i].y > p.y) != (v[j].y > p.y) &&
            p.x < (v[j].x - v[i].x) * (p.y - v[i].y) / (v[j].y - v[i].y) + v[i].x)
            in = !in;
    }
    return in;
}

// Whether outer encloses inner, judged on three edge midpoints of inner (a majority, so that one point
// that happens to lie on outer's outline cannot decide it).
bool Encloses(const Polyline& outer, const Polyline& inner) {
    const auto& v = inner.points;
    int votes = 0;
    for (int s = 0; s < 3; ++s) {
        const std::size_t i = v.size() * static_cast<std::size_t>(s) / 3;
        const std::size_t j = (i + 1) % v.size();
        if (Inside(outer, {0.5f * (v[i].x + v[j].x), 0.5f * (v[i].y + v[j].y)}))
            ++votes;
    }
    return votes >= 2;
}

} // namespace

void Path::MoveTo(float x, float y) {
    mCommands.push_back({EPathOp::MoveTo, {}, {}, {x, y}});
}

void Path::LineTo(float x, float y) {
    if (mCommands.empty() || mCommands.back().op == EPathOp::Close)
        MoveTo(mCommands.empty() ? 0.f : SubpathStart().x, mCommands.empty() ? 0.f : SubpathStart().y);
    mCommands.push_back({EPathOp::LineTo, {}, {}, {x, y}});
}

void Path::CubicTo(float c1x, float c1y, float c2x, float c2y, float x, float y) {
    if (mCommands.empty() || mCommands.back().op == EPathOp::Close) {
        const PathPoint s = mCommands.empty() ? PathPoint{c1x, c1y} : SubpathStart();
        MoveTo(s.x, s.y);
    }
    mCommands.push_back({EPathOp::CubicTo, {c1x, c1y}, {c2x, c2y}, {x, y}});
}

void Path::QuadTo(float cx, float cy, float x, float y) {
    const PathPoint p0 = CurrentPoint();
    CubicTo(p0.x + 2.f / 3.f * (cx - p0.x), p0.y + 2.f / 3.f * (cy - p0.y), x + 2.f / 3.f * (cx - x),
            y + 2.f / 3.f * (cy - y), x, y);
}

void Path::Close() {
    if (!mCommands.empty() && mCommands.back().op != EPathOp::Close)
        mCommands.push_back({EPathOp::Close, {}, {}, SubpathStart()});
}

PathPoint Path::CurrentPoint() const {
    if (mCommands.empty())
        return {};
    return mCommands.back().op == EPathOp::Close ? SubpathStart() : mCommands.back().p;
}

PathPoint Path::SubpathStart() const {
    for (auto it = mCommands.rbegin(); it != mCommands.rend(); ++it) {
        if (it->op == EPathOp::MoveTo)
            return it->p;
    }
    return {};
}

void Path::Arc(float cx, float cy, float r, float fromDeg, float toDeg, EWinding dir) {
    float sweep = toDeg - fromDeg;
    if (dir == EWinding::CW && sweep < 0.f)
        sweep = std::fmod(sweep, 360.f) + 360.f;
    if (dir == EWinding::CCW && sweep > 0.f)
        sweep = std::fmod(sweep, 360.f) - 360.f;
    sweep = std::clamp(sweep, -360.f, 360.f);
    const float a0 = DegToRad(fromDeg - 90.f);
    const PathPoint start{cx + r * std::cos(a0), cy + r * std::sin(a0)};
    if (mCommands.empty() || mCommands.back().op == EPathOp::Close)
        MoveTo(start.x, start.y);
    else
        LineTo(start.x, start.y);
    if (sweep != 0.f)
        AppendEllipticArc(*this, cx, cy, r, r, 0.f, a0, DegToRad(sweep));
}

void Path::SvgArcTo(float rx, float ry, float xRotationDeg, bool largeArc, bool sweep, float x, float y) {
    const PathPoint p0 = CurrentPoint();
    rx = std::abs(rx);
    ry = std::abs(ry);
    if (p0.x == x && p0.y == y)
        return;
    if (rx == 0.f || ry == 0.f) {
        LineTo(x, y);
        return;
    }
    // Endpoint to centre parameterisation, as the SVG implementation notes describe it.
    const float phi = DegToRad(xRotationDeg);
    const float cphi = std::cos(phi), sphi = std::sin(phi);
    const float dx = 0.5f * (p0.x - x), dy = 0.5f * (p0.y - y);
    const float x1 = cphi * dx + sphi * dy;
    const float y1 = -sphi * dx + cphi * dy;
    const float lambda = (x1 * x1) / (rx * rx) + (y1 * y1) / (ry * ry);
    if (lambda > 1.f) {
        rx *= std::sqrt(lambda);
        ry *= std::sqrt(lambda);
    }
    const float num = rx * rx * ry * ry - rx * rx * y1 * y1 - ry * ry * x1 * x1;
    const float den = rx * rx * y1 * y1 + ry * ry * x1 * x1;
    float coef = den > 0.f ? std::sqrt(std::max(0.f, num / den)) : 0.f;
    if (largeArc == sweep)
        coef = -coef;
    const float cxp = coef * rx * y1 / ry;
    const float cyp = -coef * ry * x1 / rx;
    const float cx = cphi * cxp - sphi * cyp + 0.5f * (p0.x + x);
    const float cy = sphi * cxp + cphi * cyp + 0.5f * (p0.y + y);
    auto angle = [](float ux, float uy, float vx, float vy) {
        return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
    };
    const float ux = (x1 - cxp) / rx, uy = (y1 - cyp) / ry;
    const float vx = (-x1 - cxp) / rx, vy = (-y1 - cyp) / ry;
    const float theta = angle(1.f, 0.f, ux, uy);
    float delta = angle(ux, uy, vx, vy);
    if (!sweep && delta > 0.f)
        delta -= 2.f * kPi;
    else if (sweep && delta < 0.f)
        delta += 2.f * kPi;
    // Coordinates near the float range overflow above: such an arc degrades to a line.
    if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(rx) || !std::isfinite(ry) ||
        !std::isfinite(theta) || !std::isfinite(delta)) {
        LineTo(x, y);
        return;
    }
    AppendEllipticArc(*this, cx, cy, rx, ry, phi, theta, delta);
    // The last cubic ends on the computed point; put it exactly on the requested end.
    mCommands.back().p = {x, y};
}

void Path::Rect(const IRECT& r) {
    MoveTo(r.L, r.T);
    LineTo(r.R, r.T);
    LineTo(r.R, r.B);
    LineTo(r.L, r.B);
    Close();
}

void Path::RoundRect(const IRECT& r, float tl, float tr, float br, float bl) {
    const float maxR = 0.5f * std::min(std::abs(r.W()), std::abs(r.H()));
    auto clampR = [maxR](float v) { return std::clamp(v, 0.f, maxR); };
    tl = clampR(tl);
    tr = clampR(tr);
    br = clampR(br);
    bl = clampR(bl);
    if (tl + tr + br + bl <= 0.f) {
        Rect(r);
        return;
    }
    const float k = 1.f - kKappa;
    MoveTo(r.L + tl, r.T);
    LineTo(r.R - tr, r.T);
    if (tr > 0.f)
        CubicTo(r.R - tr * k, r.T, r.R, r.T + tr * k, r.R, r.T + tr);
    LineTo(r.R, r.B - br);
    if (br > 0.f)
        CubicTo(r.R, r.B - br * k, r.R - br * k, r.B, r.R - br, r.B);
    LineTo(r.L + bl, r.B);
    if (bl > 0.f)
        CubicTo(r.L + bl * k, r.B, r.L, r.B - bl * k, r.L, r.B - bl);
    LineTo(r.L, r.T + tl);
    if (tl > 0.f)
        CubicTo(r.L, r.T + tl * k, r.L + tl * k, r.T, r.L + tl, r.T);
    Close();
}

void Path::Circle(float cx, float cy, float r) {
    Ellipse({cx - r, cy - r, cx + r, cy + r});
}

void Path::Ellipse(const IRECT& r) {
    const float cx = r.MW(), cy = r.MH(), rx = 0.5f * r.W(), ry = 0.5f * r.H();
    MoveTo(cx + rx, cy);
    AppendEllipticArc(*this, cx, cy, rx, ry, 0.f, 0.f, 2.f * kPi);
    mCommands.back().p = {cx + rx, cy};
    Close();
}

int Path::SubpathCount() const {
    return static_cast<int>(std::count_if(mCommands.begin(), mCommands.end(),
                                          [](const PathCommand& c) { return c.op == EPathOp::MoveTo; }));
}

std::vector<Polyline> Path::Flatten(float tolerance) const {
    std::vector<Polyline> out;
    Polyline current;
    int subpath = -1;
    auto finish = [&](bool closed) {
        current.closed = closed;
        const int index = current.subpath;
        if (current.points.size() >= 2)
            out.push_back(std::move(current));
        current = {};
        current.subpath = index;
    };
    for (const PathCommand& c : mCommands) {
        switch (c.op) {
        case EPathOp::MoveTo:
            finish(false);
            current.subpath = ++subpath;
            current.points.push_back(c.p);
            break;
        case EPathOp::LineTo:
            current.points.push_back(c.p);
            break;
        case EPathOp::CubicTo:
            FlattenCubic(current.points, current.points.back(), c.c1, c.c2, c.p, tolerance, 0);
            break;
        case EPathOp::Close:
            if (current.points.size() > 1 && current.points.back() == current.points.front())
                current.points.pop_back();
            finish(true);
            break;
        }
    }
    finish(false);
    return out;
}

std::vector<Polyline> DashPolylines(std::span<const Polyline> lines, const IDashOptions& dash) {
    float total = 0.f;
    for (float d : dash.mArray) {
        if (d < 0.f)
            return {lines.begin(), lines.end()};
        total += d;
    }
    if (dash.mArray.empty() || total <= 0.f)
        return {lines.begin(), lines.end()};
    // An odd-length pattern repeats twice so that on and off alternate, as SVG does.
    std::vector<float> pattern = dash.mArray;
    if (pattern.size() % 2 == 1) {
        pattern.insert(pattern.end(), dash.mArray.begin(), dash.mArray.end());
        total *= 2.f;
    }
    std::vector<Polyline> out;
    for (const Polyline& line : lines) {
        std::vector<PathPoint> pts = line.points;
        if (line.closed)
            pts.push_back(pts.front());
        // Where the pattern stands at the start of the line.
        float phase = std::fmod(dash.mOffset, total);
        if (phase < 0.f)
            phase += total;
        std::size_t index = 0;
        while (phase >= pattern[index]) {
            phase -= pattern[index];
            index = (index + 1) % pattern.size();
        }
        float left = pattern[index] - phase; // of the current dash or gap
        Polyline piece;
        if (index % 2 == 0)
            piece.points.push_back(pts.front());
        for (std::size_t i = 1; i < pts.size(); ++i) {
            PathPoint a = pts[i - 1];
            const PathPoint b = pts[i];
            float segment = Distance(a, b);
            while (segment > left) {
                const float t = left / segment;
                const PathPoint cut{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
                if (index % 2 == 0) {
                    piece.points.push_back(cut);
                    out.push_back(std::move(piece));
                    piece = {};
                } else {
                    piece.points.push_back(cut);
                }
                segment -= left;
                a = cut;
                index = (index + 1) % pattern.size();
                left = pattern[index];
            }
            left -= segment;
            if (index % 2 == 0)
                piece.points.push_back(b);
        }
        if (index % 2 == 0 && piece.points.size() >= 2)
            out.push_back(std::move(piece));
    }
    std::erase_if(out, [](const Polyline& p) { return p.points.size() < 2; });
    return out;
}

float SignedArea2(const Polyline& line) {
    float a = 0.f;
    const auto& v = line.points;
    for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++)
        a += v[j].x * v[i].y - v[i].x * v[j].y;
    return a;
}

std::vector<ESubpathFill> ClassifySubpaths(std::span<const Polyline> subpaths, EFillRule rule) {
    const std::size_t n = subpaths.size();
    std::vector<int> orientation(n);
    for (std::size_t i = 0; i < n; ++i) {
        const float a = subpaths[i].points.size() >= 3 ? SignedArea2(subpaths[i]) : 0.f;
        orientation[i] = a > 0.f ? 1 : (a < 0.f ? -1 : 0);
    }
    std::vector<ESubpathFill> result(n, ESubpathFill::Skip);
    for (std::size_t i = 0; i < n; ++i) {
        if (orientation[i] == 0)
            continue;
        int windingOutside = 0;
        int depthOutside = 0;
        for (std::size_t j = 0; j < n; ++j) {
            if (j != i && orientation[j] != 0 && Encloses(subpaths[j], subpaths[i])) {
                windingOutside += orientation[j];
                ++depthOutside;
            }
        }
        bool filledOutside, filledInside;
        if (rule == EFillRule::Winding) {
            filledOutside = windingOutside != 0;
            filledInside = windingOutside + orientation[i] != 0;
        } else {
            filledOutside = depthOutside % 2 == 1;
            filledInside = !filledOutside;
        }
        if (filledInside != filledOutside)
            result[i] = filledInside ? ESubpathFill::Solid : ESubpathFill::Hole;
    }
    return result;
}

} // namespace iplug::igraphics
