#include "engine/render/stretch_render.h"

#include "engine/render/formant_warp.h"
#include "engine/render/note_span.h"
#include "engine/render/stretch/stretch_engine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace np {
namespace {

// Output frames per engine call; each call takes a new transpose factor.
constexpr std::int64_t kBlockFrames = 256;

// Hands the engine stretches of the source, reading silence outside it: a pointer into the source
// where the stretch lies inside it, null (silence) where it lies wholly outside, and a copy into a
// reused buffer where it straddles an edge.
class SourceFeed {
public:
    explicit SourceFeed(const AudioBuffer& source) : source_(source) {}

    // Pointers to source frames [begin, begin + frames); valid until the next call.
    const float* const* read(std::int64_t begin, std::int64_t frames) {
        const std::int64_t end = begin + frames;
        const int channels = source_.channels;
        if (frames <= 0 || end <= 0 || begin >= source_.frames)
            return nullptr;
        if (begin >= 0 && end <= source_.frames) {
            for (int c = 0; c < channels; ++c)
                pointers_[static_cast<std::size_t>(c)] = source_.channel(c).data() + begin;
            return pointers_.data();
        }
        const std::int64_t lo = std::max<std::int64_t>(0, begin), hi = std::min(end, source_.frames);
        for (int c = 0; c < channels; ++c) {
            std::vector<float>& copy = copies_[static_cast<std::size_t>(c)];
            copy.assign(static_cast<std::size_t>(frames), 0.0f);
            const auto from =
                source_.channel(c).subspan(static_cast<std::size_t>(lo), static_cast<std::size_t>(hi - lo));
            std::copy(from.begin(), from.end(), copy.begin() + (lo - begin));
            pointers_[static_cast<std::size_t>(c)] = copy.data();
        }
        return pointers_.data();
    }

private:
    const AudioBuffer& source_;
    std::array<const float*, 2> pointers_{};
    std::array<std::vector<float>, 2> copies_;
};

} // namespace

AudioBuffer renderSpan(const Document& doc, const SpanParams& span) {
    AudioBuffer out;
    const int channels = doc.audio ? doc.audio->channels : 0;
    if (span.sourceLength < 1 || channels < 1 || span.outputLength < 1) {
        out.resize(channels, std::max<std::int32_t>(0, span.outputLength));
        return out;
    }
    const AudioBuffer& source = *doc.audio;
    const double rate = doc.sampleRate;

    StretchEngine engine;
    engine.configure(channels, static_cast<int>(std::lround(0.03 * rate)),
                     static_cast<int>(std::lround(0.0075 * rate)));
    // Input frames per output frame.
    const double ratio = static_cast<double>(span.sourceLength) / static_cast<double>(span.outputLength);
    // The engine delays by its output latency in output frames and by its input latency in input
    // frames, which are worth inputLatency / ratio output frames.
    const std::int64_t discard =
        std::llround(engine.outputLatency() + static_cast<double>(engine.inputLatency()) / ratio);
    const std::int64_t total = span.outputLength + discard;
    if (total > std::numeric_limits<std::int32_t>::max())
        throw std::length_error("Spectral render span is too long");
    out.resize(channels, span.outputLength);

    const std::int64_t hop = std::max<std::int64_t>(1, doc.track.hop);
    const auto factorAt = [&](std::int64_t o) {
        const std::int64_t clamped = std::clamp<std::int64_t>(o, 0, span.outputLength - 1);
        double semitones = span.constantSemitones;
        if (!span.centsPerHop.empty()) {
            const auto index = static_cast<std::size_t>(static_cast<double>(clamped) * ratio / hop);
            semitones = span.centsPerHop[std::min(index, span.centsPerHop.size() - 1)] / 100.0;
        }
        return static_cast<double>(std::exp2(static_cast<float>(semitones) / 12.0f));
    };

    SourceFeed feed(source);
    // Pre-roll: the source just before the span; silence before the source start needs no feeding.
    const std::int64_t preRoll =
        std::min(engine.seekLength(ratio), std::max<std::int64_t>(0, span.sourceStart));
    engine.setTransposeFactor(factorAt(0));
    engine.seek(feed.read(span.sourceStart - preRoll, preRoll), preRoll, ratio);
    // The most input one block reads: the span, and as much pre-roll again at most. A ratio the editor
    // allows never needs that much in one block, but a stored session may carry any ratio, and a read
    // that crosses the source's end is copied; with this bound the copy stays within the 16 bytes a
    // frame and channel of the span that the engine's plan holds. Input held back goes to later blocks.
    const std::int64_t readLimit = span.sourceLength + std::min<std::int64_t>(preRoll, span.sourceLength);

    std::array<std::vector<float>, 2> block;
    std::array<float*, 2> blockPointers{};
    for (int c = 0; c < channels; ++c) {
        block[static_cast<std::size_t>(c)].assign(kBlockFrames, 0.0f);
        blockPointers[static_cast<std::size_t>(c)] = block[static_cast<std::size_t>(c)].data();
    }
    // The frames made in the block starting at produced frame q are centred on output frame
    // q + outputLatency - discard: that is where their pitch is read.
    std::int64_t given = 0;
    for (std::int64_t q = 0; q < total; q += kBlockFrames) {
        const std::int64_t frames = std::min(kBlockFrames, total - q);
        engine.setTransposeFactor(factorAt(q + engine.outputLatency() - discard));
        const std::int64_t inputs = std::clamp<std::int64_t>(
            std::llround(static_cast<double>(q + frames) * ratio) - given, 0, readLimit);
        engine.process(feed.read(span.sourceStart + given, inputs), inputs, blockPointers.data(), frames);
        given += inputs;
        const std::int64_t first = std::max(q, discard);
        for (int c = 0; c < channels && first < q + frames; ++c) {
            const float* from = block[static_cast<std::size_t>(c)].data() + (first - q);
            std::copy(from, from + (q + frames - first), out.channel(c).data() + (first - discard));
        }
    }
    return out;
}

AudioBuffer renderNoteAudio(const Document& doc, const Note& note) {
    const SpanParams span = noteSpanParams(doc, note);
    AudioBuffer out = renderSpan(doc, span);
    if (note.pitched && note.formantShift != 0.0 && doc.audio) {
        FormantWarpParams warp;
        warp.sourceStart = span.sourceStart;
        warp.timeRatio = static_cast<double>(span.sourceLength) / std::max<double>(1.0, span.outputLength);
        warp.formantCents = &span.formantCentsPerHop;
        warp.pitchCents = &span.centsPerHop;
        warp.track = &doc.track;
        applyFormantWarp(out, *doc.audio, warp);
    }
    if (note.gainDb != 0.0) {
        const auto gain = static_cast<float>(std::pow(10.0, note.gainDb / 20.0));
        for (float& x : out.samples)
            x *= gain;
    }
    return out;
}

} // namespace np
