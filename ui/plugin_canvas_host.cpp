// The canvas's side of the plug-in: its edit session, waveform cache, Tempo parameter, edited-document
// path, failure report, live audition and split mode, one call each.

#include "ui/canvas_host.h"

namespace cv::ui {
namespace {

class PluginCanvasHost final : public CanvasHost {
public:
    explicit PluginCanvasHost(Corvalinth& plugin) : mPlugin(plugin) {}

    np::EditSession& Session() override { return mPlugin.Session(); }

    const np::PeakCache* Peaks() override {
        mPeaks = mPlugin.WaveformCache(); // held until the next frame asks again
        return mPeaks.get();
    }

    double TempoBpm() const override { return mPlugin.GetParam(cv::kParamTempo)->Value(); }
    void OnDocumentEdited() override { mPlugin.OnDocumentEdited(); }
    void ReportUiEditFailure(bool documentChanged) override { mPlugin.ReportUiEditFailure(documentChanged); }
    void StartLiveAudition(std::uint32_t id) override { mPlugin.StartLiveAudition(id); }
    void UpdateLiveAudition(std::uint32_t id) override { mPlugin.UpdateLiveAudition(id); }
    void StopLiveAudition() override { mPlugin.StopLiveAudition(); }
    void ToggleSplitMode() override { mPlugin.ToggleSplitMode(); }

private:
    Corvalinth& mPlugin;
    std::shared_ptr<const np::PeakCache> mPeaks;
};

} // namespace

std::unique_ptr<CanvasHost> MakePluginCanvasHost(Corvalinth& plugin) {
    return std::make_unique<PluginCanvasHost>(plugin);
}

} // namespace cv::ui
