#include "plugin/dawstate_chunk.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

using cv::dawstate::DecodeStatus;
using cv::dawstate::TrailerPolicy;
using cv::dawstate::Values;
using Bytes = std::vector<std::uint8_t>;

const Values kGood = {37.5, 9.0, 2.0, 1.0, 97.25, 5.0};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

void putLittleEndian(Bytes& bytes, std::size_t at, std::uint64_t value, std::size_t size) {
    if (bytes.size() < at + size) {
        bytes.resize(at + size);
    }
    for (std::size_t i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void putDouble(Bytes& bytes, std::size_t at, double value) {
    putLittleEndian(bytes, at, std::bit_cast<std::uint64_t>(value), 8);
}

// A current header holding the values as given, whether or not they follow their rules.
Bytes header(const Values& values = kGood) {
    const auto encoded = cv::dawstate::encodeCurrentHeader(kGood);
    Bytes bytes(encoded->begin(), encoded->end());
    for (std::size_t i = 0; i < values.size(); ++i) {
        putDouble(bytes, 16 + 8 * i, values[i]);
    }
    return bytes;
}

// The first `count` values header-less, as the legacy layouts hold them.
Bytes legacyValues(std::size_t count, const Values& values = kGood) {
    Bytes bytes;
    for (std::size_t i = 0; i < count; ++i) {
        putDouble(bytes, 8 * i, values[i]);
    }
    return bytes;
}

// Appends the flag, and with flag 1 a length and `present` payload bytes.
Bytes withSession(Bytes bytes, std::uint8_t flag, std::uint64_t length = 0, std::size_t present = 0) {
    bytes.push_back(flag);
    if (flag == 1) {
        putLittleEndian(bytes, bytes.size(), length, 8);
        bytes.insert(bytes.end(), present, 0xA5);
    }
    return bytes;
}

Bytes plus(Bytes bytes, const Bytes& tail) {
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

Bytes patched(Bytes bytes, std::size_t at, std::uint64_t value, std::size_t size) {
    putLittleEndian(bytes, at, value, size);
    return bytes;
}

Values with(std::size_t index, double value, Values values = kGood) {
    values[index] = value;
    return values;
}

} // namespace

TEST(DawStateChunk, EncodesTheHeaderFieldByField) {
    const auto header = cv::dawstate::encodeCurrentHeader({100.0, 0.0, 0.0, 0.0, 300.0, 7.0});
    ASSERT_TRUE(header.has_value());
    const std::uint8_t fixed[16] = {'C', 'V', 'S', 'T', 'A', 'T', 'E', 0, 1, 0, 64, 0, 6, 0, 0, 0};
    EXPECT_EQ(std::memcmp(header->data(), fixed, sizeof(fixed)), 0);
    // 100.0 is 0x4059000000000000, stored little-endian at 16; 7.0 (0x401C...) closes the header.
    const std::uint8_t volume[8] = {0, 0, 0, 0, 0, 0, 0x59, 0x40};
    EXPECT_EQ(std::memcmp(header->data() + 16, volume, 8), 0);
    EXPECT_EQ((*header)[62], 0x1C);
    EXPECT_EQ((*header)[63], 0x40);

    // Every value travels bit for bit, the sign of -0 included.
    const Values exact = {-0.0, 11.0, 1.0, 1.0, 20.000000000000004, 0.0};
    const auto encoded = cv::dawstate::encodeCurrentHeader(exact);
    ASSERT_TRUE(encoded.has_value());
    const auto decoded = cv::dawstate::decode(withSession(Bytes(encoded->begin(), encoded->end()), 0), 100,
                                              TrailerPolicy::Strict);
    ASSERT_EQ(decoded.status, DecodeStatus::Ok);
    for (std::size_t i = 0; i < exact.size(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(decoded.state.values[i]),
                  std::bit_cast<std::uint64_t>(exact[i]));
    }

    for (const Values& broken : {with(0, 100.5), with(3, kNaN), with(5, -1.0)}) {
        EXPECT_FALSE(cv::dawstate::encodeCurrentHeader(broken).has_value());
    }
}

TEST(DawStateChunk, DecodesEveryStatusAndEdge) {
    struct Case {
        std::string name;
        Bytes bytes;
        DecodeStatus status;
        std::uint64_t end = 0; // checked with Ok
        std::uint64_t payloadOffset = 0;
        std::uint64_t payloadLength = 0;
        double a4 = 5.0; // the A4 index decoded, checked with Ok
        TrailerPolicy policy = TrailerPolicy::Strict;
    };
    const std::size_t max = 16;
    const Bytes good = header();
    const Bytes magicOnly = {'C', 'V', 'S', 'T', 'A', 'T', 'E'};
    const Case cases[] = {
        {"empty", {}, DecodeStatus::Empty},
        {"magic without its zero byte", magicOnly, DecodeStatus::LegacyTooShort},
        {"magic then a cut header", Bytes(good.begin(), good.end() - 1), DecodeStatus::TooShort},
        {"header without flag", good, DecodeStatus::BadPayload},
        {"flag 0", withSession(good, 0), DecodeStatus::Ok, 65, 65, 0},
        {"flag 0 then one byte", plus(withSession(good, 0), {0}), DecodeStatus::TrailingBytes},
        {"flag trailer 1 allowed", plus(withSession(good, 0), {1, 0, 0, 0}), DecodeStatus::Ok, 65, 65, 0, 5.0,
         TrailerPolicy::AllowFlagTrailer},
        {"flag trailer 1 strict", plus(withSession(good, 0), {1, 0, 0, 0}), DecodeStatus::TrailingBytes},
        {"flag trailer 2", plus(withSession(good, 0), {2, 0, 0, 0}), DecodeStatus::TrailingBytes, 0, 0, 0,
         5.0, TrailerPolicy::AllowFlagTrailer},
        {"flag trailer of 3 bytes", plus(withSession(good, 0), {0, 0, 0}), DecodeStatus::TrailingBytes, 0, 0,
         0, 5.0, TrailerPolicy::AllowFlagTrailer},
        {"flag 2", withSession(good, 2), DecodeStatus::BadPayload},
        {"length cut short", plus(good, {1, 5, 0, 0, 0, 0, 0, 0}), DecodeStatus::BadPayload},
        {"length 0", withSession(good, 1, 0, 0), DecodeStatus::BadPayload},
        {"length above the maximum", withSession(good, 1, max + 1, max + 1), DecodeStatus::PayloadTooLarge},
        {"length beyond the bytes", withSession(good, 1, 5, 4), DecodeStatus::BadPayload},
        {"huge length", withSession(good, 1, ~std::uint64_t{0}, 4), DecodeStatus::PayloadTooLarge},
        {"payload at the maximum", withSession(good, 1, max, max), DecodeStatus::Ok, 73 + max, 73, max},
        {"payload then a byte", plus(withSession(good, 1, 3, 3), {0}), DecodeStatus::TrailingBytes},
        {"payload then flag trailer", plus(withSession(good, 1, 3, 3), {0, 0, 0, 0}), DecodeStatus::Ok, 76,
         73, 3, 5.0, TrailerPolicy::AllowFlagTrailer},
        {"version 2", patched(withSession(good, 0), 8, 2, 2), DecodeStatus::UnsupportedVersion},
        {"version 0x0101", patched(withSession(good, 0), 8, 0x0101, 2), DecodeStatus::UnsupportedVersion},
        {"header size 65", patched(withSession(good, 0), 10, 65, 2), DecodeStatus::BadHeader},
        {"parameter count 5", patched(withSession(good, 0), 12, 5, 2), DecodeStatus::BadHeader},
        {"reserved 1", patched(withSession(good, 0), 14, 1, 2), DecodeStatus::BadHeader},
        {"bad header wins over bad values", patched(withSession(header(with(4, kNaN)), 0), 14, 1, 2),
         DecodeStatus::BadHeader},
        {"five legacy values, flag 0", withSession(legacyValues(5), 0), DecodeStatus::Ok, 41, 41, 0, 3.0},
        {"six legacy values, flag 0", withSession(legacyValues(6), 0), DecodeStatus::Ok, 49, 49, 0, 5.0},
        {"six legacy values with a session", withSession(legacyValues(6), 1, 2, 2), DecodeStatus::Ok, 59, 57,
         2},
        {"five legacy values with a session", withSession(legacyValues(5), 1, 2, 2), DecodeStatus::Ok, 51, 49,
         2, 3.0},
        {"legacy: six-value flag bad, five-value trailing", withSession(legacyValues(6), 2),
         DecodeStatus::BadPayload},
        {"legacy: six-value A4 bad, five-value trailing", withSession(legacyValues(6, with(5, 8.0)), 0),
         DecodeStatus::TrailingBytes},
        {"legacy: six-value too short, five-value trailing", legacyValues(6), DecodeStatus::TrailingBytes},
        {"legacy: both on values", withSession(legacyValues(6, with(0, kNaN)), 0),
         DecodeStatus::LegacyTooShort},
        {"legacy: 40 bytes", legacyValues(5), DecodeStatus::LegacyTooShort},
        {"legacy: six-value A4 is the flag, five-value too large",
         withSession(legacyValues(5), 1, max + 1, 0), DecodeStatus::PayloadTooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = cv::dawstate::decode(c.bytes, max, c.policy);
        EXPECT_EQ(result.status, c.status);
        if (c.status == DecodeStatus::Ok && result.status == DecodeStatus::Ok) {
            EXPECT_EQ(result.state.end, c.end);
            EXPECT_EQ(result.state.payloadOffset, c.payloadOffset);
            EXPECT_EQ(result.state.payloadLength, c.payloadLength);
            EXPECT_EQ(result.state.hasDocument, c.payloadLength > 0);
            EXPECT_EQ(result.state.values[cv::dawstate::kValueA4], c.a4);
            EXPECT_EQ(result.state.values[cv::dawstate::kValueTempo], kGood[cv::dawstate::kValueTempo]);
        }
    }
}

TEST(DawStateChunk, ChecksEachValueAgainstItsRule) {
    struct Case {
        std::size_t index;
        double value;
        bool accepted;
    };
    const Case cases[] = {
        {0, 100.0, true},   {0, -0.0, true},   {0, 33.3, true},   {0, 100.0001, false}, {0, -0.1, false},
        {1, 11.0, true},    {1, 11.5, false},  {1, 12.0, false},  {1, -0.0, true},      {2, 3.0, false},
        {3, -1.0, false},   {3, 1.0, true},    {4, 300.0, true},  {4, 300.0001, false}, {4, 20.0, true},
        {4, 19.999, false}, {4, 128.37, true}, {5, 7.0, true},    {5, 8.0, false},      {5, kNaN, false},
        {0, kNaN, false},   {4, -kInf, false}, {1, 1e300, false}, {6, 0.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.index << " = " << c.value);
        EXPECT_EQ(cv::dawstate::valueFollowsRule(c.index, c.value), c.accepted);
        if (c.index < 6) {
            const auto result = cv::dawstate::decode(withSession(header(with(c.index, c.value)), 0), 0,
                                                     TrailerPolicy::Strict);
            EXPECT_EQ(result.status, c.accepted ? DecodeStatus::Ok : DecodeStatus::ParameterOutOfRange);
        }
    }
}
