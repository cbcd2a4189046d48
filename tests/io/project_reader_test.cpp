#include "engine/io/project_reader.h"
#include "engine/io/project_writer.h"
#include "tests/io/project_fixtures.h"

#include <gtest/gtest.h>
#include <tuple>

using cvtest::project::encodeFile;
using cvtest::project::encodePayload;
using cvtest::project::makeSession;
using cvtest::project::makeSettings;
using cvtest::project::wrapPayload;
using Code = np::DeserializeError;
using Bytes = std::vector<std::uint8_t>;

namespace {

np::DeserializeOutcome read(const Bytes& bytes, std::size_t limit = 671088640,
                            const std::function<bool()>& keepGoing = {}) {
    return np::deserializeDocumentChecked(bytes.data(), bytes.size(), keepGoing, limit);
}

void expectFailure(const np::DeserializeOutcome& outcome, Code code, const std::string& message) {
    EXPECT_EQ(outcome.error, code) << outcome.message;
    EXPECT_EQ(outcome.message, message);
    EXPECT_FALSE(outcome.document.has_value());
}

template <typename T>
void putAt(Bytes& bytes, std::size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

template <typename T>
T getAt(const Bytes& bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

const char* const kTrailing = "The project contains unexpected trailing data";

} // namespace

TEST(ProjectReader, ChecksTheHeaderAndSizeInOrder) {
    const auto good = np::serializeDocument(makeSession(1, 6000, 3), 42, makeSettings());
    const auto cut = [&](std::size_t n) { return Bytes(good.begin(), good.begin() + n); };
    expectFailure(np::deserializeDocumentChecked(nullptr, 10, {}, 1000), Code::Empty, "The project is empty");
    expectFailure(read({}), Code::Empty, "The project is empty");
    expectFailure(read(cut(7)), Code::Truncated, "The project header is truncated");
    auto foreign = cut(8);
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
    expectFailure(read(cut(47)), Code::Truncated, "The project header is truncated");

    const std::uint64_t length = good.size() - 48;
    const struct {
        std::uint64_t declared;
        Code code;
        const char* message;
    } lengths[] = {
        {length - 1, Code::TrailingData, kTrailing},
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
    // A limit that holds the file but not the file plus its decoded model, and one that holds neither.
    expectFailure(read(good, good.size() + 200), Code::OverLimit,
                  "The project file and decoded model exceed the 640 MiB project working-set limit");
    expectFailure(read(good, good.size() - 1), Code::OverLimit,
                  "The project file exceeds the project working-set limit");
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
            ASSERT_FALSE(outcome.document.has_value());
            const auto version = getAt<std::uint32_t>(bytes, 4);
            const auto declared = getAt<std::uint64_t>(bytes, 8);
            // Read as an older version, the header's length field becomes payload and breaks a rule.
            const Code expected = offset < 4     ? Code::WrongMagic
                                  : offset >= 16 ? Code::Damaged
                                  : offset < 8   ? (version == 1 || version == 2 ? Code::InvalidContent
                                                                                 : Code::UnsupportedVersion)
                                  : declared > 671088640 ? Code::OverLimit
                                  : declared > length    ? Code::Truncated
                                                         : Code::TrailingData;
            EXPECT_EQ(outcome.error, expected);
        }
    }
}

TEST(ProjectReader, ReadsVersionsOneAndTwoWithDefaultsForMissingSettings) {
    const np::Document doc = makeSession(2, 6000, 3);
    const np::SessionMeta meta = makeSettings();
    const auto v1 = read(encodeFile(doc, -5, meta, 1));
    ASSERT_EQ(v1.error, Code::None) << v1.message;
    EXPECT_EQ(v1.document->anchorFrame, -5);
    EXPECT_EQ(encodeFile(v1.document->document, -5, meta, 1), encodeFile(doc, -5, meta, 1));
    // Version 1 has neither settings nor sibilant flags: they read back as their defaults.
    const np::SessionMeta& m1 = v1.document->meta;
    EXPECT_EQ(std::tie(m1.keyRoot, m1.scaleKind, m1.a4Hz, m1.tempoBpm, m1.algorithm),
              std::make_tuple(0, 0, 440.0, 120.0, 0));
    for (const np::PitchFrame& f : v1.document->document.track.frames) {
        EXPECT_EQ(f.flags, 0);
    }
    const auto v2 = read(encodeFile(doc, 0, meta, 2));
    ASSERT_EQ(v2.error, Code::None) << v2.message;
    EXPECT_EQ(encodeFile(v2.document->document, 0, v2.document->meta, 2), encodeFile(doc, 0, meta, 2));
    EXPECT_EQ(v2.document->meta.algorithm, 0);

    // Each version's payload must end exactly after its own fields.
    expectFailure(read(wrapPayload(encodePayload(doc, 0, meta, 3), 2)), Code::TrailingData, kTrailing);
    expectFailure(read(wrapPayload(encodePayload(doc, 0, meta, 2), 3)), Code::InvalidContent,
                  "The session settings are truncated");
}

TEST(ProjectReader, RefusesPayloadsThatBreakARule) {
    const char* const kLimits =
        "The source audio exceeds the supported duration, channel, sample-rate, or memory limits";
    const char* const kMetadata = "The pitch-track metadata is invalid";
    const char* const kValues = "The pitch track contains invalid values";
    const char* const kNotesCut = "The note payload is truncated";
    const char* const kCurveCut = "A note curve is invalid or truncated";
    const char* const kIds = "The note identifier sequence is invalid";
    const char* const kSettings = "The session settings are invalid";
    // Offsets are relative to the payload of one channel of 6000 frames; n is where the notes start.
    constexpr std::size_t t = 28 + 4 * 6000; // the track header
    constexpr std::size_t f = t + 24;        // the first frame record
    using P = Bytes;
    const struct {
        const char* name;
        void (*edit)(P& p, std::size_t n);
        const char* message;
    } cases[] = {
        {"empty payload", [](P& p, std::size_t) { p.resize(27); }, "The project header is truncated"},
        {"zero frames", [](P& p, std::size_t) { putAt<std::int64_t>(p, 20, 0); }, kLimits},
        {"three channels", [](P& p, std::size_t) { putAt<std::int32_t>(p, 16, 3); }, kLimits},
        {"huge frame count", [](P& p, std::size_t) { putAt<std::int64_t>(p, 20, std::int64_t{1} << 62); },
         kLimits},
        {"more samples than bytes", [](P& p, std::size_t) { p.resize(28 + 4 * 5999); },
         "The source audio payload is invalid or truncated"},
        {"track header cut", [](P& p, std::size_t) { p.resize(t + 23); },
         "The pitch-track header is truncated"},
        {"hop zero", [](P& p, std::size_t) { putAt<std::int32_t>(p, t + 8, 0); }, kMetadata},
        {"negative hop", [](P& p, std::size_t) { putAt<std::int32_t>(p, t + 8, -256); }, kMetadata},
        {"frames beyond the audio",
         [](P& p, std::size_t) { putAt<std::uint64_t>(p, t + 16, 6000 / 256 + 3); }, kMetadata},
        {"voiced flag 2", [](P& p, std::size_t) { p[f + 10 * 4 + 8] = 2; }, kValues},
        {"negative confidence", [](P& p, std::size_t) { putAt<float>(p, f + 10 * 2 + 4, -0.01f); }, kValues},
        {"note count 100001", [](P& p, std::size_t n) { putAt<std::uint32_t>(p, n, 100001); },
         "The project contains too many notes"},
        {"note count missing", [](P& p, std::size_t n) { p.resize(n + 3); },
         "The project contains too many notes"},
        {"notes beyond the payload", [](P& p, std::size_t n) { putAt<std::uint32_t>(p, n, 1000); },
         kNotesCut},
        {"muted 2", [](P& p, std::size_t n) { p[n + 4 + 76] = 2; }, kNotesCut},
        {"timeline overflow", [](P& p, std::size_t n) { putAt<std::int64_t>(p, n + 4 + 20, INT64_MAX - 10); },
         "The project contains an invalid note"},
        {"curve longer than the payload",
         [](P& p, std::size_t n) { putAt<std::uint32_t>(p, n + 86, 1u << 27); }, kCurveCut},
        {"curve above the per-curve limit",
         [](P& p, std::size_t n) { putAt<std::uint32_t>(p, n + 86, (1u << 27) + 1); }, kCurveCut},
        {"pitch curve above 4800 cents", [](P& p, std::size_t n) { putAt<float>(p, n + 90, 4800.5f); },
         "A note curve is not consistent with its source span"},
        {"next id missing", [](P& p, std::size_t) { p.resize(p.size() - 28 - 1); }, kIds},
        {"next id zero", [](P& p, std::size_t) { putAt<std::uint32_t>(p, p.size() - 32, 0); }, kIds},
        {"settings cut", [](P& p, std::size_t) { p.resize(p.size() - 1); },
         "The session settings are truncated"},
        {"algorithm 2", [](P& p, std::size_t) { putAt<std::uint32_t>(p, p.size() - 4, 2); }, kSettings},
        {"A4 at 299", [](P& p, std::size_t) { putAt<double>(p, p.size() - 20, 299.0); }, kSettings},
        {"trailing byte", [](P& p, std::size_t) { p.push_back(0); }, kTrailing},
    };
    const np::Document doc = makeSession(1, 6000, 3);
    const auto payload = encodePayload(doc, 0, makeSettings(), 3);
    const std::size_t notesAt = f + 10 * doc.track.frames.size();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto edited = payload;
        c.edit(edited, notesAt);
        const Code code = std::string(c.message) == kTrailing ? Code::TrailingData : Code::InvalidContent;
        expectFailure(read(wrapPayload(edited, 3)), code, c.message);
    }
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
