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

namespace cv::standin {

// Marks the calling thread as inside `callback` for its life, so the terminate trap can name it.
class CallbackMark {
public:
    explicit CallbackMark(Callback callback) noexcept;
    ~CallbackMark();
    CallbackMark(const CallbackMark&) = delete;
    CallbackMark& operator=(const CallbackMark&) = delete;

private:
    Callback previous_;
};

// The callback the calling thread is inside (Callback::None outside).
Callback currentCallback() noexcept;

// Installs, once per process, a terminate handler that names the callback the terminating thread was
// inside ("stand-in host: terminate inside ProcessBlock") on standard error before aborting, so an
// exception thrown through a noexcept boundary in a plug-in is attributed.
void installTerminateTrap() noexcept;

} // namespace cv::standin
