#include "engine/render/document_render.h"

#include "engine/audio/cancellation.h"
#include "engine/render/chain_render.h"
#include "engine/render/render_plan.h"
#include "engine/render/render_units.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace np {
namespace {

constexpr double kMaxSourceSeconds = 1200.0;
constexpr std::int64_t kMaxTrackFrames = 4000000;
constexpr std::int64_t kMaxTrackFrameSize = 4194304;
constexpr std::uint64_t kNoteListBytesPerNote = 128;
constexpr std::int64_t kCopyBlockFrames = 8192;

bool validRate(double rate) {
    return std::isfinite(rate) && rate >= kRenderMinSampleRate && rate <= kRenderMaxSampleRate;
}

void pollCancel(const RenderOptions& options) {
    if (options.cancelled())
        throw RenderCancelled();
}

void validateSource(const Document& doc) {
    if (!doc.audio)
        throw std::invalid_argument("Render requires source audio");
    const AudioBuffer& source = *doc.audio;
    if (source.channels < 1 || source.channels > 2 || source.frames < 1 || !validRate(doc.sampleRate) ||
        static_cast<double>(source.frames) / doc.sampleRate > kMaxSourceSeconds ||
        source.frames > AudioBuffer::kMaxSamples / source.channels)
        throw std::length_error(
            "Render source exceeds the supported duration, channel, sample-rate, or memory limits");
    if (doc.notes.size() > kMaxNotes)
        throw std::length_error("Render document contains too many notes");
}

void validateTrack(const Document& doc) {
    const PitchTrack& track = doc.track;
    const auto hop = static_cast<std::int64_t>(track.hop);
    const auto frames = static_cast<std::int64_t>(track.frames.size());
    const double tolerance = std::max(1e-6 * doc.sampleRate, 1e-6);
    if (hop < 1 || track.frame < track.hop || track.frame > kMaxTrackFrameSize ||
        !validRate(track.sampleRate) || !(std::abs(track.sampleRate - doc.sampleRate) <= tolerance) ||
        frames > kMaxTrackFrames || frames > doc.audio->frames / hop + 2)
        throw std::invalid_argument("Render pitch-track metadata is invalid");
}

// The output length: the source's, or the latest note end on the timeline.
std::int64_t validateNotes(const Document& doc) {
    std::int64_t end = doc.audio->frames;
    for (const Note& note : doc.notes) {
        const bool finite = std::isfinite(note.pitch) && std::isfinite(note.pitchOffset) &&
                            std::isfinite(note.driftScale) && std::isfinite(note.formantShift) &&
                            std::isfinite(note.gainDb);
        if (note.sourceStart < 0 || note.sourceStart >= note.sourceEnd ||
            note.sourceEnd > doc.audio->frames || note.start < 0 || note.length < 1 ||
            note.start > std::numeric_limits<std::int64_t>::max() - note.length || !finite)
            throw std::length_error("Document contains an invalid note or edited timeline");
        end = std::max(end, note.start + note.length);
    }
    return end;
}

void validateOutput(const Document& doc, std::int64_t outputFrames, const RenderOptions& options) {
    const AudioBuffer& source = *doc.audio;
    if (outputFrames > AudioBuffer::kMaxSamples / source.channels)
        throw std::length_error(kRenderWorkingSetMessage);
    // Within the sample and note limits the products and the sum cannot overflow.
    const auto samples = static_cast<std::uint64_t>(outputFrames + source.frames) * source.channels;
    const std::uint64_t total = 4 * samples + kNoteListBytesPerNote * doc.notes.size();
    if (total > kRenderWorkingSetBytes || options.reservedBytes > kRenderWorkingSetBytes - total)
        throw std::length_error(kRenderWorkingSetMessage);
}

AudioBuffer copySource(const AudioBuffer& source, std::int64_t outputFrames, const RenderOptions& options) {
    AudioBuffer out;
    out.resize(source.channels, outputFrames);
    for (std::int64_t at = 0; at < source.frames; at += kCopyBlockFrames) {
        pollCancel(options);
        const std::int64_t end = std::min(source.frames, at + kCopyBlockFrames);
        for (int c = 0; c < source.channels; ++c)
            std::copy(source.channel(c).begin() + at, source.channel(c).begin() + end,
                      out.channel(c).begin() + at);
    }
    pollCancel(options);
    return out;
}

// The frames a unit's source span or rendered audio fades over at each edge: a quarter of its length,
// at most 5 ms; 0 for spans under 4 frames, which then have no ramps.
std::int64_t edgeFrames(std::int64_t length, double rate) {
    return std::min(length / 4, static_cast<std::int64_t>(0.005 * rate));
}

// Fades source span [start, end) out of the output: down over its first edge frames, silent inside,
// up over its last.
void fadeOut(AudioBuffer& out, std::int64_t start, std::int64_t end, double rate) {
    const std::int64_t f = edgeFrames(end - start, rate);
    for (std::int64_t i = start; i < std::min(end, out.frames); ++i) {
        const double gain = i < start + f  ? 1.0 - static_cast<double>(i - start) / static_cast<double>(f)
                            : i >= end - f ? static_cast<double>(i - (end - f)) / static_cast<double>(f)
                                           : 0.0;
        for (int c = 0; c < out.channels; ++c)
            out.channel(c)[static_cast<std::size_t>(i)] *= static_cast<float>(gain);
    }
}

// Adds a rendered unit at timeline position `at`, rising over its first edge frames and falling over
// its last.
void addUnit(AudioBuffer& out, const AudioBuffer& unit, std::int64_t at, double rate) {
    const std::int64_t length = unit.frames;
    const std::int64_t f = edgeFrames(length, rate);
    const int channels = std::min(out.channels, unit.channels);
    for (std::int64_t j = std::max<std::int64_t>(0, -at); j < std::min(length, out.frames - at); ++j) {
        const double weight = j < f             ? static_cast<double>(j) / static_cast<double>(f)
                              : j >= length - f ? static_cast<double>(length - j) / static_cast<double>(f)
                                                : 1.0;
        for (int c = 0; c < channels; ++c)
            out.channel(c)[static_cast<std::size_t>(at + j)] +=
                static_cast<float>(weight) * unit.channel(c)[static_cast<std::size_t>(j)];
    }
}

} // namespace

AudioBuffer renderDocument(const Document& doc, const RenderOptions& options) {
    options.report(0.0f);
    pollCancel(options);
    validateSource(doc);
    if (!doc.notes.empty())
        validateTrack(doc);
    const std::int64_t outputFrames = validateNotes(doc);
    validateOutput(doc, outputFrames, options);

    const AudioBuffer& source = *doc.audio;
    AudioBuffer out = copySource(source, outputFrames, options);
    const RenderUnits units = groupRenderUnits(doc);

    // Every edited unit leaves its source span first; only then are the units added, so that no unit's
    // fade erases audio another unit has already placed there.
    for (const RenderUnit& unit : units.units) {
        if (!units.edited(unit))
            continue;
        const std::span<const Note* const> notes = units.notesOf(unit);
        const std::int64_t start = notes.front()->sourceStart;
        const std::int64_t end = unit.chain ? start + chainSpanLength(notes) : notes.front()->sourceEnd;
        fadeOut(out, start, end, doc.sampleRate);
    }

    RenderContext context{doc, options, outputFrames, kNoteListBytesPerNote * doc.notes.size(), std::nullopt};
    const auto count = static_cast<float>(units.units.size());
    for (std::size_t index = 0; index < units.units.size(); ++index) {
        pollCancel(options);
        const RenderUnit& unit = units.units[index];
        if (units.edited(unit)) {
            const std::span<const Note* const> notes = units.notesOf(unit);
            const Note& first = *notes.front();
            RenderedUnit rendered =
                unit.chain ? renderChain(context, notes) : renderSingleNote(context, first);
            addUnit(out, rendered.audio, first.start, doc.sampleRate);
            if (options.hints != nullptr && rendered.engine)
                options.hints->record(first.id, *rendered.engine);
        }
        options.report(std::min(1.0f, static_cast<float>(index + 1) / count));
    }
    options.report(1.0f);
    return out;
}

} // namespace np
