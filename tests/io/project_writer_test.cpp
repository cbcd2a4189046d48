#include "engine/audio/cancellation.h"
#include "engine/io/project_format.h"
#include "engine/io/project_reader.h"
#include "engine/io/project_writer.h"
#include "tests/io/project_fixtures.h"

#include <gtest/gtest.h>
#include <stdexcept>

using cvtest::project::encodeFile;
using cvtest::project::makeSession;
using cvtest::project::makeSettings;

namespace {

np::DeserializeOutcome read(const std::vector<std::uint8_t>& bytes, std::size_t limit = 671088640) {
    return np::deserializeDocumentChecked(bytes.data(), bytes.size(), {}, limit);
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

TEST(ProjectWriter, RoundTripIsFieldForFieldAndByteForByte) {
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
        ASSERT_EQ(outcome.error, np::DeserializeError::None) << outcome.message;
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

// Payloads longer than one 256 KiB digest piece are compared with a one-shot digest in the round trip.
TEST(ProjectDigest, IsTheStandardBlake2b256) {
    const auto hex = [](const np::project::Digest& d) {
        std::string text;
        for (std::uint8_t b : d) {
            text += "0123456789abcdef"[b >> 4];
            text += "0123456789abcdef"[b & 15];
        }
        return text;
    };
    EXPECT_EQ(hex(np::project::digestPayload(nullptr, 0, {}, "")),
              "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8");
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(hex(np::project::digestPayload(abc, 3, {}, "")),
              "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319");
}

TEST(ProjectWriter, RefusesABrokenDocumentWithTheFirstBrokenRule) {
    using D = np::Document;
    using M = np::SessionMeta;
    const char* const kLimits =
        "The source audio exceeds the supported duration, channel, sample-rate, or memory limits";
    const char* const kMetadata = "The pitch-track metadata is invalid";
    const char* const kValues = "The pitch track contains invalid values";
    const char* const kNote = "The project contains an invalid note";
    const char* const kCurve = "A note curve is not consistent with its source span";
    const char* const kSettings = "The session settings are invalid";
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
            EXPECT_EQ(outcome.error, np::DeserializeError::InvalidContent);
            EXPECT_EQ(outcome.message,
                      std::string(c.message).starts_with("The pitch track is not") ? kMetadata : c.message);
        }
    }
}

TEST(ProjectWriter, AcceptsValuesOnTheirBounds) {
    np::Document doc = makeSession(2, 20000, 2);
    doc.track.frames[1].hz = 30000.0;
    doc.track.frames[1].confidence = 1.0;
    doc.track.frames.resize(20000 / 256 + 2);
    doc.notes[0].start = 67108864 - 100; // a stereo note may end exactly at frame 67108864
    doc.notes[0].length = 100;
    doc.notes[0].gainDb = -60.0;
    doc.notes[0].driftScale = -0.0;
    np::SessionMeta meta = makeSettings();
    meta.a4Hz = 500.0;
    meta.tempoBpm = 20.0;
    EXPECT_EQ(read(np::serializeDocument(doc, 0, meta)).error, np::DeserializeError::None);
    doc.notes[0].length = 101;
    EXPECT_THROW((void)np::serializeDocument(doc, 0, meta), std::invalid_argument);
}

TEST(ProjectWriter, PlansTheWorkingSetBeforeWriting) {
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
    EXPECT_EQ(read(bytes, high).error, np::DeserializeError::None);
    const auto tight = read(bytes, high - 1);
    EXPECT_EQ(tight.error, np::DeserializeError::OverLimit);
    EXPECT_EQ(tight.message, copies);
}

TEST(ProjectWriter, StopsAtEveryPollWithTheSavingSentence) {
    const np::Document doc = makeSession(2, 40000, 300);
    const np::SessionMeta meta = makeSettings();
    int polls = 0;
    (void)np::serializeDocument(doc, 0, meta, [&] { return ++polls > 0; });
    ASSERT_GT(polls, 10);
    for (int stopAt = 1; stopAt <= polls; ++stopAt) {
        SCOPED_TRACE(stopAt);
        int calls = 0;
        try {
            (void)np::serializeDocument(doc, 0, meta, [&] { return ++calls < stopAt; });
            ADD_FAILURE() << "not stopped";
        } catch (const np::OperationCancelled& e) {
            // Polls inside the content check carry the check's own sentence.
            const std::string text = e.what();
            EXPECT_TRUE(text == "Project saving was cancelled" ||
                        text == "The project operation was cancelled")
                << text;
        }
        EXPECT_EQ(calls, stopAt);
    }
}
