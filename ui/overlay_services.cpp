#include "ui/overlay_services.h"

#include "plugin/Corvalinth.h"

namespace cv::ui {

OverlayServices OverlayServicesFor(Corvalinth& plugin) {
    OverlayServices s;
    s.cancelBackgroundWork = [&plugin] { plugin.CancelBackgroundWork(); };
    return s;
}

} // namespace cv::ui
