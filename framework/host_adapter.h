#pragma once

// The platform side of the framework, as the plug-in reaches it: the notifications a plug-in sends to
// its host. One adapter per host API implements it (the Audio Unit wrapper on macOS, which cannot be
// built here; the stand-in host in tests and the command line).
//
// Threads: the plug-in calls these from whatever thread it runs on (main thread, host threads, the
// audio thread when it misbehaves); an adapter must accept calls from any thread at once.

namespace iplug {

class IHostAdapter {
public:
    virtual ~IHostAdapter() = default;
    // Something the host saves with its project changed (the host marks the project as modified).
    virtual void InformHostOfStateChange() = 0;
    // A gesture on a parameter starts; informs in between form one automation move.
    virtual void BeginInformHostOfParamChange(int paramIdx) = 0;
    virtual void InformHostOfParamChange(int paramIdx, double normalizedValue) = 0;
    virtual void EndInformHostOfParamChange(int paramIdx) = 0;
    virtual void InformHostOfLatencyChange(int latencyFrames) = 0;
    // The editor asks for a new window size in points; true when the host resized.
    virtual bool ResizeEditorWindow(int width, int height) = 0;
};

} // namespace iplug
