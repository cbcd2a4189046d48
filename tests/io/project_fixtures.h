#pragma once

#include "engine/model/document.h"

#include <algorithm>
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
    doc.track.hop = 256;
    doc.track.frame = 2048;
    const std::int64_t trackFrames = frames / 256 + 1;
    for (std::int64_t i = 0; i < trackFrames; ++i) {
        np::PitchFrame frame;
        frame.voiced = i % 3 != 0;
        frame.hz = frame.voiced ? 220.0 + 0.1 * static_cast<double>(i) : 0.0;
        frame.confidence = frame.voiced ? 0.9 - 0.001 * static_cast<double>(i % 100) : 0.0;
        frame.flags = i % 5 == 0 ? np::PitchFrame::kSibilant : 0;
        doc.track.frames.push_back(frame);
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
        const std::size_t hops = static_cast<std::size_t>(span / 256);
        std::vector<float> pitchCurve(hops);
        std::vector<float> levelCurve(hops);
        for (std::size_t h = 0; h < hops; ++h) {
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
    np::SessionMeta meta;
    meta.keyRoot = 5;
    meta.scaleKind = 2;
    meta.a4Hz = 442.0;
    meta.tempoBpm = 97.5;
    meta.algorithm = 1;
    return meta;
}

class LayoutEncoder {
public:
    template <typename T>
    void put(T value) {
        std::uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        if constexpr (std::endian::native == std::endian::big) {
            std::reverse(bytes, bytes + sizeof(T));
        }
        bytes_.insert(bytes_.end(), bytes, bytes + sizeof(T));
    }
    void putCurve(const np::SharedCurve& curve) {
        put(static_cast<std::uint32_t>(curve ? curve->size() : 0));
        if (curve) {
            for (float v : *curve) {
                put(v);
            }
        }
    }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// The payload of the given version, field by field, without any check.
inline std::vector<std::uint8_t> encodePayload(const np::Document& doc, std::int64_t anchor,
                                               const np::SessionMeta& meta, int version) {
    LayoutEncoder e;
    e.put(doc.sampleRate);
    e.put(anchor);
    e.put(static_cast<std::int32_t>(doc.audio->channels));
    e.put(static_cast<std::int64_t>(doc.audio->frames));
    for (float s : doc.audio->samples) {
        e.put(s);
    }
    e.put(doc.track.sampleRate);
    e.put(static_cast<std::int32_t>(doc.track.hop));
    e.put(static_cast<std::int32_t>(doc.track.frame));
    e.put(static_cast<std::uint64_t>(doc.track.frames.size()));
    for (const np::PitchFrame& f : doc.track.frames) {
        e.put(static_cast<float>(f.hz));
        e.put(static_cast<float>(f.confidence));
        e.put(static_cast<std::uint8_t>(f.voiced));
        if (version >= 2) {
            e.put(f.flags);
        }
    }
    e.put(static_cast<std::uint32_t>(doc.notes.size()));
    for (const np::Note& n : doc.notes) {
        e.put(n.id);
        e.put(n.sourceStart);
        e.put(n.sourceEnd);
        e.put(n.start);
        e.put(n.length);
        e.put(n.pitch);
        e.put(n.pitchOffset);
        e.put(n.driftScale);
        e.put(n.formantShift);
        e.put(n.gainDb);
        e.put(static_cast<std::uint8_t>(n.muted));
        e.put(static_cast<std::uint8_t>(n.pitched));
        e.put(n.pitchConfidence);
        e.putCurve(n.pitchCurve);
        e.putCurve(n.levelCurve);
    }
    e.put(doc.nextNoteId);
    if (version >= 2) {
        e.put(static_cast<std::uint32_t>(meta.keyRoot));
        e.put(static_cast<std::uint32_t>(meta.scaleKind));
        e.put(meta.a4Hz);
        e.put(meta.tempoBpm);
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
    for (char c : {'L', 'V', 'R', 'C'}) {
        e.put(static_cast<std::uint8_t>(c));
    }
    e.put(version);
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
