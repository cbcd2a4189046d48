#pragma once

// Where the layout puts every control: pure functions of the design size (W x H, 1280 x 816) and the
// measured widths, so the rectangles can be checked without drawing. Design units throughout; the window
// is scaled, never laid out again.

#include "framework/graphics/irect.h"

#include <span>
#include <vector>

namespace cv::ui {

using iplug::igraphics::IRECT;

struct EditorGeometry {
    // Header band (14, 4, W-14, 58); its buttons are 32 high at y 15..47.
    IRECT wordmark;
    IRECT separators[2]; // 1 unit wide, y 21..41
    IRECT capture;
    IRECT original;
    IRECT clear;
    IRECT exportButton;
    IRECT time;
    IRECT volLabel;
    IRECT vol;
    IRECT help;
    IRECT settings;
    IRECT file;
    // Tool bar row, y 65..97.
    IRECT toolLabel;
    IRECT tabs;
    IRECT undo;
    IRECT redo;
    IRECT split;
    IRECT merge;
    float dropdownsRight = 0.f; // the dropdowns are aligned right to left from here
    // Below the canvas and in it.
    IRECT inspector;
    IRECT noteCount;
    IRECT hint;
    IRECT canvas;
    IRECT zoomOut;
    IRECT zoomIn;
    IRECT fit;
    IRECT notice;
    IRECT whole; // decor and overlays
};

inline constexpr float kToolRowTop = 65.f;
inline constexpr float kToolRowBottom = 97.f;
inline constexpr float kDropdownGap = 13.f;

// The tool tabs' width: 8 plus, for each label, its width (semibold 17) plus 22.
float TabsWidth(std::span<const float> labelWidths);

// Every rectangle for a design of w x h with tool tabs tabsWidth wide.
EditorGeometry ComputeEditorGeometry(float w, float h, float tabsWidth);

// Rectangles of the given widths laid from right to left, the first ending at right, kDropdownGap apart,
// all from top to bottom; in the order of widths.
std::vector<IRECT> AlignRightToLeft(float right, float top, float bottom, std::span<const float> widths);

} // namespace cv::ui
