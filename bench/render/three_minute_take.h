#pragma once

// The render benchmarks' take: three minutes of sung-like audio at 48 kHz (the demonstration take
// repeated), analysed once by the Melodic analysis into an unedited document.

#include "engine/analysis/analyses.h"
#include "engine/model/document.h"
#include "tools/demo_take.h"

#include <memory>

namespace cvbench {

inline constexpr double kTakeRate = 48000.0;
inline constexpr double kTakeSeconds = 180.0;

inline const np::Document& threeMinuteTake() {
    static const np::Document doc = [] {
        const cvdemo::DemoTake demo = cvdemo::makeDemoTake(kTakeRate);
        auto audio = std::make_shared<np::AudioBuffer>();
        audio->resize(1, static_cast<std::int64_t>(kTakeSeconds * kTakeRate));
        for (std::size_t i = 0; i < audio->samples.size(); ++i)
            audio->samples[i] = demo.mono[i % demo.mono.size()];
        const np::AnalysisResult analysis = np::analyzeMelodic(*audio, kTakeRate, {}, {});
        return np::makeDocument(audio, kTakeRate, analysis);
    }();
    return doc;
}

} // namespace cvbench
