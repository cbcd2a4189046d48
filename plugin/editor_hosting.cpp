// Editor hosting: the make-graphics and layout hooks, the window-size rules, and what opening and closing
// the editor do (parameter values pushed, the canvas's view kept per session, a pending error shown).

#include "plugin/editor_hosting.h"

#include "framework/graphics/offscreen.h"
#include "plugin/Corvalinth.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace cv {
namespace {

EditorLayoutFunc& Layout() {
    static EditorLayoutFunc layout;
    return layout;
}

} // namespace

void SetEditorLayout(EditorLayoutFunc layout) {
    Layout() = std::move(layout);
}

const EditorLayoutFunc& GetEditorLayout() {
    return Layout();
}

double EditorScaleFor(double w, double h) {
    const double scale =
        w >= 1.0 && h >= 1.0 ? std::min(w / kEditorWidth, h / kEditorHeight) : kMinEditorScale;
    return std::clamp(scale, kMinEditorScale, kMaxEditorScale);
}

EditorSize EditorSizeAtScale(double scale) {
    return {static_cast<int>(std::lround(kEditorWidth * scale)),
            static_cast<int>(std::lround(kEditorHeight * scale))};
}

} // namespace cv

void Corvalinth::InstallEditorHooks() {
    mMakeGraphicsFunc = [this]() -> std::unique_ptr<iplug::IEditor> {
        return iplug::igraphics::MakeGraphics(*this, cv::kEditorWidth, cv::kEditorHeight, cv::kEditorFps,
                                              1.f);
    };
    mLayoutFunc = [this](iplug::igraphics::IGraphics* g) {
        ownedEditorControls_.reset();
        editorControls_ = nullptr;
        if (g != nullptr && cv::GetEditorLayout()) {
            ownedEditorControls_ = cv::GetEditorLayout()(*this, *g);
            editorControls_ = ownedEditorControls_.get();
        }
    };
}

bool Corvalinth::ConstrainEditorResize(int& width, int& height) const {
    const cv::EditorSize size = cv::EditorSizeAtScale(cv::EditorScaleFor(width, height));
    const bool unchanged = width == size.w && height == size.h;
    width = size.w;
    height = size.h;
    return unchanged;
}

void Corvalinth::OnParentWindowResizeImpl(int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    iplug::igraphics::IGraphics* g = GetUI();
    if (g == nullptr) {
        const cv::EditorSize size = cv::EditorSizeAtScale(cv::EditorScaleFor(width, height));
        SetEditorSize(size.w, size.h);
        lastEditorSize_ = {size.w, size.h};
        return;
    }
    const double s = g->GetScreenScale();
    if (!std::isfinite(s) || s <= 0.0 || s > static_cast<double>(INT_MAX) / 1920.0)
        return;
    const double scale = cv::EditorScaleFor(std::lround(width / s), std::lround(height / s));
    const cv::EditorSize design = cv::EditorSizeAtScale(scale);
    if (design.w <= 0 || design.h <= 0)
        return;
    SetEditorSize(static_cast<int>(std::lround(design.w * s)), static_cast<int>(std::lround(design.h * s)));
    lastEditorSize_ = {};
    g->Resize(cv::kEditorWidth, cv::kEditorHeight, static_cast<float>(scale), false);
}

void Corvalinth::OnUIOpenImpl() {
    for (int i = 0; i < NParams(); ++i)
        SendParameterValueFromDelegate(i, std::clamp(GetParam(i)->GetNormalized(), 0.0, 1.0), true);
    cv::EditorControls* controls = Controls();
    if (controls != nullptr && sourceAudio_ != nullptr && controls->CanvasViewport()) {
        const bool restored = viewportSaved_ && savedViewportGeneration_ == sessionGeneration_.load() &&
                              controls->RestoreCanvasViewport(savedViewport_);
        if (!restored)
            controls->FitCanvasToDocument();
    }
    // The layout starts the file readout at "No file loaded"; a source in place names itself again.
    if (controls != nullptr && !fileReadoutText_.empty())
        controls->ShowFileText(fileReadoutText_.c_str());
    if (lastEditorSize_.w > 0 && lastEditorSize_.h > 0) {
        try {
            OnParentWindowResizeImpl(lastEditorSize_.w, lastEditorSize_.h);
        } catch (...) {
            latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::UI);
        }
    }
    ShowPendingError();
}

void Corvalinth::OnUIClose() {
    try {
        if (cv::EditorControls* controls = Controls(); controls != nullptr && sourceAudio_ != nullptr) {
            if (const std::optional<EditorViewportState> view = controls->CanvasViewport()) {
                savedViewport_ = *view;
                savedViewportGeneration_ = sessionGeneration_.load();
                viewportSaved_ = true;
            }
        }
    } catch (...) {
        // The view is fitted again at the next open; the host never sees the failure.
        latch_.ReportHostCallbackFailure(cv::HostCallbackFaultLatch::UI);
    }
    // The controls go with the graphics context, which the framework destroys after this call.
    editorControls_ = nullptr;
    ownedEditorControls_.reset();
}

void Corvalinth::ForgetEditorViewport() noexcept {
    viewportSaved_ = false;
}
