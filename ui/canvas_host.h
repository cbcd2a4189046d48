#pragma once

// What the note canvas reaches of the plug-in: the edit session every edit goes through, the waveform's
// peaks, the tempo of the time grid, the edited-document path with its failure report, the live
// audition of a dragged note and split mode. The canvas holds one for its lifetime; the plug-in's is
// made from the graphics context's delegate when the canvas is attached. Main thread only.

#include "plugin/Corvalinth.h"

#include <cstdint>
#include <memory>

namespace np {
class PeakCache;
}

namespace cv::ui {

class CanvasHost {
public:
    virtual ~CanvasHost() = default;
    virtual np::EditSession& Session() = 0;
    // Peaks of the session's source audio for the waveform; null without source audio.
    virtual const np::PeakCache* Peaks() = 0;
    // The Tempo parameter, beats per minute.
    virtual double TempoBpm() const = 0;
    // After every successful edit: redraws, keeps the render going and, once no gesture is open,
    // publishes the state to the host.
    virtual void OnDocumentEdited() = 0;
    // After an edit failed and its gesture was cancelled: the sticky error notice.
    virtual void ReportUiEditFailure(bool documentChanged) = 0;
    virtual void StartLiveAudition(std::uint32_t noteId) = 0;
    virtual void UpdateLiveAudition(std::uint32_t noteId) = 0;
    virtual void StopLiveAudition() = 0;
    // Flips the canvas's split mode and redraws the canvas and the split button.
    virtual void ToggleSplitMode() = 0;
};

// The plug-in's side, for a canvas attached to the plug-in's editor.
std::unique_ptr<CanvasHost> MakePluginCanvasHost(Corvalinth& plugin);

} // namespace cv::ui
