// InspectorView: the mouse handlers and the drawing of both faces.

#include "ui/inspector_view.h"

#include "ui/edit_boundary.h"
#include "ui/editor_tags.h"
#include "ui/ivory/icons.h"
#include "ui/ivory/painter_util.h"
#include "ui/ivory/painters.h"
#include "ui/ivory/palette.h"
#include "ui/theme/theme.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace cv::ui {

using namespace iplug::igraphics;

namespace {

const std::vector<std::string> kGridLabels{"1/4", "1/8", "1/16"};

bool IsValueCell(int id) {
    return id >= kIdPitch && id <= kIdGain;
}

} // namespace

InspectorView::InspectorView(const IRECT& bounds) : IControl(bounds), mWidths(MeasureCellWidths({})) {}

InspectorView::InspectorView(const IRECT& bounds, std::unique_ptr<EditorCommands> commands)
    : IControl(bounds), mCommands(std::move(commands)), mWidths(MeasureCellWidths({})) {}

InspectorView::~InspectorView() {
    EndAbandonedDrag();
}

void InspectorView::OnAttached() {
    if (!mCommands)
        if (auto* plugin = dynamic_cast<Corvalinth*>(GetDelegate()))
            mCommands = MakePluginEditorCommands(*plugin);
    MeasureWidths();
    mMotion = ivory::InteractionMotion(Now());
}

void InspectorView::MeasureWidths() {
    IGraphics* g = GetUI();
    if (g == nullptr)
        return;
    mWidths = MeasureCellWidths([g](bool labelFace, float size, const char* text) {
        const IText style =
            ivory::Font(labelFace ? ivory::kFontSemiBold : ivory::kFontMono, size, ivory::kInk);
        return g->MeasureTextWidth(style, text);
    });
    mMeasured = true;
}

TimePoint InspectorView::Now() const {
    return GetUI() ? GetUI()->Now() : Clock::now();
}

CanvasSeam* InspectorView::Canvas() const {
    return FindSeam<CanvasSeam>(GetUI(), kTagCanvas);
}

std::vector<std::uint32_t> InspectorView::SelectedIds() const {
    const CanvasSeam* canvas = Canvas();
    return canvas ? canvas->SelectionIds() : std::vector<std::uint32_t>{};
}

const np::Note* InspectorView::SelNote() const {
    if (!mCommands)
        return nullptr;
    const np::Document& doc = mCommands->Session().document();
    if (doc.audio == nullptr)
        return nullptr;
    for (std::uint32_t id : SelectedIds())
        if (const np::Note* note = doc.findNote(id))
            return note;
    return nullptr;
}

InspectorFace InspectorView::Face() const {
    const CanvasSeam* canvas = Canvas();
    return FaceForTool(canvas ? canvas->Tool() : 0);
}

InspectorView::Shown InspectorView::CurrentlyShown() const {
    Shown shown;
    shown.face = Face();
    if (!mCommands)
        return shown;
    if (const np::Note* note = SelNote())
        shown.note =
            Shown::Note{note->pitch, note->pitchOffset, note->driftScale, note->formantShift, note->gainDb};
    shown.a4Hz = mCommands->Session().a4Hz();
    shown.macros = mCommands->Macros();
    if (shown.face == InspectorFace::Time)
        shown.tempo = mCommands->TempoText();
    return shown;
}

int InspectorView::InteractionAt(float x, float y) const {
    return cv::ui::InteractionAt(Face(), NoteLayout(), TimeLayout(), SelNote() != nullptr, x, y);
}

std::array<InspectorView::ShownCell, kCellCount> InspectorView::NoteCells() const {
    std::optional<NoteValues> values;
    if (const np::Note* note = SelNote())
        values = NoteValues{note->pitchOffset, note->driftScale, note->formantShift, note->gainDb};
    const std::array<CellFace, 4> cells = NoteCellFaces(values);
    const cv::MacroSettings* macros = mCommands ? &mCommands->Macros() : nullptr;
    std::array<ShownCell, kCellCount> shown;
    for (int i = 0; i < 4; ++i)
        shown[i] = {kCellLabels[i], cells[i]};
    shown[kIdAmount] = {kCellLabels[kIdAmount], MacroKnobFace(macros ? macros->correctionAmount : 1.0)};
    shown[kIdFlatten] = {kCellLabels[kIdFlatten], MacroKnobFace(macros ? macros->vibratoFlattening : 0.0)};
    return shown;
}

InspectorView::ShownCell InspectorView::StrengthKnob() const {
    const cv::MacroSettings* macros = mCommands ? &mCommands->Macros() : nullptr;
    return {"Strength", MacroKnobFace(macros ? macros->quantizeStrength : 1.0)};
}

std::optional<NoteHeading> InspectorView::Heading() const {
    const np::Note* note = SelNote();
    if (note == nullptr)
        return std::nullopt;
    return HeadingFor(note->pitch, note->pitchOffset, mCommands->Session().a4Hz());
}

int InspectorView::ShownGridIndex() const {
    return mCommands ? std::clamp(mCommands->Macros().quantizeGridIndex, 0, 2) : 1;
}

// ---- Editing

template <class Body>
void InspectorView::Guarded(Body&& body) {
    if (!mCommands)
        return;
    if (runUiEditBoundary(mCommands->Session(), body, *mCommands))
        return;
    mActiveDrag = kDragNone;
    mPressed = kIdNone;
    try {
        SetDirty(false);
    } catch (...) {
    }
}

void InspectorView::EndAbandonedDrag() noexcept {
    const int drag = std::exchange(mActiveDrag, kDragNone);
    if (!IsValueCell(drag) || !mCommands)
        return;
    np::EditSession& s = mCommands->Session();
    const std::uint64_t before = s.editCount();
    try {
        if (s.inGesture() && s.endGesture())
            mCommands->OnDocumentEdited();
    } catch (...) {
        try {
            s.cancelGesture();
            mCommands->ReportUiEditFailure(s.editCount() != before);
        } catch (...) {
        }
    }
}

void InspectorView::OnMouseDown(float x, float y, const IMouseMod&) {
    EndAbandonedDrag();
    const int id = InteractionAt(x, y);
    mPressed = id;
    mMotion.Press(Now());
    Guarded([&] { Press(id); });
    SetDirty(false);
}

void InspectorView::Press(int id) {
    cv::MacroSettings& macros = mCommands->Macros();
    switch (id) {
    case kIdApply:
        mCommands->ApplyTimeMacro();
        break;
    case kIdGridFirst:
    case kIdGridFirst + 1:
    case kIdGridFirst + 2:
        macros.quantizeGridIndex = id - kIdGridFirst;
        break;
    case kIdStrength:
        mActiveDrag = kDragStrength;
        break;
    case kIdUnison:
        mCommands->ApplyUnisonMacro();
        break;
    case kIdCorrect:
        mCommands->ApplyPitchMacro();
        break;
    case kIdAmount:
        mActiveDrag = kDragAmount;
        break;
    case kIdFlatten:
        mActiveDrag = kDragFlatten;
        break;
    default:
        // A value cell is found only with a selected note in a document with audio.
        if (IsValueCell(id)) {
            mActiveDrag = id;
            mCommands->Session().beginGesture();
        }
        break;
    }
}

void InspectorView::OnMouseDrag(float, float, float, float dY, const IMouseMod& mod) {
    if (mActiveDrag == kDragNone)
        return;
    Guarded([&] { DragBy(dY, mod.A); });
}

void InspectorView::DragBy(float dY, bool alt) {
    cv::MacroSettings& macros = mCommands->Macros();
    np::EditSession& s = mCommands->Session();
    const std::vector<std::uint32_t> ids =
        IsValueCell(mActiveDrag) ? SelectedIds() : std::vector<std::uint32_t>{};
    switch (mActiveDrag) {
    case kDragStrength:
        macros.quantizeStrength = MacroDragValue(macros.quantizeStrength, dY, alt);
        break;
    case kDragAmount:
        macros.correctionAmount = MacroDragValue(macros.correctionAmount, dY, alt);
        break;
    case kDragFlatten:
        macros.vibratoFlattening = MacroDragValue(macros.vibratoFlattening, dY, alt);
        break;
    case kDragPitch:
        s.addPitchOffset(ids, PitchDragStep(dY, alt));
        break;
    case kDragDrift:
        if (const np::Note* note = SelNote())
            s.setDriftScale(ids, DriftDragScale(note->driftScale, dY, alt));
        break;
    case kDragFormant:
        s.addFormantShift(ids, FormantDragStep(dY, alt));
        break;
    case kDragGain:
        s.addGainDb(ids, GainDragStepDb(dY, alt));
        break;
    default:
        break;
    }
    // The canvas shows the edit at once; the render and the host wait for the release.
    if (GetUI())
        GetUI()->SetAllControlsDirty();
}

void InspectorView::OnMouseUp(float, float, const IMouseMod&) {
    const int drag = mActiveDrag;
    Guarded([&] {
        if (IsValueCell(drag) && mCommands->Session().endGesture())
            mCommands->OnDocumentEdited();
    });
    mActiveDrag = kDragNone;
    SetDirty(false);
}

// ---- Hover

void InspectorView::OnMouseOver(float x, float y, const IMouseMod& mod) {
    IControl::OnMouseOver(x, y, mod);
    // Hovering means nothing holds the capture: a drag still open lost its release.
    EndAbandonedDrag();
    const int id = InteractionAt(x, y);
    if (id != mHovered) {
        mHovered = id;
        mMotion.SetHovered(id != kIdNone, Now());
        SetDirty(false);
    }
    SetTooltip(std::string(TooltipAt(Face(), TimeLayout(), id, x, y)));
    if (GetUI())
        GetUI()->SetMouseCursor(CursorFor(id));
}

void InspectorView::OnMouseOut() {
    IControl::OnMouseOut();
    mHovered = kIdNone;
    mMotion.hover = mMotion.hoverFrom = mMotion.hoverTo = 0.f;
    mMotion.hoverAnimating = false;
    SetTooltip({});
    if (GetUI())
        GetUI()->SetMouseCursor(ECursor::ARROW);
    SetDirty(false);
}

bool InspectorView::IsDirty() {
    // A capture lost without a release ends the drag at the next frame tick.
    if (mActiveDrag != kDragNone && GetUI() != nullptr && GetUI()->GetCapturedControl() != this)
        EndAbandonedDrag();
    const bool ran = mMotion.Advance(Now());
    return IControl::IsDirty() || ran || CurrentlyShown() != mDrawn;
}

// ---- Drawing

void InspectorView::DrawKnobInteraction(IGraphics& g, const IRECT& cell, int index, bool compact) const {
    const float h = index == mHovered ? mMotion.hover : 0.f;
    const float p = index == mPressed ? mMotion.press : 0.f;
    if (h <= 0.f && p <= 0.f)
        return;
    const IRECT knob = ivory::KnobSquare(cell, compact);
    const float r = ivory::KnobRadius(knob.W());
    if (h > 0.f) {
        g.FillCircle(ivory::Alpha(IColor(255, 255, 255, 255), 3.f * h), knob.MW(), knob.MH(), r);
        g.DrawCircle(ivory::Alpha(IColor(255, 215, 218, 223), 28.f * h), knob.MW(), knob.MH(), r + 1.2f,
                     nullptr, 1.f);
    }
    if (p > 0.f)
        g.FillCircle(ivory::Alpha(IColor(255, 0, 0, 0), 30.f * p), knob.MW(), knob.MH(), r);
}

void InspectorView::DrawButton(IGraphics& g, const IRECT& r, int id, float radius, const char* label) {
    const float h = id == mHovered ? mMotion.hover : 0.f;
    const float p = id == mPressed ? mMotion.press : 0.f;
    const IRECT face = r.GetVShifted(0.85f * std::min(p, 1.f));
    ivory::DrawButtonFace(g, face, radius);
    if (label != nullptr) {
        g.DrawText(ivory::Font(ivory::kFontSemiBold, 18.f, IColor(120, 0, 0, 0)), label,
                   face.GetVShifted(0.7f));
        g.DrawText(ivory::Font(ivory::kFontSemiBold, 18.f, ivory::kInk), label, face);
    } else {
        const float size = std::max(1.f, std::min({face.W() - 10.f, 18.f, face.H() - 8.f}));
        ivory::DrawIcon(g, ivory::EPhosphorIcon::Unison, face, size, ivory::kInk);
    }
    ivory::HoverPress(g, *this, face, radius, h, p, false);
}

void InspectorView::Draw(IGraphics& g) {
    if (!mMeasured)
        MeasureWidths();
    mDrawn = CurrentlyShown();
    ivory::DrawSoftPanel(g, GetRECT(), 16.f, 0);
    if (Face() == InspectorFace::Time)
        DrawTimeFace(g);
    else
        DrawNoteFace(g);
}

void InspectorView::DrawTimeFace(IGraphics& g) {
    const TimeFaceLayout l = TimeLayout();
    g.DrawText(ivory::Font(ivory::kFontRegular, 18.f, ivory::kDim, EAlign::Near), "Tempo", l.label);
    const std::string tempo = mCommands ? mCommands->TempoText() : std::string();
    ivory::DrawScreen(g, l.tempo, tempo.c_str(), nullptr, 9.f, true);
    ivory::DrawSeg(g, l.grid, kGridLabels, ShownGridIndex());
    const ShownCell strength = StrengthKnob();
    ivory::DrawParamCell(g, l.strength,
                         {strength.label, strength.face.value.c_str(), strength.face.fill,
                          strength.face.anchor, strength.face.active, false, false});
    DrawKnobInteraction(g, l.strength, kIdStrength, false);
    DrawButton(g, l.apply, kIdApply, 9.f, "Apply");
}

void InspectorView::DrawNoteFace(IGraphics& g) {
    const NoteFaceLayout l = NoteLayout();
    // Heading: what is selected, then its name and deviation in the session's tuning.
    const IRECT& hb = l.heading;
    const IRECT title(hb.L, hb.T + 2.f, hb.R, hb.T + 22.f);
    if (const std::optional<NoteHeading> h = Heading()) {
        g.DrawText(ivory::Font(ivory::kFontMedium, 14.f, ivory::kDim, EAlign::Near), "Selected note", title);
        const IRECT row(hb.L, hb.T + 26.f, hb.R, hb.B - 4.f);
        g.DrawText(ivory::Font(ivory::kFontBold, 24.f, ivory::kAccentHi, EAlign::Near), h->name.c_str(), row);
        g.DrawText(ivory::Font(ivory::kFontMono, 14.f, ivory::kFaint, EAlign::Far), h->cents.c_str(), row);
    } else {
        g.DrawText(ivory::Font(ivory::kFontMedium, 14.f, ivory::kDim, EAlign::Near), "No note selected",
                   title);
    }

    const std::array<ShownCell, kCellCount> cells = NoteCells();
    for (int i = 0; i < kCellCount; ++i) {
        const CellFace& c = cells[i].face;
        // The value cells show their value in the accent; the knobs' settings stay quiet.
        const bool accent = i < kIdAmount;
        ivory::DrawParamCell(g, l.cells[i],
                             {cells[i].label, c.value.c_str(), c.fill, c.anchor, c.active, false, accent});
        DrawKnobInteraction(g, l.cells[i], i, false);
    }
    for (const IRECT& d : l.dividers)
        g.FillRect(theme::kCardBorder, d);
    DrawButton(g, l.correct, kIdCorrect, 11.f, "Correct pitch");
    DrawButton(g, l.unison, kIdUnison, 9.f, nullptr);
}

} // namespace cv::ui
