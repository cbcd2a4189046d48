#pragma once

// EditorView: the note canvas (control tag 0). It shows the captured take on a pitch-over-time grid (a
// keyboard strip, a bar ruler, scale rows, octave and beat lines, the waveform, the notes as blobs with
// their pitch curves, connectors, sibilant spans, the playhead, the marquee and the split overlay) and
// turns presses, drags, releases, double-clicks and wheel turns into selection, view and edit-session
// changes. It reads the document through its host and keeps no copy; it owns only its view and its
// selection.
//
// A drag is one edit-session gesture, so one undo step; each change during it is followed by the
// host's edited-document path, which publishes the state once the gesture has ended. A gesture is
// never left open: the release ends it, and so do losing the mouse capture without a release (seen at
// the next frame tick or event) and the canvas's teardown, each publishing when the gesture changed
// something and stopping the live audition. An exception in a handler cancels the gesture and reports.
//
// Main thread only. Drawing lives in editor_view_draw.cpp, the geometry in canvas_view.h and
// canvas_notes.h, the drag maths in canvas_gesture.h.

#include "framework/graphics/icontrol.h"
#include "ui/canvas_gesture.h"
#include "ui/canvas_host.h"
#include "ui/canvas_notes.h"
#include "ui/canvas_view.h"
#include "ui/editor_seams.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace cv::ui {

class EditorView : public iplug::igraphics::IControl, public CanvasSeam {
public:
    using IGraphics = iplug::igraphics::IGraphics;
    using IMouseMod = iplug::IMouseMod;

    // A canvas that reaches the plug-in of the graphics context it is attached to (its delegate);
    // without one it shows the empty state and edits nothing.
    explicit EditorView(const IRECT& bounds);
    // A canvas over its own host (tests, tools).
    EditorView(const IRECT& bounds, std::unique_ptr<CanvasHost> host);
    // Ends an open gesture (publishing it when it changed something) and stops the live audition.
    ~EditorView() override;

    // ---- Conversions (design units; document frames; MIDI pitch).
    float TimeToX(double frame) const { return Mapping().TimeToX(frame); }
    double XToTime(float x) const { return Mapping().XToTime(x); }
    float MidiToY(double midi) const { return Mapping().MidiToY(midi); }
    double YToMidi(float y) const { return Mapping().YToMidi(y); }
    IRECT CanvasRect() const { return CanvasRectOf(GetRECT()); }
    CanvasMapping Mapping() const { return {mView, CanvasRect()}; }

    // ---- View (each marks the control dirty). CanvasSeam.
    // Empties the selection; with source audio and notes, shows the whole document.
    void FitToDocument() override;
    void ZoomTime(double factor) override;
    EditorViewportState ViewportState() const override { return mView; }
    bool RestoreViewport(const EditorViewportState& state) override;
    // Redraws only when the frame changed.
    void SetPlayheadDocFrame(std::int64_t frame) override;
    std::vector<std::uint32_t> SelectionIds() const override;
    void SetSelectionIds(const std::vector<std::uint32_t>& ids) override;
    bool SplitMode() const override { return mSplitMode; }
    void SetSplitMode(bool armed) override;
    void SetTool(std::uint32_t tool) override;
    std::uint32_t Tool() const override { return mTool; }

    // ---- Selection
    // With source audio, every note of the document (also none); nothing without.
    void SelectAll() override;
    void ClearSelection() override;
    const std::set<std::uint32_t>& Selection() const { return mSelection; }

    // ---- What it reads: the host's edit session, and its document while it has source audio.
    np::EditSession* Session() const;
    const np::Document* Doc() const;

    // The note under a point (0 for none), by the rule of canvas_notes.h.
    std::uint32_t HitTest(float x, float y) const;
    // Leaves the gesture after a failure: mode None, no pressed note, the live audition stopped, then
    // the host's failure report and a redraw (their own failures ignored).
    void AbortEditInteraction(bool documentChanged);

    // ---- State for the editor and the tests.
    GestureMode Gesture() const { return mGestureMode; }
    std::uint32_t HoverNoteId() const { return mHoverNoteId; }
    std::uint32_t PressedNoteId() const { return mPressedNoteId; }
    float SplitHoverX() const { return mSplitHoverX; }
    void SetSplitHoverX(float x);
    std::int64_t PlayheadDocFrame() const { return mPlayheadDocFrame; }

    // ---- IControl
    void OnAttached() override;
    // True after SetDirty and when what the canvas draws from outside the control differs from what it
    // drew last (see Shown), so a change made by any road (a chip's menu, host automation, a restore, an
    // undo, a finished analysis) is drawn at the next frame tick and a canvas at rest draws nothing.
    // Also ends a gesture whose mouse capture was lost.
    bool IsDirty() override;
    void OnMouseDown(float x, float y, const IMouseMod& mod) override;
    void OnMouseUp(float x, float y, const IMouseMod& mod) override;
    void OnMouseDrag(float x, float y, float dX, float dY, const IMouseMod& mod) override;
    void OnMouseDblClick(float x, float y, const IMouseMod& mod) override;
    void OnMouseWheel(float x, float y, const IMouseMod& mod, float d) override;
    void OnMouseOver(float x, float y, const IMouseMod& mod) override;
    void OnMouseOut() override;
    // Files dropped on the canvas have no effect.
    void OnDrop(const char*) override {}
    void Draw(IGraphics& g) override;

private:
    // Everything outside the control that its drawing reads. Compared at every frame tick, so only
    // counters, pointers and plain values: the session's revisions identify its notes (an edit, undo,
    // redo or new document gives new ones), the source and peak pointers the waveform.
    struct Shown {
        const np::EditSession* session = nullptr;
        std::uint64_t documentRevision = 0;
        std::uint64_t contentRevision = 0;
        const np::AudioBuffer* audio = nullptr;
        const np::PeakCache* peaks = nullptr;
        std::int32_t keyRoot = 0;
        std::uint32_t scaleKind = 0;
        double a4Hz = 440.0;
        double tempoBpm = 0.0;
        bool operator==(const Shown&) const = default;
    };
    Shown CurrentlyShown() const;

    // Runs an editing handler body: an exception cancels the gesture and aborts the interaction.
    template <class Body>
    void Guarded(Body&& body);
    void PressNote(const np::Note& note, float x, const IMouseMod& mod);
    void SplitModePress(float x);
    void DragGesture(float x, float y, float dY, const IMouseMod& mod);
    void FinishMarquee(float x, float y);
    // Ends a gesture whose release never came; nothing when none is open.
    void EndAbandonedGesture() noexcept;
    void StopAudition() noexcept;
    void UpdateCursor(float x, float y);
    void SetHoverNote(std::uint32_t id);
    bool HasAudio() const { return Doc() != nullptr; }
    bool ToolIs(cv::ui::Tool t) const { return mTool == static_cast<std::uint32_t>(t); }

    // Drawing passes (editor_view_draw.cpp).
    void DrawGrid(IGraphics& g, const CanvasMapping& m);
    void DrawWaveform(IGraphics& g, const CanvasMapping& m);
    void DrawBlobs(IGraphics& g, const CanvasMapping& m);
    void DrawSplitOverlay(IGraphics& g, const CanvasMapping& m);
    void DrawRulers(IGraphics& g, const CanvasMapping& m);
    void DrawEmptyState(IGraphics& g);
    void DrawFrame(IGraphics& g);

    std::unique_ptr<CanvasHost> mHost;
    EditorViewportState mView;
    std::uint32_t mTool = 0;
    std::set<std::uint32_t> mSelection;
    std::int64_t mPlayheadDocFrame = 0;
    GestureMode mGestureMode = GestureMode::None;
    float mDownX = 0.f, mDownY = 0.f;
    float mLastX = 0.f, mLastY = 0.f;
    std::uint32_t mPressedNoteId = 0;
    std::uint32_t mHoverNoteId = 0;
    double mPitchDragAccum = 0.0;
    double mPitchDragApplied = 0.0;
    double mDriftAtPress = 1.0;
    std::int64_t mTimeDragApplied = 0;
    std::int64_t mLengthAtPress = 0;
    bool mDragMoved = false;
    bool mLiveAuditionActive = false;
    bool mSplitMode = false;
    float mSplitHoverX = -1.f;
    // The session's edit count when the current handler started, for the failure report.
    std::uint64_t mEditCountAtHandler = 0;
    std::optional<Shown> mDrawn; // what the last Draw showed; none before the first
};

} // namespace cv::ui
