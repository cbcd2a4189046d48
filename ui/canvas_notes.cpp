#include "ui/canvas_notes.h"

#include <algorithm>
#include <cmath>

namespace cv::ui {

Blob BlobOf(const CanvasMapping& m, const np::Note& note) {
    Blob b;
    b.x0 = m.TimeToX(static_cast<double>(note.start));
    b.x1 =
        std::max(b.x0 + 3.f, m.TimeToX(static_cast<double>(note.start) + static_cast<double>(note.length)));
    b.yc = m.MidiToY(note.pitch + note.pitchOffset);
    b.hh = std::clamp(m.view.pxPerSemitone * 0.5f, 4.5f, 8.f);
    return b;
}

std::uint32_t HitTest(const np::Document& doc, const CanvasMapping& m, float x, float y) {
    if (doc.audio == nullptr)
        return 0;
    const double t = m.XToTime(x), p = m.YToMidi(y);
    std::uint32_t best = 0;
    double bestDistance = 0.55;
    for (const np::Note& n : doc.notes) {
        const double start = static_cast<double>(n.start);
        if (!(start <= t && t < start + static_cast<double>(n.length)))
            continue;
        // Strictly nearer only, so the earlier note keeps a tie.
        const double distance = std::abs(n.pitch + n.pitchOffset - p);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = n.id;
        }
    }
    return best;
}

std::vector<std::uint32_t> MarqueeNotes(const np::Document& doc, const CanvasMapping& m, const IRECT& r) {
    std::vector<std::uint32_t> ids;
    if (!(r.W() > 2.f || r.H() > 2.f))
        return ids;
    for (const np::Note& n : doc.notes) {
        const float x0 = m.TimeToX(static_cast<double>(n.start));
        const float x1 = m.TimeToX(static_cast<double>(n.start) + static_cast<double>(n.length));
        const float y = m.MidiToY(n.pitch + n.pitchOffset);
        if (x1 >= r.L && x0 <= r.R && y >= r.T && y <= r.B)
            ids.push_back(n.id);
    }
    return ids;
}

std::vector<std::uint32_t> NotesAcrossFrame(const np::Document& doc, std::int64_t frame) {
    std::vector<std::uint32_t> ids;
    for (const np::Note& n : doc.notes)
        if (n.start < frame && frame < n.start + n.length)
            ids.push_back(n.id);
    return ids;
}

std::vector<Connector> Connectors(const np::Document& doc, const CanvasMapping& m, double framesPerBeat) {
    std::vector<Connector> out;
    if (doc.notes.size() < 2)
        return out;
    // Sorting pointers keeps the notes (and their shared curves) where they are.
    std::vector<const np::Note*> order;
    order.reserve(doc.notes.size());
    for (const np::Note& n : doc.notes)
        order.push_back(&n);
    std::stable_sort(order.begin(), order.end(),
                     [](const np::Note* a, const np::Note* b) { return a->start < b->start; });
    const double maxGap = 0.55 * framesPerBeat;
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        const np::Note& a = *order[i];
        const np::Note& b = *order[i + 1];
        const double end = static_cast<double>(a.start) + static_cast<double>(a.length);
        const double gap = static_cast<double>(b.start) - end;
        if (gap < 0.0 || gap > maxGap)
            continue;
        const float ya = m.MidiToY(a.pitch + a.pitchOffset), yb = m.MidiToY(b.pitch + b.pitchOffset);
        const float xa = m.TimeToX(end), xb = m.TimeToX(static_cast<double>(b.start));
        if (std::abs(ya - yb) < 1.5f || xb < m.canvas.L || xa > m.canvas.R)
            continue;
        out.push_back({xa, ya, xb, yb});
    }
    return out;
}

double FrameToTimeline(const np::Note& note, std::int64_t k, int hop) {
    const double scale = static_cast<double>(note.length) /
                         static_cast<double>(std::max<std::int64_t>(1, note.sourceEnd - note.sourceStart));
    const std::int64_t source = std::clamp<std::int64_t>(k * hop, note.sourceStart, note.sourceEnd);
    return static_cast<double>(note.start) + static_cast<double>(source - note.sourceStart) * scale;
}

std::vector<Span> SibilantSpans(const np::Document& doc, const CanvasMapping& m, const np::Note& note,
                                const Blob& blob) {
    std::vector<Span> spans;
    const auto& frames = doc.track.frames;
    if (m.view.pxPerSemitone < 5.f || frames.empty())
        return spans;
    const int hop = static_cast<int>(std::max<std::uint32_t>(1, doc.track.hop));
    const std::int64_t count = static_cast<std::int64_t>(frames.size());
    const std::int64_t first = std::max<std::int64_t>(0, note.sourceStart / hop);
    const std::int64_t last = std::min(note.sourceEnd / hop + 1, count);
    auto sibilant = [&](std::int64_t k) {
        return (frames[static_cast<std::size_t>(k)].flags & np::PitchFrame::kSibilant) != 0;
    };
    for (std::int64_t k = first; k < last;) {
        if (!sibilant(k)) {
            ++k;
            continue;
        }
        std::int64_t end = k;
        while (end < last && sibilant(end))
            ++end;
        const float x0 = std::max(m.TimeToX(FrameToTimeline(note, k, hop)), blob.x0 + 1.f);
        const float x1 = std::min(m.TimeToX(FrameToTimeline(note, end, hop)), blob.x1 - 1.f);
        if (x1 - x0 > 1.f)
            spans.push_back({x0, x1});
        k = end;
    }
    return spans;
}

CurvePoints PitchCurve(const np::Document& doc, const CanvasMapping& m, const np::Note& note,
                       const Blob& blob) {
    CurvePoints pts;
    if (!note.pitched || note.pitchCurve == nullptr || note.pitchCurve->size() < 2 ||
        m.view.pxPerSemitone < 5.f)
        return pts;
    const std::vector<float>& cents = *note.pitchCurve;
    const double hop = std::max<std::uint32_t>(1, doc.track.hop);
    const double scale = static_cast<double>(note.length) /
                         static_cast<double>(std::max<std::int64_t>(1, note.sourceEnd - note.sourceStart));
    const double base = note.pitch + note.pitchOffset;
    for (std::size_t i = 0; i < cents.size(); ++i) {
        const float x = m.TimeToX(static_cast<double>(note.start) + static_cast<double>(i) * hop * scale);
        pts.xs.push_back(x);
        pts.ys.push_back(m.MidiToY(base + cents[i] * note.driftScale / 100.0));
        if (x > blob.x1)
            break;
    }
    return pts;
}

WaveformColumns WaveformOf(const np::PeakCache& cache, const CanvasMapping& m) {
    WaveformColumns w;
    if (cache.levels.empty())
        return w;
    const np::PeakCache::Level& level = cache.levelFor(m.view.framesPerPixel);
    const std::size_t n = static_cast<std::size_t>(std::max(0.f, std::ceil(m.canvas.W())));
    w.upper.assign(n, 0.f);
    w.lower.assign(n, 0.f);
    const float h = 0.18f * m.canvas.H();
    const float yc = m.canvas.B - h * 0.5f;
    const float a = h * 0.5f - 2.f;
    for (std::size_t i = 0; i < n; ++i) {
        const float x = m.canvas.L + static_cast<float>(i);
        float lo = 0.f, hi = 0.f;
        const auto f1 = static_cast<std::int64_t>(std::trunc(m.XToTime(x + 1.f)));
        if (f1 > 0) {
            const auto f0 = static_cast<std::int64_t>(std::trunc(m.XToTime(x)));
            if (f0 < cache.frames) {
                cache.rangeMinMax(level, std::max<std::int64_t>(f0, 0),
                                  std::min(std::max(f0 + 1, f1), cache.frames), lo, hi);
                w.hasData = true;
            }
        }
        w.upper[i] = yc - std::clamp(hi, -1.f, 1.f) * a;
        w.lower[i] = yc - std::clamp(lo, -1.f, 1.f) * a;
    }
    return w;
}

} // namespace cv::ui
