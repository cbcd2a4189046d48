// EditorView: view changes, selection and the mouse handlers (drawing is in editor_view_draw.cpp).

#include "ui/editor_view.h"

#include <algorithm>
#include <cmath>

namespace cv::ui {

using namespace iplug::igraphics;

EditorView::EditorView(const IRECT& bounds) : IControl(bounds) {}

EditorView::EditorView(const IRECT& bounds, std::unique_ptr<CanvasHost> host)
    : IControl(bounds), mHost(std::move(host)) {}

EditorView::~EditorView() {
    // The editor closing mid-drag sends no release: the gesture would stay open, every later edit
    // would join it, and the host would never be told of it.
    EndAbandonedGesture();
}

void EditorView::OnAttached() {
    if (!mHost)
        if (auto* plugin = dynamic_cast<Corvalinth*>(GetDelegate()))
            mHost = MakePluginCanvasHost(*plugin);
}

np::EditSession* EditorView::Session() const {
    return mHost ? &mHost->Session() : nullptr;
}

const np::Document* EditorView::Doc() const {
    const np::EditSession* s = Session();
    return s != nullptr && s->document().audio != nullptr ? &s->document() : nullptr;
}

// ---- View and selection

void EditorView::FitToDocument() {
    mSelection.clear();
    if (const np::Document* doc = Doc()) {
        const IRECT c = CanvasRect();
        if (const auto fitted = FitView(*doc, c.W(), c.H()))
            mView = *fitted;
    }
    SetDirty(false);
}

void EditorView::ZoomTime(double factor) {
    ZoomTimeAboutCentre(mView, factor, CanvasRect().W());
    SetDirty(false);
}

bool EditorView::RestoreViewport(const EditorViewportState& state) {
    const auto clamped = ClampedViewport(state);
    if (!clamped)
        return false;
    mView = *clamped;
    SetDirty(false);
    return true;
}

void EditorView::SetPlayheadDocFrame(std::int64_t frame) {
    if (frame == mPlayheadDocFrame)
        return;
    mPlayheadDocFrame = frame;
    SetDirty(false);
}

std::vector<std::uint32_t> EditorView::SelectionIds() const {
    return {mSelection.begin(), mSelection.end()};
}

void EditorView::SetSplitMode(bool armed) {
    mSplitMode = armed;
    if (!armed)
        mSplitHoverX = -1.f;
    SetDirty(false);
}

void EditorView::SetSplitHoverX(float x) {
    mSplitHoverX = x;
    SetDirty(false);
}

void EditorView::SetTool(std::uint32_t tool) {
    mTool = tool;
    SetDirty(false);
}

void EditorView::SelectAll() {
    const np::Document* doc = Doc();
    if (doc == nullptr)
        return;
    mSelection.clear();
    for (const np::Note& n : doc->notes)
        mSelection.insert(n.id);
    SetDirty(false);
}

void EditorView::SetSelectionIds(const std::vector<std::uint32_t>& ids) {
    mSelection.clear();
    if (const np::Document* doc = Doc())
        for (const std::uint32_t id : ids)
            if (doc->findNote(id) != nullptr)
                mSelection.insert(id);
    SetDirty(false);
}

void EditorView::ClearSelection() {
    mSelection.clear();
    SetDirty(false);
}

std::uint32_t EditorView::HitTest(float x, float y) const {
    const np::Document* doc = Doc();
    return doc != nullptr ? cv::ui::HitTest(*doc, Mapping(), x, y) : 0;
}

// ---- Gesture bookkeeping

template <class Body>
void EditorView::Guarded(Body&& body) {
    np::EditSession* s = Session();
    mEditCountAtHandler = s != nullptr ? s->editCount() : 0;
    try {
        body();
    } catch (...) {
        bool changed = false;
        if (s != nullptr) {
            try {
                s->cancelGesture();
            } catch (...) {
            }
            changed = s->editCount() != mEditCountAtHandler;
        }
        AbortEditInteraction(changed);
    }
}

void EditorView::AbortEditInteraction(bool documentChanged) {
    mGestureMode = GestureMode::None;
    mPressedNoteId = 0;
    mDragMoved = false;
    StopAudition();
    try {
        if (mHost)
            mHost->ReportUiEditFailure(documentChanged);
    } catch (...) {
    }
    SetDirty(false);
}

void EditorView::StopAudition() noexcept {
    if (!mLiveAuditionActive)
        return;
    mLiveAuditionActive = false;
    try {
        mHost->StopLiveAudition();
    } catch (...) {
    }
}

void EditorView::EndAbandonedGesture() noexcept {
    if (mGestureMode == GestureMode::None)
        return;
    const GestureMode mode = mGestureMode;
    mGestureMode = GestureMode::None;
    mPressedNoteId = 0;
    mDragMoved = false;
    if (mode != GestureMode::Marquee && mHost) {
        np::EditSession& s = mHost->Session();
        const std::uint64_t before = s.editCount();
        try {
            if (s.inGesture() && s.endGesture())
                mHost->OnDocumentEdited();
        } catch (...) {
            try {
                s.cancelGesture();
                mHost->ReportUiEditFailure(s.editCount() != before);
            } catch (...) {
            }
        }
    }
    StopAudition();
    SetDirty(false);
}

EditorView::Shown EditorView::CurrentlyShown() const {
    Shown shown;
    const np::EditSession* s = Session();
    if (s == nullptr)
        return shown;
    shown.session = s;
    shown.documentRevision = s->documentRevision();
    shown.contentRevision = s->contentRevision();
    shown.audio = s->document().audio.get();
    // Without source audio the canvas shows the empty state, which draws none of the rest.
    if (shown.audio == nullptr)
        return shown;
    shown.peaks = mHost->Peaks();
    shown.keyRoot = s->keyScale().root;
    shown.scaleKind = s->keyScale().kind;
    shown.a4Hz = s->a4Hz();
    shown.tempoBpm = mHost->TempoBpm();
    return shown;
}

bool EditorView::IsDirty() {
    // A capture lost without a release (a modal prompt, a window that lost the pointer) ends the
    // gesture at the next frame tick.
    if (mGestureMode != GestureMode::None && GetUI() != nullptr && GetUI()->GetCapturedControl() != this)
        EndAbandonedGesture();
    return IControl::IsDirty() || CurrentlyShown() != mDrawn;
}

// ---- Press

void EditorView::OnMouseDown(float x, float y, const IMouseMod& mod) {
    EndAbandonedGesture();
    mDownX = mLastX = x;
    mDownY = mLastY = y;
    mDragMoved = false;
    Guarded([&] {
        const IRECT c = CanvasRect();
        if (y < c.T || x < c.L || !mHost)
            return;
        if (mSplitMode) {
            if (mod.R)
                mHost->ToggleSplitMode();
            else
                SplitModePress(x);
            return;
        }
        const np::Document* doc = Doc();
        const std::uint32_t id = HitTest(x, y);
        if (id == 0) {
            if (!mod.S)
                mSelection.clear();
            mGestureMode = GestureMode::Marquee;
            SetDirty(false);
            return;
        }
        if (mod.C && ToolIs(cv::ui::Tool::Main)) {
            const auto frame = static_cast<std::int64_t>(std::trunc(XToTime(x)));
            if (mHost->Session().splitNote(id, frame) != 0)
                mHost->OnDocumentEdited();
            SetDirty(false);
            return;
        }
        PressNote(*doc->findNote(id), x, mod);
    });
}

void EditorView::SplitModePress(float x) {
    const np::Document* doc = Doc();
    if (doc == nullptr)
        return;
    const auto frame = static_cast<std::int64_t>(std::trunc(XToTime(x)));
    const std::vector<std::uint32_t> ids = NotesAcrossFrame(*doc, frame);
    if (ids.empty())
        return;
    np::EditSession& s = mHost->Session();
    s.beginGesture();
    std::vector<std::uint32_t> pieces;
    for (std::uint32_t id : ids)
        if (const std::uint32_t right = s.splitNote(id, frame); right != 0)
            pieces.push_back(right);
    const bool changed = s.endGesture();
    mSelection = {ids.begin(), ids.end()};
    mSelection.insert(pieces.begin(), pieces.end());
    SetDirty(false);
    if (changed)
        mHost->OnDocumentEdited();
}

void EditorView::PressNote(const np::Note& note, float x, const IMouseMod& mod) {
    if (mod.S) {
        if (!mSelection.erase(note.id))
            mSelection.insert(note.id);
    } else if (!mSelection.contains(note.id)) {
        mSelection = {note.id};
    }
    mPressedNoteId = note.id;
    mPitchDragAccum = mPitchDragApplied = 0.0;
    mTimeDragApplied = 0;
    mLengthAtPress = note.length;
    mDriftAtPress = note.driftScale;
    mGestureMode = GestureMode::Pressed;
    const double end = static_cast<double>(note.start) + static_cast<double>(note.length);
    if (ToolIs(cv::ui::Tool::Time) && TimeToX(end) - x < kResizeZone)
        mGestureMode = GestureMode::Resize;
    SetDirty(false);
    mHost->Session().beginGesture();
    const bool audible =
        ToolIs(cv::ui::Tool::Main) || ToolIs(cv::ui::Tool::Pitch) || ToolIs(cv::ui::Tool::Formant);
    if (audible && mGestureMode != GestureMode::Resize) {
        mLiveAuditionActive = true; // set first, so a failing start is still stopped
        mHost->StartLiveAudition(note.id);
    }
}

// ---- Drag

void EditorView::OnMouseDrag(float x, float y, float, float dY, const IMouseMod& mod) {
    mLastX = x;
    mLastY = y;
    if (mGestureMode == GestureMode::None)
        return;
    if (mGestureMode == GestureMode::Marquee) {
        SetDirty(false);
        return;
    }
    if (!mDragMoved) {
        if (InsideDeadZone(x - mDownX, y - mDownY))
            return;
        mDragMoved = true;
    }
    Guarded([&] { DragGesture(x, y, dY, mod); });
}

void EditorView::DragGesture(float x, float y, float dY, const IMouseMod& mod) {
    if (mGestureMode == GestureMode::Pressed)
        mGestureMode = ModeForFirstDrag(static_cast<cv::ui::Tool>(std::min<std::uint32_t>(mTool, 5)),
                                        x - mDownX, y - mDownY);
    np::EditSession& s = mHost->Session();
    const std::vector<std::uint32_t> ids = SelectionIds();
    bool changed = false;
    switch (mGestureMode) {
    case GestureMode::Pitch: {
        mPitchDragAccum -= dY / mView.pxPerSemitone;
        const double target = PitchDragTarget(mPitchDragAccum, mod.A);
        if (target - mPitchDragApplied != 0.0) {
            changed = s.addPitchOffset(ids, target - mPitchDragApplied);
            mPitchDragApplied = target;
            if (changed)
                mHost->OnDocumentEdited();
            if (mLiveAuditionActive)
                mHost->UpdateLiveAudition(mPressedNoteId);
        }
        changed = false;
        break;
    }
    case GestureMode::Time: {
        const std::int64_t frames = TimeDragFrames(x - mDownX, mView.framesPerPixel);
        if (frames != mTimeDragApplied) {
            // Only the distance the group really moved counts as applied: past the start or the end
            // of the timeline it stops, and the pointer brings it back from where it stopped.
            const std::int64_t delta = s.limitedMoveFrames(ids, frames - mTimeDragApplied);
            changed = s.moveTime(ids, delta);
            mTimeDragApplied += delta;
        }
        break;
    }
    case GestureMode::Resize:
        changed =
            s.resizeNote(mPressedNoteId, mLengthAtPress + TimeDragFrames(x - mDownX, mView.framesPerPixel));
        break;
    case GestureMode::Formant:
        changed = s.addFormantShift(ids, -dY / mView.pxPerSemitone);
        if (mLiveAuditionActive)
            mHost->UpdateLiveAudition(mPressedNoteId);
        break;
    case GestureMode::Gain:
        changed = s.addGainDb(ids, GainStepDb(dY));
        break;
    case GestureMode::Drift:
        changed = s.setDriftScale(ids, DriftDragValue(mDownY - y, mDriftAtPress));
        break;
    default:
        break;
    }
    // An operation that changed nothing has nothing to render or redraw.
    if (changed)
        mHost->OnDocumentEdited();
    SetDirty(false);
}

// ---- Release

void EditorView::OnMouseUp(float x, float y, const IMouseMod&) {
    mLastX = x;
    mLastY = y;
    Guarded([&] {
        if (mGestureMode == GestureMode::Marquee)
            FinishMarquee(x, y);
        else if (mGestureMode != GestureMode::None && mHost && mHost->Session().endGesture())
            mHost->OnDocumentEdited();
    });
    mGestureMode = GestureMode::None;
    mPressedNoteId = 0;
    StopAudition();
    SetDirty(false);
}

void EditorView::FinishMarquee(float x, float y) {
    const np::Document* doc = Doc();
    if (doc == nullptr)
        return;
    const IRECT r(std::min(mDownX, x), std::min(mDownY, y), std::max(mDownX, x), std::max(mDownY, y));
    for (std::uint32_t id : MarqueeNotes(*doc, Mapping(), r))
        mSelection.insert(id);
}

// ---- Double-click

void EditorView::OnMouseDblClick(float x, float y, const IMouseMod& mod) {
    // In split mode the second click of a pair is one more cut, not a note edit.
    if (mSplitMode) {
        OnMouseDown(x, y, mod);
        return;
    }
    EndAbandonedGesture();
    mDownX = mLastX = x;
    mDownY = mLastY = y;
    Guarded([&] {
        const np::Document* doc = Doc();
        if (doc == nullptr || doc->notes.empty())
            return;
        const std::uint32_t id = HitTest(x, y);
        if (id == 0)
            return;
        np::EditSession& s = mHost->Session();
        bool changed = false;
        if (ToolIs(cv::ui::Tool::Amp)) {
            const std::uint32_t one[] = {id};
            changed = s.setMuted(one, !doc->findNote(id)->muted);
        } else {
            if (!mSelection.contains(id))
                mSelection = {id};
            const std::vector<std::uint32_t> ids = SelectionIds();
            changed = ToolIs(cv::ui::Tool::Mod) ? s.setDriftScale(ids, 0.0) : s.snapToScale(ids);
        }
        if (changed)
            mHost->OnDocumentEdited();
        SetDirty(false);
    });
}

// ---- Hover, leaving, wheel

void EditorView::SetHoverNote(std::uint32_t id) {
    if (id == mHoverNoteId)
        return;
    mHoverNoteId = id;
    SetDirty(false);
}

void EditorView::OnMouseOver(float x, float y, const IMouseMod& mod) {
    IControl::OnMouseOver(x, y, mod);
    // Hovering means nothing holds the capture: a gesture still open lost its release.
    EndAbandonedGesture();
    const IRECT c = CanvasRect();
    const bool inCanvas = x >= c.L && y >= c.T;
    SetHoverNote(!mSplitMode && inCanvas ? HitTest(x, y) : 0);
    if (mSplitMode) {
        SetSplitHoverX(inCanvas ? x : -1.f);
        if (inCanvas) {
            GetUI()->SetMouseCursor(ECursor::CROSS);
            return;
        }
    }
    UpdateCursor(x, y);
}

void EditorView::UpdateCursor(float x, float y) {
    const IRECT c = CanvasRect();
    ECursor cursor = ECursor::ARROW;
    if (y < c.T && x >= c.L)
        cursor = ECursor::HAND;
    else if (mHoverNoteId != 0)
        cursor = ToolIs(cv::ui::Tool::Main)   ? ECursor::SIZEALL
                 : ToolIs(cv::ui::Tool::Time) ? ECursor::SIZEWE
                                              : ECursor::SIZENS;
    GetUI()->SetMouseCursor(cursor);
}

void EditorView::OnMouseOut() {
    IControl::OnMouseOut();
    if (GetUI() != nullptr)
        GetUI()->SetMouseCursor(ECursor::ARROW);
    if (mSplitHoverX != -1.f)
        SetSplitHoverX(-1.f);
    SetHoverNote(0);
}

void EditorView::OnMouseWheel(float x, float y, const IMouseMod& mod, float d) {
    const IRECT c = CanvasRect();
    ApplyWheel(mView, WheelActionFor(mod.C, mod.A, mod.S), x - c.L, y - c.T, d);
    SetDirty(false);
}

} // namespace cv::ui
