// EditorView's drawing: the grid, the waveform, the note blobs with their connectors, sibilant spans and
// pitch curves, the playhead and marquee, the split overlay, the keyboard strip and bar ruler, the empty
// state and the frame. Every position comes from canvas_view.h and canvas_notes.h.

#include "ui/editor_view.h"
#include "ui/ivory/palette.h"
#include "ui/theme/theme.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace cv::ui {

using namespace iplug::igraphics;

namespace {

IColor White(int alpha) {
    return {alpha, 255, 255, 255};
}
IColor Black(int alpha) {
    return {alpha, 0, 0, 0};
}

void HLine(IGraphics& g, const IColor& c, float x0, float x1, float y, float thickness = 1.f) {
    g.DrawLine(c, x0, y, x1, y, nullptr, thickness);
}
void VLine(IGraphics& g, const IColor& c, float x, float y0, float y1, float thickness = 1.f) {
    g.DrawLine(c, x, y0, x, y1, nullptr, thickness);
}

void FillVertical(IGraphics& g, const IRECT& r, const IColor& top, const IColor& bottom, float radius) {
    g.PathClear();
    g.PathRoundRect(r, radius);
    g.PathFill(IPattern::CreateLinearGradient(r.L, r.T, r.L, r.B, {{top, 0.f}, {bottom, 1.f}}));
}

bool IsBlackKey(int midi) {
    switch (np::pitchClass(midi)) {
    case 1:
    case 3:
    case 6:
    case 8:
    case 10:
        return true;
    default:
        return false;
    }
}

// The fills of a note blob by state, top to bottom.
struct BlobFill {
    IColor top, bottom;
};
constexpr BlobFill kNormalFill{{255, 245, 176, 106}, {255, 223, 130, 55}};
constexpr BlobFill kHoverFill{{255, 250, 181, 110}, {255, 228, 136, 60}};
constexpr BlobFill kSelectedFill{{255, 255, 196, 130}, {255, 240, 150, 82}};

constexpr IColor kHintText{255, 94, 99, 106};
constexpr IColor kHintDot{255, 70, 74, 80};
constexpr IColor kKeyName{140, 18, 18, 20};
constexpr float kFrameRadius = 13.f;
constexpr float kBlackKeyWidth = 33.28f;

} // namespace

void EditorView::Draw(IGraphics& g) {
    mDrawn = CurrentlyShown();
    const CanvasMapping m = Mapping();
    if (HasAudio()) {
        g.PathTransformSave();
        g.PathClipRegion(m.canvas);
        DrawGrid(g, m);
        DrawWaveform(g, m);
        DrawBlobs(g, m);
        DrawSplitOverlay(g, m);
        g.PathTransformRestore();
        DrawRulers(g, m);
    } else {
        DrawEmptyState(g);
    }
    DrawFrame(g);
}

void EditorView::DrawGrid(IGraphics& g, const CanvasMapping& m) {
    const IRECT& c = m.canvas;
    g.FillRect(theme::kCanvasBg, c);
    const np::EditSession& s = *Session();
    const double t = np::tuningOffsetSemitones(s.a4Hz());
    for (const ScaleRow& row : ScaleRows(m, s.keyScale(), t)) {
        const IRECT r(c.L, row.top, c.R, row.bottom);
        g.FillRect(theme::kRowInScale, r);
        if (row.root)
            g.FillRect(theme::kRowRoot, r);
    }
    for (const OctaveLine& line : OctaveLines(m, t))
        HLine(g, line.middleC ? theme::kOctaveLine : theme::kOctaveDim, c.L, c.R, line.y);
    const double framesPerBeat = FramesPerBeat(Doc()->sampleRate, mHost->TempoBpm());
    for (const GridLine& line : GridLines(m, framesPerBeat))
        VLine(g, line.major ? theme::kGridMajor : theme::kRowLine, line.x, c.T, c.B);
}

void EditorView::DrawWaveform(IGraphics& g, const CanvasMapping& m) {
    const np::PeakCache* peaks = mHost->Peaks();
    if (peaks == nullptr || peaks->levels.empty())
        return;
    const WaveformColumns w = WaveformOf(*peaks, m);
    if (!w.hasData)
        return;
    g.PathClear();
    const std::size_t n = w.upper.size();
    g.PathMoveTo(m.canvas.L, w.upper[0]);
    for (std::size_t i = 1; i < n; ++i)
        g.PathLineTo(m.canvas.L + static_cast<float>(i), w.upper[i]);
    for (std::size_t i = n; i-- > 0;)
        g.PathLineTo(m.canvas.L + static_cast<float>(i), w.lower[i]);
    g.PathClose();
    g.PathFill(theme::kWaveform);
}

void EditorView::DrawBlobs(IGraphics& g, const CanvasMapping& m) {
    const np::Document& doc = *Doc();
    const IRECT& c = m.canvas;
    const double framesPerBeat = FramesPerBeat(doc.sampleRate, mHost->TempoBpm());
    for (const Connector& k : Connectors(doc, m, framesPerBeat)) {
        const float mid = 0.5f * (k.x0 + k.x1);
        g.DrawCubic(theme::kBlobOutline.WithAlpha(204), k.x0, k.y0, mid, k.y0, mid, k.y1, k.x1, k.y1);
    }
    for (const np::Note& note : doc.notes) {
        const Blob b = BlobOf(m, note);
        if (b.x1 < c.L || b.x0 > c.R)
            continue;
        const IRECT r = b.Rect();
        const bool selected = mSelection.contains(note.id);
        const bool hovered = note.id == mHoverNoteId && !mSplitMode;
        const bool pressed = note.id == mPressedNoteId && mGestureMode != GestureMode::None;
        g.FillRoundRect(Black(70), IRECT(r.L, r.T + 1.f, r.R, r.B + 2.f), 4.f);
        if (hovered)
            g.FillRoundRect(ivory::kAccentHi.WithAlpha(12), r.GetPadded(2.5f), 6.f);
        if (note.muted) {
            g.FillRoundRect(theme::kBlobMuted, r, 4.f);
        } else {
            const BlobFill& f = selected ? kSelectedFill : hovered ? kHoverFill : kNormalFill;
            FillVertical(g, r, f.top, f.bottom, 4.f);
        }
        if (pressed)
            g.FillRoundRect(Black(30), r, 4.f);
        HLine(g, White(110), b.x0 + 2.f, b.x1 - 2.f, b.yc - b.hh + 1.f);
        HLine(g, theme::kNoteMedian, b.x0 + 1.f, b.x1 - 1.f, b.yc);
        for (const Span& sp : SibilantSpans(doc, m, note, b))
            g.FillRect(theme::kBlobSibilant, IRECT(sp.x0, b.yc - b.hh + 1.f, sp.x1, b.yc + b.hh - 1.f));
        // Clipped to the part of the blob inside the canvas: nothing of a blob wholly above or below it.
        const CurvePoints curve = PitchCurve(doc, m, note, b);
        if (curve.xs.size() >= 2) {
            g.PathTransformSave();
            g.PathClipRegion(r.Intersect(c));
            g.PathClear();
            g.PathMoveTo(curve.xs[0], curve.ys[0]);
            for (std::size_t i = 1; i < curve.xs.size(); ++i)
                g.PathLineTo(curve.xs[i], curve.ys[i]);
            g.PathStroke(theme::kPitchCurve, 1.1f);
            g.PathTransformRestore();
        }
        const IColor outline = selected  ? theme::kBlobOutlineSel
                               : hovered ? ivory::kAccentHi.WithAlpha(175)
                                         : theme::kBlobOutline;
        g.DrawRoundRect(outline, r, 4.f, nullptr, selected ? 1.6f : 1.f);
    }
    const float px = TimeToX(static_cast<double>(mPlayheadDocFrame));
    if (px >= c.L && px <= c.R) {
        VLine(g, theme::kAccent.WithAlpha(55), px, c.T, c.B, 3.f);
        VLine(g, theme::kPlayhead, px, c.T, c.B, 1.4f);
        g.FillRoundRect(theme::kPlayhead, IRECT(px - 3.f, c.T, px + 3.f, c.T + 5.f), 1.5f);
    }
    if (mGestureMode == GestureMode::Marquee) {
        const IRECT r(std::min(mDownX, mLastX), std::min(mDownY, mLastY), std::max(mDownX, mLastX),
                      std::max(mDownY, mLastY));
        g.FillRect(theme::kMarquee, r);
        g.DrawRect(theme::kMarqueeBorder, r);
    }
}

void EditorView::DrawSplitOverlay(IGraphics& g, const CanvasMapping& m) {
    const IRECT& c = m.canvas;
    if (!mSplitMode || mSplitHoverX < c.L || mSplitHoverX > c.R)
        return;
    const auto frame = static_cast<std::int64_t>(std::trunc(XToTime(mSplitHoverX)));
    const np::Document& doc = *Doc();
    for (std::uint32_t id : NotesAcrossFrame(doc, frame)) {
        const Blob b = BlobOf(m, *doc.findNote(id));
        const IRECT r(b.x0 - 1.5f, b.yc - b.hh - 1.5f, std::max(b.x0 + 3.f, b.x1) + 1.5f, b.yc + b.hh + 1.5f);
        g.FillRoundRect(White(26), r, 5.f);
        g.DrawRoundRect(White(150), r, 5.f, nullptr, 1.4f);
    }
    VLine(g, White(34), mSplitHoverX, c.T, c.B, 3.f);
    VLine(g, White(170), mSplitHoverX, c.T, c.B);
}

void EditorView::DrawRulers(IGraphics& g, const CanvasMapping& m) {
    const IRECT control = GetRECT();
    const IRECT keys = KeyboardRectOf(control);
    const IRECT ruler = RulerRectOf(control);
    const double t = np::tuningOffsetSemitones(Session()->a4Hz());

    // 1. The keyboard strip.
    g.PathTransformSave();
    g.PathClipRegion(keys);
    g.PathClear();
    g.PathRect(keys);
    g.PathFill(IPattern::CreateLinearGradient(
        keys.L, keys.T, keys.R, keys.T,
        {{IColor(255, 183, 186, 191), 0.f}, {IColor(255, 214, 217, 221), 1.f}}));
    const IText names(12.f, kKeyName, ivory::kFontMono, EAlign::Far);
    for (const PitchRow& row : CandidateRows(m, t)) {
        if (row.bottom < keys.T || row.top > keys.B)
            continue;
        HLine(g, theme::kKeySeam, keys.L, keys.R, row.bottom);
        if (IsBlackKey(row.midi)) {
            const IRECT key(keys.L, row.top, keys.L + kBlackKeyWidth, row.bottom);
            g.FillRoundRect(Black(70), key.GetTranslated(1.f, 2.f), 0.f, 3.f, 3.f, 0.f);
            g.PathClear();
            g.PathRoundRect(key, 0.f, 3.f, 3.f, 0.f);
            g.PathFill(IPattern::CreateLinearGradient(
                key.L, key.T, key.L, key.B, {{theme::kBlackKeyHi, 0.f}, {theme::kBlackKeyLo, 1.f}}));
            const IRECT gloss = key.GetFromTop(2.f);
            g.PathClear();
            g.PathRect(gloss);
            g.PathFill(IPattern::CreateLinearGradient(gloss.L, gloss.T, gloss.L, gloss.B,
                                                      {{White(40), 0.f}, {White(0), 1.f}}));
        }
        if (const std::optional<std::string> name = KeyName(m, row.midi))
            g.DrawText(names, name->c_str(), IRECT(keys.L, row.top, keys.R - 5.f, row.bottom));
    }
    g.PathTransformRestore();

    // 2. The strip's edge and its shadow over the canvas.
    VLine(g, Black(180), keys.R, keys.T, keys.B);
    const IRECT shade(keys.R, keys.T, keys.R + 9.f, keys.B);
    g.PathClear();
    g.PathRect(shade);
    g.PathFill(IPattern::CreateLinearGradient(shade.L, shade.T, shade.R, shade.T,
                                              {{Black(80), 0.f}, {Black(0), 1.f}}));

    // 3. The ruler with its bar numbers, four beats to a bar.
    g.FillRect(theme::kRulerBg, ruler);
    g.PathTransformSave();
    g.PathClipRegion(ruler);
    const IText bars(13.f, theme::kRulerText, ivory::kFontMono, EAlign::Near);
    const double framesPerBeat = FramesPerBeat(Doc()->sampleRate, mHost->TempoBpm());
    for (const BarTick& tick : BarTicks(m, framesPerBeat)) {
        VLine(g, White(14), tick.x, ruler.T, ruler.B);
        char label[24];
        std::snprintf(label, sizeof label, "%ld", tick.bar);
        g.DrawText(bars, label, IRECT(tick.x + 6.f, control.T, tick.x + 48.f, control.T + 23.f));
    }
    g.PathTransformRestore();

    // 4. The ruler's lower edge and the corner above the strip.
    HLine(g, White(16), m.canvas.L, m.canvas.R, control.T + kRulerHeight);
    g.FillRect(theme::kRulerBg, IRECT(control.L, control.T, keys.R, control.T + kRulerHeight));
}

void EditorView::DrawEmptyState(IGraphics& g) {
    const IRECT r = GetRECT();
    g.FillRect(theme::kCanvasBg, r);
    for (int i = 1; i <= 19; ++i) {
        const float x = r.L + static_cast<float>(i) / 20.f * r.W();
        VLine(g, White(5), x, r.T, r.B);
    }
    g.PathClear();
    g.PathRect(r);
    g.PathFill(IPattern::CreateRadialGradient(r.MW(), r.MH(), 290.f, {{White(7), 0.f}, {White(0), 1.f}}));
    IStrokeOptions dashed;
    dashed.mDash.mArray = {6.f, 6.f};
    g.PathClear();
    g.PathRect(r.GetPadded(-20.f));
    g.PathStroke(White(20), 1.5f, dashed);

    const float cy = r.MH();
    g.DrawText(IText(32.f, theme::kText, ivory::kFontBold), "Capture a section to start",
               IRECT(r.L, cy - 34.f, r.R, cy - 4.f));
    g.DrawText(IText(17.f, kHintText, ivory::kFontRegular),
               "Click Capture, then play the section you want to edit",
               IRECT(r.L, cy + 10.f, r.R, cy + 30.f));

    // The hint row: three groups between two dots, measured first and centred as a whole.
    const IText text(15.f, kHintText, ivory::kFontRegular, EAlign::Near);
    const IText dot = text.WithFGColor(kHintDot);
    const IText capText(14.f, theme::kTextDim, ivory::kFontMono);
    struct Piece {
        const char* str;
        enum { Text, Dot, Cap } kind;
        float gapAfter;
    };
    const std::array<Piece, 7> pieces{{{"Scroll to pan", Piece::Text, 18.f},
                                       {"·", Piece::Dot, 18.f},
                                       {"Cmd", Piece::Cap, 6.f},
                                       {"scroll to zoom", Piece::Text, 18.f},
                                       {"·", Piece::Dot, 18.f},
                                       {"?", Piece::Cap, 6.f},
                                       {"for shortcuts", Piece::Text, 0.f}}};
    std::array<float, 7> widths{};
    float total = 0.f;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Piece& p = pieces[i];
        widths[i] = p.kind == Piece::Cap ? std::max(g.MeasureTextWidth(capText, p.str) + 12.f, 16.f)
                                         : g.MeasureTextWidth(p.kind == Piece::Dot ? dot : text, p.str);
        total += widths[i] + p.gapAfter;
    }
    float x = r.MW() - 0.5f * total;
    const float rowT = cy + 40.f, rowB = rowT + 16.f;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Piece& p = pieces[i];
        const IRECT box(x, rowT, x + widths[i], rowB);
        if (p.kind == Piece::Cap) {
            g.FillRoundRect(theme::kButton, box, 5.f);
            HLine(g, White(26), box.L + 2.f, box.R - 2.f, box.T + 0.5f);
            g.DrawRoundRect(theme::kButtonFrame, box, 5.f);
            g.DrawText(capText, p.str, box);
        } else {
            g.DrawText(p.kind == Piece::Dot ? dot : text, p.str, box);
        }
        x += widths[i] + p.gapAfter;
    }
}

void EditorView::DrawFrame(IGraphics& g) {
    const IRECT r = GetRECT();
    const IRECT shade(r.L + kKeyboardWidth, r.T, r.R, r.T + 13.f);
    g.PathClear();
    g.PathRect(shade);
    g.PathFill(IPattern::CreateLinearGradient(shade.L, shade.T, shade.L, shade.B,
                                              {{Black(125), 0.f}, {Black(0), 1.f}}));
    HLine(g, White(34), r.L + 1.f, r.R - 1.f, r.B - 0.5f);
    VLine(g, White(24), r.R - 0.5f, r.T + 1.f, r.B - 1.f);
    // Each corner outside a quarter circle of the frame's radius takes the window's background.
    const float k = kFrameRadius;
    const struct {
        float cornerX, cornerY, centreX, centreY, fromDeg;
    } corners[] = {
        {r.L, r.T, r.L + k, r.T + k, 270.f},
        {r.R, r.T, r.R - k, r.T + k, 0.f},
        {r.R, r.B, r.R - k, r.B - k, 90.f},
        {r.L, r.B, r.L + k, r.B - k, 180.f},
    };
    for (const auto& c : corners) {
        g.PathClear();
        g.PathMoveTo(c.cornerX, c.cornerY);
        for (int i = 0; i <= 10; ++i) {
            const float a = (c.fromDeg + 9.f * static_cast<float>(i)) * 3.14159265f / 180.f;
            g.PathLineTo(c.centreX + k * std::sin(a), c.centreY - k * std::cos(a));
        }
        g.PathClose();
        g.PathFill(theme::kBackground);
    }
    g.DrawRoundRect(Black(190), r.GetPadded(-0.5f), k);
}

} // namespace cv::ui
