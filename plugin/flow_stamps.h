#pragma once

// The stamps that make a background result stale, and the one comparison of each kind. Every flow
// drops a late result through these helpers, so a result that no longer matches is dropped the same
// way everywhere: silently, without a notice. Pure values; any thread.

#include <cstdint>
#include <optional>
#include <utility>

namespace cv {

// An analysis request's stamps: the session it was made for and that session's notes at the time.
struct AnalysisStamps {
    std::uint64_t sessionGeneration = 0;
    std::uint64_t contentRevision = 0;
    bool operator==(const AnalysisStamps&) const = default;
};

// An analysis result is used only while both stamps still match and the source audio is still there.
constexpr bool analysisResultCurrent(const AnalysisStamps& result, const AnalysisStamps& now,
                                     bool hasSourceAudio) noexcept {
    return hasSourceAudio && result == now;
}

// A render request's tags: A the document revision (the session's edit count), B the session
// generation, C the playback generation.
struct RenderTags {
    std::uint64_t revision = 0;
    std::uint64_t sessionGeneration = 0;
    std::uint64_t playbackGeneration = 0;
    bool operator==(const RenderTags&) const = default;
};

// A render result is installed only while all three tags still match.
constexpr bool renderResultCurrent(const RenderTags& result, const RenderTags& now) noexcept {
    return result == now;
}

// A render is due whenever the document revision differs from both the one last handed to the render
// worker and the one last installed or failed.
constexpr bool renderDue(std::uint64_t documentRevision, std::uint64_t requested,
                         std::uint64_t completed) noexcept {
    return documentRevision != requested && documentRevision != completed;
}

// (revision, playback generation) of a render the offline path installed or failed.
using RenderPair = std::pair<std::uint64_t, std::uint64_t>;

// The offline path's installed or failed pair settles the render flow only when it names the current
// revision and playback generation, and that revision is not completed yet.
constexpr bool offlinePairSettles(const std::optional<RenderPair>& pair, std::uint64_t documentRevision,
                                  std::uint64_t playbackGeneration, std::uint64_t completed) noexcept {
    return pair && *pair == RenderPair{documentRevision, playbackGeneration} && documentRevision != completed;
}

// A note-audition request's key: the note, the audition sequence and the session generation.
struct AuditionKey {
    std::uint32_t noteId = 0;
    std::uint64_t sequence = 0;
    std::uint64_t sessionGeneration = 0;
    bool operator==(const AuditionKey&) const = default;
};

// An audition tone reaches the voice only while a note is auditioned and the whole key matches.
constexpr bool auditionResultCurrent(const AuditionKey& result, const AuditionKey& now) noexcept {
    return now.noteId != 0 && result == now;
}

// What a capture was armed against: replacing the session is safe only if none of these moved while
// it recorded.
struct CaptureStamps {
    std::uint64_t sessionGeneration = 0;
    std::uint64_t contentRevision = 0;
    std::uint64_t parameterChanges = 0; // applied Key, Scale, A4, Tempo and Algorithm changes
    bool operator==(const CaptureStamps&) const = default;
};

enum class CaptureVerdict {
    Install,
    Abandoned,   // its statistics were cleared (the capture was aborted): dropped without a word
    EditChanged, // the session, its notes or an editing parameter changed while it recorded
};

constexpr CaptureVerdict judgeCapture(const std::optional<CaptureStamps>& recorded,
                                      const CaptureStamps& now) noexcept {
    if (!recorded)
        return CaptureVerdict::Abandoned;
    return *recorded == now ? CaptureVerdict::Install : CaptureVerdict::EditChanged;
}

} // namespace cv
