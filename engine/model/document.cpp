#include "engine/model/document.h"

#include "engine/model/resident_bytes.h"

#include <new>
#include <utility>

namespace np {

const Note* Document::findNote(std::uint32_t id) const noexcept {
    for (const Note& note : notes)
        if (note.id == id)
            return &note;
    return nullptr;
}

Note* Document::findNote(std::uint32_t id) noexcept {
    return const_cast<Note*>(std::as_const(*this).findNote(id));
}

Document makeDocument(std::shared_ptr<const AudioBuffer> audio, double sampleRate,
                      const AnalysisResult& result) {
    Document document;
    document.sampleRate = sampleRate;
    document.audio = std::move(audio);
    document.track = result.track;
    document.nextNoteId = 1;
    document.notes.reserve(result.notes.size());
    for (const NoteEvent& event : result.notes) {
        Note note;
        note.id = document.nextNoteId++;
        note.sourceStart = note.start = event.start;
        note.sourceEnd = event.end;
        note.length = event.end - event.start;
        note.pitch = event.pitch;
        note.pitchCurve = std::make_shared<const std::vector<float>>(event.pitchCurve);
        note.levelCurve = std::make_shared<const std::vector<float>>(event.levelCurve);
        note.pitchConfidence = event.pitchConfidence;
        note.pitched = event.pitched;
        document.notes.push_back(std::move(note));
    }
    return document;
}

namespace detail {

std::uint64_t CurveCounter::addCurve(const SharedCurve& curve) {
    if (!curve || !seen_.insert(curve.get()).second)
        return 0;
    return saturatingAdd(static_cast<std::uint64_t>(curve->capacity()) * sizeof(float), 152);
}

std::uint64_t CurveCounter::addNotes(const std::vector<Note>& notes) {
    std::uint64_t bytes = static_cast<std::uint64_t>(notes.capacity()) * sizeof(Note);
    if (!notes.empty())
        bytes = saturatingAdd(bytes, 64);
    for (const Note& note : notes) {
        bytes = saturatingAdd(bytes, addCurve(note.pitchCurve));
        bytes = saturatingAdd(bytes, addCurve(note.levelCurve));
    }
    return bytes;
}

std::uint64_t audioResidentBytes(const AudioBuffer* audio) noexcept {
    if (audio == nullptr)
        return 96;
    if (!AudioBuffer::fits(audio->channels, audio->frames))
        return kAllOnes;
    return static_cast<std::uint64_t>(audio->channels) * static_cast<std::uint64_t>(audio->frames) * 4 + 264;
}

std::uint64_t trackResidentBytes(const PitchTrack& track) noexcept {
    std::uint64_t bytes = static_cast<std::uint64_t>(track.frames.capacity()) * sizeof(PitchFrame);
    return track.frames.empty() ? bytes : saturatingAdd(bytes, 64);
}

} // namespace detail

std::uint64_t estimateDocumentResidentBytes(const Document& document) {
    using namespace detail;
    try {
        const std::uint64_t audio = audioResidentBytes(document.audio.get());
        if (audio == kAllOnes)
            return kAllOnes;
        CurveCounter curves;
        std::uint64_t bytes = saturatingAdd(audio, trackResidentBytes(document.track));
        return saturatingAdd(bytes, curves.addNotes(document.notes));
    } catch (const std::bad_alloc&) {
        return kAllOnes;
    }
}

} // namespace np
