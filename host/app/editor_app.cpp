#include "host/app/editor_app.h"

#include "engine/io/atomic_file.h"
#include "framework/graphics/offscreen.h"
#include "framework/graphics/window/glfw_backend.h"
#include "host/app/audio_output.h"
#include "host/app/sample_ring.h"
#include "host/app/track_transport.h"
#include "host/cli_audio_file.h"
#include "host/cli_files.h"
#include "host/cli_names.h"
#include "host/cli_report.h"
#include "plugin/Corvalinth.h"
#include "ui/editor_layout.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace cv::app {

using namespace iplug::igraphics;

namespace {

constexpr int kBlockFrames = 512;
constexpr auto kIdleInterval = std::chrono::milliseconds(20);

// Restores the offscreen default when the window is done, whatever happens.
struct WindowBackendScope {
    WindowBackendScope() {
        SetDefaultBackendFactory([] { return std::make_unique<GlfwBackend>(); });
    }
    ~WindowBackendScope() { SetDefaultBackendFactory({}); }
};

} // namespace

EditorApp::EditorApp(const std::string& file, Corvalinth::Services services) : mFile(file) {
    cv::cli::LoadedAudio loaded;
    std::string error;
    // The plug-in analyses a new capture with its default algorithm, the Melodic one.
    if (!cv::cli::readAudioFile(file, cv::cli::Algorithm::Melodic, loaded, error))
        throw std::runtime_error(error);
    mSampleRate = loaded.sampleRate;
    mChannels = loaded.audio.channels;
    mTrackFrames = loaded.audio.frames;
    mReadNotices = cv::cli::readNotices(file, loaded);
    auto track = std::make_shared<const np::AudioBuffer>(std::move(loaded.audio));
    cv::ui::RegisterEditorLayout();
    mHost = std::make_unique<cv::standin::StandinHost>(
        std::make_unique<Corvalinth>(iplug::InstanceInfo{}, std::move(services)));
    mHost->configure({mSampleRate, kBlockFrames, mChannels, mChannels});
    mHost->setInput(std::make_shared<cv::standin::TrackSource>(std::move(track)));
}

EditorApp::~EditorApp() = default;

Corvalinth& EditorApp::Plugin() {
    return static_cast<Corvalinth&>(mHost->plugin());
}

bool EditorApp::CaptureAndAnalyse(std::string& error) {
    mCaptureFailure.clear();
    Corvalinth& plugin = Plugin();
    mHost->idle(1); // the audio configuration reaches the capture
    plugin.ToggleTransfer();
    mHost->idle(1);
    std::int64_t pos = 0;
    while (pos < mTrackFrames) {
        mHost->processBlock({kBlockFrames, static_cast<double>(pos), true, false});
        pos += kBlockFrames;
    }
    mHost->processBlock({kBlockFrames, static_cast<double>(pos), false, false}); // the transport stops
    mHost->idle(1);                                                              // the capture is taken in
    if (plugin.FileLabel().empty()) {
        const double seconds = static_cast<double>(mTrackFrames) / mSampleRate;
        char text[96];
        std::snprintf(text, sizeof text, " lasts %.3f s; the plug-in captures at least %.1f s.", seconds,
                      Corvalinth::kMinCaptureSeconds);
        const bool tooShort = seconds < Corvalinth::kMinCaptureSeconds;
        error = tooShort ? cv::cli::inputName(mFile) + text : "The plug-in did not capture the track.";
        // The window names the file without its folder: the notice line is one line.
        const std::string name =
            mFile == "-" ? cv::cli::inputName(mFile)
                         : cv::cli::printableName(std::filesystem::path(mFile).filename().string());
        mCaptureFailure = tooShort ? name + text : error;
        return false;
    }
    // The analysis runs on its worker; the idle loop takes its result in.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (plugin.AnalysisBusy() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        mHost->idle(1);
    }
    mHost->idle(2);
    const np::Document& doc = plugin.Session().document();
    if (plugin.AnalysisBusy() || doc.audio == nullptr) {
        error = "The analysis of the track did not finish.";
        mCaptureFailure = error;
        return false;
    }
    // A failed analysis leaves the capture's empty document in place, with neither a pitch track nor
    // notes; the Melodic analysis a new capture gets gives every take a track, even one of silence. The
    // notice line already holds the plug-in's own sentence.
    if (doc.track.frames.empty() && doc.notes.empty()) {
        error = cv::cli::inputName(mFile) + " could not be analysed.";
        return false;
    }
    mCapturedFrames = doc.audio->frames;
    return true;
}

bool EditorApp::OpenEditor(DesktopPlatform* desktop) {
    if (!mHost->openEditor())
        return false;
    IGraphics* g = Plugin().GetUI();
    if (g == nullptr)
        return false;
    if (desktop != nullptr) {
        desktop->SetGraphics(g);
        g->SetPlatform(desktop);
    } else {
        desktop = dynamic_cast<DesktopPlatform*>(&g->GetBackend().Platform());
    }
    // The take is only read: an export onto it would replace the user's recording with its own render.
    if (desktop != nullptr) {
        desktop->SetSaveGuard([take = mFile](const std::filesystem::path& destination) -> std::string {
            if (cv::cli::sameFileAsInput(destination.string(), {take}) == nullptr)
                return {};
            return cv::cli::printableName(destination.filename().string()) +
                   " is the take open in this window; choose another file.";
        });
    }
    if (!mCaptureFailure.empty())
        Plugin().SetError(mCaptureFailure.c_str());
    return true;
}

bool EditorApp::SaveScreenshot(const std::string& path, double scale, std::string& error) {
    if (!(scale >= cv::kMinEditorScale && scale <= cv::kMaxEditorScale)) {
        error = "The scale must be between 0.7 and 1.5.";
        return false;
    }
    if (!mHost->openEditor()) {
        error = "The editor did not open.";
        return false;
    }
    mHost->idle(3);
    mHost->resizeEditorWindow(static_cast<int>(std::lround(cv::kEditorWidth * scale)),
                              static_cast<int>(std::lround(cv::kEditorHeight * scale)));
    IGraphics* g = Plugin().GetUI();
    std::vector<std::uint8_t> png;
    if (g != nullptr) {
        g->Draw();
        png = EncodePNG(dynamic_cast<OffscreenBackend&>(g->GetBackend()).ReadPixels());
    }
    mHost->closeEditor();
    if (png.empty()) {
        error = "The editor drew no picture to save in " + cv::cli::printableName(path) + ".";
        return false;
    }
    std::string reason;
    if (!np::writeFileAtomically(std::filesystem::path(path), png, &reason, false)) {
        error = "Could not write " + cv::cli::printableName(path) + ": " + cv::cli::printableName(reason);
        return false;
    }
    return true;
}

int EditorApp::RunWindow() {
    SampleRing ring(static_cast<std::size_t>(mSampleRate / 10.0) + kBlockFrames, 2);
    TrackTransport transport(mTrackFrames);
    std::atomic<bool> stop{false};

    // The host's audio thread: one block at a time while the ring has room for it.
    std::thread audio([&] {
        std::vector<float> interleaved(2 * kBlockFrames);
        mHost->setRecording(true);
        while (!stop.load()) {
            if (ring.Space() < static_cast<std::size_t>(kBlockFrames)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            mHost->processBlock(transport.NextBlock(kBlockFrames));
            const std::vector<std::vector<double>> out = mHost->takeRecording();
            for (std::size_t f = 0; f < static_cast<std::size_t>(kBlockFrames); ++f)
                for (std::size_t c = 0; c < 2; ++c) {
                    float v = 0.f;
                    if (!out.empty()) {
                        const std::vector<double>& plane = out[std::min(c, out.size() - 1)];
                        v = f < plane.size() ? static_cast<float>(plane[f]) : 0.f;
                    }
                    interleaved[2 * f + c] = v;
                }
            ring.Push(interleaved.data(), kBlockFrames);
        }
        mHost->setRecording(false);
    });
    struct Join {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~Join() {
            stop.store(true);
            thread.join();
        }
    } join{stop, audio};

    AudioOutput output(ring, mSampleRate);
    if (output.HasDevice())
        std::printf("Playing through %s.\n", output.DeviceName().c_str());
    else
        std::printf("No audio output (%s): the transport runs on a silent clock.\n", output.Reason().c_str());
    std::printf("Space plays and stops, Home returns to the start; close the window to quit.\n");
    std::fflush(stdout);

    WindowBackendScope scope;
    if (!OpenEditor())
        throw std::runtime_error("The editor window did not open.");
    IGraphics* g = Plugin().GetUI();
    auto& window = dynamic_cast<GlfwBackend&>(g->GetBackend());
    window.SetUnhandledKeyHandler([&](const iplug::IKeyPress& key) {
        if (key.VK == iplug::kVK_SPACE)
            transport.TogglePlay();
        else if (key.VK == iplug::kVK_HOME)
            transport.Rewind();
    });
    const auto framePeriod = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / g->FPS()));
    auto nextFrame = std::chrono::steady_clock::now();
    auto nextIdle = nextFrame;
    while (true) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextIdle) {
            mHost->idle(1);
            nextIdle = std::max(nextIdle + kIdleInterval, now - kIdleInterval);
        }
        nextFrame = std::max(nextFrame + framePeriod, now - framePeriod);
        const double wait =
            std::chrono::duration<double>(std::min(nextFrame, nextIdle) - std::chrono::steady_clock::now())
                .count();
        if (!window.PumpOnce(std::max(wait, 0.0)))
            break;
    }
    mHost->closeEditor();
    return 0;
}

} // namespace cv::app
