// The canvas's side of the plug-in. The plug-in's edit commands, its audition flow and its waveform
// cache are arriving beside this adapter; each call below uses the plug-in's own once the plug-in has
// it (public), and until then does the least of it that the canvas relies on: tell the host of an edit
// once no gesture is open, show the edit-failure notice, keep the peaks of the session's audio; the
// live audition stays silent.

#include "engine/audio/peak_cache.h"
#include "framework/graphics/icontrol.h"
#include "ui/canvas_host.h"
#include "ui/editor_seams.h"
#include "ui/editor_tags.h"

namespace cv::ui {
namespace {

constexpr const char* kEditFailedMessage = "Couldn't complete the edit. Save the project and try again.";

template <class Plugin>
class PluginCanvasHost final : public CanvasHost {
public:
    explicit PluginCanvasHost(Plugin& plugin) : mPlugin(plugin) {}

    np::EditSession& Session() override { return mPlugin.Session(); }

    const np::PeakCache* Peaks() override {
        if constexpr (requires { mPlugin.WaveformCache().get(); }) {
            mShared = mPlugin.WaveformCache(); // held until the next frame asks again
            return mShared.get();
        } else {
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
    }

    double TempoBpm() const override { return mPlugin.GetParam(cv::kParamTempo)->Value(); }

    // The canvas redraws itself after each call.
    void OnDocumentEdited() override {
        if constexpr (requires { mPlugin.OnDocumentEdited(); })
            mPlugin.OnDocumentEdited();
        else if (!mPlugin.Session().inGesture())
            mPlugin.InformHostOfStateChange();
    }

    void ReportUiEditFailure(bool documentChanged) override {
        if constexpr (requires { mPlugin.ReportUiEditFailure(documentChanged); }) {
            mPlugin.ReportUiEditFailure(documentChanged);
        } else {
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
    }

    void StartLiveAudition(std::uint32_t id) override {
        if constexpr (requires { mPlugin.StartLiveAudition(id); })
            mPlugin.StartLiveAudition(id);
    }
    void UpdateLiveAudition(std::uint32_t id) override {
        if constexpr (requires { mPlugin.UpdateLiveAudition(id); })
            mPlugin.UpdateLiveAudition(id);
    }
    void StopLiveAudition() override {
        if constexpr (requires { mPlugin.StopLiveAudition(); })
            mPlugin.StopLiveAudition();
    }

    void ToggleSplitMode() override {
        if constexpr (requires { mPlugin.ToggleSplitMode(); }) {
            mPlugin.ToggleSplitMode();
        } else {
            auto* g = mPlugin.GetUI();
            auto* canvas = FindSeam<CanvasSeam>(g, kTagCanvas);
            if (canvas == nullptr || mPlugin.Session().document().audio == nullptr)
                return;
            canvas->SetSplitMode(!canvas->SplitMode());
            if (auto* button = g->GetControlWithTag(kTagSplit))
                button->SetDirty(false);
        }
    }

private:
    Plugin& mPlugin;
    std::shared_ptr<const np::AudioBuffer> mPeaksFor;
    np::PeakCache mPeaks;
    std::shared_ptr<const np::PeakCache> mShared;
};

} // namespace

std::unique_ptr<CanvasHost> MakePluginCanvasHost(Corvalinth& plugin) {
    return std::make_unique<PluginCanvasHost<Corvalinth>>(plugin);
}

} // namespace cv::ui
