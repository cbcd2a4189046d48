#pragma once

// Where the notes lie on the canvas: the blob of each note, which note a point hits, which notes a
// marquee or a split frame takes, the connectors between neighbours, the sibilant spans and pitch curve
// inside a blob, and the waveform's columns. Pure functions of the document and a CanvasMapping, shared
// by the canvas's drawing, its mouse handling and the tests. Main thread.

#include "engine/audio/peak_cache.h"
#include "ui/canvas_view.h"

#include <cstdint>
#include <vector>

namespace cv::ui {

// A note's rounded blob: x from x0 to x1 (at least 3 wide), centred on yc, hh above and below it.
struct Blob {
    float x0 = 0.f;
    float x1 = 0.f;
    float yc = 0.f;
    float hh = 0.f;
    IRECT Rect() const { return {x0, yc - hh, x1, yc + hh}; }
};
Blob BlobOf(const CanvasMapping& m, const np::Note& note);

// The note under (x, y): among the notes whose timeline span holds the time at x, the one whose
// sounding pitch is nearest the pitch at y, when nearer than 0.55 semitone; the earlier note in
// document order wins a tie. 0 for none.
std::uint32_t HitTest(const np::Document& doc, const CanvasMapping& m, float x, float y);

// The notes a marquee over r selects: timeline span overlapping r's x range and centre line within its
// y range, in document order. None when r is at most 2 units wide and high.
std::vector<std::uint32_t> MarqueeNotes(const np::Document& doc, const CanvasMapping& m, const IRECT& r);

// The notes whose timeline span strictly holds frame (start < frame < end), in document order.
std::vector<std::uint32_t> NotesAcrossFrame(const np::Document& doc, std::int64_t frame);

// A curve joining the end of one note to the start of the next on another row.
struct Connector {
    float x0 = 0.f, y0 = 0.f;
    float x1 = 0.f, y1 = 0.f;
};
// Between neighbours in timeline order: a gap of 0..0.55 beats, centre lines at least 1.5 units apart,
// the second starting at or right of the canvas's left edge and the first ending at or left of its right.
std::vector<Connector> Connectors(const np::Document& doc, const CanvasMapping& m, double framesPerBeat);

// The x of pitch frame k of a note on the timeline: its source position, clamped to the note's source
// span, scaled by the note's stretch.
double FrameToTimeline(const np::Note& note, std::int64_t k, int hop);

// The sibilant runs of a note's source frames as x ranges inside the blob (x0+1 .. x1-1), each wider
// than 1 unit. None below 5 units per semitone or without pitch frames.
struct Span {
    float x0 = 0.f;
    float x1 = 0.f;
};
std::vector<Span> SibilantSpans(const np::Document& doc, const CanvasMapping& m, const np::Note& note,
                                const Blob& blob);

// The pitch curve's points, stopping at the first point right of the blob. None for an unpitched note,
// a curve of fewer than two values or below 5 units per semitone.
struct CurvePoints {
    std::vector<float> xs;
    std::vector<float> ys;
};
CurvePoints PitchCurve(const np::Document& doc, const CanvasMapping& m, const np::Note& note,
                       const Blob& blob);

// The waveform band's upper and lower edge per design column of the canvas (n = ceil(width) columns);
// a column outside the audio is 0. hasData is false when no column reached the audio.
struct WaveformColumns {
    std::vector<float> upper;
    std::vector<float> lower;
    bool hasData = false;
};
WaveformColumns WaveformOf(const np::PeakCache& cache, const CanvasMapping& m);

} // namespace cv::ui
