#include "ui/editor_geometry.h"

#include <algorithm>

namespace cv::ui {

float TabsWidth(std::span<const float> labelWidths) {
    float w = 8.f;
    for (float label : labelWidths)
        w += label + 22.f;
    return w;
}

EditorGeometry ComputeEditorGeometry(float w, float h, float tabsWidth) {
    EditorGeometry e;
    // Header: a cursor runs right from the word mark; buttons sit at y 15..47 around the band's centre 31.
    constexpr float top = 15.f, bottom = 47.f;
    e.wordmark = IRECT(14.f, 4.f, 138.f, 58.f);
    float x = 138.f;
    const auto separator = [&] {
        x += 16.f;
        const IRECT line(x, 21.f, x + 1.f, 41.f);
        x += 1.f + 16.f;
        return line;
    };
    const auto take = [&](float width) {
        const IRECT r(x, top, x + width, bottom);
        x += width;
        return r;
    };
    e.separators[0] = separator();
    e.capture = take(96.f);
    x += 4.f;
    e.original = take(96.f);
    x += 4.f;
    e.clear = take(58.f);
    e.separators[1] = separator();
    e.exportButton = take(78.f);
    x += 14.f;
    e.time = take(94.f);
    // From the right edge.
    e.volLabel = IRECT(w - 148.f, 4.f, w - 116.f, 58.f);
    e.vol = IRECT(w - 110.f, top, w - 14.f, bottom);
    e.help = IRECT(w - 308.f, top, w - 274.f, bottom);
    e.settings = IRECT(w - 346.f, top, w - 312.f, bottom);
    e.file = IRECT(e.time.R + 16.f, top, e.settings.L - 10.f, bottom);

    // Tool bar.
    e.toolLabel = IRECT(14.f, 58.f, 56.f, 104.f);
    x = 66.f;
    const auto row = [&](float gap, float width) {
        x += gap;
        const IRECT r(x, kToolRowTop, x + width, kToolRowBottom);
        x += width;
        return r;
    };
    e.tabs = row(0.f, tabsWidth);
    e.undo = row(16.f, 38.f);
    e.redo = row(4.f, 38.f);
    e.split = row(16.f, 48.f);
    e.merge = row(4.f, 48.f);
    e.dropdownsRight = w - 14.f;

    e.inspector = IRECT(14.f, h - 118.f, w - 14.f, h - 22.f);
    e.noteCount = IRECT(w - 234.f, h - 20.f, w - 14.f, h - 3.f);
    e.hint = IRECT(14.f, h - 20.f, w - 250.f, h - 3.f);
    e.canvas = IRECT(14.f, 114.f, w - 14.f, h - 128.f);
    e.zoomOut = IRECT(w - 138.f, h - 172.f, w - 106.f, h - 140.f);
    e.zoomIn = IRECT(w - 99.f, h - 172.f, w - 67.f, h - 140.f);
    e.fit = IRECT(w - 60.f, h - 172.f, w - 28.f, h - 140.f);
    e.notice = IRECT(28.f, h - 166.f, std::min(634.f, w - 28.f), h - 128.f);
    e.whole = IRECT(0.f, 0.f, w, h);
    return e;
}

std::vector<IRECT> AlignRightToLeft(float right, float top, float bottom, std::span<const float> widths) {
    std::vector<IRECT> rects;
    rects.reserve(widths.size());
    float x = right;
    for (float width : widths) {
        rects.emplace_back(x - width, top, x, bottom);
        x -= width + kDropdownGap;
    }
    return rects;
}

} // namespace cv::ui
