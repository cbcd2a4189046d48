// The live audition on the main thread: while the user drags a note's pitch, a short excerpt of the
// note is frozen once and a steady tone of it is synthesised at every new pitch and formant setting,
// for the audition voice to loop. A tone of an older drag step, note or session never sounds.

#include "plugin/Corvalinth.h"
#include "plugin/audition_excerpt.h"

#include <algorithm>
#include <cmath>

namespace {

// The source frames [from, to) mixed to mono, as the average of the channels.
std::shared_ptr<const std::vector<float>> monoExcerpt(const np::AudioBuffer& audio, std::int64_t from,
                                                      std::int64_t to) {
    auto excerpt = std::make_shared<std::vector<float>>();
    from = std::clamp<std::int64_t>(from, 0, audio.frames);
    to = std::clamp<std::int64_t>(to, from, audio.frames);
    if (audio.channels < 1)
        return excerpt;
    excerpt->resize(static_cast<std::size_t>(to - from));
    for (int c = 0; c < audio.channels; ++c) {
        const std::span<const float> channel = audio.channel(c);
        for (std::int64_t i = from; i < to; ++i)
            (*excerpt)[static_cast<std::size_t>(i - from)] += channel[static_cast<std::size_t>(i)];
    }
    const float scale = 1.0f / static_cast<float>(audio.channels);
    for (float& x : *excerpt)
        x *= scale;
    return excerpt;
}

} // namespace

void Corvalinth::StartLiveAudition(std::uint32_t noteId) {
    const np::Document& doc = session_.document();
    const np::Note* note = noteId != 0 && doc.audio != nullptr ? doc.findNote(noteId) : nullptr;
    if (note == nullptr)
        return;
    auditionedNote_ = noteId;
    const auto [from, to] = cv::auditionExcerptRange(doc, *note);
    auditionWorker_.requestFreeze(monoExcerpt(*doc.audio, from, to), doc.sampleRate, noteId,
                                  sessionGeneration_.load());
    UpdateLiveAudition(noteId);
}

void Corvalinth::UpdateLiveAudition(std::uint32_t noteId) {
    if (noteId == 0 || noteId != auditionedNote_)
        return;
    const np::Note* note = session_.document().findNote(noteId);
    if (session_.document().audio == nullptr || note == nullptr)
        return;
    const double f0Hz = 440.0 * std::exp2((note->pitch + note->pitchOffset - 69.0) / 12.0);
    const double engineRate = EngineSampleRate();
    auditionWorker_.requestSynth(noteId, f0Hz, static_cast<std::int64_t>(2.5 * engineRate), engineRate,
                                 ++auditionSequence_, std::exp2(note->formantShift / 12.0),
                                 sessionGeneration_.load());
}

void Corvalinth::StopLiveAudition() {
    auditionedNote_ = 0;
    ++auditionSequence_; // late results of the stopped audition are dropped
    voice_.clear();
}

void Corvalinth::PollAuditionFlow() {
    std::optional<np::NoteAuditionWorker::Result> result = auditionWorker_.takeResult();
    if (!result || !result->audio)
        return;
    const cv::AuditionKey now{auditionedNote_, auditionSequence_, sessionGeneration_.load()};
    if (cv::auditionResultCurrent({result->noteId, result->serial, result->tag}, now))
        voice_.setSource(std::move(result->audio));
}
