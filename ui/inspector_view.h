#pragma once

// InspectorView (control tag 13): the panel under the note canvas. With the canvas's Time tool it shows
// the time-quantize block (the Tempo display, the grid segments, the Strength knob and "Apply"); with any
// other tool the note face: the selected note's name and deviation in cents, the Pitch, Drift, Formant and
// Gain cells, the Amount and Flatten knobs with "Correct pitch", and the unison button.
//
// A value cell is dragged like a knob: the press opens one edit-session gesture, every drag event edits
// the canvas's selection at once, and the release closes the gesture and takes the edited-document path
// once, so a drag is one undo step and one publication. A gesture whose release never comes (a lost
// mouse capture, the editor closing) is ended the same way. The knobs and grid segments set the plug-in's
// macro settings, which are not edits. An exception in a handler cancels the gesture and reports.
//
// Main thread only. Geometry lives in inspector_layout.h, values and drag maths in inspector_values.h.

#include "framework/graphics/icontrol.h"
#include "ui/editor_commands.h"
#include "ui/editor_seams.h"
#include "ui/inspector_layout.h"
#include "ui/inspector_values.h"
#include "ui/ivory/interaction_motion.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cv::ui {

class InspectorView : public iplug::igraphics::IControl {
public:
    using IGraphics = iplug::igraphics::IGraphics;
    using IMouseMod = iplug::IMouseMod;

    // What a press starts dragging (-1 none); the value cells 0..3 drag inside a gesture.
    enum Drag : int {
        kDragNone = -1,
        kDragPitch = 0,
        kDragDrift = 1,
        kDragFormant = 2,
        kDragGain = 3,
        kDragStrength = 10,
        kDragAmount = 11,
        kDragFlatten = 12,
    };

    // An inspector that reaches the plug-in of the graphics context it is attached to (its delegate);
    // without one it shows the note face with no note and does nothing.
    explicit InspectorView(const IRECT& bounds);
    // An inspector over its own commands (tests, tools).
    InspectorView(const IRECT& bounds, std::unique_ptr<EditorCommands> commands);
    // Ends an open value drag, publishing it when it changed something.
    ~InspectorView() override;

    // The first note of the canvas's selection (ascending id) that the document holds; null without one,
    // without source audio or without a canvas.
    const np::Note* SelNote() const;
    InspectorFace Face() const;
    NoteFaceLayout NoteLayout() const { return LayoutNoteFace(GetRECT(), mWidths); }
    TimeFaceLayout TimeLayout() const { return LayoutTimeFace(GetRECT()); }
    int InteractionAt(float x, float y) const;
    // What a cell or knob shows: its label and its face (value text, fill, anchor, active).
    struct ShownCell {
        const char* label = "";
        CellFace face;
    };
    // The note face's six, in the order of kCellLabels: the selected note's values (neutral and
    // inactive without one), then the correction amount and flatten.
    std::array<ShownCell, kCellCount> NoteCells() const;
    // The time face's Strength knob.
    ShownCell StrengthKnob() const;
    // The note face's heading: the selected note's name and deviation in the session's tuning; none
    // without a selected note.
    std::optional<NoteHeading> Heading() const;
    // The grid segment the time face shows chosen: 0 "1/4", 1 "1/8", 2 "1/16".
    int ShownGridIndex() const;
    // Measured once a graphics context exists; the fallbacks until then.
    const CellWidths& Widths() const { return mWidths; }
    bool WidthsMeasured() const { return mMeasured; }
    int ActiveDrag() const { return mActiveDrag; }
    int HoveredInteraction() const { return mHovered; }
    int PressedInteraction() const { return mPressed; }

    // ---- IControl
    void OnAttached() override;
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    void OnMouseUp(float x, float y, const IMouseMod& mod) override;
    void OnMouseDrag(float x, float y, float dX, float dY, const IMouseMod& mod) override;
    void OnMouseOver(float x, float y, const IMouseMod& mod) override;
    void OnMouseOut() override;
    // True while a hover or press runs, after SetDirty, and when what the inspector shows (its face, the
    // selected note's values, the tuning, the macros, the tempo) differs from what it drew last.
    bool IsDirty() override;
    void Draw(IGraphics& g) override;

    // The hover wash and ring and the press shade over the knob of cell `index` (an interaction id).
    void DrawKnobInteraction(IGraphics& g, const IRECT& cell, int index, bool compact) const;

private:
    // Everything outside the control that its drawing reads, so that a change made elsewhere (an undo, a
    // key, the tool, the host) redraws it and nothing else does.
    struct Shown {
        struct Note {
            double pitch = 0.0;
            double pitchOffset = 0.0;
            double driftScale = 1.0;
            double formantShift = 0.0;
            double gainDb = 0.0;
            bool operator==(const Note&) const = default;
        };
        InspectorFace face = InspectorFace::Note;
        std::optional<Note> note;
        double a4Hz = 440.0;
        cv::MacroSettings macros;
        std::string tempo;
        bool operator==(const Shown&) const = default;
    };
    Shown CurrentlyShown() const;

    // Runs a handler body in the edit boundary; a failure also ends the drag and the press.
    template <class Body>
    void Guarded(Body&& body);
    CanvasSeam* Canvas() const;
    std::vector<std::uint32_t> SelectedIds() const;
    void Press(int id);
    void DragBy(float dY, bool alt);
    void EndAbandonedDrag() noexcept;
    void MeasureWidths();
    iplug::igraphics::TimePoint Now() const;
    void DrawTimeFace(IGraphics& g);
    void DrawNoteFace(IGraphics& g);
    void DrawButton(IGraphics& g, const IRECT& r, int id, float radius, const char* label);

    std::unique_ptr<EditorCommands> mCommands;
    CellWidths mWidths;
    bool mMeasured = false;
    int mActiveDrag = kDragNone;
    int mHovered = kIdNone;
    int mPressed = kIdNone;
    ivory::InteractionMotion mMotion;
    std::optional<Shown> mDrawn; // what the last Draw showed; none before the first
};

} // namespace cv::ui
