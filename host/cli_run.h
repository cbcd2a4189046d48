#pragma once

#include "engine/analysis/analysis_records.h"
#include "host/cli_args.h"
#include "host/cli_audio_file.h"

#include <functional>
#include <memory>
#include <string>

namespace cv::cli {

// Runs the chosen analysis on the analysis worker, as the plug-in does, polling it every 20 ms like
// the plug-in's idle loop and passing each progress fraction (0..1) to onProgress. Returns false with
// the worker's error sentence when the analysis failed. The audio is moved to the worker, never copied.
bool runAnalysis(LoadedAudio&& loaded, Algorithm algorithm, const std::function<void(float)>& onProgress,
                 np::AnalysisResult& result, std::string& error);

// The same for audio the caller keeps sharing (the render command renders it afterwards).
bool runAnalysis(std::shared_ptr<const np::AudioBuffer> audio, double sampleRate, Algorithm algorithm,
                 const std::function<void(float)>& onProgress, np::AnalysisResult& result,
                 std::string& error);

} // namespace cv::cli
