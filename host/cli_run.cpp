#include "host/cli_run.h"

#include "engine/analysis/analysis_worker.h"

#include <chrono>
#include <memory>
#include <thread>

namespace cv::cli {

bool runAnalysis(LoadedAudio&& loaded, Algorithm algorithm, const std::function<void(float)>& onProgress,
                 np::AnalysisResult& result, std::string& error) {
    return runAnalysis(std::make_shared<const np::AudioBuffer>(std::move(loaded.audio)), loaded.sampleRate,
                       algorithm, onProgress, result, error);
}

bool runAnalysis(std::shared_ptr<const np::AudioBuffer> audio, double sampleRate, Algorithm algorithm,
                 const std::function<void(float)>& onProgress, np::AnalysisResult& result,
                 std::string& error) {
    np::AnalysisWorker worker;
    worker.request(std::move(audio), sampleRate, algorithm == Algorithm::Percussive, 1, 0);
    for (;;) {
        if (std::optional<np::AnalysisWorker::Result> done = worker.takeResult()) {
            if (!done->error.empty()) {
                error = done->error;
                return false;
            }
            result = std::move(done->analysis);
            if (onProgress)
                onProgress(1.0f);
            return true;
        }
        if (onProgress)
            onProgress(worker.progress());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace cv::cli
