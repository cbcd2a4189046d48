#pragma once

#include "engine/model/edit_session.h"

#include <memory>
#include <tuple>
#include <vector>

namespace cvtest {

// A document of `count` notes, each 4800 samples long and 4800 apart, at 48 kHz over mono audio long
// enough for all of them; note i has pitch 60 + i % 12, and all but the fourth are pitched. Each note's
// curves hold curveLength values.
inline np::Document makeTestDocument(int count, std::size_t curveLength = 16, int channels = 1) {
    np::AnalysisResult result;
    for (int i = 0; i < count; ++i) {
        np::NoteEvent& event = result.notes.emplace_back();
        event.start = static_cast<std::int64_t>(i) * 9600;
        event.end = event.start + 4800;
        event.pitch = 60.0 + (i % 12);
        event.pitchCurve.assign(curveLength, 1.5f);
        event.levelCurve.assign(curveLength, 0.25f);
        event.pitchConfidence = 0.9f;
        event.pitched = i != 3;
    }
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(channels, static_cast<std::int64_t>(count) * 9600 + 4800);
    return np::makeDocument(std::move(audio), 48000.0, result);
}

// One note per (sourceStart, sourceEnd, pitch), without audio, at the given hop; each curve holds one
// value per hop, 0 cents and level 0.5.
inline np::Document makeSpanDocument(const std::vector<std::tuple<std::int64_t, std::int64_t, double>>& spans,
                                     std::uint32_t hop = 256) {
    np::AnalysisResult result;
    result.track.hop = hop;
    for (auto [start, end, pitch] : spans) {
        const auto hops = static_cast<std::size_t>((end - start) / hop);
        result.notes.push_back({.start = start,
                                .end = end,
                                .pitch = pitch,
                                .pitchCurve = std::vector<float>(hops, 0.0f),
                                .levelCurve = std::vector<float>(hops, 0.5f),
                                .pitched = true});
    }
    return np::makeDocument(nullptr, 48000.0, result);
}

inline np::EditSession sessionOf(np::Document document) {
    np::EditSession session;
    session.setDocument(std::move(document));
    return session;
}

inline const np::Note& noteOf(const np::EditSession& session, std::uint32_t id) {
    return *session.document().findNote(id);
}

} // namespace cvtest
