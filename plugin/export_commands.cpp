// The Export button: its menu of the three WAV depths and "MIDI notes (.mid)", the save dialogs with
// their default names, and the jobs they start. Main thread; every refusal is a warning that starts
// nothing.

#include "engine/model/key_scale.h"
#include "framework/graphics/save_destination.h"
#include "plugin/Corvalinth.h"
#include "plugin/export_jobs.h"

#include <memory>

namespace {

constexpr const char* kNoAudioWarning = "Open or capture audio before exporting.";
constexpr const char* kNoAnalysisWarning = "Wait for analysis to finish before exporting MIDI.";
// The extension each save prompt asks for is the one its export adds, by the prompt's own rule
// (SaveDestination), so the file the prompt judged is the file written.
constexpr const char* kWavExtension = "wav";
constexpr const char* kMidiExtension = "mid";

} // namespace

void Corvalinth::PromptExportFile() {
    if (sourceAudio_ == nullptr) {
        SetWarning(kNoAudioWarning);
        return;
    }
    if (WarnWhileFileJobRuns())
        return;
    cv::EditorControls* controls = Controls();
    if (controls == nullptr)
        return;
    exportMenu_.Clear();
    exportMenu_.AddItem("16-bit WAV");
    exportMenu_.AddItem("24-bit WAV");
    exportMenu_.AddItem("32-bit float WAV");
    exportMenu_.AddSeparator();
    exportMenu_.AddItem("MIDI notes (.mid)");
    exportMenu_.CheckItemAlone(exportDepthIdx_);
    exportMenu_.SetChosenItemIdx(-1);
    exportMenu_.SetFunction([this](iplug::igraphics::IPopupMenu* menu) {
        OnExportMenuChoice(menu != nullptr ? menu->GetChosenItemIdx() : -1);
    });
    if (!controls->OpenMenuAtExportButton(exportMenu_))
        PromptWavExport(); // an editor without the button offers the WAV export alone
}

void Corvalinth::OnExportMenuChoice(int index) {
    if (index < 0)
        return;
    if (index <= 2) {
        exportDepthIdx_ = index;
        prefs_->set(cv::kPrefExportDepthIdx, std::to_string(index)); // a failed save keeps the choice here
        PromptWavExport();
        return;
    }
    // The session holds a document with the captured audio from the moment its analysis starts; the
    // notes exist only once the analysis is installed.
    if (DocumentEmpty()) {
        SetWarning(kNoAnalysisWarning);
        return;
    }
    PromptMidiExport();
}

void Corvalinth::PromptWavExport() {
    if (cv::EditorControls* controls = Controls()) {
        controls->PromptForFile({iplug::igraphics::EFileAction::Save,
                                 cv::defaultExportName(fileLabel_, FileJobKind::WavExport), "",
                                 kWavExtension},
                                [this](const std::string& name) {
                                    if (!name.empty())
                                        StartWavExport(name);
                                });
    }
}

void Corvalinth::PromptMidiExport() {
    if (cv::EditorControls* controls = Controls()) {
        controls->PromptForFile({iplug::igraphics::EFileAction::Save,
                                 cv::defaultExportName(fileLabel_, FileJobKind::MidiExport), "",
                                 kMidiExtension},
                                [this](const std::string& name) {
                                    if (!name.empty())
                                        StartMidiExport(name);
                                });
    }
}

void Corvalinth::StartWavExport(const std::string& chosenName) {
    // The dialog may stay open while the user goes on: what it exports is taken now.
    if (sourceAudio_ == nullptr) {
        SetWarning(kNoAudioWarning);
        return;
    }
    if (RefuseExportDestination(chosenName, kWavExtension))
        return;
    auto request = std::make_shared<cv::WavExportRequest>();
    request->path = iplug::igraphics::SaveDestination(cv::pathFromUtf8(chosenName.c_str()), kWavExtension);
    request->depthIdx = exportDepthIdx_;
    request->hasDocument = !DocumentEmpty(); // before the analysis: the captured audio as it is
    if (request->hasDocument)
        request->document = session_.document();
    request->source = sourceAudio_;
    request->sourceRate = sourceRate_;
    request->reservedBytes = cv::exportReservedBytes(largestRenderBytes_.load());
    request->hints = ExportRenderHints();
    StartFileJob(FileJobKind::WavExport, [this, request] {
        return cv::runWavExport(*request, {fileJob_.cancel, fileJob_.progress});
    });
}

void Corvalinth::StartMidiExport(const std::string& chosenName) {
    if (DocumentEmpty()) {
        SetWarning(kNoAnalysisWarning);
        return;
    }
    if (RefuseExportDestination(chosenName, kMidiExtension))
        return;
    auto request = std::make_shared<cv::MidiExportRequest>();
    request->path = iplug::igraphics::SaveDestination(cv::pathFromUtf8(chosenName.c_str()), kMidiExtension);
    request->document = session_.document();
    request->tempoBpm = GetParam(cv::kParamTempo)->Value();
    request->tuningOffset = np::tuningOffsetSemitones(session_.a4Hz());
    StartFileJob(FileJobKind::MidiExport, [this, request] {
        return cv::runMidiExport(*request, {fileJob_.cancel, fileJob_.progress});
    });
}

bool Corvalinth::RefuseExportDestination(const std::string& chosenName, const char* extension) {
    // The drawn field and zenity's answer were judged by the same rule; a prompt that judges nothing (a
    // host's own) is caught here, before a blank name or a folder becomes a file.
    const std::string refusal =
        iplug::igraphics::SaveDestinationRefusal(cv::pathFromUtf8(chosenName.c_str()), extension);
    if (refusal.empty())
        return false;
    SetWarning(refusal.c_str());
    return true;
}

np::RenderHints Corvalinth::ExportRenderHints() const {
    return renderWorker_.hintsSnapshot();
}
