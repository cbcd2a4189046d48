#pragma once

// What the notice line and the overlays call in the plug-in, gathered for the layout: the cancel action
// behind the notice line's "Cancel", the diagnostics copy behind help's "Copy diagnostics", the
// preferences store, and the update check the software-updates overlay shows. An empty member does
// nothing (a copy that cannot run reports "Couldn't copy"). Main thread.

#include "ui/prefs_overlay.h"
#include "ui/update_center_overlay.h"

#include <functional>

class Corvalinth;

namespace cv::ui {

struct OverlayServices {
    std::function<void()> cancelBackgroundWork;
    std::function<bool()> copyDiagnostics;
    PrefsOverlay::Services prefs;
    UpdateCenterModel updates;
};

// The services bound to the plug-in: its cancel action, its diagnostics copy, its preferences store with
// its copy of the "Update checks" choice, and its update check.
OverlayServices OverlayServicesFor(Corvalinth& plugin);

} // namespace cv::ui
