// The SVG path-data parser, the hole marking of sub-paths, dashes, and every icon the editor uses.

#include "framework/graphics/svg.h"
#include "framework/graphics/testing/test_scene.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace iplug::igraphics {
namespace {

std::vector<PathCommand> Parse(const char* d) {
    Path p;
    std::string error;
    EXPECT_TRUE(ParseSvgPathData(d, p, &error)) << error;
    return p.Commands();
}

std::string ReadIcon(const std::string& name) {
    std::ifstream in(ResourcesDir() / "icons" / (name + ".svg"));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SvgPathData, CompactNumbersAndImplicitRepeats) {
    struct Case {
        const char* d;
        std::vector<PathPoint> ends; // the end point of each command
    } cases[] = {
        {"M1-15.29", {{1.f, -15.29f}}},                        // a sign ends a number
        {"M.5.5l.5.5", {{0.5f, 0.5f}, {1.f, 1.f}}},            // a second dot ends one too
        {"M1e1,2E-1", {{10.f, 0.2f}}},                         // exponents
        {"M0,0 10,0 10,10", {{0, 0}, {10, 0}, {10, 10}}},      // pairs after a move are lines
        {"m1,1 2,2 h3 v-1", {{1, 1}, {3, 3}, {6, 3}, {6, 2}}}, // relative, implicit relative lines
        {"M0,0H10V5h-2v-1z", {{0, 0}, {10, 0}, {10, 5}, {8, 5}, {8, 4}, {0, 0}}},
        {"M0 0 L5 5 Z m 2 2 l1 0", {{0, 0}, {5, 5}, {0, 0}, {2, 2}, {3, 2}}}, // relative to the closed start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.d);
        const std::vector<PathCommand> cmds = Parse(c.d);
        ASSERT_EQ(cmds.size(), c.ends.size());
        for (std::size_t i = 0; i < cmds.size(); ++i) {
            EXPECT_NEAR(cmds[i].p.x, c.ends[i].x, 1e-4f) << i;
            EXPECT_NEAR(cmds[i].p.y, c.ends[i].y, 1e-4f) << i;
        }
    }
}

TEST(SvgPathData, CurvesReflectAndArcsBecomeCubics) {
    // S reflects the previous cubic's second control point; after a line it uses the current point.
    std::vector<PathCommand> c = Parse("M0,0 C0,10 10,10 10,0 S20,-10 20,0");
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[2].c1, (PathPoint{10.f, -10.f}));
    c = Parse("M0,0 L5,0 s5,5 10,0");
    EXPECT_EQ(c[2].c1, (PathPoint{5.f, 0.f}));
    // A quadratic becomes a cubic with control points two thirds of the way to its control point.
    c = Parse("M0,0 Q3,3 6,0 T12,0");
    EXPECT_NEAR(c[1].c1.x, 2.f, 1e-5f);
    EXPECT_NEAR(c[1].c1.y, 2.f, 1e-5f);
    EXPECT_NEAR(c[2].c1.y, -2.f, 1e-5f); // T reflects the control point (3,3) about (6,0)
    // A half circle of radius 10 (flags written without separators) ends exactly on its end point and
    // passes through the far side of the circle.
    c = Parse("M0,0a10,10 0 01 20,0");
    ASSERT_GE(c.size(), 3u);
    EXPECT_EQ(c.back().p, (PathPoint{20.f, 0.f}));
    Path p;
    ParseSvgPathData("M0,0a10,10 0 01 20,0", p);
    float minY = 0.f;
    for (const Polyline& line : p.Flatten(0.01f))
        for (const PathPoint& pt : line.points)
            minY = std::min(minY, pt.y);
    EXPECT_NEAR(minY, -10.f, 0.02f); // sweep flag 1 runs clockwise on screen, over the top
    // Radii too small for the end points grow until the arc fits.
    c = Parse("M0,0 A1,1 0 0 1 20,0");
    EXPECT_EQ(c.back().p, (PathPoint{20.f, 0.f}));
}

TEST(SvgPathData, MalformedDataSaysWhere) {
    for (const char* d : {"L1,1", "M1", "M0,0 X1,1", "M0,0 a1,1 0 2 1 3,3", "M0,0 z 1", "M1e99,0"}) {
        SCOPED_TRACE(d);
        Path p;
        std::string error;
        EXPECT_FALSE(ParseSvgPathData(d, p, &error));
        EXPECT_NE(error.find("at character"), std::string::npos);
    }
    EXPECT_THROW(ParseSvgDocument("<svg><path d='M0,0 L1'/></svg>"), std::invalid_argument);
    EXPECT_THROW(ParseSvgDocument("<svg viewBox='0 0 0 10'/>"), std::invalid_argument);
    EXPECT_THROW(ParseSvgDocument("<html/>"), std::invalid_argument);
    // Far beyond any icon: refused before it is parsed.
    EXPECT_THROW(ParseSvgDocument("<svg viewBox='0 0 1 1'>" + std::string(1 << 20, ' ') + "</svg>"),
                 std::invalid_argument);
}

TEST(SubpathFill, NestedOutlinesAlternateByTheRule) {
    // Three nested squares, all clockwise: the winding rule fills all three alike (the inner outlines
    // change nothing), even-odd makes the middle one a hole. The counter-clockwise variant cuts holes
    // under either rule.
    auto square = [](float h, bool ccw) {
        Polyline p;
        p.closed = true;
        p.points = {{-h, -h}, {h, -h}, {h, h}, {-h, h}};
        if (ccw)
            std::reverse(p.points.begin(), p.points.end());
        return p;
    };
    const std::vector<Polyline> same = {square(30, false), square(20, false), square(10, false)};
    const std::vector<Polyline> alternating = {square(30, false), square(20, true), square(10, false)};
    using F = ESubpathFill;
    EXPECT_EQ(ClassifySubpaths(same, EFillRule::Winding), (std::vector<F>{F::Solid, F::Skip, F::Skip}));
    EXPECT_EQ(ClassifySubpaths(same, EFillRule::EvenOdd), (std::vector<F>{F::Solid, F::Hole, F::Solid}));
    EXPECT_EQ(ClassifySubpaths(alternating, EFillRule::Winding),
              (std::vector<F>{F::Solid, F::Hole, F::Solid}));
}

TEST(RoundRect, CornersAreClampedToHalfTheShorterSide) {
    constexpr float kPi = 3.14159265f;
    struct Case {
        const char* what;
        IRECT r;
        float radius;
        float area; // a band with half discs of radius min(w, h) / 2 at its ends
    } cases[] = {
        {"a wide band", IRECT(0, 0, 100, 10), 20.f, 90.f * 10.f + kPi * 25.f},
        {"a short note", IRECT(0, 0, 6, 14), 4.f, 6.f * 14.f - (4.f - kPi) * 9.f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Path p;
        p.RoundRect(c.r, c.radius);
        const std::vector<Polyline> lines = p.Flatten(0.01f);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NEAR(std::abs(SignedArea2(lines[0])) / 2.f, c.area, 0.5f);
    }
}

TEST(Dashes, PiecesFollowThePatternAcrossCorners) {
    Polyline l;
    l.points = {{0, 0}, {10, 0}, {10, 10}};
    IDashOptions dash;
    dash.mArray = {4.f, 2.f};
    const std::vector<Polyline> pieces = DashPolylines(std::vector<Polyline>{l}, dash);
    // On 0-4, 6-10, then 12-16 (down the second side), 18-20.
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[1].points.front(), (PathPoint{6, 0}));
    EXPECT_EQ(pieces[1].points.back(), (PathPoint{10, 0}));
    EXPECT_EQ(pieces[2].points.front(), (PathPoint{10, 2}));
    EXPECT_EQ(pieces[3].points.back(), (PathPoint{10, 10}));
    dash.mOffset = 5.f; // starts inside the first gap
    EXPECT_EQ(DashPolylines(std::vector<Polyline>{l}, dash).front().points.front(), (PathPoint{1, 0}));
    dash.mArray = {0.f, 0.f}; // a pattern of no length leaves the line whole
    EXPECT_EQ(DashPolylines(std::vector<Polyline>{l}, dash).size(), 1u);
}

TEST(EditorIcons, EveryIconParsesWithItsSubpathsAndHoles) {
    struct Expected {
        const char* name;
        int subpaths, solid, holes;
    } expected[] = {
        {"split", 4, 2, 2}, {"merge", 1, 1, 0}, {"unison", 2, 2, 0},   {"undo", 1, 1, 0},
        {"redo", 1, 1, 0},  {"help", 4, 3, 1},  {"settings", 4, 2, 2}, {"skip-back", 2, 1, 1},
        {"play", 2, 1, 1},  {"stop", 2, 1, 1},  {"zoom-out", 3, 2, 1}, {"zoom-in", 3, 2, 1},
        {"fit", 4, 4, 0},
    };
    ASSERT_EQ(std::size(expected), EditorIcons().size());
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const SVGDocument doc = ParseSvgDocument(ReadIcon(e.name));
        EXPECT_EQ(doc.viewW, 256.f);
        ASSERT_EQ(doc.shapes.size(), 1u);
        EXPECT_TRUE(doc.shapes[0].fillCurrentColor);
        EXPECT_EQ(doc.shapes[0].path.SubpathCount(), e.subpaths);
        const auto& fills = doc.shapes[0].subpathFill;
        EXPECT_EQ(std::count(fills.begin(), fills.end(), ESubpathFill::Solid), e.solid);
        EXPECT_EQ(std::count(fills.begin(), fills.end(), ESubpathFill::Hole), e.holes);
    }
}

} // namespace
} // namespace iplug::igraphics
