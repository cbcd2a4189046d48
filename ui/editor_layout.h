#pragma once

// The editor's layout: builds the whole window each time the editor opens. It sets the scale limits
// (0.7..1.5) and the corner resizer, loads the fonts and bitmaps, and attaches every control in z-order:
// background, header, tool bar, inspector, canvas, decor, notice line and the overlays, the confirmation
// dialog on top. Main thread.

#include "framework/graphics/igraphics.h"
#include "plugin/editor_controls.h"
#include "ui/ivory/controls.h"
#include "ui/overlay_services.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <vector>

class Corvalinth;

namespace cv::ui {

// What the header and tool bar controls do; an empty action does nothing.
struct EditorActions {
    std::function<void()> toggleCapture;  // Capture / Stop
    std::function<void()> toggleOriginal; // Original
    std::function<void()> clearCapture;   // Clear
    std::function<void()> exportFile;     // Export
    std::function<void()> undo;
    std::function<void()> redo;
    std::function<void()> merge;
    std::function<bool()> hasDocument; // the split button flips split mode only with a document
    OverlayServices overlays;          // what the notice line and the overlays call
};

// The tool tabs' labels and the tooltip of each.
inline const std::vector<std::string> kToolLabels{"Main", "Pitch", "Formant", "Amp", "Time", "Mod"};
const std::vector<std::string>& ToolHints();

// Where the editor's fonts (fonts/ of the fetched resources) and its generated bitmaps are found.
std::vector<std::filesystem::path> EditorResourceFolders();

// Attaches every control to g (a fresh context of the design size) with these actions.
void BuildEditor(iplug::igraphics::IGraphics& g, const EditorActions& actions);

// The actions bound to the plug-in's commands.
EditorActions ActionsFor(Corvalinth& plugin);

// The layout the plug-in registers: builds the editor in g for the plug-in and returns the view through
// which the plug-in reaches its long-lived controls (valid while g lives).
std::unique_ptr<cv::EditorControls> LayoutEditor(Corvalinth& plugin, iplug::igraphics::IGraphics& g);

// Registers LayoutEditor as every plug-in object's editor layout (cv::SetEditorLayout).
void RegisterEditorLayout();

// Lays the dropdowns from right to left by their preferred widths, the first ending at right, 13 apart,
// on the tool bar row; run once by the layout and again after every menu choice.
void AlignDropdowns(std::span<ivory::IvoryDropdown* const> dropdowns, float right);

} // namespace cv::ui
