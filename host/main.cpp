// corvalinth: the command-line front end. `corvalinth analyse FILE [--algorithm melodic|percussive]
// [--json]` reads an audio file, analyses it as the plug-in would, and prints the notes.

#include "host/cli_args.h"
#include "host/cli_audio_file.h"
#include "host/cli_report.h"
#include "host/cli_run.h"

#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    using namespace cv::cli;
    const ParsedArgs parsed = parseArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.command) {
        std::fprintf(stderr, "corvalinth: %s\n%s\n", parsed.error.c_str(), kUsage);
        return 2;
    }
    const AnalyseCommand& command = *parsed.command;
    try {
        LoadedAudio loaded;
        std::string error;
        if (!readAudioFile(command.file, command.algorithm, loaded, error)) {
            std::fprintf(stderr, "corvalinth: %s\n", error.c_str());
            return 1;
        }
        if (loaded.replacedSamples > 0) {
            const bool one = loaded.replacedSamples == 1;
            std::fprintf(stderr, "corvalinth: %lld sample%s of %s %s NaN or infinite and %s read as 0.\n",
                         static_cast<long long>(loaded.replacedSamples), one ? "" : "s",
                         command.file == "-" ? "standard input" : command.file.c_str(), one ? "was" : "were",
                         one ? "was" : "were");
        }
        int shown = -1;
        const auto progress = [&shown](float fraction) {
            const int percent = static_cast<int>(fraction * 100.0f);
            if (percent / 10 == shown / 10 && shown >= 0)
                return;
            shown = percent;
            std::fprintf(stderr, "Analysing: %d%%\n", percent);
        };
        np::AnalysisResult result;
        if (!runAnalysis(std::move(loaded), command.algorithm, progress, result, error)) {
            std::fprintf(stderr, "corvalinth: %s\n", error.c_str());
            return 1;
        }
        const std::string report = formatReport(command.file, command.algorithm, result, command.format);
        std::fputs(report.c_str(), stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvalinth: %s\n", e.what());
        return 1;
    }
}
