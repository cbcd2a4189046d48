#include "ui/canvas_view.h"

#include <algorithm>
#include <cmath>

namespace cv::ui {

IRECT CanvasRectOf(const IRECT& c) {
    return {c.L + kKeyboardWidth, c.T + kRulerHeight, c.R - kCanvasMargin, c.B - kCanvasMargin};
}

IRECT KeyboardRectOf(const IRECT& c) {
    return {c.L, c.T + kRulerHeight, c.L + kKeyboardWidth, c.B - kCanvasMargin};
}

IRECT RulerRectOf(const IRECT& c) {
    return {c.L + kKeyboardWidth, c.T, c.R - kCanvasMargin, c.T + kRulerHeight};
}

namespace {

double LeftLimit(double framesPerPixel) {
    return -kLeftSlackPixels * framesPerPixel;
}

void KeepInRanges(EditorViewportState& v) {
    v.viewStartFrame = std::max(v.viewStartFrame, LeftLimit(v.framesPerPixel));
    v.topMidi = std::clamp(v.topMidi, kMinTopMidi, kMaxTopMidi);
}

} // namespace

std::optional<EditorViewportState> FitView(const np::Document& doc, float canvasWidth, float canvasHeight) {
    if (doc.audio == nullptr || doc.notes.empty())
        return std::nullopt;
    double length = static_cast<double>(doc.audio->frames);
    double lo = 127.0, hi = 0.0;
    for (const np::Note& n : doc.notes) {
        length = std::max(length, static_cast<double>(n.start) + static_cast<double>(n.length));
        lo = std::min(lo, n.pitch + n.pitchOffset);
        hi = std::max(hi, n.pitch + n.pitchOffset);
    }
    EditorViewportState v;
    v.viewStartFrame = 0.0;
    // A long document or an extreme pitch would otherwise fit outside the ranges every other view
    // change keeps, and the next zoom-out would zoom in.
    v.framesPerPixel =
        std::clamp(length / std::max(64.0, static_cast<double>(canvasWidth)), 16.0, kMaxFramesPerPixel);
    v.pxPerSemitone = static_cast<float>(std::clamp(canvasHeight / std::max(12.0, hi - lo + 8.0), 4.0, 28.0));
    v.topMidi = std::clamp(hi + 4.0, kMinTopMidi, kMaxTopMidi);
    return v;
}

void ZoomTimeAboutCentre(EditorViewportState& v, double factor, float canvasWidth) {
    if (!std::isfinite(factor) || factor <= 0.0)
        return;
    const double c = canvasWidth * 0.5;
    const double t = c * v.framesPerPixel + v.viewStartFrame;
    v.framesPerPixel = std::clamp(factor * v.framesPerPixel, kMinFramesPerPixel, kMaxFramesPerPixel);
    v.viewStartFrame = std::max(t - c * v.framesPerPixel, LeftLimit(v.framesPerPixel));
}

std::optional<EditorViewportState> ClampedViewport(const EditorViewportState& s) {
    if (!std::isfinite(s.framesPerPixel) || !std::isfinite(s.viewStartFrame) || !std::isfinite(s.topMidi) ||
        !std::isfinite(s.pxPerSemitone))
        return std::nullopt;
    EditorViewportState v = s;
    v.framesPerPixel = std::clamp(v.framesPerPixel, kMinFramesPerPixel, kMaxFramesPerPixel);
    v.pxPerSemitone = std::clamp(v.pxPerSemitone, kMinPxPerSemitone, kMaxPxPerSemitone);
    KeepInRanges(v);
    return v;
}

WheelAction WheelActionFor(bool cmd, bool alt, bool shift) {
    if (cmd)
        return WheelAction::ZoomTime;
    if (alt)
        return WheelAction::ZoomPitch;
    return shift ? WheelAction::PanTime : WheelAction::ScrollPitch;
}

void ApplyWheel(EditorViewportState& v, WheelAction action, float dx, float dy, float d) {
    if (!std::isfinite(d))
        return;
    switch (action) {
    case WheelAction::ZoomTime: {
        const double t = dx * v.framesPerPixel + v.viewStartFrame;
        v.framesPerPixel =
            std::clamp(v.framesPerPixel * std::pow(1.15, -d), kMinFramesPerPixel, kMaxFramesPerPixel);
        v.viewStartFrame = t - v.framesPerPixel * dx;
        break;
    }
    case WheelAction::ZoomPitch: {
        const double pitch = v.topMidi - dy / v.pxPerSemitone;
        v.pxPerSemitone = static_cast<float>(std::clamp(
            v.pxPerSemitone * std::pow(1.15, d), double(kMinPxPerSemitone), double(kMaxPxPerSemitone)));
        v.topMidi = pitch + dy / v.pxPerSemitone;
        break;
    }
    case WheelAction::PanTime:
        v.viewStartFrame -= 48.0 * d * v.framesPerPixel;
        break;
    case WheelAction::ScrollPitch:
        v.topMidi += 6.0 * d / v.pxPerSemitone;
        break;
    }
    KeepInRanges(v);
}

int BeatStep(double pxPerBeat, double minPixels) {
    for (int step = 4; step <= 512; step *= 2)
        if (pxPerBeat * step >= minPixels)
            return step;
    return 512;
}

double FramesPerBeat(double sampleRate, double tempoBpm) {
    return tempoBpm > 0.0 ? sampleRate * 60.0 / tempoBpm : 0.0;
}

std::vector<BeatMark> BeatMarks(const CanvasMapping& m, double framesPerBeat, double minPixels) {
    std::vector<BeatMark> marks;
    if (!(framesPerBeat > 0.0) || !std::isfinite(framesPerBeat))
        return marks;
    const int step = BeatStep(framesPerBeat / m.view.framesPerPixel, minPixels);
    double beat = std::max(0.0, std::floor(m.view.viewStartFrame / framesPerBeat / step) * step);
    for (;; beat += step) {
        const float x = m.TimeToX(beat * framesPerBeat);
        if (x > m.canvas.R)
            break;
        if (x >= m.canvas.L)
            marks.push_back({beat, x});
    }
    return marks;
}

std::vector<GridLine> GridLines(const CanvasMapping& m, double framesPerBeat) {
    std::vector<GridLine> lines;
    for (const BeatMark& mark : BeatMarks(m, framesPerBeat, kGridLinePixels))
        lines.push_back({mark.x, std::abs(std::remainder(mark.beat, 16.0)) <= 1e-6});
    return lines;
}

std::vector<BarTick> BarTicks(const CanvasMapping& m, double framesPerBeat) {
    std::vector<BarTick> ticks;
    for (const BeatMark& mark : BeatMarks(m, framesPerBeat, kBarTickPixels))
        ticks.push_back({mark.x, std::lround(mark.beat) / 4 + 1});
    return ticks;
}

PitchSpan VisiblePitches(const CanvasMapping& m) {
    return {static_cast<int>(std::floor(m.YToMidi(m.canvas.B))), static_cast<int>(std::ceil(m.view.topMidi))};
}

PitchRow RowOf(const CanvasMapping& m, int midi, double tuningOffset) {
    return {midi, m.MidiToY(midi + 0.5 + tuningOffset), m.MidiToY(midi - 0.5 + tuningOffset)};
}

std::vector<PitchRow> CandidateRows(const CanvasMapping& m, double tuningOffset) {
    const PitchSpan span = VisiblePitches(m);
    std::vector<PitchRow> rows;
    for (int midi = std::max(span.bottom, 1) - 1; midi <= std::min(span.top, 126) + 1; ++midi)
        rows.push_back(RowOf(m, midi, tuningOffset));
    return rows;
}

std::optional<std::string> KeyName(const CanvasMapping& m, int midi) {
    if (np::pitchClass(midi) != 0 || m.view.pxPerSemitone < 6.f)
        return std::nullopt;
    return np::midiNoteName(midi);
}

std::vector<ScaleRow> ScaleRows(const CanvasMapping& m, const np::KeyScale& key, double tuningOffset) {
    std::vector<ScaleRow> rows;
    if (key.kind == 0)
        return rows;
    const std::array<bool, 12> degrees = key.degrees();
    const int root = np::pitchClass(key.root);
    for (const PitchRow& r : CandidateRows(m, tuningOffset)) {
        if (!degrees[static_cast<std::size_t>(np::pitchClass(r.midi))])
            continue;
        const float top = std::max(r.top, m.canvas.T), bottom = std::min(r.bottom, m.canvas.B);
        if (bottom > top)
            rows.push_back({top, bottom, np::pitchClass(r.midi) == root});
    }
    return rows;
}

std::vector<OctaveLine> OctaveLines(const CanvasMapping& m, double tuningOffset) {
    const PitchSpan span = VisiblePitches(m);
    std::vector<OctaveLine> lines;
    for (int midi = std::max(span.bottom, 0); midi <= std::min(span.top, 127); ++midi) {
        if (midi % 12 != 0)
            continue;
        const float y = m.MidiToY(midi + tuningOffset);
        if (y >= m.canvas.T && y <= m.canvas.B)
            lines.push_back({y, midi == 60});
    }
    return lines;
}

} // namespace cv::ui
