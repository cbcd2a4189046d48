#include "ui/editor_placeholders.h"

#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"
#include "ui/theme/theme.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace cv::ui {

using namespace iplug::igraphics;

InspectorPlaceholder::InspectorPlaceholder(const IRECT& bounds) : IControl(bounds) {}

void InspectorPlaceholder::Draw(IGraphics& g) {
    ivory::DrawSoftPanel(g, GetRECT(), 16.f, 0);
}

} // namespace cv::ui
