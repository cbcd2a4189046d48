#include "engine/audio/cancellation.h"
#include "engine/io/project_format.h"
#include "engine/io/project_reader.h"
#include "engine/io/project_writer.h"
#include "tests/io/project_fixtures.h"

#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>

using cvtest::project::encodeFile;
using cvtest::project::makeSession;
using cvtest::project::makeSettings;

namespace {

np::DeserializeOutcome read(const std::vector<std::uint8_t>& bytes, std::size_t limit = 671088640) {
    return np::deserializeDocumentChecked(bytes.data(), bytes.size(), {}, limit);
}

template <typename T>
T fieldAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

} // namespace

TEST(ProjectWriter, RoundTripIsFieldForFieldAndByteForByte) {
    for (const int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        np::Document doc = makeSession(channels, 20000, 6);
        doc.notes[2].pitchCurve.reset(); // written as empty, read back as an empty curve
        const std::int64_t anchor = -123456789012LL;
        const auto bytes = np::serializeDocumentForDawState(doc, anchor, makeSettings(), {});

        const auto outcome = read(bytes);
        ASSERT_EQ(outcome.error, np::DeserializeError::None) << outcome.message;
        EXPECT_TRUE(outcome.message.empty());
        const np::DeserializedDocument& back = *outcome.document;
        EXPECT_EQ(back.anchorFrame, anchor);
        EXPECT_EQ(back.meta.keyRoot, 5);
        EXPECT_EQ(back.meta.algorithm, 1);
        EXPECT_EQ(back.document.audio->samples, doc.audio->samples);
        ASSERT_TRUE(back.document.notes[2].pitchCurve);
        EXPECT_TRUE(back.document.notes[2].pitchCurve->empty());
        EXPECT_EQ(*back.document.notes[3].levelCurve, *doc.notes[3].levelCurve);
        EXPECT_EQ(back.document.notes[1].formantShift, doc.notes[1].formantShift);
        // Frequency and confidence are stored as f32.
        EXPECT_EQ(back.document.track.frames[7].hz,
                  static_cast<double>(static_cast<float>(doc.track.frames[7].hz)));

        // Writing the decoded session again gives the same bytes; as the writer's layout is checked
        // against an independent encoding, this proves every field lands back in its own member.
        EXPECT_EQ(np::serializeDocumentForDawState(back.document, back.anchorFrame, back.meta, {}), bytes);
    }
}

TEST(ProjectWriter, LayoutMatchesAnIndependentEncodingAndItsSizeFormula) {
    np::Document doc = makeSession(2, 3000, 3);
    const np::SessionMeta meta = makeSettings();
    const auto bytes = np::serializeDocument(doc, 77, meta);
    EXPECT_EQ(bytes, encodeFile(doc, 77, meta, 3));

    std::uint64_t curveValues = 0;
    for (const np::Note& n : doc.notes) {
        curveValues += n.pitchCurve->size() + n.levelCurve->size();
    }
    EXPECT_EQ(bytes.size(), 136 + 4 * 2 * 3000 + 10 * doc.track.frames.size() + 90 * 3 + 4 * curveValues);
    EXPECT_EQ(std::memcmp(bytes.data(), "LVRC", 4), 0);
    EXPECT_EQ(fieldAt<std::uint32_t>(bytes, 4), 3u);
    EXPECT_EQ(fieldAt<std::uint64_t>(bytes, 8), bytes.size() - 48);
    EXPECT_EQ(fieldAt<double>(bytes, 48), 44100.0);
    EXPECT_EQ(fieldAt<std::int64_t>(bytes, 56), 77);
    EXPECT_EQ(fieldAt<std::int32_t>(bytes, 64), 2);
    EXPECT_EQ(fieldAt<std::int64_t>(bytes, 68), 3000);
    EXPECT_EQ(fieldAt<float>(bytes, 76 + 4 * 3000), doc.audio->channel(1)[0]);

    // Without notes: note count 0, the next id, then the 28 settings bytes end the file.
    doc.notes.clear();
    doc.nextNoteId = 1;
    const auto empty = np::serializeDocument(doc, 0, np::SessionMeta{});
    const std::size_t tail = empty.size() - 28 - 4 - 4;
    EXPECT_EQ(fieldAt<std::uint32_t>(empty, tail), 0u);
    EXPECT_EQ(fieldAt<std::uint32_t>(empty, tail + 4), 1u);
    EXPECT_EQ(fieldAt<double>(empty, tail + 16), 440.0);
    EXPECT_EQ(fieldAt<double>(empty, tail + 24), 120.0);
}

TEST(ProjectDigest, IsBlake2b256InPiecesOfAnySize) {
    const auto hex = [](const np::project::Digest& d) {
        std::string text;
        for (std::uint8_t b : d) {
            const char* digits = "0123456789abcdef";
            text += digits[b >> 4];
            text += digits[b & 15];
        }
        return text;
    };
    EXPECT_EQ(hex(np::project::digestPayload(nullptr, 0, {}, "")),
              "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8");
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(hex(np::project::digestPayload(abc, 3, {}, "")),
              "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319");
    std::vector<std::uint8_t> large(3 * 262144 + 11);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<std::uint8_t>(i * 7);
    }
    EXPECT_EQ(np::project::digestPayload(large.data(), large.size(), {}, ""),
              cvtest::project::blake2b256(large.data(), large.size()));
}

TEST(ProjectWriter, RefusesABrokenDocumentWithTheFirstBrokenRule) {
    struct Case {
        const char* name;
        void (*breakIt)(np::Document&, np::SessionMeta&);
        const char* message;
    };
    const Case cases[] = {
        {"no audio", [](np::Document& d, np::SessionMeta&) { d.audio.reset(); },
         "The project does not contain source audio"},
        {"rate below 8000", [](np::Document& d, np::SessionMeta&) { d.sampleRate = 7999.0; },
         "The source audio exceeds the supported duration, channel, sample-rate, or memory limits"},
        {"NaN sample",
         [](np::Document& d, np::SessionMeta&) {
             auto audio = std::make_shared<np::AudioBuffer>(*d.audio);
             audio->samples[1234] = std::nanf("");
             d.audio = audio;
         },
         "The source audio contains invalid samples"},
        {"samples shorter than the shape",
         [](np::Document& d, np::SessionMeta&) {
             auto audio = std::make_shared<np::AudioBuffer>(*d.audio);
             audio->samples.pop_back();
             d.audio = audio;
         },
         "The source audio exceeds the supported duration, channel, sample-rate, or memory limits"},
        {"track rate off", [](np::Document& d, np::SessionMeta&) { d.track.sampleRate = 44100.1; },
         "The pitch-track metadata is invalid"},
        {"frame below hop", [](np::Document& d, np::SessionMeta&) { d.track.frame = 255; },
         "The pitch-track metadata is invalid"},
        {"more frames than audio",
         [](np::Document& d, np::SessionMeta&) { d.track.frames.resize(20000 / 256 + 3); },
         "The pitch track is not consistent with the source audio"},
        {"frequency 30000.5", [](np::Document& d, np::SessionMeta&) { d.track.frames[3].hz = 30000.5; },
         "The pitch track contains invalid values"},
        {"NaN confidence",
         [](np::Document& d, np::SessionMeta&) { d.track.frames[4].confidence = std::nan(""); },
         "The pitch track contains invalid values"},
        {"unknown frame flag", [](np::Document& d, np::SessionMeta&) { d.track.frames[4].flags = 2; },
         "The pitch track contains invalid values"},
        {"duplicate id", [](np::Document& d, np::SessionMeta&) { d.notes[3].id = d.notes[1].id; },
         "The project contains an invalid note"},
        {"span past the audio", [](np::Document& d, np::SessionMeta&) { d.notes[0].sourceEnd = 20001; },
         "The project contains an invalid note"},
        {"gain above 24", [](np::Document& d, np::SessionMeta&) { d.notes[0].gainDb = 24.001; },
         "The project contains an invalid note"},
        {"curve too long for its span",
         [](np::Document& d, np::SessionMeta&) {
             d.notes[1].levelCurve = std::make_shared<const std::vector<float>>(3333 / 256 + 65, 0.0f);
         },
         "A note curve is not consistent with its source span"},
        {"NaN in a curve",
         [](np::Document& d, np::SessionMeta&) {
             auto curve = *d.notes[1].pitchCurve;
             curve[2] = std::nanf("");
             d.notes[1].pitchCurve = std::make_shared<const std::vector<float>>(curve);
         },
         "A note curve is not consistent with its source span"},
        {"next id not above the ids", [](np::Document& d, np::SessionMeta&) { d.nextNoteId = d.notes[5].id; },
         "The note identifier sequence is invalid"},
        {"key root 12", [](np::Document&, np::SessionMeta& m) { m.keyRoot = 12; },
         "The session settings are invalid"},
        {"negative scale", [](np::Document&, np::SessionMeta& m) { m.scaleKind = -1; },
         "The session settings are invalid"},
        {"tempo 300.5", [](np::Document&, np::SessionMeta& m) { m.tempoBpm = 300.5; },
         "The session settings are invalid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        np::Document doc = makeSession(1, 20000, 6);
        np::SessionMeta meta = makeSettings();
        c.breakIt(doc, meta);
        try {
            (void)np::serializeDocumentForDawState(doc, 0, meta, {});
            ADD_FAILURE() << "written";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        // The reader refuses the same content with the same sentence.
        if (doc.audio && doc.audio->samples.size() == 20000) {
            const auto outcome = read(encodeFile(doc, 0, meta, 3));
            EXPECT_EQ(outcome.error, np::DeserializeError::InvalidContent);
            EXPECT_EQ(outcome.message,
                      c.message == std::string("The pitch track is not consistent with the source audio")
                          ? "The pitch-track metadata is invalid"
                          : c.message);
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
    const auto bytes = np::serializeDocument(doc, 0, meta);
    EXPECT_EQ(read(bytes).error, np::DeserializeError::None);

    doc.notes[0].length = 101;
    EXPECT_THROW((void)np::serializeDocument(doc, 0, meta), std::invalid_argument);
}

TEST(ProjectWriter, PlansTheWorkingSetBeforeWriting) {
    const np::Document doc = makeSession(1, 20000, 4);
    const np::SessionMeta meta = makeSettings();
    const auto bytes = np::serializeDocument(doc, 0, meta);
    const std::uint64_t fileBytes = bytes.size();
    const auto messageAt = [&](std::uint64_t limit, int copies) -> std::string {
        try {
            (void)np::serializeDocumentWithLimit(doc, 0, meta, {}, limit, copies, 0);
            return "";
        } catch (const std::length_error& e) {
            return e.what();
        }
    };
    // Find the smallest limit a single copy fits in; a second copy needs more.
    std::uint64_t low = 0;
    std::uint64_t high = 671088640;
    while (low + 1 < high) {
        const std::uint64_t mid = (low + high) / 2;
        (messageAt(mid, 1).empty() ? high : low) = mid;
    }
    EXPECT_EQ(messageAt(high, 1), "");
    EXPECT_EQ(
        messageAt(high - 1, 1),
        "The resident project model and serialized copies exceed the 640 MiB project working-set limit");
    EXPECT_EQ(
        messageAt(high, 2),
        "The resident project model and serialized copies exceed the 640 MiB project working-set limit");
    EXPECT_EQ(messageAt(high + fileBytes + 64, 2), "");
    EXPECT_EQ(messageAt(1000, 1),
              "The resident project model and serialized copy exceed the 640 MiB project working-set limit");
    EXPECT_EQ(messageAt(100, 1),
              "The resident project model and serialized copy exceed the 640 MiB project working-set limit");

    // The reader, planning one copy, accepts with the same limit and refuses one byte less.
    EXPECT_EQ(read(bytes, high).error, np::DeserializeError::None);
    const auto tight = read(bytes, high - 1);
    EXPECT_EQ(tight.error, np::DeserializeError::OverLimit);
    EXPECT_FALSE(tight.document.has_value());
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
