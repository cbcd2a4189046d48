#include "plugin/corvalinth_params.h"

#include <algorithm>
#include <cmath>

namespace cv {

iplug::Config makeCorvalinthConfig() {
    iplug::Config config;
    config.nParams = kNumParams;
    config.nPresets = 1;
    config.channelIOStr = "1-1 2-2";
    config.pluginName = "Corvalinth";
    config.productName = "Corvalinth";
    config.mfrName = "Vinkaq Audio";
    config.vendorVersion = 0x00010000;
    config.uniqueID = iplug::MakeFourCharCode("Cvth");
    config.mfrID = iplug::MakeFourCharCode("Vnkq");
    config.latency = 0;
    config.plugDoesMidiIn = false;
    config.plugDoesMidiOut = false;
    config.plugDoesChunks = true;
    config.plugHasUI = true;
    config.plugWidth = 1280;
    config.plugHeight = 816;
    config.plugMinWidth = 896;
    config.plugMinHeight = 571;
    config.plugMaxWidth = 1920;
    config.plugMaxHeight = 1224;
    config.plugHostResize = true;
    config.bundleID = "com.vinkaq.corvalinth";
    config.appGroupID = "group.com.vinkaq.corvalinth";
    return config;
}

void declareCorvalinthParameters(iplug::IEditorDelegate& delegate) {
    using iplug::IParam;
    delegate.GetParam(kParamVolume)->InitDouble("Volume", 100.0, 0.0, 100.0, 0.1, "%");
    delegate.GetParam(kParamKey)->InitEnum("Key", 0,
                                           {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"},
                                           IParam::kFlagCannotAutomate);
    delegate.GetParam(kParamScale)
        ->InitEnum("Scale", 0, {"Chromatic", "Major", "Minor"}, IParam::kFlagCannotAutomate);
    delegate.GetParam(kParamAlgorithm)
        ->InitEnum("Algorithm", 0, {"Melodic", "Percussive"}, IParam::kFlagCannotAutomate);
    delegate.GetParam(kParamTempo)
        ->InitDouble("Tempo", 120.0, 20.0, 300.0, 0.1, "bpm", IParam::kFlagCannotAutomate);
    delegate.GetParam(kParamA4)->InitEnum(
        "A4", kA4DefaultIdx, {"415 Hz", "432 Hz", "435 Hz", "440 Hz", "441 Hz", "442 Hz", "443 Hz", "444 Hz"},
        IParam::kFlagCannotAutomate);
}

float gainFromVolume(double volumePercent) noexcept {
    if (!std::isfinite(volumePercent))
        return 0.0f;
    return static_cast<float>(std::clamp(volumePercent / 100.0, 0.0, 1.0));
}

double a4HzFromIndex(int index) noexcept {
    return kA4ChoicesHz[static_cast<std::size_t>(std::clamp(index, 0, 7))];
}

} // namespace cv
