#include "ui/overlay_services.h"

#include "plugin/Corvalinth.h"

namespace cv::ui {

OverlayServices OverlayServicesFor(Corvalinth& plugin) {
    OverlayServices s;
    s.cancelBackgroundWork = [&plugin] { plugin.CancelBackgroundWork(); };
    s.copyDiagnostics = [&plugin] { return plugin.CopyDiagnostics(); };
    s.prefs.store = &plugin.Preferences();
    s.prefs.updateChecksChanged = [&plugin](bool enabled) { plugin.SetUpdateChecksEnabled(enabled); };
    s.updates.status = [&plugin] { return plugin.UpdateStatus(); };
    s.updates.result = [&plugin]() -> const UpdateCheckResult& { return plugin.LastUpdateResult(); };
    s.updates.checkForUpdates = [&plugin] { plugin.CheckForUpdates(true); };
    s.updates.dismissTransient = [&plugin] { plugin.DismissTransientUpdateStatus(); };
    return s;
}

} // namespace cv::ui
