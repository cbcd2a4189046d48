#include "engine/io/project_reader.h"

#include "engine/audio/cancellation.h"
#include "engine/io/project_format.h"
#include "engine/io/project_model_check.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <unordered_set>

namespace np {

namespace {

namespace msg = project::msg;

constexpr const char* kLoadingCancelled = "Project loading was cancelled";
constexpr const char* kBudgetExceeded =
    "The project file and decoded model exceed the 640 MiB project working-set limit";

DeserializeOutcome failure(DeserializeError code, const char* message) {
    DeserializeOutcome outcome;
    outcome.error = code;
    outcome.message = message;
    return outcome;
}

// Reads little-endian values from the payload; a read that does not fit leaves the position as it was.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    template <typename T>
    bool get(T& value) noexcept {
        static_assert(sizeof(T) == 1 || sizeof(T) == 4 || sizeof(T) == 8);
        if (remaining() < sizeof(T)) {
            return false;
        }
        std::uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, data_ + position_, sizeof(T));
        if constexpr (std::endian::native == std::endian::big) {
            std::reverse(bytes, bytes + sizeof(T));
        }
        std::memcpy(&value, bytes, sizeof(T));
        position_ += sizeof(T);
        return true;
    }

    bool getFloatArray(float* out, std::uint64_t count, const std::function<bool()>& keepGoing) {
        if (count >= (std::uint64_t{1} << 62) || count * sizeof(float) > remaining()) {
            return false;
        }
        for (std::uint64_t done = 0; done < count;) {
            throwIfCancelled(keepGoing, kLoadingCancelled);
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(count - done, project::kFloatsPerPoll));
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(out + done, data_ + position_, piece * sizeof(float));
                position_ += piece * sizeof(float);
            } else {
                for (std::size_t i = 0; i < piece; ++i) {
                    get(out[done + i]);
                }
            }
            done += piece;
        }
        return true;
    }

    std::size_t remaining() const noexcept { return size_ - position_; }
    bool has(std::uint64_t bytes) const noexcept { return bytes <= remaining(); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Why a curve read stopped.
enum class CurveRead { Ok, Invalid, OverBudget };

// Parses one payload into a decoded document, checking every content rule on the way and charging
// every allocation to the budget before making it.
class PayloadParser {
public:
    PayloadParser(const std::uint8_t* payload, std::size_t size, std::uint32_t version,
                  const std::function<bool()>& keepGoing, project::ProjectMemoryBudget& budget)
        : reader_(payload, size), version_(version), keepGoing_(keepGoing), budget_(budget) {}

    // On failure code and message say why.
    bool parse(DeserializedDocument& out) {
        return parseAudio(out) && parseTrack(out) && parseNotes(out) && parseSettings(out) && parseEnd();
    }

    DeserializeError code = DeserializeError::InvalidContent;
    const char* message = "";

private:
    bool fail(const char* sentence) {
        message = sentence;
        return false;
    }
    bool failBudget() {
        code = DeserializeError::OverLimit;
        return fail(kBudgetExceeded);
    }
    void poll() { throwIfCancelled(keepGoing_, kLoadingCancelled); }

    bool parseAudio(DeserializedDocument& out) {
        double rate = 0.0;
        std::int32_t channels = 0;
        std::int64_t frames = 0;
        if (!reader_.get(rate) || !reader_.get(out.anchorFrame) || !reader_.get(channels) ||
            !reader_.get(frames)) {
            return fail(msg::kHeaderTruncated);
        }
        if (!project::validAudioShape(channels, frames, rate)) {
            return fail(msg::kAudioLimits);
        }
        const std::uint64_t sampleBytes =
            4 * static_cast<std::uint64_t>(channels) * static_cast<std::uint64_t>(frames);
        if (!reader_.has(sampleBytes)) {
            return fail(msg::kAudioPayloadInvalid);
        }
        if (!budget_.addAudioMemory(sampleBytes)) {
            return failBudget();
        }
        poll();
        AudioBuffer audio;
        audio.resize(channels, frames);
        for (int c = 0; c < channels; ++c) {
            if (!reader_.getFloatArray(audio.channel(c).data(), static_cast<std::uint64_t>(frames),
                                       keepGoing_)) {
                return fail(msg::kAudioPayloadTruncated);
            }
        }
        for (std::size_t i = 0; i < audio.samples.size(); ++i) {
            if (i % static_cast<std::size_t>(frames) % project::kFloatsPerPoll == 0) {
                poll();
            }
            if (!std::isfinite(audio.samples[i])) {
                return fail(msg::kAudioSamples);
            }
        }
        out.document.sampleRate = rate;
        out.document.audio = std::make_shared<const AudioBuffer>(std::move(audio));
        return true;
    }

    bool parseTrack(DeserializedDocument& out) {
        PitchTrack& track = out.document.track;
        std::int32_t hop = 0;
        std::int32_t frame = 0;
        std::uint64_t count = 0;
        if (!reader_.get(track.sampleRate) || !reader_.get(hop) || !reader_.get(frame) ||
            !reader_.get(count)) {
            return fail(msg::kTrackHeaderTruncated);
        }
        const std::int64_t audioFrames = out.document.audio->frames;
        if (!project::validTrackMetadata(track.sampleRate, out.document.sampleRate, hop, frame, count) ||
            !project::trackFitsAudio(count, audioFrames, hop)) {
            return fail(msg::kTrackMetadata);
        }
        track.hop = static_cast<std::uint32_t>(hop);
        track.frame = static_cast<std::uint32_t>(frame);
        const std::uint64_t recordBytes =
            version_ == 1 ? project::kLegacyFrameRecordBytes : project::kFrameRecordBytes;
        if (!reader_.has(count * recordBytes)) {
            return fail(msg::kTrackTruncated);
        }
        if (!budget_.add(24 * count) || (count > 0 && !budget_.add(64))) {
            return failBudget();
        }
        poll();
        track.frames.resize(static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < track.frames.size(); ++i) {
            if (i % project::kFramesPerPoll == 0) {
                poll();
            }
            float hz = 0.0f;
            float confidence = 0.0f;
            std::uint8_t voiced = 0;
            std::uint8_t sibilant = 0;
            reader_.get(hz);
            reader_.get(confidence);
            reader_.get(voiced);
            if (version_ >= 2) {
                reader_.get(sibilant);
            }
            if (voiced > 1 || !project::validFrameValues(hz, confidence, sibilant)) {
                return fail(msg::kTrackValues);
            }
            PitchFrame& decoded = track.frames[i];
            decoded.hz = hz;
            decoded.confidence = confidence;
            decoded.voiced = voiced == 1;
            decoded.flags = sibilant;
        }
        return true;
    }

    CurveRead getFloats(SharedCurve& curve) {
        std::uint32_t length = 0;
        if (!reader_.get(length) || length > project::kMaxCurveValues ||
            length > project::kMaxCurveValues - totalCurveValues_ ||
            !reader_.has(4 * std::uint64_t{length})) {
            return CurveRead::Invalid;
        }
        if (length != 0 && !budget_.add(4 * std::uint64_t{length} + 64)) {
            return CurveRead::OverBudget;
        }
        poll();
        std::vector<float> values(length);
        if (!reader_.getFloatArray(values.data(), length, keepGoing_)) {
            return CurveRead::Invalid;
        }
        totalCurveValues_ += length;
        curve = std::make_shared<const std::vector<float>>(std::move(values));
        return CurveRead::Ok;
    }

    bool parseNote(Note& note, std::int64_t audioFrames, std::int32_t channels, std::int64_t hop,
                   std::unordered_set<std::uint32_t>& ids) {
        std::uint8_t muted = 0;
        std::uint8_t pitched = 0;
        if (!reader_.get(note.id) || !reader_.get(note.sourceStart) || !reader_.get(note.sourceEnd) ||
            !reader_.get(note.start) || !reader_.get(note.length) || !reader_.get(note.pitch) ||
            !reader_.get(note.pitchOffset) || !reader_.get(note.driftScale) ||
            !reader_.get(note.formantShift) || !reader_.get(note.gainDb) || !reader_.get(muted) ||
            !reader_.get(pitched) || !reader_.get(note.pitchConfidence) || muted > 1 || pitched > 1) {
            return fail(msg::kNotesTruncated);
        }
        note.muted = muted == 1;
        note.pitched = pitched == 1;
        if (!project::validNoteFields(note, audioFrames, channels) || !ids.insert(note.id).second) {
            return fail(msg::kInvalidNote);
        }
        for (SharedCurve* curve : {&note.pitchCurve, &note.levelCurve}) {
            const CurveRead read = getFloats(*curve);
            if (read == CurveRead::OverBudget) {
                return failBudget();
            }
            if (read == CurveRead::Invalid) {
                return fail(msg::kCurveTruncated);
            }
        }
        if (!project::curveFitsSpan(note.pitchCurve->size(), note, hop) ||
            !project::curveFitsSpan(note.levelCurve->size(), note, hop) ||
            !project::validCurveValues(note.pitchCurve.get(), project::kMinPitchCents,
                                       project::kMaxPitchCents, keepGoing_) ||
            !project::validCurveValues(note.levelCurve.get(), 0.0f, project::kMaxLevel, keepGoing_)) {
            return fail(msg::kCurveSpan);
        }
        return true;
    }

    bool parseNotes(DeserializedDocument& out) {
        Document& document = out.document;
        std::uint32_t count = 0;
        if (!reader_.get(count) || count > project::kMaxNotes) {
            return fail(msg::kTooManyNotes);
        }
        if (!reader_.has(std::uint64_t{count} * project::kNoteMinimumBytes)) {
            return fail(msg::kNotesTruncated);
        }
        if (!budget_.addNoteModelMemory(count)) {
            return failBudget();
        }
        poll();
        document.notes.resize(count);
        std::unordered_set<std::uint32_t> ids;
        ids.reserve(count);
        std::uint32_t largestId = 0;
        for (std::size_t n = 0; n < count; ++n) {
            if (n % project::kNotesPerPoll == 0) {
                poll();
            }
            if (!parseNote(document.notes[n], document.audio->frames, document.audio->channels,
                           document.track.hop, ids)) {
                return false;
            }
            largestId = std::max(largestId, document.notes[n].id);
        }
        if (!reader_.get(document.nextNoteId) || document.nextNoteId == 0 ||
            (count > 0 && document.nextNoteId <= largestId)) {
            return fail(msg::kNoteIds);
        }
        return true;
    }

    bool parseSettings(DeserializedDocument& out) {
        if (version_ == 1) {
            return true;
        }
        std::uint32_t keyRoot = 0;
        std::uint32_t scaleKind = 0;
        double a4Hz = 0.0;
        double tempoBpm = 0.0;
        std::uint32_t algorithm = 0;
        if (!reader_.get(keyRoot) || !reader_.get(scaleKind) || !reader_.get(a4Hz) ||
            !reader_.get(tempoBpm) || (version_ >= 3 && !reader_.get(algorithm))) {
            return fail(msg::kSettingsTruncated);
        }
        if (!project::validSettings(keyRoot, scaleKind, a4Hz, tempoBpm, algorithm)) {
            return fail(msg::kSettingsInvalid);
        }
        out.meta.keyRoot = static_cast<std::int32_t>(keyRoot);
        out.meta.scaleKind = static_cast<std::int32_t>(scaleKind);
        out.meta.a4Hz = a4Hz;
        out.meta.tempoBpm = tempoBpm;
        out.meta.algorithm = static_cast<std::int32_t>(algorithm);
        return true;
    }

    bool parseEnd() {
        if (reader_.remaining() != 0) {
            code = DeserializeError::TrailingData;
            return fail(msg::kTrailingData);
        }
        return true;
    }

    Reader reader_;
    std::uint32_t version_;
    const std::function<bool()>& keepGoing_;
    project::ProjectMemoryBudget& budget_;
    std::uint64_t totalCurveValues_ = 0;
};

std::uint32_t littleEndianU32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

std::uint64_t littleEndianU64(const std::uint8_t* bytes) {
    return std::uint64_t{littleEndianU32(bytes)} | std::uint64_t{littleEndianU32(bytes + 4)} << 32;
}

DeserializeOutcome decode(const std::uint8_t* data, std::size_t size, const std::function<bool()>& keepGoing,
                          std::uint64_t limit) {
    const std::uint32_t version = littleEndianU32(data + 4);
    const std::uint8_t* payload = data + project::kLegacyHeaderBytes;
    std::size_t payloadBytes = size - project::kLegacyHeaderBytes;
    if (version == project::kWrittenVersion) {
        if (size < project::kHeaderBytes) {
            return failure(DeserializeError::Truncated, "The project header is truncated");
        }
        const std::uint64_t declared = littleEndianU64(data + project::kLengthOffset);
        if (declared > project::kStateLimitBytes) {
            return failure(DeserializeError::OverLimit, "The project payload exceeds the supported limit");
        }
        if (declared > size - project::kHeaderBytes) {
            return failure(DeserializeError::Truncated, "The project payload is truncated");
        }
        if (declared < size - project::kHeaderBytes) {
            return failure(DeserializeError::TrailingData, msg::kTrailingData);
        }
        payload = data + project::kHeaderBytes;
        payloadBytes = static_cast<std::size_t>(declared);
        const project::Digest digest =
            project::digestPayload(payload, payloadBytes, keepGoing, kLoadingCancelled);
        if (!std::equal(digest.begin(), digest.end(), data + project::kDigestOffset)) {
            return failure(DeserializeError::Damaged, "The project is damaged or incomplete");
        }
    }

    DeserializedDocument decoded;
    project::ProjectMemoryBudget budget(limit);
    if (!budget.add(std::uint64_t{size} + project::kFixedFileBytes)) {
        return failure(DeserializeError::OverLimit, kBudgetExceeded);
    }
    PayloadParser parser(payload, payloadBytes, version, keepGoing, budget);
    if (!parser.parse(decoded)) {
        return failure(parser.code, parser.message);
    }

    const project::ModelCheck check =
        project::validateDocumentModel(decoded.document, decoded.meta, {limit, 1, 0}, keepGoing);
    if (!check.valid) {
        DeserializeOutcome outcome;
        outcome.error = check.overLimit ? DeserializeError::OverLimit : DeserializeError::InvalidContent;
        outcome.message = check.message;
        return outcome;
    }
    DeserializeOutcome outcome;
    outcome.document = std::move(decoded);
    return outcome;
}

} // namespace

DeserializeOutcome deserializeDocumentChecked(const std::uint8_t* data, std::size_t size,
                                              const std::function<bool()>& keepGoing,
                                              std::size_t limitBytes) {
    try {
        if (keepGoing && !keepGoing()) {
            return failure(DeserializeError::Cancelled, kLoadingCancelled);
        }
        if (data == nullptr || size == 0) {
            return failure(DeserializeError::Empty, "The project is empty");
        }
        const std::uint64_t limit = std::min<std::uint64_t>(limitBytes, project::kWorkingSetLimitBytes);
        if (size > project::kStateLimitBytes) {
            return failure(DeserializeError::OverLimit, msg::kStateLimit);
        }
        if (size > limit) {
            return failure(DeserializeError::OverLimit,
                           "The project file exceeds the project working-set limit");
        }
        if (size < project::kLegacyHeaderBytes) {
            return failure(DeserializeError::Truncated, "The project header is truncated");
        }
        if (!std::equal(project::kMagic.begin(), project::kMagic.end(), data)) {
            return failure(DeserializeError::WrongMagic, "This is not a Corvalinth project");
        }
        const std::uint32_t version = littleEndianU32(data + 4);
        if (version < project::kOldestVersion || version > project::kWrittenVersion) {
            return failure(DeserializeError::UnsupportedVersion,
                           "This project was created by an unsupported version");
        }
        return decode(data, size, keepGoing, limit);
    } catch (const std::bad_alloc&) {
        return failure(DeserializeError::OutOfMemory, "There is not enough memory to open this project");
    } catch (const std::length_error&) {
        return failure(DeserializeError::OverLimit, "The project exceeds the supported memory limit");
    } catch (const OperationCancelled&) {
        return failure(DeserializeError::Cancelled, kLoadingCancelled);
    }
}

} // namespace np
