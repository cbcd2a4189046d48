#pragma once

#include "engine/io/project_format.h"
#include "engine/model/document.h"

#include <cstdint>
#include <functional>
#include <string>

// The content rules of the project format and the working-set plan of a save or load, shared by the
// writer (which checks the document before writing a byte) and the reader (which checks while it parses
// and then checks the decoded document again).
namespace np::project {

// The fixed sentences of the content rules.
namespace msg {
inline constexpr const char* kNoAudio = "The project does not contain source audio";
inline constexpr const char* kHeaderTruncated = "The project header is truncated";
inline constexpr const char* kAudioLimits =
    "The source audio exceeds the supported duration, channel, sample-rate, or memory limits";
inline constexpr const char* kAudioPayloadInvalid = "The source audio payload is invalid or truncated";
inline constexpr const char* kAudioPayloadTruncated = "The source audio payload is truncated";
inline constexpr const char* kAudioSamples = "The source audio contains invalid samples";
inline constexpr const char* kTrackHeaderTruncated = "The pitch-track header is truncated";
inline constexpr const char* kTrackMetadata = "The pitch-track metadata is invalid";
inline constexpr const char* kTrackInconsistent = "The pitch track is not consistent with the source audio";
inline constexpr const char* kTrackTruncated = "The pitch-track payload is truncated";
inline constexpr const char* kTrackValues = "The pitch track contains invalid values";
inline constexpr const char* kTooManyNotes = "The project contains too many notes";
inline constexpr const char* kNotesTruncated = "The note payload is truncated";
inline constexpr const char* kInvalidNote = "The project contains an invalid note";
inline constexpr const char* kCurveTruncated = "A note curve is invalid or truncated";
inline constexpr const char* kCurveSpan = "A note curve is not consistent with its source span";
inline constexpr const char* kTooMuchCurveData = "The project contains too much curve data";
inline constexpr const char* kNoteIds = "The note identifier sequence is invalid";
inline constexpr const char* kSettingsTruncated = "The session settings are truncated";
inline constexpr const char* kSettingsInvalid = "The session settings are invalid";
inline constexpr const char* kTrailingData = "The project contains unexpected trailing data";
inline constexpr const char* kStateLimit = "The project exceeds the 640 MiB project-state limit";
inline constexpr const char* kResidentCopy =
    "The resident project model and serialized copy exceed the 640 MiB project working-set limit";
inline constexpr const char* kResidentCopies =
    "The resident project model and serialized copies exceed the 640 MiB project working-set limit";
inline constexpr const char* kCheckCancelled = "The project operation was cancelled";
} // namespace msg

// Bytes charged against a limit. An addition that would overflow or pass the limit fails and charges
// nothing; what earlier steps charged stays.
class ProjectMemoryBudget {
public:
    explicit ProjectMemoryBudget(std::uint64_t limitBytes) noexcept : limit_(limitBytes) {}

    bool add(std::uint64_t bytes) noexcept;
    // Buffer object, vector header, the samples, and allocator overhead when there are samples.
    bool addAudioMemory(std::uint64_t sampleBytes) noexcept;
    // Note records, their vector, the id set and the two curve holders of each note.
    bool addNoteModelMemory(std::uint64_t notes) noexcept;

    std::uint64_t usedBytes() const noexcept { return used_; }

private:
    std::uint64_t used_ = 0;
    std::uint64_t limit_;
};

// How a save or load budgets its memory.
struct ModelPlan {
    std::uint64_t limitBytes = kWorkingSetLimitBytes;
    int copies = 1;                 // serialized copies alive at once besides the model
    std::uint64_t reserveBytes = 0; // set aside for the caller's own needs
};

struct ModelCheck {
    bool valid = false;
    bool overLimit = false;      // the failure is one of the limit sentences
    std::string message;         // the first broken rule's sentence
    std::uint64_t fileBytes = 0; // size of the version-3 file, on success
};

// Checks every content rule on an in-memory document and plans its memory. Throws
// np::OperationCancelled with msg::kCheckCancelled when keepGoing says stop; may throw std::bad_alloc.
ModelCheck validateDocumentModel(const Document& document, const SessionMeta& settings, const ModelPlan& plan,
                                 const std::function<bool()>& keepGoing);

// Single rules, shared with the reader's parsing.
bool finiteWithin(double value, double low, double high) noexcept;
bool validAudioShape(std::int64_t channels, std::int64_t frames, double sampleRate) noexcept;
bool validTrackMetadata(double trackRate, double documentRate, std::int64_t hop, std::int64_t frame,
                        std::uint64_t frameCount) noexcept;
bool trackFitsAudio(std::uint64_t frameCount, std::int64_t audioFrames, std::int64_t hop) noexcept;
bool validFrameValues(double hz, double confidence, std::uint8_t sibilant) noexcept;
// Every note rule but the uniqueness of the id.
bool validNoteFields(const Note& note, std::int64_t audioFrames, std::int64_t channels) noexcept;
bool curveFitsSpan(std::uint64_t length, const Note& note, std::int64_t hop) noexcept;
bool validSettings(std::uint32_t keyRoot, std::uint32_t scaleKind, double a4Hz, double tempoBpm,
                   std::uint32_t algorithm) noexcept;
// Every value finite within low..high; a null or empty curve is valid.
bool validCurveValues(const std::vector<float>* curve, float low, float high,
                      const std::function<bool()>& keepGoing);

} // namespace np::project
