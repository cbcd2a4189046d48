// corvalinth: the command-line front end.
// `corvalinth analyse FILE [--algorithm melodic|percussive] [--json]` reads an audio file, analyses it as
// the plug-in would, and prints the notes.
// `corvalinth render IN OUT.wav [edits] [--engine ...]` analyses IN, edits its notes, renders the edit and
// writes it as a WAV file.
// `corvalinth host IN OUT.wav [--edit SCRIPT]` runs IN through the plug-in in the stand-in host as a DAW
// would: capture, analysis, the script's edits, and an offline bounce into OUT.
// `corvalinth open FILE` and `corvalinth screenshot FILE OUT.png [--scale S]` show the plug-in's editor
// over FILE.

#include "host/app/editor_app.h"
#include "host/cli_args.h"
#include "host/cli_audio_file.h"
#include "host/cli_editor_args.h"
#include "host/cli_files.h"
#include "host/cli_host.h"
#include "host/cli_names.h"
#include "host/cli_progress.h"
#include "host/cli_render.h"
#include "host/cli_report.h"
#include "host/cli_run.h"

#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace {

int runEditorCommand(const std::vector<std::string>& args) {
    using namespace cv::cli;
    const ParsedEditorArgs parsed = parseEditorArgs(args);
    if (!parsed.command) {
        std::fprintf(stderr, "corvalinth: %s\n%s\n%s\n", parsed.error.c_str(), kUsage, kEditorUsage);
        return 2;
    }
    const EditorCommand& command = *parsed.command;
    try {
        std::string error;
        if (command.kind == EditorCommand::Kind::Screenshot &&
            !checkOutputFile(command.out, {command.file}, error)) {
            std::fprintf(stderr, "corvalinth: %s\n", error.c_str());
            return 1;
        }
        cv::app::EditorApp app(command.file);
        std::fputs(app.ReadNotices().c_str(), stderr);
        std::fprintf(stderr, "Capturing and analysing %s\n", inputName(command.file).c_str());
        if (!app.CaptureAndAnalyse(error)) {
            std::fprintf(stderr, "corvalinth: %s\n", error.c_str());
            // In the window the track can still be captured by hand: Capture, then Space.
            if (command.kind == EditorCommand::Kind::Screenshot)
                return 1;
        } else {
            std::fputs(
                capturedPartNotice(command.file, app.CapturedFrames(), app.TrackFrames(), app.SampleRate())
                    .c_str(),
                stderr);
        }
        if (command.kind == EditorCommand::Kind::Open)
            return app.RunWindow();
        // The screenshot plays nothing more: the host lets the track go, so that it is not held beside
        // the plug-in's capture of it while the editor draws.
        app.Host().setInput(nullptr);
        if (!app.SaveScreenshot(command.out, command.scale, error)) {
            std::fprintf(stderr, "corvalinth: %s\n", error.c_str());
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvalinth: %s\n", e.what());
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace cv::cli;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (isEditorCommand(args))
        return runEditorCommand(args);
    const ParsedArgs parsed = parseArgs(args);
    if (parsed.render)
        return runRender(*parsed.render);
    if (parsed.host)
        return runHost(*parsed.host);
    if (!parsed.command) {
        std::fprintf(stderr, "corvalinth: %s\n%s\n%s\n", parsed.error.c_str(), kUsage, kEditorUsage);
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
        std::fputs(readNotices(command.file, loaded).c_str(), stderr);
        ProgressLine progress;
        np::AnalysisResult result;
        const bool analysed = runAnalysis(
            std::move(loaded), command.algorithm, [&](float f) { progress.show("Analysing", f); }, result,
            error);
        progress.finish();
        if (!analysed) {
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
