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
