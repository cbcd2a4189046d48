#pragma once

// The plug-in under test in the stand-in host: a Corvalinth whose editor controls, clock and fault
// injection points are test doubles, white-box access to its members (CorvalinthProbe), and a fixture
// that owns the host, a private preferences folder and the analysis stand-in.

#include "host/standin/standin_host.h"
#include "plugin/Corvalinth.h"
#include "tests/io/storage_test_folder.h"
#include "tests/plugin/corvalinth_probe.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// The editor as the plug-in sees it: every notice and readout it was given.
struct FakeControls : cv::EditorControls {
    struct Notice {
        std::string text;
        cv::NoticeKind kind;
        int durationMs;
        float fraction = -1.0f;
        bool cancellable = false;
    };
    bool hasNoticeLine = true;
    std::optional<cv::NoticeKind> shown;
    std::vector<Notice> notices;
    std::optional<std::size_t> selected;
    cv::EditorReadouts readouts;

    bool HasNoticeLine() const override { return hasNoticeLine; }
    std::optional<cv::NoticeKind> ShownNotice() const override { return shown; }
    void ShowNotice(const char* text, cv::NoticeKind kind, int durationMs) override {
        notices.push_back({text, kind, durationMs});
        shown = kind;
    }
    void ShowProgress(const char* text, float fraction, bool cancellable) override {
        notices.push_back({text, cv::NoticeKind::Progress, 0, fraction, cancellable});
        shown = cv::NoticeKind::Progress;
    }
    void DismissNotice() override { shown.reset(); }
    std::optional<std::size_t> SelectedNoteCount() const override { return selected; }
    void ShowReadouts(const cv::EditorReadouts& r) override { readouts = r; }

    // The confirmation overlay: questions (their titles) wait in `asked` until the test answers them.
    bool hasOverlay = true;
    std::vector<std::pair<std::string, std::function<void(int)>>> asked;
    bool AskConfirmation(const std::string& title, const std::string&, const std::vector<std::string>&, int,
                         std::function<void(int)> onResult) override {
        if (hasOverlay)
            asked.emplace_back(title, std::move(onResult));
        return hasOverlay;
    }
    void answer(int button) {
        auto callback = std::move(asked.back().second);
        asked.pop_back();
        callback(button);
    }
    std::string fileReadout;
    void ShowFileText(const char* text) override { fileReadout = text; }
    // The canvas.
    bool hasCanvas = true;
    std::vector<std::uint32_t> selection;
    bool splitMode = false;
    int canvasRedraws = 0;
    bool throwOnRedraw = false;
    bool HasCanvas() const override { return hasCanvas; }
    std::vector<std::uint32_t> CanvasSelection() const override { return selection; }
    void SetCanvasSelection(std::vector<std::uint32_t> ids) override { selection = std::move(ids); }
    void ClearCanvasSelection() override { selection.clear(); }
    void RedrawCanvas() override {
        ++canvasRedraws;
        if (throwOnRedraw)
            throw std::runtime_error("redraw failed");
    }
    bool CanvasSplitMode() const override { return splitMode; }
    void SetCanvasSplitMode(bool on) override { splitMode = on; }
    // The Export button's menu (the one last opened there), the save-file prompt waiting for the test's
    // answer, and the clipboard.
    bool hasExportButton = true;
    iplug::igraphics::IPopupMenu* menu = nullptr;
    std::vector<iplug::igraphics::FilePromptRequest> prompts;
    iplug::igraphics::FilePromptCompletion pendingPrompt;
    bool clipboardRefuses = false;
    std::optional<std::string> clipboard;
    bool OpenMenuAtExportButton(iplug::igraphics::IPopupMenu& m) override {
        if (hasExportButton)
            menu = &m;
        return hasExportButton;
    }
    void PromptForFile(const iplug::igraphics::FilePromptRequest& request,
                       iplug::igraphics::FilePromptCompletion completion) override {
        prompts.push_back(request);
        pendingPrompt = std::move(completion);
    }
    bool CopyToClipboard(const std::string& text) override {
        if (!clipboardRefuses)
            clipboard = text;
        return !clipboardRefuses;
    }
    // Closes the open menu with item index chosen (-1: dismissed), as the popup does.
    void choose(int index) {
        auto* open = std::exchange(menu, nullptr);
        open->SetChosenItemIdx(index);
        open->GetFunction()(index >= 0 ? open : nullptr);
    }
    // Answers the waiting save prompt with path (empty: cancelled).
    void answerPrompt(const std::string& path) { std::exchange(pendingPrompt, nullptr)(path); }
    // The texts of the notices shown so far.
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const Notice& n : notices)
            out.push_back(n.text);
        return out;
    }
    // The same without the progress line's.
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const Notice& n : notices)
            if (n.kind != cv::NoticeKind::Progress)
                out.push_back(n.text);
        return out;
    }
};

class TestCorvalinth : public Corvalinth {
public:
    explicit TestCorvalinth(Services services) : Corvalinth(iplug::InstanceInfo{}, std::move(services)) {}

    FakeControls controls;
    bool editorOpen = false;
    const cv::standin::StandinHost* clock = nullptr; // SteadyNowNs follows the host's idle clock
    cv::standin::FaultInjector* faults = nullptr;
    std::vector<IdleStep> idleTrace;
    std::function<void()> duringRestoreDecode; // runs inside a restore's decode, on its host thread

protected:
    cv::EditorControls* Controls() override { return editorOpen ? &controls : nullptr; }
    std::int64_t SteadyNowNs() const override { return clock ? clock->idleClockMs() * 1'000'000 : 0; }
    void RunIdleStep(IdleStep step) override {
        idleTrace.push_back(step);
        Corvalinth::RunIdleStep(step);
    }
    void ProcessBlockImpl(double** in, double** out, int frames) override {
        check(cv::standin::Callback::Process);
        Corvalinth::ProcessBlockImpl(in, out, frames);
    }
    void OnResetImpl() override {
        check(cv::standin::Callback::Reset);
        Corvalinth::OnResetImpl();
    }
    void OnIdleImpl() override {
        check(cv::standin::Callback::Idle);
        Corvalinth::OnIdleImpl();
    }
    void OnUIOpenImpl() override { check(cv::standin::Callback::EditorOpen); }
    cv::dawstate::ReadResult ReadDawState(std::span<const std::uint8_t> bytes) override {
        check(cv::standin::Callback::RestoreFinish);
        if (duringRestoreDecode)
            duringRestoreDecode();
        return Corvalinth::ReadDawState(bytes);
    }

private:
    void check(cv::standin::Callback callback) {
        if (faults != nullptr)
            faults->check(callback);
    }
};

inline std::shared_ptr<const np::AudioBuffer> silentAudio(int channels, std::int64_t frames) {
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(channels, frames);
    return audio;
}

// A stand-in for the analysis: blocks until released, so a test decides when the worker is busy.
struct HeldAnalysis {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::shared_ptr<std::atomic<int>> started = std::make_shared<std::atomic<int>>(0);
    np::AnalysisWorker::Job job() {
        return [f = released, s = started](const np::AnalysisWorker::Request&,
                                           const std::function<bool(float)>&) {
            s->fetch_add(1);
            f.wait();
            return np::AnalysisResult{};
        };
    }
};

struct CorvalinthFixture {
    cvtest::ScratchFolder prefsFolder;
    std::unique_ptr<cv::Prefs> prefs; // the plug-in's store, kept for its lifetime
    HeldAnalysis analysis;
    TestCorvalinth* plugin = nullptr;
    std::unique_ptr<cv::standin::StandinHost> host;
    bool analysisReleased = false;

    // customize may replace the services' analysis job and stand-ins before the plug-in is made.
    explicit CorvalinthFixture(const std::string& prefsText = "",
                               const std::function<void(Corvalinth::Services&)>& customize = {}) {
        if (!prefsText.empty())
            cvtest::writeBytes(prefsFolder / "prefs.ini",
                               std::vector<std::uint8_t>(prefsText.begin(), prefsText.end()));
        prefs = std::make_unique<cv::Prefs>(prefsFolder.path());
        Corvalinth::Services services;
        services.prefs = prefs.get();
        services.analysisJob = analysis.job();
        services.update = cv::UpdateFetch{}; // no check reaches the network
        if (customize)
            customize(services);
        auto owned = std::make_unique<TestCorvalinth>(std::move(services));
        plugin = owned.get();
        host = std::make_unique<cv::standin::StandinHost>(std::move(owned));
        plugin->clock = host.get();
        plugin->faults = &host->faults();
    }
    ~CorvalinthFixture() {
        releaseAnalysis();
        expectNoEscapes();
        host.reset();
    }
    void releaseAnalysis() {
        if (!analysisReleased) {
            analysisReleased = true;
            analysis.release.set_value();
        }
    }
    void expectNoEscapes() const {
        for (const auto& e : host->escapedExceptions())
            ADD_FAILURE() << cv::standin::callbackName(e.callback) << ": " << e.what;
    }
    // Configures audio and applies it on the main thread, as the first idle tick does.
    void configure(double rate, int block, int channels) {
        host->configure({rate, block, channels, channels});
        host->idle();
    }
    // Arms the recorder for a few MiB rather than the whole 192 MiB.
    void arm() {
        ASSERT_TRUE(
            CorvalinthProbe::capture(*plugin).arm(np::TransferCapture::kWorkingSetBytes - (8u << 20)));
    }
    // Makes the analysis worker busy until the fixture releases it: the first request is running (not
    // merely pending) on return, so a cancel cannot drop it.
    void busyAnalysis() {
        const bool first = analysis.started->load() == 0;
        CorvalinthProbe::analysis(*plugin).request(silentAudio(1, 1), 48000.0, false, 0, 0);
        while (first && analysis.started->load() == 0)
            std::this_thread::yield();
    }
};
