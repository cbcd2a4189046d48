#pragma once

// An independent reader of the Standard MIDI Files the exporter writes, for the tests that check them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace cvtest {

inline constexpr std::uint8_t kOn = 0x90;
inline constexpr std::uint8_t kOff = 0x80;

struct ParsedEvent {
    std::uint64_t tick = 0;
    std::uint8_t status = 0, note = 0, velocity = 0;
};

struct ParsedMidi {
    std::vector<std::uint64_t> tempos; // microseconds per quarter
    std::vector<ParsedEvent> notes;    // note-on and note-off in file order
};

// A reader written from the Standard MIDI File layout rather than from the exporter. It refuses anything
// but format 0 with one track of 480 ticks per quarter, a track length that disagrees with the file, a delta
// longer than four bytes or not in its shortest form, any event but tempo, end of track and channel-1 notes,
// and any byte after the end.
inline std::optional<ParsedMidi> readMidi(const std::vector<std::uint8_t>& b) {
    std::size_t pos = 0;
    const auto be = [&](std::size_t n, std::uint64_t& v) {
        if (b.size() - pos < n) {
            return false;
        }
        for (v = 0; n > 0; --n) {
            v = v << 8 | b[pos++];
        }
        return true;
    };
    const auto vlq = [&](std::uint64_t& v) {
        v = 0;
        for (int i = 0; i < 4 && pos < b.size() && !(i == 0 && b[pos] == 0x80); ++i) {
            v = v << 7 | (b[pos] & 0x7Fu);
            if ((b[pos++] & 0x80) == 0) {
                return true;
            }
        }
        return false;
    };
    ParsedMidi out;
    // The chunk ids spell "MThd" and "MTrk".
    std::uint64_t id = 0, length = 0, format = 0, tracks = 0, division = 0, trackId = 0, trackLength = 0;
    if (!be(4, id) || !be(4, length) || !be(2, format) || !be(2, tracks) || !be(2, division) ||
        !be(4, trackId) || !be(4, trackLength) || id != 0x4D546864 || length != 6 || format != 0 ||
        tracks != 1 || division != 480 || trackId != 0x4D54726B || pos + trackLength != b.size()) {
        return std::nullopt;
    }
    for (std::uint64_t tick = 0, delta = 0; vlq(delta) && pos + 3 <= b.size();) {
        tick += delta;
        const std::uint8_t status = b[pos];
        const std::uint8_t data1 = b[pos + 1];
        const std::uint8_t data2 = b[pos + 2];
        pos += 3;
        if (status == 0xFF && data1 == 0x2F && data2 == 0) {
            return pos == b.size() ? std::optional(out) : std::nullopt;
        }
        std::uint64_t tempo = 0;
        if (status == 0xFF && data1 == 0x51 && data2 == 3 && be(3, tempo)) {
            out.tempos.push_back(tempo);
        } else if ((status == kOn || status == kOff) && data1 < 0x80 && data2 < 0x80) {
            out.notes.push_back({tick, status, data1, data2});
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace cvtest
