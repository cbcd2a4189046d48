#pragma once

// The types every render file shares: a render request's settings, the engine names recorded per unit,
// and the description of one span of source that an engine renders.

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace np {

// The engine that rendered a unit of notes; the values are stored in the hints.
enum class RenderEngine : std::uint32_t {
    Copy = 0,    // pitch unchanged: the source span is copied (formant warp and gain still apply)
    Psola = 1,   // pitch-synchronous overlap-add on detected epochs
    World = 2,   // vocoder resynthesis
    Stretch = 3, // the fixed-latency stretch engine
};

// Copied and pitch-synchronous units keep the source's waveform in the time domain.
constexpr bool isTimeDomainEngine(RenderEngine engine) noexcept {
    return static_cast<std::uint32_t>(engine) < 2;
}

// The engine each rendered unit used, recorded under the id of the unit's first note. The render only
// inserts or overwrites entries; it never reads them and never removes entries of vanished notes.
struct RenderHints {
    std::unordered_map<std::uint32_t, RenderEngine> engineByNote;
    std::unordered_map<std::uint32_t, bool> timeDomainByNote; // isTimeDomainEngine of the same unit

    // Inserts or overwrites both entries of the unit whose first note is noteId.
    void record(std::uint32_t noteId, RenderEngine engine) {
        engineByNote.insert_or_assign(noteId, engine);
        timeDomainByNote.insert_or_assign(noteId, isTimeDomainEngine(engine));
    }
};

// One render request's settings. All three force flags false means the automatic engine choice; when
// several are set, forcePsola wins over forceStretch, which wins over forceWorld.
struct RenderOptions {
    bool forceWorld = false;   // chains whose pitch changes, and pitched single notes, use the vocoder
    bool forceStretch = false; // every chain (changed or not) and every single note uses the stretch engine
    bool forcePsola = false;   // changed chains use pitch-synchronous overlap-add; single notes the stretch
    RenderHints* hints = nullptr;        // null, or where the engine of each unit is recorded
    std::function<bool()> cancel;        // may be empty; true means stop; polled by the render
    std::function<void(float)> progress; // may be empty; receives 0..1
    std::uint64_t reservedBytes = 0;     // bytes the caller already holds against the working-set limit

    RenderOptions() = default;
    RenderOptions(const RenderOptions&) = default;
    RenderOptions(RenderOptions&&) noexcept = default;
    ~RenderOptions() = default;
    // Copy-and-swap: a callable that fails to copy leaves this value as it was.
    RenderOptions& operator=(RenderOptions other) noexcept {
        swap(other);
        return *this;
    }
    void swap(RenderOptions& other) noexcept {
        std::swap(forceWorld, other.forceWorld);
        std::swap(forceStretch, other.forceStretch);
        std::swap(forcePsola, other.forcePsola);
        std::swap(hints, other.hints);
        cancel.swap(other.cancel);
        progress.swap(other.progress);
        std::swap(reservedBytes, other.reservedBytes);
    }

    // Whether the cancel test says stop (false when it is empty).
    bool cancelled() const { return cancel && cancel(); }
    void report(float fraction) const {
        if (progress)
            progress(fraction);
    }
};

// The span of source that an engine renders, with its pitch and formant shifts per hop of the
// document's pitch track (hop k starts at sourceStart + k x hop).
struct SpanParams {
    std::int64_t sourceStart = 0;           // first source frame
    std::int32_t sourceLength = 0;          // source frames
    std::int32_t outputLength = 0;          // frames to produce (sourceLength for chains)
    std::vector<double> centsPerHop;        // pitch shift per hop; empty: constantSemitones throughout
    std::vector<double> formantCentsPerHop; // formant shift per hop; empty: none
    double constantSemitones = 0.0;         // the pitch shift when centsPerHop is empty (unpitched notes)
};

// Smooths a per-hop curve in place: each value becomes the mean of its neighbours at distances -2..2
// weighted 1, 2, 3, 2, 1, divided by the weights of the neighbours that exist (the ends use a truncated
// window). Curves of fewer than 3 values are left alone. Allocates one copy of the curve.
void smoothCurve(std::vector<double>& curve);

} // namespace np
