#pragma once

#include "engine/model/document.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sodium.h>
#include <vector>

// A small valid session and an encoder of the project layout that is written independently of the
// engine's writer, so that tests can compare both and craft payloads the writer would refuse.
namespace cvtest::project {

inline np::Document makeSession(int channels, std::int64_t frames, int noteCount) {
    np::Document doc;
    doc.sampleRate = 44100.0;
    auto audio = std::make_shared<np::AudioBuffer>();
    audio->resize(channels, frames);
    for (std::size_t i = 0; i < audio->samples.size(); ++i) {
        audio->samples[i] = 0.5f * std::sin(0.01f * static_cast<float>(i));
    }
    doc.audio = audio;
    doc.track.sampleRate = 44100.0;
    for (std::int64_t i = 0; i <= frames / 256; ++i) {
        const bool voiced = i % 3 != 0;
        const double hz = voiced ? 220.0 + 0.1 * static_cast<double>(i) : 0.0;
        const double confidence = voiced ? 0.9 - 0.001 * static_cast<double>(i % 100) : 0.0;
        doc.track.frames.push_back({hz, confidence, voiced, std::uint8_t{i % 5 == 0}});
    }
    const std::int64_t span = frames / std::max(noteCount, 1);
    for (int n = 0; n < noteCount; ++n) {
        np::Note note;
        note.id = static_cast<std::uint32_t>(2 * n + 1);
        note.sourceStart = n * span;
        note.sourceEnd = (n + 1) * span;
        note.start = note.sourceStart + 10;
        note.length = span + n;
        note.pitch = 57.25 + n % 60;
        note.pitchOffset = -1.5 * (n % 16);
        note.driftScale = 0.25 * (n % 8);
        note.formantShift = n % 2 == 0 ? 3.0 : -0.0;
        note.gainDb = -6.0 + n % 30;
        note.muted = n % 3 == 1;
        note.pitched = n % 4 != 3;
        note.pitchConfidence = 0.75f;
        std::vector<float> pitchCurve(static_cast<std::size_t>(span / 256));
        std::vector<float> levelCurve(pitchCurve.size());
        for (std::size_t h = 0; h < pitchCurve.size(); ++h) {
            pitchCurve[h] = 12.5f * std::sin(static_cast<float>(h));
            levelCurve[h] = 0.01f * static_cast<float>(h % 50);
        }
        note.pitchCurve = std::make_shared<const std::vector<float>>(std::move(pitchCurve));
        note.levelCurve = std::make_shared<const std::vector<float>>(std::move(levelCurve));
        doc.notes.push_back(note);
    }
    doc.nextNoteId = static_cast<std::uint32_t>(2 * noteCount + 5);
    return doc;
}

inline np::SessionMeta makeSettings() {
    return {5, 2, 442.0, 97.5, 1}; // key root, scale kind, A4, tempo, algorithm
}

// Appends each value little-endian, in its own width.
class LayoutEncoder {
public:
    template <typename... T>
    void put(T... values) {
        (putOne(values), ...);
    }
    void putCurve(const np::SharedCurve& curve) {
        put(static_cast<std::uint32_t>(curve ? curve->size() : 0));
        for (float v : curve ? *curve : std::vector<float>{}) {
            put(v);
        }
    }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    template <typename T>
    void putOne(T value) {
        std::uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        if constexpr (std::endian::native == std::endian::big) {
            std::reverse(bytes, bytes + sizeof(T));
        }
        bytes_.insert(bytes_.end(), bytes, bytes + sizeof(T));
    }
    std::vector<std::uint8_t> bytes_;
};

// The payload of the given version, field by field, without any check.
inline std::vector<std::uint8_t> encodePayload(const np::Document& doc, std::int64_t anchor,
                                               const np::SessionMeta& meta, int version) {
    LayoutEncoder e;
    e.put(doc.sampleRate, anchor, static_cast<std::int32_t>(doc.audio->channels),
          static_cast<std::int64_t>(doc.audio->frames));
    for (float s : doc.audio->samples) {
        e.put(s);
    }
    e.put(doc.track.sampleRate, static_cast<std::int32_t>(doc.track.hop),
          static_cast<std::int32_t>(doc.track.frame), static_cast<std::uint64_t>(doc.track.frames.size()));
    for (const np::PitchFrame& f : doc.track.frames) {
        e.put(static_cast<float>(f.hz), static_cast<float>(f.confidence),
              static_cast<std::uint8_t>(f.voiced));
        if (version >= 2) {
            e.put(f.flags);
        }
    }
    e.put(static_cast<std::uint32_t>(doc.notes.size()));
    for (const np::Note& n : doc.notes) {
        e.put(n.id, n.sourceStart, n.sourceEnd, n.start, n.length, n.pitch, n.pitchOffset, n.driftScale,
              n.formantShift, n.gainDb, static_cast<std::uint8_t>(n.muted),
              static_cast<std::uint8_t>(n.pitched), n.pitchConfidence);
        e.putCurve(n.pitchCurve);
        e.putCurve(n.levelCurve);
    }
    e.put(doc.nextNoteId);
    if (version >= 2) {
        e.put(static_cast<std::uint32_t>(meta.keyRoot), static_cast<std::uint32_t>(meta.scaleKind), meta.a4Hz,
              meta.tempoBpm);
    }
    if (version >= 3) {
        e.put(static_cast<std::uint32_t>(meta.algorithm));
    }
    return std::move(e.bytes());
}

inline std::array<std::uint8_t, 32> blake2b256(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, 32> digest{};
    crypto_generichash(digest.data(), digest.size(), data, size, nullptr, 0);
    return digest;
}

// Magic, version and, for version 3, the length and digest, in front of the payload.
inline std::vector<std::uint8_t> wrapPayload(const std::vector<std::uint8_t>& payload,
                                             std::uint32_t version) {
    LayoutEncoder e;
    e.put(std::uint8_t{'L'}, std::uint8_t{'V'}, std::uint8_t{'R'}, std::uint8_t{'C'}, version);
    if (version == 3) {
        e.put(static_cast<std::uint64_t>(payload.size()));
        const auto digest = blake2b256(payload.data(), payload.size());
        e.bytes().insert(e.bytes().end(), digest.begin(), digest.end());
    }
    e.bytes().insert(e.bytes().end(), payload.begin(), payload.end());
    return std::move(e.bytes());
}

inline std::vector<std::uint8_t> encodeFile(const np::Document& doc, std::int64_t anchor,
                                            const np::SessionMeta& meta, int version) {
    return wrapPayload(encodePayload(doc, anchor, meta, version), static_cast<std::uint32_t>(version));
}

} // namespace cvtest::project
