#include "plugin/corvalinth_params.h"
#include "plugin/dawstate_reader.h"
#include "plugin/dawstate_writer.h"
#include "tests/io/project_fixtures.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using cv::dawstate::ReadRefusal;
using cv::dawstate::Values;

// The plug-in's own parameter table, as a restore checks values against it.
class ParameterTable : public iplug::IEditorDelegate {
public:
    ParameterTable() : IEditorDelegate(cv::kNumParams) { cv::declareCorvalinthParameters(*this); }
    void SendParameterValueFromUI(int, double) override {}
    void BeginInformHostOfParamChangeFromUI(int) override {}
    void EndInformHostOfParamChangeFromUI(int) override {}
};

class DawStateIo : public testing::Test {
protected:
    static std::vector<std::uint8_t> bytesOf(const iplug::IByteChunk& chunk) {
        return {chunk.GetData(), chunk.GetData() + chunk.Size()};
    }

    ParameterTable parameters_;
    const Values values_ = {62.5, 4.0, 2.0, 1.0, 97.25, 6.0};
    const cv::dawstate::Snapshot session_ =
        cv::dawstate::sessionSnapshot(values_, cvtest::project::makeSession(2, 900, 3), -4410);
};

} // namespace

TEST_F(DawStateIo, ASessionComesBackWholeAndWritesAgainByteForByte) {
    iplug::IByteChunk chunk;
    const Values live = {12.5, 0.0, 0.0, 0.0, 120.0, 3.0};
    ASSERT_TRUE(cv::dawstate::writeStateChunk(chunk, &session_, live));

    const cv::dawstate::ReadResult read = cv::dawstate::readStateChunk(bytesOf(chunk), parameters_);
    ASSERT_EQ(read.refusal, ReadRefusal::None) << read.sessionMessage;
    ASSERT_TRUE(read.snapshot.has_value());
    const cv::dawstate::Snapshot& restored = *read.snapshot;
    EXPECT_EQ(read.end, static_cast<std::uint64_t>(chunk.Size()));
    // The live Volume replaces the snapshot's; every other value is the snapshot's.
    EXPECT_EQ(restored.values, (Values{12.5, 4.0, 2.0, 1.0, 97.25, 6.0}));
    EXPECT_EQ(restored.meta.a4Hz, 443.0);
    EXPECT_TRUE(restored.hasDocument);
    EXPECT_EQ(restored.anchor, -4410);
    ASSERT_EQ(restored.document.notes.size(), session_.document.notes.size());
    EXPECT_EQ(restored.document.notes[2].id, session_.document.notes[2].id);

    // Writing what was read gives the same bytes: nothing of the session was lost or reordered.
    iplug::IByteChunk again;
    ASSERT_TRUE(cv::dawstate::writeStateChunk(again, &restored, live));
    EXPECT_EQ(again, chunk);
}

TEST_F(DawStateIo, WritesValuesAloneAndRefusesWithoutLeavingBytes) {
    iplug::IByteChunk chunk;
    // Nothing published yet: the live values, no session.
    ASSERT_TRUE(cv::dawstate::writeStateChunk(chunk, nullptr, values_));
    ASSERT_EQ(chunk.Size(), 65);
    const cv::dawstate::ReadResult read = cv::dawstate::readStateChunk(bytesOf(chunk), parameters_);
    ASSERT_TRUE(read.snapshot.has_value());
    EXPECT_EQ(read.snapshot->values, values_);
    EXPECT_FALSE(read.snapshot->hasDocument);

    // A refused save leaves the chunk as it was: a broken live Volume, and a session the writer refuses.
    Values broken = values_;
    broken[cv::dawstate::kValueVolume] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(cv::dawstate::writeStateChunk(chunk, &session_, broken));
    cv::dawstate::Snapshot unwritable = session_;
    unwritable.document.nextNoteId = 1; // not above the note ids
    EXPECT_FALSE(cv::dawstate::writeStateChunk(chunk, &unwritable, values_));
    EXPECT_EQ(chunk.Size(), 65);
}

TEST_F(DawStateIo, ChecksValuesAgainstTheParameterTable) {
    struct Case {
        std::size_t index;
        double value;
        bool fits;
    };
    // Only enumerations are stepped: fractional Volume and Tempo must survive a restore.
    const Case cases[] = {
        {0, 33.3, true},  {0, 100.0, true}, {0, -0.0, true},          {0, 100.05, false},
        {4, 97.25, true}, {4, 20.0, true},  {4, 19.95, false},        {1, 1.5, false},
        {3, 2.0, false},  {5, 7.0, true},   {2, std::nan(""), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.index << " = " << c.value);
        Values values = values_;
        values[c.index] = c.value;
        EXPECT_EQ(cv::dawstate::valuesFitParameters(values, parameters_), c.fits);
    }
}

TEST(DawStateValues, DerivesSessionSettingsAndTheAlgorithmToSave) {
    const np::SessionMeta meta = cv::dawstate::DawMetaFromParameters({50.0, 11.0, 1.0, 1.0, 133.7, 0.0});
    EXPECT_EQ(meta.keyRoot, 11);
    EXPECT_EQ(meta.scaleKind, 1);
    EXPECT_EQ(meta.algorithm, 1);
    EXPECT_EQ(meta.tempoBpm, 133.7);
    EXPECT_EQ(meta.a4Hz, 415.0);
    // Out-of-range or missing indices give valid settings.
    EXPECT_EQ(cv::dawstate::DawMetaFromParameters({0.0, 0.0, 0.0, 0.0, 120.0, 12.0}).a4Hz, 444.0);
    EXPECT_EQ(cv::dawstate::DawMetaFromParameters({0.0, std::nan(""), 0.0, 0.0, 120.0, -3.0}).a4Hz, 415.0);

    // An analysed session saves the algorithm it was analysed with, not an unconfirmed change.
    const Values parameters = {100.0, 0.0, 0.0, 1.0, 120.0, 3.0};
    EXPECT_EQ(cv::dawstate::valuesToSave(parameters, true, 0)[cv::dawstate::kValueAlgorithm], 0.0);
    EXPECT_EQ(cv::dawstate::valuesToSave(parameters, false, 0)[cv::dawstate::kValueAlgorithm], 1.0);
}
