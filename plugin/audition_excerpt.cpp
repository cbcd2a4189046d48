// The audition excerpt: the steadiest voiced part of a note, so the frozen frame is a clean one.

#include "plugin/audition_excerpt.h"

#include <algorithm>
#include <cmath>

namespace cv {

std::pair<std::int64_t, std::int64_t> auditionExcerptRange(const np::Document& doc, const np::Note& note) {
    const double rate = doc.sampleRate;
    const std::int64_t s = note.sourceStart;
    const std::int64_t e = note.sourceEnd;
    if (e <= s)
        return {s, s};
    const std::int64_t hop = std::max<std::int64_t>(1, doc.track.hop);
    const std::int64_t windowFrames = std::min(e - s, static_cast<std::int64_t>(0.14 * rate));
    std::int64_t windowStart = std::max((s + e - windowFrames) / 2, s);

    const auto& frames = doc.track.frames;
    const std::int64_t n = std::max<std::int64_t>(1, windowFrames / hop);
    const std::int64_t last = std::min(e / hop, static_cast<std::int64_t>(frames.size()));
    double best = 0.0;
    bool found = false;
    for (std::int64_t k = std::max<std::int64_t>(0, s / hop); k + n <= last; ++k) {
        const auto first = frames.begin() + k;
        if (!std::all_of(first, first + n, [](const np::PitchFrame& f) { return f.voiced; }))
            continue;
        double sum = 0.0;
        for (auto f = first; f != first + n; ++f)
            sum += f->hz;
        const double mean = sum / static_cast<double>(n);
        double squares = 0.0;
        for (auto f = first; f != first + n; ++f)
            squares += (f->hz - mean) * (f->hz - mean);
        const double variation = mean > 0.0 ? std::sqrt(squares / static_cast<double>(n)) / mean : 1e9;
        if (!found || variation < best) {
            best = variation;
            found = true;
            windowStart = k * hop;
        }
    }
    const std::int64_t centre = windowStart + windowFrames / 2;
    const auto reach = static_cast<std::int64_t>(0.175 * rate);
    return {std::clamp(centre - reach, s, e), std::min(e, centre + reach)};
}

} // namespace cv
