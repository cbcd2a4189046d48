// The notice line's rules under an injected clock: ranks, the waiting slot, progress parking, identical
// notices, dismissal once, empty text, and the opacity at the fade boundaries.

#include "ui/notice_line.h"

#include <gtest/gtest.h>

namespace cv::ui {
namespace {

using Kind = NoticeKind;
using std::chrono::milliseconds;

struct NoticeLineRules : testing::Test {
    TimePoint t0{milliseconds(1'000'000)};
    TimePoint now = t0;
    NoticeLine line;
    void At(double ms) {
        now = t0 +
              std::chrono::duration_cast<TimePoint::duration>(std::chrono::duration<double, std::milli>(ms));
        line.Advance(now);
    }
    void Show(const char* text, Kind kind) {
        const int ms = kind == Kind::Warning ? 8000 : kind == Kind::Error ? 0 : 4000;
        line.Show(text, kind, ms, now);
    }
    std::string Text() const { return line.Visible() ? line.Current().text : "<hidden>"; }
};

TEST(NoticeKinds, EachKindShowsItsBadge) {
    const std::pair<Kind, const char*> badges[] = {{Kind::Status, "Info"},
                                                   {Kind::Success, "Done"},
                                                   {Kind::Warning, "Notice"},
                                                   {Kind::Error, "Error"},
                                                   {Kind::Progress, "Working"}};
    for (const auto& [kind, badge] : badges)
        EXPECT_STREQ(NoticeBadge(kind), badge);
}

TEST_F(NoticeLineRules, RanksWaitingSlotAndProgressParkingFollowTheRules) {
    // Two identical warnings show once and the second does not restart the 8 s.
    Show("Chords may not edit reliably", Kind::Warning);
    At(5000);
    Show("Chords may not edit reliably", Kind::Warning);
    // A status notice during the warning waits until the warning's 8 s end.
    Show("Exported WAV: take.wav", Kind::Status);
    EXPECT_EQ(line.Current().kind, Kind::Warning);
    At(7999);
    EXPECT_EQ(Text(), "Chords may not edit reliably");
    At(8000);
    EXPECT_EQ(Text(), "Exported WAV: take.wav");
    EXPECT_FALSE(line.Waiting());
    // A warning during a status notice replaces it at once.
    Show("Capture was too short", Kind::Warning);
    EXPECT_EQ(Text(), "Capture was too short");
    EXPECT_FALSE(line.Waiting());
    At(20000); // timed out, nothing waits
    EXPECT_EQ(Text(), "<hidden>");

    // Progress parks a status notice, which returns when the progress is dismissed.
    Show("Restored capture", Kind::Status);
    line.ShowProgress("Analyzing audio · 10%", 0.1f, true, now);
    EXPECT_EQ(line.ShownKind(), Kind::Progress);
    ASSERT_TRUE(line.Waiting());
    EXPECT_EQ(line.Waiting()->text, "Restored capture");
    // A status notice during progress waits and replaces the waiting one; a warning then takes the slot
    // and a status cannot displace it.
    Show("Second", Kind::Status);
    EXPECT_EQ(line.Waiting()->text, "Second");
    Show("Careful", Kind::Warning);
    Show("Third", Kind::Status);
    EXPECT_EQ(line.Waiting()->text, "Careful");
    // An error during progress shows at once and drops the waiting notice.
    Show("Couldn't export the file.", Kind::Error);
    EXPECT_EQ(line.ShownKind(), Kind::Error);
    EXPECT_FALSE(line.Waiting());
    // Progress over an error shows nothing; a status notice waits behind the error until its dismissal.
    line.ShowProgress("Working", 0.5f, false, now);
    EXPECT_EQ(line.ShownKind(), Kind::Error);
    Show("After the error", Kind::Status);
    At(60000);
    EXPECT_EQ(line.ShownKind(), Kind::Error);
    line.Dismiss(now);
    At(60000 + kNoticeDismissMs);
    EXPECT_EQ(Text(), "After the error");

    // An empty text hides the line.
    Show("", Kind::Warning);
    EXPECT_EQ(Text(), "<hidden>");
    Show(nullptr, Kind::Status);
    EXPECT_FALSE(line.Visible());
}

TEST_F(NoticeLineRules, ANoticeOfEqualOrHigherRankReplacesTheOneShowingAndALowerOneWaits) {
    const struct {
        Kind showing, next;
        const char* text; // of the next notice; the one showing says "first"
        bool replaces;
    } cases[] = {
        {Kind::Status, Kind::Status, "second", true},  {Kind::Status, Kind::Success, "second", true},
        {Kind::Success, Kind::Status, "second", true}, {Kind::Warning, Kind::Warning, "second", true},
        {Kind::Error, Kind::Error, "second", true},    {Kind::Success, Kind::Warning, "second", true},
        {Kind::Warning, Kind::Error, "first", true},   {Kind::Warning, Kind::Success, "second", false},
        {Kind::Error, Kind::Warning, "second", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << NoticeBadge(c.showing) << " then " << NoticeBadge(c.next) << " " << c.text);
        line = NoticeLine{};
        Show("first", c.showing);
        At(1000);
        Show(c.text, c.next);
        EXPECT_EQ(Text(), c.replaces ? c.text : "first");
        EXPECT_EQ(line.ShownKind(), c.replaces ? c.next : c.showing);
        EXPECT_EQ(line.Waiting() ? line.Waiting()->text : "<none>", c.replaces ? "<none>" : c.text);
    }
}

TEST_F(NoticeLineRules, ProgressParksTheNoticeShowingUntilItIsDismissed) {
    for (const Kind kind : {Kind::Status, Kind::Success, Kind::Warning}) {
        SCOPED_TRACE(NoticeBadge(kind));
        line = NoticeLine{};
        At(0);
        Show("parked", kind);
        line.ShowProgress("Analyzing audio", 0.2f, true, now);
        EXPECT_EQ(line.ShownKind(), Kind::Progress);
        line.Dismiss(now);
        At(kNoticeDismissMs);
        EXPECT_EQ(Text(), "parked");
        EXPECT_EQ(line.ShownKind(), kind);
    }
}

TEST_F(NoticeLineRules, OpacityAtTheFadeBoundariesAndTheSevenUnitRise) {
    Show("Saved", Kind::Status); // 4000 ms: 110 in, 130 out
    const struct {
        double ms;
        float opacity;
    } timed[] = {{0, 0.f}, {55, 0.5f}, {110, 1.f}, {2000, 1.f}, {3870, 1.f}, {3935, 0.5f}, {3999, 0.f}};
    for (const auto& row : timed) {
        SCOPED_TRACE(row.ms);
        At(row.ms);
        EXPECT_NEAR(line.Opacity(now), row.opacity, 2e-3f);
        EXPECT_NEAR(line.Drop(now), (1.f - row.opacity) * 7.f, 2e-2f);
    }
    At(4000);
    EXPECT_FALSE(line.Visible());
    EXPECT_FLOAT_EQ(line.Opacity(now), 0.f);

    // A sticky notice fades in over 110 ms as 1 - (1 - p)^3.
    Show("Couldn't export the file.", Kind::Error);
    const double start = 4000;
    At(start + 55);
    EXPECT_NEAR(line.Opacity(now), 0.875f, 1e-3f);
    At(start + 110);
    EXPECT_FLOAT_EQ(line.Opacity(now), 1.f);
    EXPECT_TRUE(line.Visible()); // an error stays

    // A dismissal fades out over 90 ms, once: a second Dismiss during the fade does not restart it.
    line.Dismiss(now);
    At(start + 155);
    EXPECT_NEAR(line.Opacity(now), 0.5f, 1e-3f);
    line.Dismiss(now);
    At(start + 200);
    EXPECT_FALSE(line.Visible());
    line.Dismiss(now); // hidden: nothing
    EXPECT_FALSE(line.Visible());

    // Progress fades in once ("Working" for no text, the fraction clamped); an update does not fade again.
    line.ShowProgress(nullptr, 2.f, true, now);
    EXPECT_EQ(line.Current().text, "Working");
    EXPECT_FLOAT_EQ(line.Fraction(), 1.f);
    EXPECT_FLOAT_EQ(line.Opacity(now), 0.f);
    At(start + 400);
    line.ShowProgress("Analyzing audio · 40%", 0.4f, true, now);
    EXPECT_FLOAT_EQ(line.Opacity(now), 1.f);
}

TEST_F(NoticeLineRules, TheSameTextRaisedDuringItsDismissalComesBack) {
    Show("Couldn't export the file.", Kind::Error);
    line.Dismiss(now);
    At(45);
    Show("Couldn't export the file.", Kind::Error);
    At(200);
    EXPECT_EQ(line.ShownKind(), Kind::Error);
}

} // namespace
} // namespace cv::ui
