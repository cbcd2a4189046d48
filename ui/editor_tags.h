#pragma once

// The control tags by which the plug-in and the controls find the editor's long-lived controls again,
// and the two control groups the idle loop switches as a whole. Every other control has no tag.

namespace cv::ui {

enum EditorTag : int {
    kTagCanvas = 0,     // note editor canvas
    kTagTime = 1,       // time readout
    kTagFile = 2,       // file readout
    kTagHint = 3,       // hint text, starts hidden
    kTagCapture = 5,    // Capture toggle
    kTagOriginal = 6,   // Original toggle
    kTagNoteCount = 8,  // note-count text, starts hidden
    kTagHelp = 9,       // help overlay, starts hidden
    kTagPrefs = 10,     // preferences overlay, starts hidden
    kTagUpdates = 12,   // software-updates overlay, starts hidden
    kTagInspector = 13, // inspector
    kTagExport = 14,    // Export button
    kTagSplit = 15,     // split button
    kTagNotice = 17,    // notice line, starts hidden
    kTagConfirm = 18,   // confirmation dialog, starts hidden
};

// Disabled while the document is empty: Original, Clear, Export, split and Merge.
inline constexpr const char* kGroupDoc = "doc";
// Hidden while the document is empty: the three zoom buttons.
inline constexpr const char* kGroupZoom = "zoom";

} // namespace cv::ui
