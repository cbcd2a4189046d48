#include "engine/analysis/segmentation.h"

#include "engine/analysis/analysis_threads.h"
#include "engine/analysis/onsets.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace np {

namespace detail {

std::int64_t secondsToFrames(double seconds, double sampleRate, double hop) {
    const double quotient = seconds * sampleRate / hop;
    return quotient > 1.0 ? static_cast<std::int64_t>(quotient) : 1;
}

} // namespace detail

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr float kLevelDipDb = -5.0f;
constexpr double kPlateauMinPieceSeconds = 0.45;
constexpr double kPlateauMinSeconds = 0.1;
constexpr double kPlateauRangeCents = 55.0;
constexpr double kPlateauSplitCents = 80.0;

// A half-open range of frames.
struct Run {
    std::int64_t start = 0;
    std::int64_t end = 0;
};

// Stops the whole segmentation once keepGoing has said no; every later ask answers false too.
class Gate {
public:
    explicit Gate(const std::function<bool()>& keepGoing) : keepGoing_(keepGoing) {}
    bool ask() {
        if (stopped_)
            return false;
        if (keepGoing_ && !keepGoing_())
            stopped_ = true;
        return !stopped_;
    }
    // Asks only when i is a multiple of every.
    bool every(std::int64_t i, std::int64_t every) { return i % every != 0 || ask(); }

private:
    const std::function<bool()>& keepGoing_;
    bool stopped_ = false;
};

// Median of the values present (not NaN) in series[begin, end); NaN when none is.
double presentMedian(const std::vector<double>& series, std::int64_t begin, std::int64_t end,
                     std::vector<double>& scratch) {
    scratch.clear();
    for (std::int64_t i = std::max<std::int64_t>(begin, 0); i < end; ++i)
        if (!std::isnan(series[static_cast<std::size_t>(i)]))
            scratch.push_back(series[static_cast<std::size_t>(i)]);
    return scratch.empty() ? kNaN : detail::upperMedian(scratch);
}

struct Plateau {
    std::int64_t start = 0;
    std::int64_t end = 0;
    double median = 0.0;
};

class Segmenter {
public:
    Segmenter(const PitchTrack& track, const float* mono, std::int64_t samples, const SegmenterConfig& config,
              Gate& gate)
        : track_(track), mono_(mono), samples_(samples), config_(config), gate_(gate),
          frames_(static_cast<std::int64_t>(track.frames.size())), hop_(track.hop) {
        const double hop = static_cast<double>(track.hop);
        minFrames_ = detail::secondsToFrames(config.minSegmentSeconds, track.sampleRate, hop);
        plateauPieceFrames_ = detail::secondsToFrames(kPlateauMinPieceSeconds, track.sampleRate, hop);
        plateauFrames_ = detail::secondsToFrames(kPlateauMinSeconds, track.sampleRate, hop);
        snapSamples_ = detail::secondsToFrames(config.onsetSnapSeconds, track.sampleRate, hop) * hop_;
    }

    bool measure() {
        const auto n = static_cast<std::size_t>(frames_);
        level_.assign(n, 0.0f);
        // Each frame's level stands alone, so chunks of 64 frames are shared between threads; the one
        // check before each chunk is made on the calling thread, in order.
        const std::size_t chunks = (n + 63) / 64;
        const auto measureChunk = [&](std::size_t chunk, int) {
            const auto first = static_cast<std::int64_t>(chunk) * 64;
            for (std::int64_t f = first; f < std::min(first + 64, frames_); ++f) {
                const std::int64_t begin = std::min(f * hop_, samples_);
                const std::int64_t end =
                    std::min(f * hop_ + static_cast<std::int64_t>(track_.frame), samples_);
                double sum = 0.0;
                for (std::int64_t i = begin; i < end; ++i)
                    sum += static_cast<double>(mono_[i]) * static_cast<double>(mono_[i]);
                const std::int64_t count = end - begin;
                level_[static_cast<std::size_t>(f)] =
                    static_cast<float>(std::sqrt(sum / static_cast<double>(count < 2 ? 1 : count)));
            }
        };
        detail::ChunkedStage levels(chunks, detail::stageThreads(chunks, 0, 0));
        if (!levels.run(measureChunk, [this](std::size_t) { return gate_.ask(); }))
            return false;
        midi_.assign(n, kNaN);
        for (std::int64_t f = 0; f < frames_; ++f) {
            if (!gate_.every(f, 256))
                return false;
            const PitchFrame& frame = track_.frames[static_cast<std::size_t>(f)];
            if (frame.voiced && frame.hz > 0.0)
                midi_[static_cast<std::size_t>(f)] = 69.0 + 12.0 * std::log2(frame.hz / 440.0);
        }
        smooth_.assign(n, kNaN);
        const std::int64_t half = config_.medianFrames;
        for (std::int64_t f = 0; f < frames_; ++f) {
            if (!gate_.every(f, 64))
                return false;
            if (!std::isnan(midi_[static_cast<std::size_t>(f)]))
                smooth_[static_cast<std::size_t>(f)] =
                    presentMedian(midi_, f - half, std::min(f + half, frames_ - 1) + 1, scratch_);
        }
        return true;
    }

    std::vector<Run> voicedRuns() const {
        std::vector<Run> runs;
        std::int64_t f = 0;
        while (f < frames_) {
            if (!track_.frames[static_cast<std::size_t>(f)].voiced) {
                ++f;
                continue;
            }
            Run run{f, f + 1};
            std::int64_t gap = 0;
            for (std::int64_t g = f + 1; g < frames_; ++g) {
                if (track_.frames[static_cast<std::size_t>(g)].voiced) {
                    gap = 0;
                    run.end = g + 1;
                } else if (++gap > config_.maxGapFrames) {
                    break;
                }
            }
            runs.push_back(run);
            f = run.end;
        }
        return runs;
    }

    // The kept boundaries of run [s, e): s, the interior cuts, e.
    bool cutRun(Run run, const std::vector<std::int64_t>& onsetFrames, std::vector<std::int64_t>& kept) {
        const std::int64_t s = run.start;
        const std::int64_t e = run.end;
        std::vector<std::int64_t> cuts{s};
        for (std::int64_t o : onsetFrames)
            if (o > s + 1 && o + 1 < e)
                cuts.push_back(o);
        for (std::int64_t f = s; f + 2 < e; ++f) {
            if (!gate_.every(f - s, 64))
                return false;
            const double left = presentMedian(smooth_, f < 2 ? s : f - 2, f + 1, scratch_);
            const double right = presentMedian(smooth_, f + 1, std::min(e, f + 4), scratch_);
            if (!std::isnan(left) && !std::isnan(right) &&
                std::abs(right - left) * 100.0 > config_.splitCents)
                cuts.push_back(f + 1);
        }
        const std::int64_t w = minFrames_;
        if (s + 2 * w < e) {
            for (std::int64_t f = s + w; f + w < e; ++f) {
                if (!gate_.every(f - s - w, 64))
                    return false;
                const float here = levelAt(f);
                if (!(here > 0.0f && here <= levelAt(f - 1) && here < levelAt(f + 1)))
                    continue;
                const float before = *std::max_element(level_.begin() + f - w, level_.begin() + f);
                const float after = *std::max_element(level_.begin() + f + 1, level_.begin() + f + w + 1);
                const float ref = std::min(before, after);
                if (ref > 0.0f && 20.0f * std::log10(here / ref) < kLevelDipDb)
                    cuts.push_back(f);
            }
        }
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        kept.assign(1, cuts.front());
        for (std::size_t i = 1; i < cuts.size(); ++i)
            if (cuts[i] - kept.back() >= w)
                kept.push_back(cuts[i]);
        kept.push_back(e);
        if (kept.size() > 2 && e - kept[kept.size() - 2] < w)
            kept.erase(kept.end() - 2);
        return true;
    }

    // Appends the segments of piece [a, b), split between plateaus of clearly different pitch.
    bool splitPlateaus(Run piece, std::vector<Run>& segments) {
        const std::int64_t a = piece.start;
        const std::int64_t b = piece.end;
        if (b - a < plateauPieceFrames_) {
            segments.push_back(piece);
            return true;
        }
        std::vector<Plateau> plateaus;
        std::int64_t c = a;
        std::int64_t skipped = 0;
        while (c < b) {
            while (c < b && std::isnan(smooth_[static_cast<std::size_t>(c)])) {
                if (!gate_.every(skipped++, 64))
                    return false;
                ++c;
            }
            if (c >= b)
                break;
            const std::int64_t start = c;
            double lo = smooth_[static_cast<std::size_t>(c)];
            double hi = lo;
            std::int64_t end = c + 1;
            while (end < b) {
                const double next = smooth_[static_cast<std::size_t>(end)];
                if (std::isnan(next) ||
                    (std::max(hi, next) - std::min(lo, next)) * 100.0 > kPlateauRangeCents)
                    break;
                lo = std::min(lo, next);
                hi = std::max(hi, next);
                ++end;
            }
            if (end - start >= plateauFrames_)
                plateaus.push_back({start, end, presentMedian(smooth_, start, end, scratch_)});
            c = std::max(end, start + 1);
        }
        std::int64_t current = a;
        for (std::size_t i = 1; i < plateaus.size(); ++i) {
            if (std::abs(plateaus[i].median - plateaus[i - 1].median) * 100.0 <= kPlateauSplitCents)
                continue;
            const std::int64_t m = (plateaus[i - 1].end + plateaus[i].start) / 2;
            if (m > current && m < b) {
                segments.push_back({current, m});
                current = m;
            }
        }
        segments.push_back({current, b});
        return true;
    }

    // Builds the note of segment [a, b) and appends it unless it has no pitch, is too quiet or empty.
    bool buildNote(Run segment, const std::vector<std::int64_t>& onsetFrames, std::vector<NoteEvent>& notes) {
        const std::int64_t a = segment.start;
        const std::int64_t b = segment.end;
        NoteEvent note;
        note.pitch = presentMedian(midi_, a, b, scratch_);
        if (std::isnan(note.pitch))
            return true;
        const auto length = static_cast<std::size_t>(b - a);
        note.levelCurve.resize(length);
        note.pitchCurve.assign(length, std::numeric_limits<float>::quiet_NaN());
        double confidenceSum = 0.0;
        std::int64_t voiced = 0;
        float loudest = 0.0f;
        for (std::int64_t f = a; f < b; ++f) {
            if (!gate_.every(f - a, 64))
                return false;
            const auto i = static_cast<std::size_t>(f - a);
            note.levelCurve[i] = levelAt(f);
            loudest = std::max(loudest, note.levelCurve[i]);
            const double midi = midi_[static_cast<std::size_t>(f)];
            if (!std::isnan(midi)) {
                note.pitchCurve[i] = static_cast<float>((midi - note.pitch) * 100.0);
                confidenceSum += track_.frames[static_cast<std::size_t>(f)].confidence;
                ++voiced;
            }
        }
        fillGaps(note.pitchCurve);
        for (float& cents : note.pitchCurve)
            cents = std::clamp(cents, -kMaxNoteCurveCents, kMaxNoteCurveCents);
        if (static_cast<double>(loudest) < std::pow(10.0, config_.silenceDb / 20.0))
            return true;
        note.pitchConfidence =
            voiced > 0 ? static_cast<float>(confidenceSum / static_cast<double>(voiced)) : 0.0f;
        note.start = a * hop_;
        note.end = std::min(b * hop_, samples_);
        for (std::int64_t o : onsetFrames) {
            const std::int64_t position = o * hop_;
            if (std::abs(note.start - position) <= snapSamples_) {
                // Never into the previous note: overlapping analysed notes could not be merged later.
                const std::int64_t floor = notes.empty() ? 0 : notes.back().end;
                note.start = std::max({position, floor, std::int64_t{0}});
                break;
            }
        }
        note.pitched = true;
        if (note.end > note.start)
            notes.push_back(std::move(note));
        return true;
    }

private:
    float levelAt(std::int64_t f) const { return level_[static_cast<std::size_t>(f)]; }

    // Holds before the first valid value and after the last; interpolates linearly between them.
    static void fillGaps(std::vector<float>& curve) {
        std::int64_t previous = -1;
        const auto n = static_cast<std::int64_t>(curve.size());
        for (std::int64_t i = 0; i < n; ++i) {
            if (std::isnan(curve[static_cast<std::size_t>(i)]))
                continue;
            const float value = curve[static_cast<std::size_t>(i)];
            if (previous < 0) {
                std::fill(curve.begin(), curve.begin() + i, value);
            } else {
                const float from = curve[static_cast<std::size_t>(previous)];
                for (std::int64_t j = previous + 1; j < i; ++j) {
                    const float t = static_cast<float>(j - previous) / static_cast<float>(i - previous);
                    curve[static_cast<std::size_t>(j)] = from + (value - from) * t;
                }
            }
            previous = i;
        }
        if (previous >= 0)
            std::fill(curve.begin() + previous + 1, curve.end(), curve[static_cast<std::size_t>(previous)]);
    }

    const PitchTrack& track_;
    const float* mono_;
    std::int64_t samples_;
    const SegmenterConfig& config_;
    Gate& gate_;
    std::int64_t frames_;
    std::int64_t hop_;
    std::int64_t minFrames_ = 1;
    std::int64_t plateauPieceFrames_ = 1;
    std::int64_t plateauFrames_ = 1;
    std::int64_t snapSamples_ = 0;
    std::vector<float> level_;
    std::vector<double> midi_;
    std::vector<double> smooth_;
    std::vector<double> scratch_;
};

} // namespace

std::vector<NoteEvent> segmentNotes(const PitchTrack& track, const float* mono, std::int64_t samples,
                                    const std::vector<std::int64_t>& onsets, const SegmenterConfig& config,
                                    const std::function<bool()>& keepGoing) {
    Gate gate(keepGoing);
    if (!gate.ask())
        return {};
    if (track.frames.empty() || track.hop == 0 || !(track.sampleRate > 0.0) || mono == nullptr || samples < 0)
        return {};
    Segmenter segmenter(track, mono, samples, config, gate);
    if (!segmenter.measure())
        return {};

    const std::int64_t hop = track.hop;
    std::vector<std::int64_t> onsetFrames;
    onsetFrames.reserve(onsets.size());
    for (std::size_t i = 0; i < onsets.size(); ++i) {
        if (!gate.every(static_cast<std::int64_t>(i), 256))
            return {};
        onsetFrames.push_back(std::max<std::int64_t>(0, onsets[i] / hop));
    }

    std::vector<NoteEvent> notes;
    std::vector<std::int64_t> boundaries;
    std::vector<Run> segments;
    for (const Run& run : segmenter.voicedRuns()) {
        if (!gate.ask() || !segmenter.cutRun(run, onsetFrames, boundaries))
            return {};
        segments.clear();
        for (std::size_t i = 0; i + 1 < boundaries.size(); ++i) {
            if (!gate.ask() || !segmenter.splitPlateaus({boundaries[i], boundaries[i + 1]}, segments))
                return {};
        }
        for (const Run& segment : segments)
            if (!gate.ask() || !segmenter.buildNote(segment, onsetFrames, notes))
                return {};
    }
    if (!gate.ask())
        return {};
    return notes;
}

} // namespace np
