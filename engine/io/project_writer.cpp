#include "engine/io/project_writer.h"

#include "engine/audio/cancellation.h"
#include "engine/io/project_format.h"
#include "engine/io/project_model_check.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace np {

namespace {

constexpr const char* kSavingCancelled = "Project saving was cancelled";

// Appends little-endian values to a vector whose capacity was reserved at the final size.
class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}

    template <typename T>
    void put(T value) {
        static_assert(sizeof(T) == 1 || sizeof(T) == 4 || sizeof(T) == 8);
        std::uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        if constexpr (std::endian::native == std::endian::big) {
            std::reverse(bytes, bytes + sizeof(T));
        }
        out_.insert(out_.end(), bytes, bytes + sizeof(T));
    }

    void putFloatArray(const float* values, std::size_t count, const std::function<bool()>& keepGoing) {
        for (std::size_t done = 0; done < count;) {
            throwIfCancelled(keepGoing, kSavingCancelled);
            const std::size_t piece = std::min(count - done, project::kFloatsPerPoll);
            if constexpr (std::endian::native == std::endian::little) {
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(values + done);
                out_.insert(out_.end(), bytes, bytes + piece * sizeof(float));
            } else {
                for (std::size_t i = 0; i < piece; ++i) {
                    put(values[done + i]);
                }
            }
            done += piece;
        }
    }

private:
    std::vector<std::uint8_t>& out_;
};

void putCurve(Writer& writer, const SharedCurve& curve, const std::function<bool()>& keepGoing) {
    const std::size_t length = curve ? curve->size() : 0;
    writer.put(static_cast<std::uint32_t>(length));
    if (length > 0) {
        writer.putFloatArray(curve->data(), length, keepGoing);
    }
}

void putNote(Writer& writer, const Note& note, const std::function<bool()>& keepGoing) {
    writer.put(note.id);
    writer.put(note.sourceStart);
    writer.put(note.sourceEnd);
    writer.put(note.start);
    writer.put(note.length);
    writer.put(note.pitch);
    writer.put(note.pitchOffset);
    writer.put(note.driftScale);
    writer.put(note.formantShift);
    writer.put(note.gainDb);
    writer.put(static_cast<std::uint8_t>(note.muted ? 1 : 0));
    writer.put(static_cast<std::uint8_t>(note.pitched ? 1 : 0));
    writer.put(note.pitchConfidence);
    putCurve(writer, note.pitchCurve, keepGoing);
    putCurve(writer, note.levelCurve, keepGoing);
}

void putPayload(Writer& writer, const Document& document, std::int64_t anchorFrame,
                const SessionMeta& settings, const std::function<bool()>& keepGoing) {
    const AudioBuffer& audio = *document.audio;
    writer.put(document.sampleRate);
    writer.put(anchorFrame);
    writer.put(static_cast<std::int32_t>(audio.channels));
    writer.put(static_cast<std::int64_t>(audio.frames));
    for (int c = 0; c < audio.channels; ++c) {
        writer.putFloatArray(audio.channel(c).data(), static_cast<std::size_t>(audio.frames), keepGoing);
    }

    const PitchTrack& track = document.track;
    writer.put(track.sampleRate);
    writer.put(static_cast<std::int32_t>(track.hop));
    writer.put(static_cast<std::int32_t>(track.frame));
    writer.put(static_cast<std::uint64_t>(track.frames.size()));
    for (std::size_t i = 0; i < track.frames.size(); ++i) {
        if (i % project::kFramesPerPoll == 0) {
            throwIfCancelled(keepGoing, kSavingCancelled);
        }
        const PitchFrame& frame = track.frames[i];
        writer.put(static_cast<float>(frame.hz));
        writer.put(static_cast<float>(frame.confidence));
        writer.put(static_cast<std::uint8_t>(frame.voiced ? 1 : 0));
        writer.put(frame.flags);
    }

    writer.put(static_cast<std::uint32_t>(document.notes.size()));
    for (std::size_t n = 0; n < document.notes.size(); ++n) {
        if (n % project::kNotesPerPoll == 0) {
            throwIfCancelled(keepGoing, kSavingCancelled);
        }
        putNote(writer, document.notes[n], keepGoing);
    }
    writer.put(document.nextNoteId);

    writer.put(static_cast<std::uint32_t>(settings.keyRoot));
    writer.put(static_cast<std::uint32_t>(settings.scaleKind));
    writer.put(settings.a4Hz);
    writer.put(settings.tempoBpm);
    writer.put(static_cast<std::uint32_t>(settings.algorithm));
}

void putHeader(std::vector<std::uint8_t>& out, const std::function<bool()>& keepGoing) {
    const std::uint64_t payloadBytes = out.size() - project::kHeaderBytes;
    std::vector<std::uint8_t> header;
    header.reserve(project::kDigestOffset);
    Writer writer(header);
    for (const std::uint8_t letter : project::kMagic) {
        writer.put(letter);
    }
    writer.put(project::kWrittenVersion);
    writer.put(payloadBytes);
    std::copy(header.begin(), header.end(), out.begin());
    const project::Digest digest =
        project::digestPayload(out.data() + project::kHeaderBytes, payloadBytes, keepGoing, kSavingCancelled);
    std::copy(digest.begin(), digest.end(), out.begin() + project::kDigestOffset);
}

} // namespace

std::vector<std::uint8_t> serializeDocumentWithLimit(const Document& document, std::int64_t anchorFrame,
                                                     const SessionMeta& settings,
                                                     const std::function<bool()>& keepGoing,
                                                     std::uint64_t limitBytes, int copies,
                                                     std::uint64_t reserveBytes) {
    const project::ModelCheck check =
        project::validateDocumentModel(document, settings, {limitBytes, copies, reserveBytes}, keepGoing);
    if (!check.valid) {
        if (check.overLimit) {
            throw std::length_error(check.message);
        }
        throw std::invalid_argument(check.message);
    }
    throwIfCancelled(keepGoing, kSavingCancelled);

    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(check.fileBytes));
    out.resize(project::kHeaderBytes, 0);
    throwIfCancelled(keepGoing, kSavingCancelled);
    Writer writer(out);
    putPayload(writer, document, anchorFrame, settings, keepGoing);
    if (out.size() > project::kStateLimitBytes) {
        throw std::length_error("Project exceeds the 640 MiB project-state limit");
    }
    putHeader(out, keepGoing);
    return out;
}

std::vector<std::uint8_t> serializeDocumentForDawState(const Document& document, std::int64_t anchorFrame,
                                                       const SessionMeta& settings,
                                                       const std::function<bool()>& keepGoing) {
    return serializeDocumentWithLimit(document, anchorFrame, settings, keepGoing,
                                      project::kWorkingSetLimitBytes, 2, project::kHostStateReserveBytes);
}

std::vector<std::uint8_t> serializeDocument(const Document& document, std::int64_t anchorFrame,
                                            const SessionMeta& settings,
                                            const std::function<bool()>& keepGoing) {
    return serializeDocumentWithLimit(document, anchorFrame, settings, keepGoing,
                                      project::kWorkingSetLimitBytes, 1, 0);
}

} // namespace np
