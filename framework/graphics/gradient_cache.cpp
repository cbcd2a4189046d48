#include "framework/graphics/gradient_cache.h"

#include "nanovg.h"

#include <algorithm>
#include <cmath>

namespace iplug::igraphics {

GradientCache::~GradientCache() {
    for (auto& [key, entry] : mEntries)
        nvgDeleteImage(mVG, entry.image);
}

int GradientCache::Image(const IPattern& pattern) {
    std::vector<int> key{static_cast<int>(pattern.mType)};
    for (const IColorStop& s : pattern.mStops)
        key.insert(key.end(), {s.mColor.A, s.mColor.R, s.mColor.G, s.mColor.B,
                               static_cast<int>(std::lround(s.mOffset * 100000.f))});
    if (auto it = mEntries.find(key); it != mEntries.end()) {
        it->second.lastUse = ++mUses;
        return it->second.image;
    }
    if (mEntries.size() >= 64) {
        auto oldest = std::min_element(mEntries.begin(), mEntries.end(), [](const auto& a, const auto& b) {
            return a.second.lastUse < b.second.lastUse;
        });
        nvgDeleteImage(mVG, oldest->second.image);
        mEntries.erase(oldest);
    }
    const bool radial = pattern.mType == EPatternType::Radial;
    const int w = kSize, h = radial ? kSize : 1;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(w * h * 4));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Texel centres: the offset along the axis, or the distance from the centre over the radius.
            const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(w);
            float offset = u;
            if (radial) {
                const float v = (static_cast<float>(y) + 0.5f) / static_cast<float>(h);
                offset = std::hypot(2.f * u - 1.f, 2.f * v - 1.f);
            }
            const IColor c = pattern.ColorAt(offset);
            unsigned char* p = &pixels[static_cast<std::size_t>((y * w + x) * 4)];
            p[0] = static_cast<unsigned char>(c.R);
            p[1] = static_cast<unsigned char>(c.G);
            p[2] = static_cast<unsigned char>(c.B);
            p[3] = static_cast<unsigned char>(c.A);
        }
    }
    const int image = nvgCreateImageRGBA(mVG, w, h, 0, pixels.data());
    mEntries[key] = {image, ++mUses};
    return image;
}

} // namespace iplug::igraphics
