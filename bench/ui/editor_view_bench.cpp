// The note canvas drawing a 3-minute session of 600 notes offscreen (Mesa's software rasteriser), at the
// fresh view and fitted to the whole session, against a frame that only fills the canvas's rectangle,
// measured in the same run. The editor redraws at 60 frames per second, so a frame has 16.7 ms.
// geometryMs is the canvas's own work (every position it draws, computed by the functions its passes
// call); submitMs the whole draw call without waiting for the rasteriser (the canvas, the drawing
// layer's tessellation and the GL calls); the rest of a frame is Mesa rasterising.

#include "engine/audio/peak_cache.h"
#include "framework/graphics/offscreen.h"
#include "ui/editor_layout.h"
#include "ui/editor_view.h"
#include "ui/ivory/palette.h"

#include <benchmark/benchmark.h>
#include <cmath>

namespace cv::ui {
namespace {

using namespace iplug::igraphics;

constexpr IRECT kControl{14.f, 114.f, 1266.f, 688.f};

// 180 s of a quiet tone at 48 kHz; 600 notes of 0.25 s every 0.3 s, pitches wandering over two octaves,
// vibrato curves, every fifth note with a sibilant run.
np::Document Session() {
    constexpr std::int64_t kFrames = 48000LL * 180;
    np::Document doc;
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(1, kFrames);
    auto samples = audio->channel(0);
    for (std::int64_t i = 0; i < kFrames; ++i)
        samples[static_cast<std::size_t>(i)] = 0.4f * std::sin(0.0288f * static_cast<float>(i % 218));
    doc.audio = audio;
    doc.track.frames.resize(kFrames / 256 + 1);
    for (int k = 0; k < 600; ++k) {
        np::Note n;
        n.id = doc.nextNoteId++;
        n.start = n.sourceStart = 14400LL * k;
        n.length = 12000;
        n.sourceEnd = n.start + n.length;
        n.pitch = 60.0 + 12.0 * std::sin(0.05 * k);
        std::vector<float> cents(static_cast<std::size_t>(n.length / 256));
        for (std::size_t i = 0; i < cents.size(); ++i)
            cents[i] = 30.f * std::sin(0.4f * static_cast<float>(i));
        n.pitchCurve = std::make_shared<const std::vector<float>>(std::move(cents));
        if (k % 5 == 0)
            for (std::int64_t f = n.start / 256 + 10; f < n.start / 256 + 20; ++f)
                doc.track.frames[static_cast<std::size_t>(f)].flags = np::PitchFrame::kSibilant;
        doc.notes.push_back(n);
    }
    return doc;
}

class BenchHost : public CanvasHost {
public:
    explicit BenchHost(np::Document doc) {
        mPeaks.build(*doc.audio);
        mSession.setDocument(std::move(doc));
        mSession.setKeyScale(np::KeyScale{0, 1});
    }
    np::EditSession& Session() override { return mSession; }
    const np::PeakCache* Peaks() override { return &mPeaks; }
    double TempoBpm() const override { return 120.0; }
    void OnDocumentEdited() override {}
    void ReportUiEditFailure(bool) override {}
    void StartLiveAudition(std::uint32_t) override {}
    void UpdateLiveAudition(std::uint32_t) override {}
    void StopLiveAudition() override {}
    void ToggleSplitMode() override {}

private:
    np::EditSession mSession;
    np::PeakCache mPeaks;
};

struct Rig {
    std::unique_ptr<IGraphics> g = MakeOffscreenGraphics(nullptr, 1280, 816, 60, 1.f);
    OffscreenBackend& backend = dynamic_cast<OffscreenBackend&>(g->GetBackend());
    BenchHost* host = nullptr;

    Rig() {
        for (const auto& folder : EditorResourceFolders())
            g->AddResourcePath(folder);
        g->LoadFont(ivory::kFontMono, "JetBrainsMono-Regular.ttf");
    }
    EditorView* AttachCanvas(bool fitted) {
        auto owned = std::make_unique<BenchHost>(Session());
        host = owned.get();
        EditorView* view = g->AttachControl(std::make_unique<EditorView>(kControl, std::move(owned)), 0);
        view->SelectAll();
        if (fitted)
            view->FitToDocument();
        view->SetPlayheadDocFrame(48000 * 3);
        return view;
    }
    double FrameMs(int n) {
        const auto start = Clock::now();
        for (int i = 0; i < n; ++i) {
            g->Draw();
            backend.Finish();
        }
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / n;
    }
};

// Everything the canvas computes for one frame, without drawing it.
std::size_t Geometry(EditorView& view, CanvasHost& host) {
    const CanvasMapping m = view.Mapping();
    const np::Document& doc = host.Session().document();
    const double t = np::tuningOffsetSemitones(host.Session().a4Hz());
    const double fpb = FramesPerBeat(doc.sampleRate, host.TempoBpm());
    std::size_t n = ScaleRows(m, host.Session().keyScale(), t).size() + OctaveLines(m, t).size() +
                    BeatMarks(m, fpb, 26.0).size() + BeatMarks(m, fpb, 30.0).size() +
                    CandidateRows(m, t).size() + Connectors(doc, m, fpb).size() +
                    WaveformOf(*host.Peaks(), m).upper.size();
    for (const np::Note& note : doc.notes) {
        const Blob b = BlobOf(m, note);
        if (b.x1 < m.canvas.L || b.x0 > m.canvas.R)
            continue;
        n += SibilantSpans(doc, m, note, b).size() + PitchCurve(doc, m, note, b).xs.size();
    }
    return n;
}

void BM_CanvasFrame(benchmark::State& state) {
    Rig rig;
    // The baseline: a frame that fills the canvas's rectangle once.
    class Fill : public IControl {
    public:
        Fill() : IControl(kControl) {}
        void Draw(IGraphics& g) override { g.FillRect(IColor(255, 10, 11, 12), GetRECT()); }
    };
    IControl* fill = rig.g->AttachControl(std::make_unique<Fill>());
    rig.FrameMs(2);
    const double baselineMs = rig.FrameMs(20);
    rig.g->RemoveControl(fill);
    EditorView* view = rig.AttachCanvas(state.range(0) != 0);
    rig.FrameMs(2); // glyph atlas, gradient textures and shaders are ready before timing
    double totalMs = 0.0;
    for (auto _ : state)
        totalMs += rig.FrameMs(1);
    const auto start = Clock::now();
    constexpr int kGeometryRuns = 50;
    for (int i = 0; i < kGeometryRuns; ++i)
        benchmark::DoNotOptimize(Geometry(*view, *rig.host));
    const double geometryMs =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count() / kGeometryRuns;
    double submitMs = 0.0;
    for (int i = 0; i < kGeometryRuns / 5; ++i) {
        const auto drawStart = Clock::now();
        rig.g->Draw();
        submitMs += std::chrono::duration<double, std::milli>(Clock::now() - drawStart).count();
        rig.backend.Finish();
    }
    submitMs /= kGeometryRuns / 5;
    const double frameMs = totalMs / static_cast<double>(state.iterations());
    state.counters["frameMs"] = frameMs;
    state.counters["vsFilledCanvas"] = frameMs / baselineMs;
    state.counters["geometryMs"] = geometryMs;
    state.counters["submitMs"] = submitMs;
}
// 0: the fresh view (6.3 s of the session, about 21 notes); 1: fitted (all 600 notes).
BENCHMARK(BM_CanvasFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace
} // namespace cv::ui
