#pragma once

// Stand-in for the control the layout reserves a tag for before it exists: the inspector (13). It draws
// its area plainly, so the editor, the plug-in and the tests run against it.

#include "framework/graphics/icontrol.h"
#include "ui/editor_seams.h"

#include <string>
#include <vector>

namespace cv::ui {

// The inspector's panel, empty.
class InspectorPlaceholder : public iplug::igraphics::IControl {
public:
    explicit InspectorPlaceholder(const iplug::igraphics::IRECT& bounds);
    void Draw(iplug::igraphics::IGraphics& g) override;
};

} // namespace cv::ui
