#pragma once

// Pixel checks shared by the image tests: a frame against its golden image (with a tolerance) and colours
// at chosen points. Regenerate a golden image with CV_UPDATE_GOLDEN=1 and the test's filter (for example
// build/tests/ui/ui_tests --gtest_filter=...), then look at it.

#include "framework/graphics/offscreen.h"
#include "framework/graphics/testing/test_driver.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace cvtest {

inline int MaxChannelDiff(const iplug::igraphics::IColor& a, const iplug::igraphics::IColor& b) {
    return std::max({std::abs(a.A - b.A), std::abs(a.R - b.R), std::abs(a.G - b.G), std::abs(a.B - b.B)});
}

// Fewer than maxFraction of the pixels (0.2 % by default) may differ from <folder>/<name>.png by more
// than 8 in a channel: rasterisers differ by a level here and there on antialiased edges, while a changed
// drawing moves whole areas.
inline void ExpectMatchesGolden(const iplug::igraphics::RGBAImage& frame, const std::string& folder,
                                const std::string& name, double maxFraction = 0.002) {
    const std::string golden = folder + "/" + name + ".png";
    if (std::getenv("CV_UPDATE_GOLDEN")) {
        ASSERT_TRUE(iplug::igraphics::WritePNG(frame, golden));
    }
    const iplug::igraphics::RGBAImage expected = iplug::igraphics::ReadPNG(golden);
    ASSERT_EQ(expected.w, frame.w) << "missing or mis-sized golden image " << golden;
    ASSERT_EQ(expected.h, frame.h);
    std::size_t off = 0;
    for (int y = 0; y < frame.h; ++y)
        for (int x = 0; x < frame.w; ++x)
            off += MaxChannelDiff(frame.At(x, y), expected.At(x, y)) > 8;
    EXPECT_LT(static_cast<double>(off) / (frame.w * frame.h), maxFraction) << off << " pixels differ";
}

// The editor's images come from this build's own fonts and renderer and match their golden images to the
// pixel, so they are held to 0.005 %: a changed word, text colour or icon moves 60 pixels or more of a
// 1280 x 816 frame, a level of rounding on an edge none.
inline constexpr double kEditorGoldenFraction = 0.00005;

struct PixelProbe {
    const char* what;
    float x, y;
    iplug::igraphics::IColor color;
    int tolerance;
};

// The last rendered frame holds each probe's colour within its tolerance.
inline void ExpectPixels(iplug::igraphics::TestDriver& driver, const std::vector<PixelProbe>& probes) {
    for (const PixelProbe& p : probes) {
        SCOPED_TRACE(p.what);
        const iplug::igraphics::IColor got = driver.PixelAt(p.x, p.y);
        EXPECT_LE(MaxChannelDiff(got, p.color), p.tolerance) << got.R << "," << got.G << "," << got.B;
    }
}

} // namespace cvtest
