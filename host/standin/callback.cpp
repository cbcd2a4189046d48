#include "host/standin/callback.h"

namespace cv::standin {

const char* callbackName(Callback callback) noexcept {
    switch (callback) {
    case Callback::None:
        return "no callback";
    case Callback::Construct:
        return "the constructor";
    case Callback::Reset:
        return "OnReset";
    case Callback::Activate:
        return "OnActivate";
    case Callback::Process:
        return "ProcessBlock";
    case Callback::ParamChange:
        return "OnParamChange";
    case Callback::Idle:
        return "OnIdle";
    case Callback::SaveState:
        return "SerializeState";
    case Callback::RestoreBegin:
        return "OnRestoreStateBegin";
    case Callback::RestoreFinish:
        return "UnserializeState";
    case Callback::PresetRecall:
        return "RestorePreset";
    case Callback::EditorOpen:
        return "OnUIOpen";
    case Callback::EditorClose:
        return "OnUIClose";
    case Callback::EditorResize:
        return "OnParentWindowResize";
    case Callback::Destroy:
        return "the destructor";
    }
    return "an unknown callback";
}

} // namespace cv::standin

#include <cstdlib>
#include <cstring>
#include <exception>
#include <unistd.h>

namespace cv::standin {
namespace {

constinit thread_local Callback tCurrent = Callback::None;

void writeStderr(const char* text) noexcept {
    const auto ignored = ::write(2, text, std::strlen(text));
    (void)ignored;
}

[[noreturn]] void terminateTrap() noexcept {
    writeStderr("stand-in host: terminate inside ");
    writeStderr(callbackName(tCurrent));
    writeStderr("\n");
    std::abort();
}

} // namespace

CallbackMark::CallbackMark(Callback callback) noexcept : previous_(tCurrent) {
    tCurrent = callback;
}

CallbackMark::~CallbackMark() {
    tCurrent = previous_;
}

Callback currentCallback() noexcept {
    return tCurrent;
}

void installTerminateTrap() noexcept {
    static const bool installed = [] {
        std::set_terminate(terminateTrap);
        return true;
    }();
    (void)installed;
}

} // namespace cv::standin
