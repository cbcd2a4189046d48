#include "plugin/dawstate_values.h"

#include "plugin/corvalinth_params.h"

#include <algorithm>
#include <cmath>

namespace cv::dawstate {
namespace {

// The index a value stands for, within 0..last; NaN and infinities count as 0.
int indexOf(double value, int last) noexcept {
    if (!std::isfinite(value)) {
        return 0;
    }
    return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(last)));
}

} // namespace

Values parameterValues(const iplug::IEditorDelegate& parameters) noexcept {
    Values values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = parameters.GetParam(static_cast<int>(i))->Value();
    }
    return values;
}

bool valuesFitParameters(const Values& values, const iplug::IEditorDelegate& parameters) noexcept {
    for (std::size_t i = 0; i < values.size(); ++i) {
        const iplug::IParam* parameter = parameters.GetParam(static_cast<int>(i));
        if (parameter == nullptr || !std::isfinite(values[i]) ||
            parameter->Constrain(values[i]) != values[i]) {
            return false;
        }
    }
    return true;
}

Values valuesToSave(const Values& parameterValues, bool sessionHasAnalysis,
                    int lastAnalysedAlgorithm) noexcept {
    Values values = parameterValues;
    if (sessionHasAnalysis) {
        values[kValueAlgorithm] = static_cast<double>(lastAnalysedAlgorithm);
    }
    return values;
}

np::SessionMeta DawMetaFromParameters(const Values& values) noexcept {
    np::SessionMeta meta;
    meta.keyRoot = indexOf(values[kValueKey], 11);
    meta.scaleKind = indexOf(values[kValueScale], 2);
    meta.algorithm = indexOf(values[kValueAlgorithm], 1);
    meta.a4Hz = a4HzFromIndex(indexOf(values[kValueA4], 7));
    meta.tempoBpm = values[kValueTempo];
    return meta;
}

} // namespace cv::dawstate
