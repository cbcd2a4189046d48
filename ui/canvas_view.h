#pragma once

// The note canvas's view: where it sits inside its control, how document frames and MIDI pitches map to
// design units and back, and every rule that changes the view (fit, zoom, wheel, restore) with the
// ranges it keeps. Pure functions over plain values, so the canvas control and the tests share them.
// Main thread (no state of its own).

#include "framework/graphics/irect.h"
#include "plugin/Corvalinth.h"
#include "plugin/editor_viewport.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cv::ui {

using iplug::igraphics::IRECT;

// Inside the control: the keyboard strip on the left, the bar ruler on top, margins right and below.
inline constexpr float kKeyboardWidth = 52.f;
inline constexpr float kRulerHeight = 24.f;
inline constexpr float kCanvasMargin = 14.f;

// The ranges the view keeps.
inline constexpr double kMinFramesPerPixel = 8.0;
inline constexpr double kMaxFramesPerPixel = 65536.0;
inline constexpr double kMinTopMidi = 12.0;
inline constexpr double kMaxTopMidi = 140.0;
inline constexpr float kMinPxPerSemitone = 3.f;
inline constexpr float kMaxPxPerSemitone = 40.f;
// The view may start this many pixels before the document's first frame.
inline constexpr double kLeftSlackPixels = 40.0;

// The canvas (grid, waveform and notes) inside the control's rectangle.
IRECT CanvasRectOf(const IRECT& control);
// The keyboard strip and the ruler band.
IRECT KeyboardRectOf(const IRECT& control);
IRECT RulerRectOf(const IRECT& control);

// A view over a canvas rectangle: the conversions between document frames and x, MIDI pitch and y.
struct CanvasMapping {
    EditorViewportState view;
    IRECT canvas;

    float TimeToX(double frame) const {
        return static_cast<float>((frame - view.viewStartFrame) / view.framesPerPixel + canvas.L);
    }
    double XToTime(float x) const { return (x - canvas.L) * view.framesPerPixel + view.viewStartFrame; }
    float MidiToY(double midi) const {
        return static_cast<float>(view.pxPerSemitone * (view.topMidi - midi) + canvas.T);
    }
    double YToMidi(float y) const { return view.topMidi - (y - canvas.T) / view.pxPerSemitone; }
};

// The view that shows the whole document: every frame of the source and of the notes across the
// canvas, every note's sounding pitch with four semitones above and below; within the view's ranges.
// Empty when there is no source audio or no note.
std::optional<EditorViewportState> FitView(const np::Document& doc, float canvasWidth, float canvasHeight);

// Zooms time keeping the frame under the canvas's horizontal centre in place (factor > 1 zooms out). A
// factor that is not finite and positive changes nothing.
void ZoomTimeAboutCentre(EditorViewportState& view, double factor, float canvasWidth);

// The saved state within the ranges; empty (refused) when a value is not finite.
std::optional<EditorViewportState> ClampedViewport(const EditorViewportState& state);

// A wheel turn of d units at a pointer dx, dy design units right of and below the canvas's top-left
// corner. The command key zooms time about the pointer, Alt zooms pitch about it, Shift pans time, none
// scrolls pitch (6 units per turn); command wins over Alt, Alt over Shift.
enum class WheelAction { ScrollPitch, PanTime, ZoomPitch, ZoomTime };
WheelAction WheelActionFor(bool cmd, bool alt, bool shift);
void ApplyWheel(EditorViewportState& view, WheelAction action, float dx, float dy, float d);

// The beat step of the time grid: the smallest of 4, 8, ..., 512 beats at least minPixels wide, else 512.
int BeatStep(double pxPerBeat, double minPixels);

// A vertical line of the time grid or the ruler: its beat and x.
struct BeatMark {
    double beat = 0.0;
    float x = 0.f;
};
// The marks every BeatStep(…, minPixels) beats that fall on the canvas's x range, from the first step
// at or before the view's start (never before beat 0). Empty when framesPerBeat is not positive.
std::vector<BeatMark> BeatMarks(const CanvasMapping& m, double framesPerBeat, double minPixels);
// Frames per beat of a document rate at a tempo.
double FramesPerBeat(double sampleRate, double tempoBpm);

// The narrowest step the grid's beat lines and the ruler's bar ticks may take, in design units.
inline constexpr double kGridLinePixels = 26.0;
inline constexpr double kBarTickPixels = 30.0;

// The time grid's vertical lines: the marks of a kGridLinePixels step, major on every 16th beat.
struct GridLine {
    float x = 0.f;
    bool major = false;
};
std::vector<GridLine> GridLines(const CanvasMapping& m, double framesPerBeat);

// The ruler's ticks: the marks of a kBarTickPixels step, each with its bar number, four beats to a bar
// and beat 0 in bar 1.
struct BarTick {
    float x = 0.f;
    long bar = 0;
};
std::vector<BarTick> BarTicks(const CanvasMapping& m, double framesPerBeat);

// The pitch range drawn: MIDI notes from bottom to top (top = ceil(topMidi), bottom = floor of the pitch
// at the canvas's bottom edge).
struct PitchSpan {
    int bottom = 0;
    int top = 0;
};
PitchSpan VisiblePitches(const CanvasMapping& m);

// A semitone row of MIDI note `midi` in the tuning of tuningOffset semitones: y from top to bottom,
// unclipped.
struct PitchRow {
    int midi = 0;
    float top = 0.f;
    float bottom = 0.f;
};
PitchRow RowOf(const CanvasMapping& m, int midi, double tuningOffset);
// The rows of the notes the grid and the keyboard consider: max(bottom, 1) - 1 .. min(top, 126) + 1.
std::vector<PitchRow> CandidateRows(const CanvasMapping& m, double tuningOffset);

// The name the keyboard strip shows in the row of MIDI note `midi`: every C's ("C4" for 60), none below
// 6 units a semitone.
std::optional<std::string> KeyName(const CanvasMapping& m, int midi);

// The in-scale rows of the key (none for the chromatic scale), clipped to the canvas, root rows marked.
struct ScaleRow {
    float top = 0.f;
    float bottom = 0.f;
    bool root = false;
};
std::vector<ScaleRow> ScaleRows(const CanvasMapping& m, const np::KeyScale& key, double tuningOffset);

// The octave lines (every C) inside the canvas; C4 (60) is the bright one.
struct OctaveLine {
    float y = 0.f;
    bool middleC = false;
};
std::vector<OctaveLine> OctaveLines(const CanvasMapping& m, double tuningOffset);

} // namespace cv::ui
