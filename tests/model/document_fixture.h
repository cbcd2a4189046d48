#pragma once

#include "engine/model/document.h"

#include <memory>
#include <vector>

namespace cvtest {

// A document of `count` notes, each 4800 samples long and 4800 apart, at 48 kHz over mono audio long
// enough for all of them. Each note's curves hold curveLength values.
inline np::Document makeTestDocument(int count, std::size_t curveLength = 16, int channels = 1) {
    np::AnalysisResult result;
    for (int i = 0; i < count; ++i) {
        np::NoteEvent event;
        event.start = static_cast<std::int64_t>(i) * 9600;
        event.end = event.start + 4800;
        event.pitch = 60.0 + (i % 12);
        event.pitchCurve.assign(curveLength, 1.5f);
        event.levelCurve.assign(curveLength, 0.25f);
        event.pitchConfidence = 0.9f;
        event.pitched = true;
        result.notes.push_back(std::move(event));
    }
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(channels, static_cast<std::int64_t>(count) * 9600 + 4800);
    return np::makeDocument(std::move(audio), 48000.0, result);
}

inline std::vector<std::uint32_t> allIds(const np::Document& document) {
    std::vector<std::uint32_t> ids;
    for (const auto& note : document.notes)
        ids.push_back(note.id);
    return ids;
}

} // namespace cvtest
