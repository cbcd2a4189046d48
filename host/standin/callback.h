#pragma once

// The plug-in entry points a host calls, named for reports, fault injection and the terminate trap.

namespace cv::standin {

enum class Callback {
    None,
    Construct,
    Reset,
    Activate,
    Process,
    ParamChange,
    Idle,
    SaveState,
    RestoreBegin,
    RestoreFinish,
    PresetRecall,
    EditorOpen,
    EditorClose,
    EditorResize,
    Destroy,
};

// "ProcessBlock", "OnReset", ...: the entry point's own name.
const char* callbackName(Callback callback) noexcept;

} // namespace cv::standin
