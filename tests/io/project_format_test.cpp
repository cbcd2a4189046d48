#include "engine/audio/cancellation.h"
#include "engine/io/project_reader.h"
#include "engine/io/project_writer.h"
#include "tests/io/project_fixtures.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <tuple>

using cvtest::project::encodeFile;
using cvtest::project::encodePayload;
using cvtest::project::makeSession;
using cvtest::project::makeSettings;
using cvtest::project::wrapPayload;
using Code = np::DeserializeError;
using Bytes = std::vector<std::uint8_t>;

namespace {

const char* const kLimits =
    "The source audio exceeds the supported duration, channel, sample-rate, or memory limits";
const char* const kMetadata = "The pitch-track metadata is invalid";
const char* const kValues = "The pitch track contains invalid values";
const char* const kNote = "The project contains an invalid note";
const char* const kCurve = "A note curve is not consistent with its source span";
const char* const kIds = "The note identifier sequence is invalid";
const char* const kSettings = "The session settings are invalid";
const char* const kTrailing = "The project contains unexpected trailing data";

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

np::SharedCurve curveOf(std::size_t length, float value) {
    return std::make_shared<const std::vector<float>>(length, value);
}

template <typename Edit>
void editAudio(np::Document& doc, Edit edit) {
    auto audio = std::make_shared<np::AudioBuffer>(*doc.audio);
    edit(*audio);
    doc.audio = audio;
}

} // namespace

TEST(ProjectFormat, RoundTripIsFieldForFieldAndByteForByte) {
    np::Document mono = makeSession(1, 20000, 6);
    mono.notes[2].pitchCurve.reset(); // written as empty, read back as an empty curve
    np::Document empty = makeSession(2, 3000, 0);
    empty.nextNoteId = 1;
    const struct {
        const char* what;
        np::Document doc;
        np::SessionMeta meta;
    } cases[] = {{"mono", mono, makeSettings()},
                 {"stereo, over one digest piece", makeSession(2, 40000, 6), makeSettings()},
                 {"no notes, default settings", empty, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::int64_t anchor = -123456789012LL;
        const auto bytes = np::serializeDocumentForDawState(c.doc, anchor, c.meta, {});
        // The layout is that of an encoder written field by field from the format, not from the writer.
        EXPECT_EQ(bytes, encodeFile(c.doc, anchor, c.meta, 3));

        const auto outcome = read(bytes);
        ASSERT_EQ(outcome.error, Code::None) << outcome.message;
        EXPECT_TRUE(outcome.message.empty());
        const np::DeserializedDocument& back = *outcome.document;
        // Every field, encoded independently, comes back as it went in (pitch frames as f32).
        EXPECT_EQ(encodeFile(back.document, back.anchorFrame, back.meta, 3), bytes);
        for (const np::Note& note : back.document.notes) {
            EXPECT_TRUE(note.pitchCurve && note.levelCurve);
        }
        EXPECT_EQ(np::serializeDocumentForDawState(back.document, back.anchorFrame, back.meta, {}), bytes);
    }
}

TEST(ProjectFormat, RefusesABrokenDocumentWithTheFirstBrokenRule) {
    using D = np::Document;
    using M = np::SessionMeta;
    const struct {
        const char* name;
        void (*breakIt)(D&, M&);
        const char* message;
    } cases[] = {
        {"no audio", [](D& d, M&) { d.audio.reset(); }, "The project does not contain source audio"},
        {"rate below 8000", [](D& d, M&) { d.sampleRate = 7999.0; }, kLimits},
        {"NaN sample", [](D& d, M&) { editAudio(d, [](auto& a) { a.samples[1234] = NAN; }); },
         "The source audio contains invalid samples"},
        {"samples shorter than the shape",
         [](D& d, M&) { editAudio(d, [](auto& a) { a.samples.pop_back(); }); }, kLimits},
        {"track rate off", [](D& d, M&) { d.track.sampleRate = 44100.1; }, kMetadata},
        {"frame below hop", [](D& d, M&) { d.track.frame = 255; }, kMetadata},
        {"more frames than audio", [](D& d, M&) { d.track.frames.resize(20000 / 256 + 3); },
         "The pitch track is not consistent with the source audio"},
        {"frequency 30000.5", [](D& d, M&) { d.track.frames[3].hz = 30000.5; }, kValues},
        {"NaN confidence", [](D& d, M&) { d.track.frames[4].confidence = NAN; }, kValues},
        {"unknown frame flag", [](D& d, M&) { d.track.frames[4].flags = 2; }, kValues},
        {"duplicate id", [](D& d, M&) { d.notes[3].id = d.notes[1].id; }, kNote},
        {"id zero", [](D& d, M&) { d.notes[3].id = 0; }, kNote},
        {"span past the audio", [](D& d, M&) { d.notes[0].sourceEnd = 20001; }, kNote},
        {"empty span", [](D& d, M&) { d.notes[0].sourceEnd = d.notes[0].sourceStart; }, kNote},
        {"gain above 24", [](D& d, M&) { d.notes[0].gainDb = 24.001; }, kNote},
        {"curve too long for its span",
         [](D& d, M&) { d.notes[1].levelCurve = curveOf(3333 / 256 + 65, 0.0f); }, kCurve},
        {"NaN in a curve", [](D& d, M&) { d.notes[1].pitchCurve = curveOf(3333 / 256, NAN); }, kCurve},
        {"next id not above the ids", [](D& d, M&) { d.nextNoteId = d.notes[5].id; },
         "The note identifier sequence is invalid"},
        {"key root 12", [](D&, M& m) { m.keyRoot = 12; }, kSettings},
        {"negative scale", [](D&, M& m) { m.scaleKind = -1; }, kSettings},
        {"tempo 300.5", [](D&, M& m) { m.tempoBpm = 300.5; }, kSettings},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        D doc = makeSession(1, 20000, 6);
        M meta = makeSettings();
        c.breakIt(doc, meta);
        try {
            (void)np::serializeDocumentForDawState(doc, 0, meta, {});
            ADD_FAILURE() << "written";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        // The reader refuses the same content with the same sentence; it checks the frame count while
        // it reads the track header.
        if (doc.audio && doc.audio->samples.size() == 20000) {
            const auto outcome = read(encodeFile(doc, 0, meta, 3));
            EXPECT_EQ(outcome.error, Code::InvalidContent);
            EXPECT_EQ(outcome.message,
                      std::string(c.message).starts_with("The pitch track is not") ? kMetadata : c.message);
        }
    }
}

TEST(ProjectFormat, AcceptsValuesOnTheirBounds) {
    np::Document doc = makeSession(2, 20000, 2);
    doc.track.frames[1].hz = 30000.0;
    doc.track.frames[1].confidence = 1.0;
    doc.track.frames.resize(20000 / 256 + 2);
    doc.notes[0].start = 67108864 - 100; // a stereo note may end exactly at frame 67108864
    doc.notes[0].length = 100;
    doc.notes[0].gainDb = -60.0;
    doc.notes[0].driftScale = -0.0;
    // Curves a few hops longer than their span, as analysis leaves them, up to the allowance of 64 hops.
    doc.notes[1].pitchCurve = curveOf(10000 / 256 + 3, 0.0f);
    doc.notes[1].levelCurve = curveOf(10000 / 256 + 64, 0.0f);
    np::SessionMeta meta = makeSettings();
    meta.a4Hz = 500.0;
    meta.tempoBpm = 20.0;
    EXPECT_EQ(read(np::serializeDocument(doc, 0, meta)).error, Code::None);
    doc.notes[0].length = 101;
    EXPECT_THROW((void)np::serializeDocument(doc, 0, meta), std::invalid_argument);
}

TEST(ProjectFormat, PlansTheWorkingSetBeforeWriting) {
    const np::Document doc = makeSession(1, 20000, 4);
    const np::SessionMeta meta = makeSettings();
    const auto bytes = np::serializeDocument(doc, 0, meta);
    const auto messageAt = [&](std::uint64_t limit, int copies) -> std::string {
        try {
            (void)np::serializeDocumentWithLimit(doc, 0, meta, {}, limit, copies, 0);
            return "";
        } catch (const std::length_error& e) {
            return e.what();
        }
    };
    // The smallest limit a single copy fits in; a second copy needs the file's size more.
    std::uint64_t low = 0;
    std::uint64_t high = 671088640;
    while (low + 1 < high) {
        const std::uint64_t mid = (low + high) / 2;
        (messageAt(mid, 1).empty() ? high : low) = mid;
    }
    const std::string copies =
        "The resident project model and serialized copies exceed the 640 MiB project working-set limit";
    const std::string copy =
        "The resident project model and serialized copy exceed the 640 MiB project working-set limit";
    EXPECT_GT(high, 2 * bytes.size()) << "the plan counts the file and the decoded model";
    EXPECT_EQ(messageAt(high - 1, 1), copies);
    EXPECT_EQ(messageAt(high, 2), copies);
    EXPECT_EQ(messageAt(high + bytes.size() + 64, 2), "");
    EXPECT_EQ(messageAt(1000, 1), copy);
    // The reader, planning one copy, accepts with the same limit and refuses one byte less.
    EXPECT_EQ(read(bytes, high).error, Code::None);
    const auto tight = read(bytes, high - 1);
    EXPECT_EQ(tight.error, Code::OverLimit);
    EXPECT_EQ(tight.message, copies);
    // A limit that holds the decoded model but not the file beside it is refused while parsing, before
    // the model's memory is taken.
    const auto between = read(bytes, high - bytes.size());
    EXPECT_EQ(between.error, Code::OverLimit);
    EXPECT_EQ(between.message,
              "The project file and decoded model exceed the 640 MiB project working-set limit");
}

TEST(ProjectFormat, ChecksTheHeaderAndSizeInOrder) {
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

TEST(ProjectFormat, ReadsVersionsOneAndTwoWithDefaultsForMissingSettings) {
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

TEST(ProjectFormat, RefusesPayloadsThatBreakARule) {
    const char* const kNotesCut = "The note payload is truncated";
    const char* const kCurveCut = "A note curve is invalid or truncated";
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

TEST(ProjectFormat, SavingAndLoadingStopAtEveryPollWithTheirSentences) {
    const np::Document doc = makeSession(2, 80000, 300);
    int polls = 0;
    const auto bytes = np::serializeDocument(doc, 0, makeSettings(), [&] { return ++polls > 0; });
    ASSERT_GT(polls, 10);
    for (int stopAt = 1; stopAt <= polls; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int calls = 0;
        try {
            (void)np::serializeDocument(doc, 0, makeSettings(), [&] { return ++calls < stopAt; });
            ADD_FAILURE() << "not stopped";
        } catch (const np::OperationCancelled& e) {
            // Polls inside the content check carry the check's own sentence.
            EXPECT_TRUE(std::string(e.what()) == "Project saving was cancelled" ||
                        std::string(e.what()) == "The project operation was cancelled")
                << e.what();
        }
        EXPECT_EQ(calls, stopAt);
    }
    polls = 0;
    ASSERT_EQ(read(bytes, 671088640, [&] { return ++polls > 0; }).error, Code::None);
    // Every early poll, then a spread across the digest, samples, frames, notes and final check.
    for (int stopAt = 1; stopAt <= polls; stopAt += stopAt < 40 ? 1 : polls / 60 + 1) {
        SCOPED_TRACE(stopAt);
        int calls = 0;
        expectFailure(read(bytes, 671088640, [&] { return ++calls < stopAt; }), Code::Cancelled,
                      "Project loading was cancelled");
    }
}
