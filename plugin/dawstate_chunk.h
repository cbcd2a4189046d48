#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The host-state chunk: the byte string in which the plug-in keeps its six parameter values and, when a
// capture exists, the whole session inside the host's project. Little-endian throughout.
//
// Current layout (version 1), written and read:
//   0  8  magic "CVSTATE\0"
//   8  2  version 1          10 2  header size 64
//   12 2  parameter count 6  14 2  reserved 0
//   16 48 six doubles: Volume, Key, Scale, Algorithm, Tempo, A4 index (see valueFollowsRule)
//   64 1  has-document flag, 0 or 1
//   65 8  payload length L (flag 1 only), 1 .. the caller's maximum
//   73 L  the session in the project format (engine/io/project_format.h)
// The chunk ends right after the payload, or right after the flag byte when the flag is 0.
//
// Legacy layouts, read only: no magic and no header; the values start at byte 0 under the same rules.
// The six-value layout has its flag at 48 (length at 49, payload at 57); the five-value layout lacks
// the A4 index (taken as 3, 440 Hz) and has its flag at 40 (length at 41, payload at 49).
//
// Everything here is a pure function of its arguments, safe on any thread.
namespace cv::dawstate {

inline constexpr std::array<std::uint8_t, 8> kMagic = {'C', 'V', 'S', 'T', 'A', 'T', 'E', 0};
inline constexpr std::uint16_t kVersion = 1;
inline constexpr std::size_t kHeaderBytes = 64;
inline constexpr std::uint16_t kParameterCount = 6;
inline constexpr std::size_t kValuesOffset = 16;
inline constexpr std::size_t kLengthBytes = 8;
// A whole chunk, as written and as accepted on restore; the same 640 MiB as the project state limit.
inline constexpr std::uint64_t kMaxChunkBytes = 671088640;
// The A4 index a five-value legacy chunk stands for: 440 Hz.
inline constexpr double kLegacyA4Index = 3.0;

// The six parameter values in chunk order: Volume (%), Key index, Scale index, Algorithm index,
// Tempo (bpm), A4 index. Enumerations are their index held in a double.
using Values = std::array<double, 6>;
enum ValueIndex : std::size_t {
    kValueVolume = 0,
    kValueKey = 1,
    kValueScale = 2,
    kValueAlgorithm = 3,
    kValueTempo = 4,
    kValueA4 = 5,
};

enum class DecodeStatus : std::uint8_t {
    Ok = 0,
    Empty = 1,               // no bytes at all
    TooShort = 2,            // the magic is present but the 64-byte header is not complete
    UnsupportedVersion = 3,  // version is not 1
    BadHeader = 4,           // header size not 64, parameter count not 6 or reserved not 0
    ParameterOutOfRange = 5, // a value breaks its rule
    BadPayload = 6,          // flag missing or above 1; length cut short or 0; payload cut short
    PayloadTooLarge = 7,     // payload length above the caller's maximum
    TrailingBytes = 8,       // bytes left after the end of the chunk
    LegacyTooShort = 9,      // no magic and no legacy layout fits
};

// What may follow the chunk. The host restore uses Strict.
enum class TrailerPolicy : std::uint8_t {
    Strict = 0,           // nothing
    AllowFlagTrailer = 1, // exactly four bytes holding a u32 of 0 or 1
};

// Where the parts of a valid chunk lie; meaningful only with DecodeStatus::Ok. Offsets count from the
// first byte given to decode.
struct DecodedState {
    Values values{};
    bool hasDocument = false;
    std::uint64_t payloadOffset = 0;
    std::uint64_t payloadLength = 0; // 0 without a document
    std::uint64_t end = 0;           // just past the payload, or just past the flag byte; an allowed
                                     // trailer lies beyond it
};

struct DecodeResult {
    DecodeStatus status = DecodeStatus::Empty;
    DecodedState state;
};

// The rule of the value at `index`: Volume finite within 0..100; Tempo finite within 20..300 (both with
// fractions); Key, Scale, Algorithm and A4 whole numbers within 0..11, 0..2, 0..1 and 0..7. A whole
// number equals its truncation; -0 counts as 0; NaN and the infinities break every rule, and so does an
// index above 5.
bool valueFollowsRule(std::size_t index, double value) noexcept;

// The 64-byte current header with the six values copied bit for bit; empty when a value breaks its
// rule, in which case the caller writes nothing.
std::optional<std::array<std::uint8_t, kHeaderBytes>> encodeCurrentHeader(const Values& values);

// Checks a chunk in place and tells where its payload lies; the payload (up to maxPayload bytes) is
// never copied here and is the caller's to read. A chunk with the magic must be the current layout;
// one without is tried as the six-value and then the five-value legacy layout.
DecodeResult decode(std::span<const std::uint8_t> bytes, std::size_t maxPayload,
                    TrailerPolicy policy) noexcept;

namespace detail {

// Checks and fills what follows the values (flag, length, payload, end rule) for a reading whose values
// were taken from `partial` and end at `offset` (64, 48 or 40).
DecodeResult finishCandidate(std::span<const std::uint8_t> bytes, const DecodedState& partial,
                             std::size_t offset, std::size_t maxPayload, TrailerPolicy policy) noexcept;

// Reads one header-less layout with `count` values (6 or 5) starting at byte 0.
DecodeResult decodeLegacyCandidate(std::span<const std::uint8_t> bytes, std::size_t count,
                                   std::size_t maxPayload, TrailerPolicy policy) noexcept;

} // namespace detail

} // namespace cv::dawstate
