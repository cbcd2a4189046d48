#include "plugin/dawstate_chunk.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace cv::dawstate {
namespace {

struct Range {
    double low;
    double high;
    bool whole; // an enumeration index
};

// In chunk order; the same ranges as the parameters themselves.
constexpr std::array<Range, 6> kRanges = {{
    {0.0, 100.0, false},  // Volume, %
    {0.0, 11.0, true},    // Key
    {0.0, 2.0, true},     // Scale
    {0.0, 1.0, true},     // Algorithm
    {20.0, 300.0, false}, // Tempo, bpm
    {0.0, 7.0, true},     // A4 index
}};

std::uint64_t readU64(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        value |= std::uint64_t{bytes[at + i]} << (8 * i);
    }
    return value;
}

std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::uint32_t{bytes[at + i]} << (8 * i);
    }
    return value;
}

std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

template <std::size_t N>
void writeLittleEndian(std::array<std::uint8_t, N>& out, std::size_t at, std::uint64_t value,
                       std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Reads `count` doubles from `at` into values[0..count); false when one breaks its rule.
bool readValues(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t count,
                Values& values) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        values[i] = std::bit_cast<double>(readU64(bytes, at + 8 * i));
        if (!valueFollowsRule(i, values[i])) {
            return false;
        }
    }
    return true;
}

bool isRefusalOnValuesOrSize(DecodeStatus status) noexcept {
    return status == DecodeStatus::ParameterOutOfRange || status == DecodeStatus::LegacyTooShort;
}

} // namespace

bool valueFollowsRule(std::size_t index, double value) noexcept {
    if (index >= kRanges.size() || !std::isfinite(value)) {
        return false;
    }
    const Range& range = kRanges[index];
    if (range.whole && value != std::trunc(value)) {
        return false;
    }
    return value >= range.low && value <= range.high;
}

std::optional<std::array<std::uint8_t, kHeaderBytes>> encodeCurrentHeader(const Values& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!valueFollowsRule(i, values[i])) {
            return std::nullopt;
        }
    }
    std::array<std::uint8_t, kHeaderBytes> header{};
    std::copy(kMagic.begin(), kMagic.end(), header.begin());
    writeLittleEndian(header, 8, kVersion, 2);
    writeLittleEndian(header, 10, kHeaderBytes, 2);
    writeLittleEndian(header, 12, kParameterCount, 2);
    // Bytes 14 and 15 stay zero: reserved.
    for (std::size_t i = 0; i < values.size(); ++i) {
        writeLittleEndian(header, kValuesOffset + 8 * i, std::bit_cast<std::uint64_t>(values[i]), 8);
    }
    return header;
}

namespace detail {

DecodeResult finishCandidate(std::span<const std::uint8_t> bytes, const DecodedState& partial,
                             std::size_t offset, std::size_t maxPayload, TrailerPolicy policy) noexcept {
    DecodeResult result{DecodeStatus::BadPayload, partial};
    DecodedState& state = result.state;
    if (offset >= bytes.size() || bytes[offset] > 1) {
        return result;
    }
    state.hasDocument = bytes[offset] == 1;
    if (state.hasDocument) {
        const std::size_t lengthAt = offset + 1;
        if (bytes.size() - lengthAt < kLengthBytes) {
            return result;
        }
        const std::uint64_t length = readU64(bytes, lengthAt);
        const std::size_t payloadAt = lengthAt + kLengthBytes;
        if (length == 0) {
            return result;
        }
        if (length > maxPayload) {
            result.status = DecodeStatus::PayloadTooLarge;
            return result;
        }
        if (length > bytes.size() - payloadAt) {
            return result;
        }
        state.payloadOffset = payloadAt;
        state.payloadLength = length;
        state.end = payloadAt + length;
    } else {
        state.payloadOffset = offset + 1;
        state.payloadLength = 0;
        state.end = offset + 1;
    }
    const std::size_t remaining = bytes.size() - state.end;
    const bool trailerAllowed = policy == TrailerPolicy::AllowFlagTrailer && remaining == 4 &&
                                readU32(bytes, static_cast<std::size_t>(state.end)) <= 1;
    result.status = remaining == 0 || trailerAllowed ? DecodeStatus::Ok : DecodeStatus::TrailingBytes;
    return result;
}

DecodeResult decodeLegacyCandidate(std::span<const std::uint8_t> bytes, std::size_t count,
                                   std::size_t maxPayload, TrailerPolicy policy) noexcept {
    const std::size_t valuesEnd = count * 8;
    if (bytes.size() <= valuesEnd) {
        return {DecodeStatus::LegacyTooShort, {}};
    }
    DecodedState partial;
    if (!readValues(bytes, 0, count, partial.values)) {
        return {DecodeStatus::ParameterOutOfRange, {}};
    }
    if (count == 5) {
        partial.values[kValueA4] = kLegacyA4Index;
    }
    return finishCandidate(bytes, partial, valuesEnd, maxPayload, policy);
}

} // namespace detail

DecodeResult decode(std::span<const std::uint8_t> bytes, std::size_t maxPayload,
                    TrailerPolicy policy) noexcept {
    if (bytes.empty()) {
        return {DecodeStatus::Empty, {}};
    }
    if (bytes.size() >= kMagic.size() && std::equal(kMagic.begin(), kMagic.end(), bytes.begin())) {
        if (bytes.size() < kHeaderBytes) {
            return {DecodeStatus::TooShort, {}};
        }
        if (readU16(bytes, 8) != kVersion) {
            return {DecodeStatus::UnsupportedVersion, {}};
        }
        if (readU16(bytes, 10) != kHeaderBytes || readU16(bytes, 12) != kParameterCount ||
            readU16(bytes, 14) != 0) {
            return {DecodeStatus::BadHeader, {}};
        }
        DecodedState partial;
        if (!readValues(bytes, kValuesOffset, partial.values.size(), partial.values)) {
            return {DecodeStatus::ParameterOutOfRange, {}};
        }
        return detail::finishCandidate(bytes, partial, kHeaderBytes, maxPayload, policy);
    }

    const DecodeResult six = detail::decodeLegacyCandidate(bytes, 6, maxPayload, policy);
    if (six.status == DecodeStatus::Ok) {
        return six;
    }
    const DecodeResult five = detail::decodeLegacyCandidate(bytes, 5, maxPayload, policy);
    if (five.status == DecodeStatus::Ok) {
        return five;
    }
    // A reading that got past its values tells more than one that failed on them.
    if (!isRefusalOnValuesOrSize(six.status)) {
        return {six.status, {}};
    }
    if (!isRefusalOnValuesOrSize(five.status)) {
        return {five.status, {}};
    }
    return {DecodeStatus::LegacyTooShort, {}};
}

} // namespace cv::dawstate
