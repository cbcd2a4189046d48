// What the editor's overlays reach of the plug-in besides the edit commands: the diagnostics copy, the
// update check the user asks for, and the preferences. Main thread. The software-updates page follows
// the status word by itself (it redraws when the word changes), so nothing here redraws it.

#include "plugin/Corvalinth.h"
#include "plugin/diagnostics.h"

bool Corvalinth::CopyDiagnostics() {
    cv::EditorControls* controls = Controls();
    if (controls == nullptr)
        return false;
    cv::DiagnosticsValues values;
    values.sampleRateHz = EngineSampleRate();
    values.blockSize = GetBlockSize();
    values.inputChannels = NInChansConnected();
    values.outputChannels = NOutChansConnected();
    values.playbackDrops = 0; // no transport engine hands audio over in this system
    values.hostDrops = player_.overflows();
    values.auditionDrops = voice_.overflows();
    values.automationOverflows = gainAutomation_.overflows();
    const std::string text = cv::formatDiagnostics(values);
    return !text.empty() && controls->CopyToClipboard(text);
}

void Corvalinth::CheckForUpdates(bool userInitiated) {
    updates_.check(userInitiated, cv::kProductVersion);
}

void Corvalinth::DismissTransientUpdateStatus() {
    updates_.dismissTransient();
}
