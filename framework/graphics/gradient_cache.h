#pragma once

// Textures for gradients of more than two stops, which NanoVG cannot draw itself: a linear gradient is a
// 256 x 1 texture stretched along its axis, a radial one a 256 x 256 texture over its bounding square; both
// clamp at their edges, so the end colours continue beyond the last stop. Kept per stop list, the least
// recently used dropped beyond 64.

#include "framework/graphics/icolor.h"

#include <cstdint>
#include <map>
#include <vector>

struct NVGcontext;

namespace iplug::igraphics {

class GradientCache {
public:
    explicit GradientCache(NVGcontext* vg) : mVG(vg) {}
    ~GradientCache();
    GradientCache(const GradientCache&) = delete;
    GradientCache& operator=(const GradientCache&) = delete;

    // The NanoVG image for a linear or radial pattern's stops.
    int Image(const IPattern& pattern);

    static constexpr int kSize = 256;

private:
    struct Entry {
        int image = 0;
        std::uint64_t lastUse = 0;
    };
    NVGcontext* mVG;
    std::map<std::vector<int>, Entry> mEntries;
    std::uint64_t mUses = 0;
};

} // namespace iplug::igraphics
