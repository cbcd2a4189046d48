#pragma once

// Vector paths in design units: move, line, cubic and close commands, the shapes built from them, and the
// geometry the drawing layer needs beyond NanoVG: flattening, dashing and the solid-or-hole decision for
// each sub-path of a filled shape.

#include "framework/graphics/irect.h"

#include <span>
#include <vector>

namespace iplug::igraphics {

enum class EWinding { CW, CCW }; // clockwise as seen on screen (y down)
enum class EFillRule { Winding, EvenOdd };
enum class ELineCap { Butt, Round, Square };
enum class ELineJoin { Miter, Round, Bevel };

// Dashes: lengths in design units alternating on, off, on, ...; an empty array draws a solid stroke.
struct IDashOptions {
    std::vector<float> mArray;
    float mOffset = 0.f; // how far into the pattern the stroke starts
};

struct IStrokeOptions {
    ELineCap mCapOption = ELineCap::Butt;
    ELineJoin mJoinOption = ELineJoin::Miter;
    float mMiterLimit = 10.f;
    IDashOptions mDash;
};

struct IFillOptions {
    EFillRule mFillRule = EFillRule::Winding;
};

struct PathPoint {
    float x = 0.f;
    float y = 0.f;
    bool operator==(const PathPoint&) const = default;
};

enum class EPathOp { MoveTo, LineTo, CubicTo, Close };

// One command; a cubic uses c1, c2 and p (its end), a move or line only p.
struct PathCommand {
    EPathOp op = EPathOp::MoveTo;
    PathPoint c1;
    PathPoint c2;
    PathPoint p;
};

struct Polyline {
    std::vector<PathPoint> points;
    bool closed = false;
    int subpath = 0; // which sub-path of the path it came from (0 for the first move)
};

class Path {
public:
    void Clear() { mCommands.clear(); }
    bool Empty() const { return mCommands.empty(); }
    const std::vector<PathCommand>& Commands() const { return mCommands; }

    void MoveTo(float x, float y);
    // A line or curve without a current point starts one at its start (at the origin for a line).
    void LineTo(float x, float y);
    void CubicTo(float c1x, float c1y, float c2x, float c2y, float x, float y);
    void QuadTo(float cx, float cy, float x, float y);
    void Close();

    // A circular arc around (cx, cy); angles in degrees, 0 straight up, growing clockwise. It joins the
    // current sub-path with a line to its start, or starts a sub-path when there is none.
    void Arc(float cx, float cy, float r, float fromDeg, float toDeg, EWinding dir = EWinding::CW);
    // SVG's elliptical arc from the current point to (x, y) (radii corrected as SVG requires).
    void SvgArcTo(float rx, float ry, float xRotationDeg, bool largeArc, bool sweep, float x, float y);

    void Rect(const IRECT& r);
    // Corner radii are clamped to half the shorter side.
    void RoundRect(const IRECT& r, float tl, float tr, float br, float bl);
    void RoundRect(const IRECT& r, float radius) { RoundRect(r, radius, radius, radius, radius); }
    void Circle(float cx, float cy, float r);
    void Ellipse(const IRECT& r);

    // Sub-paths, counted by their moves.
    int SubpathCount() const;
    // The current point (the origin when the path is empty).
    PathPoint CurrentPoint() const;
    // The start of the current sub-path.
    PathPoint SubpathStart() const;

    // Each sub-path as a polyline; curves are split until no point is further than tolerance from the
    // curve. Sub-paths of fewer than two points are dropped.
    std::vector<Polyline> Flatten(float tolerance) const;

private:
    std::vector<PathCommand> mCommands;
};

// The on-pieces of a dash pattern laid along polylines, as open polylines. A pattern that sums to zero or
// less, or holds a negative length, leaves the lines undashed.
std::vector<Polyline> DashPolylines(std::span<const Polyline> lines, const IDashOptions& dash);

enum class ESubpathFill { Solid, Hole, Skip };

// For each sub-path of a fill: Solid when the area just inside its outline is filled and the area just
// outside is not, Hole for the reverse, Skip when both sides are alike (the outline changes nothing).
// The fill follows the rule over the original orientations; each sub-path is tested against the others
// that enclose it. NanoVG then draws Solid sub-paths counter-clockwise and Hole sub-paths clockwise.
std::vector<ESubpathFill> ClassifySubpaths(std::span<const Polyline> subpaths, EFillRule rule);

// Twice the signed area of a closed polyline (positive for clockwise on screen, y down).
float SignedArea2(const Polyline& line);

} // namespace iplug::igraphics
