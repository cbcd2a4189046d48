#include "framework/graphics/offscreen.h"
#include <gtest/gtest.h>
using namespace iplug::igraphics;
TEST(Smoke, Renders) {
    auto g = MakeOffscreenGraphics(nullptr, 100, 50, 60, 1.f);
    g->Draw();
    auto img = dynamic_cast<OffscreenBackend&>(g->GetBackend()).ReadPixels();
    EXPECT_EQ(img.w, 100);
}
