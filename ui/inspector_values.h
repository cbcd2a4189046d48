#pragma once

// What the inspector shows and what its drags ask for: the selected note's name and deviation in cents
// in the session's tuning, the texts, fills and anchors of the four value cells and the three macro
// knobs, and the value each drag event leads to (Alt drags at a quarter of the pace). Pure functions;
// the control (inspector_view.h) applies them. Main thread.

#include <array>
#include <optional>
#include <string>

namespace cv::ui {

// The note's name ("A4") and its deviation ("+32 cents") from that name's pitch in the A4 reference's
// tuning: p = pitch + offset - 12 log2(a4 / 440), name of round(p), cents round((p - round(p)) x 100).
struct NoteHeading {
    std::string name;
    std::string cents;
};
NoteHeading HeadingFor(double pitch, double pitchOffset, double a4Hz);

// The edit values of the selected note the cells show.
struct NoteValues {
    double pitchOffset = 0.0;  // semitones
    double driftScale = 1.0;   // 0..2
    double formantShift = 0.0; // semitones
    double gainDb = 0.0;
};

// One cell or knob as it is drawn.
struct CellFace {
    std::string value;  // "+1.0 st", "100%", "-3.5 dB"
    float fill = 0.f;   // 0..1 of the knob's sweep
    float anchor = 0.f; // where the value arc starts
    bool active = true; // the value differs from its neutral one
};

// Pitch, Drift, Formant and Gain of the selected note; without one, all inactive at their neutral
// values. Pitch, Formant and Gain fill clamp((v + 12) / 24, 0, 1) from the middle; Drift fills its scale
// clamped to 0..1 from the end, since a drift above 1 (up to 2) lies beyond the knob's sweep.
std::array<CellFace, 4> NoteCellFaces(const std::optional<NoteValues>& note);
// A macro knob (Amount, Flatten, Strength) of a 0..1 setting: "%.0f%%", filled from 0.
CellFace MacroKnobFace(double value);

// Pace of every inspector drag: a quarter with Alt held.
double DragFactor(bool alt);
// Strength, amount and flatten: clamp(value - 0.005 x dY x factor, 0, 1).
double MacroDragValue(double value, float dY, bool alt);
// Semitones added to the pitch offset for a drag event dY units down (up raises): -0.02 x dY x factor.
double PitchDragStep(float dY, bool alt);
// The same for the formant shift.
double FormantDragStep(float dY, bool alt);
// Decibels added for a drag event: -0.05 x dY x factor.
double GainDragStepDb(float dY, bool alt);
// The drift scale a drag event sets from the selected note's: clamp(drift - 0.004 x dY x factor, 0, 2),
// the range the canvas's Mod drag reaches too.
double DriftDragScale(double drift, float dY, bool alt);

} // namespace cv::ui
