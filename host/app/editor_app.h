#pragma once

// EditorApp: what `corvalinth open` and `corvalinth screenshot` run. The plug-in sits in the stand-in host,
// which plays an audio file as the plug-in's track, as a DAW would; its editor opens in a window (GLFW)
// with the track heard through the default output device, or renders offscreen to a PNG file.
// Main thread, except where said.

#include "framework/graphics/window/desktop_platform.h"
#include "host/standin/standin_host.h"
#include "plugin/Corvalinth.h"

#include <memory>
#include <string>

namespace cv::app {

class EditorApp {
public:
    // Reads the file (WAV, AIFF, FLAC) as the track through the command line's audio reader
    // (cli::readAudioFile, with the limits and sentences of every other command), makes the plug-in with
    // its editor layout, and configures the host at the file's rate, 512-frame blocks and the file's
    // channels (1 or 2). Throws std::runtime_error with the reader's sentence when the file is refused.
    // services: the plug-in's preferences, analysis and update fetch (defaults: the user's own).
    explicit EditorApp(const std::string& file, Corvalinth::Services services = {});
    ~EditorApp();

    cv::standin::StandinHost& Host() { return *mHost; }
    Corvalinth& Plugin();
    double SampleRate() const { return mSampleRate; }
    std::int64_t TrackFrames() const { return mTrackFrames; }
    // The lines every command tells of the file it read (cli::readNotices: samples replaced, a file cut
    // short), or empty.
    const std::string& ReadNotices() const { return mReadNotices; }
    // The frames the plug-in captured (0 before CaptureAndAnalyse succeeds); fewer than TrackFrames when
    // the take is longer than the capture holds.
    std::int64_t CapturedFrames() const { return mCapturedFrames; }

    // Captures the track and analyses it as a DAW session would: presses Capture, plays the whole file
    // through the plug-in with the transport running (lock-step, as fast as it goes), stops the transport
    // and waits, ticking the idle loop, until the analysis has finished. False with a sentence in error when
    // the plug-in took no capture (a take shorter than the plug-in captures says so) or its analysis failed.
    bool CaptureAndAnalyse(std::string& error);

    // Opens the editor as `open` shows it (in the window when the backend factory gives one): its save
    // prompts refuse the take's own file (the same file also through a link or another path, judged as the
    // command line judges an output), and when CaptureAndAnalyse failed, its notice line says why.
    // desktop: the platform the prompts go through; null for the window's own. False when the editor did
    // not open.
    bool OpenEditor(iplug::igraphics::DesktopPlatform* desktop = nullptr);

    // Draws the editor offscreen at the drawing scale (0.7..1.5) after a few idle ticks, codes it as PNG
    // in memory and saves it through the atomic file replacement (np::writeFileAtomically): the file is
    // either replaced whole or left as it was. False with a sentence in error when the scale is out of
    // range or the file cannot be written (the storage layer's sentence, after the path).
    bool SaveScreenshot(const std::string& path, double scale, std::string& error);

    // Opens the editor in a window (OpenEditor) and runs until it is closed: the track plays through the
    // plug-in to the default output (or a silent clock); Space plays and stops, Home returns to the start,
    // whenever the editor leaves the key unhandled. Returns the process exit code. Throws std::runtime_error
    // when no window can open (no display).
    int RunWindow();

private:
    std::unique_ptr<cv::standin::StandinHost> mHost;
    std::string mFile;
    double mSampleRate = 0.0;
    int mChannels = 2;
    std::int64_t mTrackFrames = 0;
    std::string mReadNotices;
    std::int64_t mCapturedFrames = 0;
    std::string mCaptureFailure; // why CaptureAndAnalyse failed, as the notice line says it
};

} // namespace cv::app
