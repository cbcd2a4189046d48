// The canvas's side of the plug-in. The plug-in's edit commands, audition flow and waveform cache are
// being built beside this (the edited-document path, the failure report, the live audition, split
// mode); until each is there this adapter does the least of it that the canvas relies on: tell the
// host once no gesture is open, show the error notice, and keep the peaks of the session's audio.

#include "engine/audio/peak_cache.h"
#include "framework/graphics/icontrol.h"
#include "ui/canvas_host.h"
#include "ui/editor_seams.h"
#include "ui/editor_tags.h"

namespace cv::ui {
namespace {

constexpr const char* kEditFailedMessage = "Couldn't complete the edit. Save the project and try again.";

class PluginCanvasHost final : public CanvasHost {
public:
    explicit PluginCanvasHost(Corvalinth& plugin) : mPlugin(plugin) {}

    np::EditSession& Session() override { return mPlugin.Session(); }

    const np::PeakCache* Peaks() override {
        const auto& audio = mPlugin.Session().document().audio;
        if (audio == nullptr)
            return nullptr;
        if (audio != mPeaksFor) {
            mPeaksFor = nullptr;
            mPeaks.build(*audio); // leaves no levels when it throws
            mPeaksFor = audio;
        }
        return &mPeaks;
    }

    double TempoBpm() const override { return mPlugin.GetParam(cv::kParamTempo)->Value(); }

    // The canvas redraws itself after each call.
    void OnDocumentEdited() override {
        if (!mPlugin.Session().inGesture())
            mPlugin.InformHostOfStateChange();
    }

    void ReportUiEditFailure(bool documentChanged) override {
        if (documentChanged) {
            try {
                OnDocumentEdited();
            } catch (...) {
            }
        }
        try {
            mPlugin.SetError(kEditFailedMessage);
        } catch (...) {
        }
    }

    void StartLiveAudition(std::uint32_t) override {}
    void UpdateLiveAudition(std::uint32_t) override {}
    void StopLiveAudition() override {}

    void ToggleSplitMode() override {
        auto* g = mPlugin.GetUI();
        auto* canvas = FindSeam<CanvasSeam>(g, kTagCanvas);
        if (canvas == nullptr || mPlugin.Session().document().audio == nullptr)
            return;
        canvas->SetSplitMode(!canvas->SplitMode());
        if (auto* button = g->GetControlWithTag(kTagSplit))
            button->SetDirty(false);
    }

private:
    Corvalinth& mPlugin;
    std::shared_ptr<const np::AudioBuffer> mPeaksFor;
    np::PeakCache mPeaks;
};

} // namespace

std::unique_ptr<CanvasHost> MakePluginCanvasHost(Corvalinth& plugin) {
    return std::make_unique<PluginCanvasHost>(plugin);
}

} // namespace cv::ui
