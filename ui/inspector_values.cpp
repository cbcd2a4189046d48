#include "ui/inspector_values.h"

#include "plugin/Corvalinth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cv::ui {

namespace {

std::string Format(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Pitch, Formant and Gain share one scale: -12..12 over the sweep.
float CentredFill(double value) {
    return static_cast<float>(std::clamp((value + 12.0) / 24.0, 0.0, 1.0));
}

} // namespace

NoteHeading HeadingFor(double pitch, double pitchOffset, double a4Hz) {
    const double p = pitch + pitchOffset - np::tuningOffsetSemitones(a4Hz);
    const long n = std::lround(p);
    const long cents = std::lround((p - static_cast<double>(n)) * 100.0);
    char text[32];
    std::snprintf(text, sizeof text, "%+ld cents", cents);
    return {np::midiNoteName(static_cast<int>(n)), text};
}

std::array<CellFace, 4> NoteCellFaces(const std::optional<NoteValues>& note) {
    const NoteValues v = note.value_or(NoteValues{});
    const bool selected = note.has_value();
    return {{
        {Format("%+.1f st", v.pitchOffset), CentredFill(v.pitchOffset), 0.5f,
         selected && v.pitchOffset != 0.0},
        {Format("%.0f%%", v.driftScale * 100.0), static_cast<float>(std::clamp(v.driftScale, 0.0, 1.0)), 1.f,
         selected && v.driftScale != 1.0},
        {Format("%+.1f st", v.formantShift), CentredFill(v.formantShift), 0.5f,
         selected && v.formantShift != 0.0},
        {Format("%+.1f dB", v.gainDb), CentredFill(v.gainDb), 0.5f, selected && v.gainDb != 0.0},
    }};
}

CellFace MacroKnobFace(double value) {
    return {Format("%.0f%%", value * 100.0), static_cast<float>(std::clamp(value, 0.0, 1.0)), 0.f, true};
}

double DragFactor(bool alt) {
    return alt ? 0.25 : 1.0;
}

double MacroDragValue(double value, float dY, bool alt) {
    return std::clamp(value - 0.005 * dY * DragFactor(alt), 0.0, 1.0);
}

double PitchDragStep(float dY, bool alt) {
    return -0.02 * dY * DragFactor(alt);
}

double FormantDragStep(float dY, bool alt) {
    return -0.02 * dY * DragFactor(alt);
}

double GainDragStepDb(float dY, bool alt) {
    return -0.05 * dY * DragFactor(alt);
}

double DriftDragScale(double drift, float dY, bool alt) {
    return std::clamp(drift - 0.004 * dY * DragFactor(alt), 0.0, 2.0);
}

} // namespace cv::ui
