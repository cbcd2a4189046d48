#pragma once

#include "engine/analysis/analysis_records.h"
#include "engine/audio/audio_buffer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

// The byte layout of a whole session (source audio, pitch track, notes with curves, next note id and
// session settings) and the constants its writer and reader share. All numbers are little-endian,
// without padding. Version 3 files carry a 48-byte header (magic, version, payload length, BLAKE2b-256
// digest of the payload); versions 1 and 2 carry only magic and version, and their payload runs to
// the end of the file.
namespace np::project {

// "LVRC" on disk: the little-endian u32 whose letters, most significant first, spell "CRVL".
inline constexpr std::array<std::uint8_t, 4> kMagic = {'L', 'V', 'R', 'C'};
inline constexpr std::uint32_t kWrittenVersion = 3;
inline constexpr std::uint32_t kOldestVersion = 1;

inline constexpr std::size_t kLegacyHeaderBytes = 8;
inline constexpr std::size_t kHeaderBytes = 48;
inline constexpr std::size_t kLengthOffset = 8;
inline constexpr std::size_t kDigestOffset = 16;
inline constexpr std::size_t kDigestBytes = 32;

inline constexpr std::size_t kAudioHeaderBytes = 28;
inline constexpr std::size_t kTrackHeaderBytes = 24;
inline constexpr std::size_t kFrameRecordBytes = 10;      // versions 2 and 3
inline constexpr std::size_t kLegacyFrameRecordBytes = 9; // version 1: no sibilant byte
inline constexpr std::size_t kNoteFixedBytes = 82;        // up to the pitch-curve length
inline constexpr std::size_t kNoteMinimumBytes = 90;      // both curve lengths, empty curves
inline constexpr std::size_t kSettingsBytesV2 = 24;
inline constexpr std::size_t kSettingsBytesV3 = 28;
// The 48-byte header plus the fixed payload bytes of version 3 (28 + 24 + 4 + 4 + 28).
inline constexpr std::uint64_t kFixedFileBytes = 136;

// Limits of the content.
inline constexpr std::uint64_t kStateLimitBytes = 671088640; // 640 MiB
inline constexpr double kMinSampleRate = 8000.0;
inline constexpr double kMaxSampleRate = 384000.0;
inline constexpr double kMaxSeconds = 1200.0;
inline constexpr std::int64_t kMaxSamples = AudioBuffer::kMaxSamples;
inline constexpr std::uint64_t kMaxTrackFrames = 4000000;
inline constexpr std::int64_t kMaxAnalysisFrame = 4194304;
inline constexpr double kMaxFrameHz = 30000.0;
inline constexpr std::uint32_t kMaxNotes = np::kMaxNotes;
inline constexpr std::uint64_t kMaxCurveValues = 134217728; // per curve and for the whole document
inline constexpr std::int64_t kCurveSlackHops = 64;
inline constexpr std::int64_t kTimelineBytes = 536870912; // a note ends within 512 MiB of float audio
inline constexpr float kMinPitchCents = -np::kMaxNoteCurveCents;
inline constexpr float kMaxPitchCents = np::kMaxNoteCurveCents;
inline constexpr float kMaxLevel = 1000.0f;

// Work between polls of the keep-going test.
inline constexpr std::size_t kFloatsPerPoll = 16384;
inline constexpr std::size_t kFramesPerPoll = 16384;
inline constexpr std::size_t kNotesPerPoll = 256;
inline constexpr std::size_t kDigestPieceBytes = 262144;

// Working-set plan of a save or load: the serialized bytes plus the resident model.
inline constexpr std::uint64_t kWorkingSetLimitBytes = 671088640;
inline constexpr std::uint64_t kHostStateReserveBytes = 4198496;

using Digest = std::array<std::uint8_t, kDigestBytes>;

// Unkeyed BLAKE2b with a 32-byte output over the payload, fed in pieces of at most 256 KiB with the
// keep-going test polled before each piece. Throws np::OperationCancelled with cancelMessage on a stop.
Digest digestPayload(const std::uint8_t* payload, std::size_t size, const std::function<bool()>& keepGoing,
                     const char* cancelMessage);

} // namespace np::project

namespace np {

// Throws np::OperationCancelled with message when keepGoing is set and returns false.
void throwIfCancelled(const std::function<bool()>& keepGoing, const char* message);

} // namespace np
