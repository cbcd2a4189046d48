#include "plugin/flow_stamps.h"

#include <gtest/gtest.h>

namespace {

using cv::RenderPair;

TEST(FlowStamps, AResultIsUsedOnlyWhileEveryStampStillMatches) {
    const cv::AnalysisStamps analysis{5, 9};
    EXPECT_TRUE(cv::analysisResultCurrent(analysis, {5, 9}, true));
    EXPECT_FALSE(cv::analysisResultCurrent(analysis, {6, 9}, true));  // another session
    EXPECT_FALSE(cv::analysisResultCurrent(analysis, {5, 10}, true)); // the notes changed
    EXPECT_FALSE(cv::analysisResultCurrent(analysis, {5, 9}, false)); // the audio is gone

    const cv::RenderTags render{3, 5, 7};
    for (const cv::RenderTags now : {cv::RenderTags{4, 5, 7}, {3, 6, 7}, {3, 5, 8}})
        EXPECT_FALSE(cv::renderResultCurrent(render, now)) << now.revision << now.sessionGeneration;
    EXPECT_TRUE(cv::renderResultCurrent(render, {3, 5, 7}));

    const cv::AuditionKey audition{2, 11, 5};
    for (const cv::AuditionKey now : {cv::AuditionKey{1, 11, 5}, {2, 12, 5}, {2, 11, 6}})
        EXPECT_FALSE(cv::auditionResultCurrent(audition, now)) << now.noteId << now.sequence;
    EXPECT_TRUE(cv::auditionResultCurrent(audition, {2, 11, 5}));
    EXPECT_FALSE(cv::auditionResultCurrent({0, 11, 5}, {0, 11, 5})); // nothing auditioned
}

TEST(FlowStamps, ARenderIsDueWhenTheRevisionIsNeitherRequestedNorCompleted) {
    struct Case {
        std::uint64_t revision, requested, completed;
        bool due;
    };
    for (const Case& c :
         {Case{1, 1, 1, false}, Case{2, 1, 1, true}, Case{2, 2, 1, false}, Case{2, 1, 2, false},
          Case{1, 2, 2, true}}) // undo back to an earlier revision renders again
        EXPECT_EQ(cv::renderDue(c.revision, c.requested, c.completed), c.due)
            << c.revision << " " << c.requested << " " << c.completed;

    // The offline path's pair settles the flow only for the current revision and generation, once.
    EXPECT_TRUE(cv::offlinePairSettles(RenderPair{4, 9}, 4, 9, 3));
    EXPECT_FALSE(cv::offlinePairSettles(RenderPair{4, 9}, 4, 9, 4));
    EXPECT_FALSE(cv::offlinePairSettles(RenderPair{4, 8}, 4, 9, 3));
    EXPECT_FALSE(cv::offlinePairSettles(RenderPair{3, 9}, 4, 9, 3));
    EXPECT_FALSE(cv::offlinePairSettles(std::nullopt, 4, 9, 3));
}

TEST(FlowStamps, ACaptureIsInstalledOnlyIfNothingMovedWhileItRecorded) {
    const cv::CaptureStamps armed{1, 2, 3};
    EXPECT_EQ(cv::judgeCapture(armed, {1, 2, 3}), cv::CaptureVerdict::Install);
    for (const cv::CaptureStamps now : {cv::CaptureStamps{2, 2, 3}, {1, 3, 3}, {1, 2, 4}})
        EXPECT_EQ(cv::judgeCapture(armed, now), cv::CaptureVerdict::EditChanged);
    EXPECT_EQ(cv::judgeCapture(std::nullopt, {1, 2, 3}), cv::CaptureVerdict::Abandoned);
}

} // namespace
