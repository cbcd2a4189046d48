// IRECT, IColor and IPattern: the geometry and colour maths every painter builds on.

#include "framework/graphics/icolor.h"
#include "framework/graphics/irect.h"

#include <gtest/gtest.h>

namespace iplug::igraphics {
namespace {

TEST(IRECT, ContainsTakesLeftAndTopButNotRightAndBottom) {
    const IRECT r(10.f, 20.f, 30.f, 40.f);
    struct Case {
        float x, y;
        bool inside;
    } cases[] = {{10.f, 20.f, true},  {29.99f, 39.99f, true}, {30.f, 25.f, false},
                 {15.f, 40.f, false}, {9.99f, 25.f, false},   {15.f, 19.99f, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
        EXPECT_EQ(r.Contains(c.x, c.y), c.inside);
    }
    // Neighbours sharing an edge never both hold a point.
    EXPECT_FALSE(IRECT(0, 0, 10, 10).Contains(10.f, 5.f) && IRECT(10, 0, 20, 10).Contains(10.f, 5.f));
}

TEST(IRECT, UnionIntersectionAndPadding) {
    const IRECT a(0, 0, 10, 10), b(5, 5, 20, 8), far(50, 50, 60, 60);
    EXPECT_EQ(a.Union(b), IRECT(0, 0, 20, 10));
    EXPECT_EQ(a.Union(IRECT()), a); // an empty rectangle adds nothing
    EXPECT_EQ(IRECT().Union(b), b);
    EXPECT_EQ(a.Intersect(b), IRECT(5, 5, 10, 8));
    EXPECT_TRUE(a.Intersect(far).Empty()); // not the hull
    EXPECT_TRUE(a.Intersect(IRECT(10, 0, 20, 10)).Empty());
    EXPECT_EQ(a.GetPadded(2.f), IRECT(-2, -2, 12, 12));
    EXPECT_EQ(a.GetPadded(-2.f), IRECT(2, 2, 8, 8));
    EXPECT_EQ(a.GetCentredInside(4.f, 2.f), IRECT(3, 4, 7, 6));
    EXPECT_EQ(a.GetFromRight(3.f), IRECT(7, 0, 10, 10));
    EXPECT_EQ(a.GetFromTop(30.f), a); // clamped to the rectangle
}

TEST(IRECT, SubdivisionCoversTheWholeWithoutGaps) {
    const IRECT r(0.f, 0.f, 100.f, 10.f);
    for (int n : {1, 3, 7}) {
        SCOPED_TRACE(n);
        float left = r.L;
        for (int i = 0; i < n; ++i) {
            const IRECT part = r.SubRectHorizontal(n, i);
            EXPECT_FLOAT_EQ(part.L, left);
            left = part.R;
        }
        EXPECT_EQ(left, r.R); // exactly, not within rounding
    }
    EXPECT_EQ(r.SubRectHorizontal(0, 5), r); // n below 1 is one part; i clamped
    EXPECT_EQ(IRECT(0, 0, 10, 30).SubRectVertical(3, 1), IRECT(0, 10, 10, 20));
    EXPECT_EQ(IRECT(0, 0, 40, 20).GetGridCell(1, 2, 2, 4), IRECT(20, 10, 30, 20));
}

TEST(IColor, OpacityAndBlendingRoundEachChannel) {
    const IColor dim(255, 154, 160, 166), ink(255, 232, 234, 237);
    EXPECT_EQ(IColor::LinearInterpolateBetween(dim, ink, 0.f), dim);
    EXPECT_EQ(IColor::LinearInterpolateBetween(dim, ink, 1.f), ink);
    // 154 + 78 x 0.55 = 196.9 -> 197 (rounded, not truncated); 160 + 74 x 0.55 = 200.7 -> 201.
    EXPECT_EQ(IColor::LinearInterpolateBetween(dim, ink, 0.55f), IColor(255, 197, 201, 205));
    EXPECT_EQ(IColor::LinearInterpolateBetween(dim, ink, 7.f), ink); // clamped
    EXPECT_EQ(IColor(200, 1, 2, 3).WithOpacity(0.5f), IColor(100, 1, 2, 3));
    EXPECT_EQ(IColor(255, 1, 2, 3).WithOpacity(0.175f), IColor(45, 1, 2, 3)); // 44.6 rounds up
    EXPECT_EQ(IColor(255, 1, 2, 3).WithAlpha(300), IColor(255, 1, 2, 3));
}

TEST(IPattern, ColourAtFollowsTheStops) {
    const IPattern four = IPattern::CreateRadialGradient(0, 0, 10,
                                                         {{IColor(255, 232, 233, 236), 0.f},
                                                          {IColor(255, 196, 198, 202), 0.45f},
                                                          {IColor(255, 150, 152, 157), 0.82f},
                                                          {IColor(255, 120, 122, 127), 1.f}});
    struct Case {
        float offset;
        IColor expected;
    } cases[] = {
        {-1.f, IColor(255, 232, 233, 236)},   // before the first stop
        {0.45f, IColor(255, 196, 198, 202)},  // on a stop exactly
        {0.524f, IColor(255, 187, 189, 193)}, // a fifth of the way from 0.45 to 0.82
        {1.f, IColor(255, 120, 122, 127)},    {2.f, IColor(255, 120, 122, 127)}, // after the last
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_EQ(four.ColorAt(c.offset), c.expected);
    }
    // Two stops at one offset make a hard step.
    const IPattern step = IPattern::CreateLinearGradient(
        0, 0, 1, 0, {{COLOR_BLACK, 0.f}, {COLOR_BLACK, 0.5f}, {COLOR_WHITE, 0.5f}, {COLOR_WHITE, 1.f}});
    EXPECT_EQ(step.ColorAt(0.49f), COLOR_BLACK);
    EXPECT_EQ(step.ColorAt(0.51f), COLOR_WHITE);
    EXPECT_EQ(IPattern(IColor(9, 8, 7, 6)).ColorAt(0.3f), IColor(9, 8, 7, 6));
}

} // namespace
} // namespace iplug::igraphics
