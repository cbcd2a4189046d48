#include "engine/io/project_reader.h"
#include "engine/io/project_writer.h"
#include "tests/io/project_fixtures.h"

#include <cstring>
#include <gtest/gtest.h>

using cvtest::project::encodeFile;
using cvtest::project::encodePayload;
using cvtest::project::makeSession;
using cvtest::project::makeSettings;
using cvtest::project::wrapPayload;
using Code = np::DeserializeError;

namespace {

np::DeserializeOutcome read(const std::vector<std::uint8_t>& bytes, std::size_t limit = 671088640,
                            const std::function<bool()>& keepGoing = {}) {
    return np::deserializeDocumentChecked(bytes.data(), bytes.size(), keepGoing, limit);
}

void expectFailure(const np::DeserializeOutcome& outcome, Code code, const std::string& message) {
    EXPECT_EQ(outcome.error, code) << outcome.message;
    EXPECT_EQ(outcome.message, message);
    EXPECT_FALSE(outcome.document.has_value());
}

template <typename T>
void putAt(std::vector<std::uint8_t>& bytes, std::size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

std::vector<std::uint8_t> validFile() {
    return np::serializeDocument(makeSession(1, 6000, 3), 42, makeSettings());
}

} // namespace

TEST(ProjectReader, ChecksTheHeaderInOrder) {
    const auto good = validFile();
    const auto truncatedTo = [&](std::size_t n) {
        return std::vector<std::uint8_t>(good.begin(), good.begin() + n);
    };
    expectFailure(np::deserializeDocumentChecked(nullptr, 10, {}, 1000), Code::Empty, "The project is empty");
    expectFailure(read({}), Code::Empty, "The project is empty");
    expectFailure(read(truncatedTo(7)), Code::Truncated, "The project header is truncated");

    auto foreign = truncatedTo(8);
    foreign[0] = 'X';
    putAt<std::uint32_t>(foreign, 4, 99);
    expectFailure(read(foreign), Code::WrongMagic, "This is not a Corvalinth project");
    // The caller's limit is applied before the magic is looked at.
    expectFailure(read(foreign, 7), Code::OverLimit,
                  "The project file exceeds the project working-set limit");

    for (const std::uint32_t version : {0u, 4u, 0x03000000u}) {
        SCOPED_TRACE(version);
        auto bytes = good;
        putAt(bytes, 4, version);
        expectFailure(read(bytes), Code::UnsupportedVersion,
                      "This project was created by an unsupported version");
    }
    expectFailure(read(truncatedTo(47)), Code::Truncated, "The project header is truncated");

    const std::uint64_t length = good.size() - 48;
    const struct {
        std::uint64_t declared;
        Code code;
        const char* message;
    } lengths[] = {
        {length - 1, Code::TrailingData, "The project contains unexpected trailing data"},
        {length + 1, Code::Truncated, "The project payload is truncated"},
        {671088641, Code::OverLimit, "The project payload exceeds the supported limit"},
        {~std::uint64_t{0}, Code::OverLimit, "The project payload exceeds the supported limit"},
    };
    for (const auto& c : lengths) {
        SCOPED_TRACE(c.declared);
        auto bytes = good;
        putAt(bytes, 8, c.declared);
        expectFailure(read(bytes), c.code, c.message);
    }
    auto flipped = good;
    flipped[good.size() / 2] ^= 0x10;
    expectFailure(read(flipped), Code::Damaged, "The project is damaged or incomplete");
}

TEST(ProjectReader, EverySingleByteCorruptionIsRefusedWithItsCode) {
    const auto good = np::serializeDocument(makeSession(2, 700, 2), 9, makeSettings());
    ASSERT_EQ(read(good).error, Code::None);
    const std::uint64_t length = good.size() - 48;
    for (std::size_t offset = 0; offset < good.size(); ++offset) {
        for (const std::uint8_t mask : {0x01, 0x80, 0xFF}) {
            auto bytes = good;
            bytes[offset] ^= mask;
            const auto outcome = read(bytes);
            SCOPED_TRACE(testing::Message() << "offset " << offset << " mask " << int{mask});
            ASSERT_NE(outcome.error, Code::None);
            ASSERT_FALSE(outcome.document.has_value());
            if (offset < 4) {
                EXPECT_EQ(outcome.error, Code::WrongMagic);
            } else if (offset < 8) {
                std::uint32_t version = 0;
                std::memcpy(&version, bytes.data() + 4, 4);
                // Read as an older version, the header's length field becomes payload and breaks a rule.
                EXPECT_EQ(outcome.error,
                          version == 1 || version == 2 ? Code::InvalidContent : Code::UnsupportedVersion);
            } else if (offset < 16) {
                std::uint64_t declared = 0;
                std::memcpy(&declared, bytes.data() + 8, 8);
                EXPECT_EQ(outcome.error, declared > 671088640 ? Code::OverLimit
                                         : declared > length  ? Code::Truncated
                                                              : Code::TrailingData);
            } else {
                EXPECT_EQ(outcome.error, Code::Damaged);
            }
        }
    }
}

TEST(ProjectReader, ReadsVersionsOneAndTwoWithDefaultsForMissingSettings) {
    const np::Document doc = makeSession(2, 6000, 3);
    const np::SessionMeta meta = makeSettings();
    const auto v1 = read(encodeFile(doc, -5, meta, 1));
    ASSERT_EQ(v1.error, Code::None) << v1.message;
    EXPECT_EQ(v1.document->anchorFrame, -5);
    EXPECT_EQ(v1.document->meta.keyRoot, 0);
    EXPECT_EQ(v1.document->meta.scaleKind, 0);
    EXPECT_EQ(v1.document->meta.a4Hz, 440.0);
    EXPECT_EQ(v1.document->meta.tempoBpm, 120.0);
    EXPECT_EQ(v1.document->meta.algorithm, 0);
    for (const np::PitchFrame& f : v1.document->document.track.frames) {
        EXPECT_EQ(f.flags, 0) << "version 1 has no sibilant flag";
    }
    EXPECT_EQ(v1.document->document.notes.size(), 3u);

    const auto v2 = read(encodeFile(doc, 0, meta, 2));
    ASSERT_EQ(v2.error, Code::None) << v2.message;
    EXPECT_EQ(v2.document->meta.keyRoot, 5);
    EXPECT_EQ(v2.document->meta.tempoBpm, 97.5);
    EXPECT_EQ(v2.document->meta.algorithm, 0);
    EXPECT_EQ(v2.document->document.track.frames[0].flags, doc.track.frames[0].flags);

    // Without a digest, a damaged version-2 file is only caught when a rule breaks.
    auto changed = encodeFile(doc, 0, meta, 2);
    changed[8 + 28] ^= 0x01; // the lowest bit of the first sample
    EXPECT_EQ(read(changed).error, Code::None);
    changed[8 + 4 + 3] ^= 0xFF; // the rate's sign and exponent
    EXPECT_EQ(read(changed).error, Code::InvalidContent);

    // Each version's payload must end exactly after its own fields.
    auto v2Long = encodePayload(doc, 0, meta, 3);
    expectFailure(read(wrapPayload(v2Long, 2)), Code::TrailingData,
                  "The project contains unexpected trailing data");
    auto v3Short = encodePayload(doc, 0, meta, 2);
    expectFailure(read(wrapPayload(v3Short, 3)), Code::InvalidContent, "The session settings are truncated");
}

TEST(ProjectReader, RefusesPayloadsThatBreakARule) {
    struct Case {
        const char* name;
        void (*edit)(std::vector<std::uint8_t>& payload, std::size_t notesAt);
        const char* message;
    };
    // Offsets below are relative to the payload; the session has one channel of 6000 frames.
    constexpr std::size_t kTrackAt = 28 + 4 * 6000;
    const Case cases[] = {
        {"empty payload", [](auto& p, std::size_t) { p.resize(27); }, "The project header is truncated"},
        {"zero frames", [](auto& p, std::size_t) { putAt<std::int64_t>(p, 20, 0); },
         "The source audio exceeds the supported duration, channel, sample-rate, or memory limits"},
        {"three channels", [](auto& p, std::size_t) { putAt<std::int32_t>(p, 16, 3); },
         "The source audio exceeds the supported duration, channel, sample-rate, or memory limits"},
        {"huge frame count", [](auto& p, std::size_t) { putAt<std::int64_t>(p, 20, std::int64_t{1} << 62); },
         "The source audio exceeds the supported duration, channel, sample-rate, or memory limits"},
        {"more samples than bytes", [](auto& p, std::size_t) { p.resize(28 + 4 * 5999); },
         "The source audio payload is invalid or truncated"},
        {"infinite sample", [](auto& p, std::size_t) { putAt<float>(p, 28 + 4 * 17, INFINITY); },
         "The source audio contains invalid samples"},
        {"track header cut", [](auto& p, std::size_t) { p.resize(kTrackAt + 23); },
         "The pitch-track header is truncated"},
        {"hop zero", [](auto& p, std::size_t) { putAt<std::int32_t>(p, kTrackAt + 8, 0); },
         "The pitch-track metadata is invalid"},
        {"negative hop", [](auto& p, std::size_t) { putAt<std::int32_t>(p, kTrackAt + 8, -256); },
         "The pitch-track metadata is invalid"},
        {"frames beyond the audio",
         [](auto& p, std::size_t) { putAt<std::uint64_t>(p, kTrackAt + 16, 6000 / 256 + 3); },
         "The pitch-track metadata is invalid"},
        {"voiced flag 2", [](auto& p, std::size_t) { p[kTrackAt + 24 + 10 * 4 + 8] = 2; },
         "The pitch track contains invalid values"},
        {"sibilant flag 2", [](auto& p, std::size_t) { p[kTrackAt + 24 + 10 * 4 + 9] = 2; },
         "The pitch track contains invalid values"},
        {"frequency 30000.5", [](auto& p, std::size_t) { putAt<float>(p, kTrackAt + 24 + 10 * 2, 30000.5f); },
         "The pitch track contains invalid values"},
        {"negative confidence",
         [](auto& p, std::size_t) { putAt<float>(p, kTrackAt + 24 + 10 * 2 + 4, -0.01f); },
         "The pitch track contains invalid values"},
        {"note count 100001", [](auto& p, std::size_t at) { putAt<std::uint32_t>(p, at, 100001); },
         "The project contains too many notes"},
        {"note count missing", [](auto& p, std::size_t at) { p.resize(at + 3); },
         "The project contains too many notes"},
        {"notes beyond the payload", [](auto& p, std::size_t at) { putAt<std::uint32_t>(p, at, 1000); },
         "The note payload is truncated"},
        {"muted 2", [](auto& p, std::size_t at) { p[at + 4 + 76] = 2; }, "The note payload is truncated"},
        {"id zero", [](auto& p, std::size_t at) { putAt<std::uint32_t>(p, at + 4, 0); },
         "The project contains an invalid note"},
        {"empty span", [](auto& p, std::size_t at) { putAt<std::int64_t>(p, at + 4 + 12, 0); },
         "The project contains an invalid note"},
        {"timeline overflow",
         [](auto& p, std::size_t at) { putAt<std::int64_t>(p, at + 4 + 20, INT64_MAX - 10); },
         "The project contains an invalid note"},
        {"pitch curve longer than the payload",
         [](auto& p, std::size_t at) { putAt<std::uint32_t>(p, at + 4 + 82, 1u << 27); },
         "A note curve is invalid or truncated"},
        {"curve above the per-curve limit",
         [](auto& p, std::size_t at) { putAt<std::uint32_t>(p, at + 4 + 82, (1u << 27) + 1); },
         "A note curve is invalid or truncated"},
        {"NaN in a pitch curve", [](auto& p, std::size_t at) { putAt<float>(p, at + 4 + 86, NAN); },
         "A note curve is not consistent with its source span"},
        {"pitch curve above 4800 cents",
         [](auto& p, std::size_t at) { putAt<float>(p, at + 4 + 86, 4800.5f); },
         "A note curve is not consistent with its source span"},
        {"next id missing", [](auto& p, std::size_t) { p.resize(p.size() - 28 - 1); },
         "The note identifier sequence is invalid"},
        {"next id zero", [](auto& p, std::size_t) { putAt<std::uint32_t>(p, p.size() - 32, 0); },
         "The note identifier sequence is invalid"},
        {"settings cut", [](auto& p, std::size_t) { p.resize(p.size() - 1); },
         "The session settings are truncated"},
        {"algorithm 2", [](auto& p, std::size_t) { putAt<std::uint32_t>(p, p.size() - 4, 2); },
         "The session settings are invalid"},
        {"A4 at 299", [](auto& p, std::size_t) { putAt<double>(p, p.size() - 20, 299.0); },
         "The session settings are invalid"},
        {"trailing byte", [](auto& p, std::size_t) { p.push_back(0); },
         "The project contains unexpected trailing data"},
    };
    const np::Document doc = makeSession(1, 6000, 3);
    const auto payload = encodePayload(doc, 0, makeSettings(), 3);
    const std::size_t notesAt = 28 + 4 * 6000 + 24 + 10 * doc.track.frames.size();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto edited = payload;
        c.edit(edited, notesAt);
        const auto outcome = read(wrapPayload(edited, 3));
        const Code code = std::string(c.message) == "The project contains unexpected trailing data"
                              ? Code::TrailingData
                              : Code::InvalidContent;
        expectFailure(outcome, code, c.message);
    }
}

TEST(ProjectReader, ChargesItsBudgetBeforeTakingMemory) {
    const auto good = validFile();
    // A limit that holds the file but not the file plus its decoded model.
    expectFailure(read(good, good.size() + 200), Code::OverLimit,
                  "The project file and decoded model exceed the 640 MiB project working-set limit");
    expectFailure(read(good, good.size() - 1), Code::OverLimit,
                  "The project file exceeds the project working-set limit");

    // The smallest limit that holds a larger session; every limit below it is refused as over the limit.
    const auto bytes = np::serializeDocument(makeSession(1, 200000, 1), 0, makeSettings());
    std::size_t low = bytes.size();
    std::size_t high = 671088640;
    while (low + 1 < high) {
        const std::size_t mid = low + (high - low) / 2;
        (read(bytes, mid).error == Code::None ? high : low) = mid;
    }
    EXPECT_EQ(read(bytes, low).error, Code::OverLimit);
    EXPECT_GT(high, 2 * bytes.size()) << "the plan counts the file and the decoded model";
}

TEST(ProjectReader, StopsAtEveryPollWithoutADocument) {
    const auto bytes = np::serializeDocument(makeSession(2, 80000, 300), 0, makeSettings());
    int polls = 0;
    ASSERT_EQ(read(bytes, 671088640, [&] { return ++polls > 0; }).error, Code::None);
    ASSERT_GT(polls, 10);
    // Every early poll, then a spread across the digest, samples, frames, notes and final check.
    for (int stopAt = 1; stopAt <= polls; stopAt += stopAt < 40 ? 1 : polls / 60 + 1) {
        SCOPED_TRACE(stopAt);
        int calls = 0;
        expectFailure(read(bytes, 671088640, [&] { return ++calls < stopAt; }), Code::Cancelled,
                      "Project loading was cancelled");
    }
}
