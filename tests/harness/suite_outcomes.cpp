// A test program whose suites end in every way the per-suite harness must tell apart, for its self-test
// (check_suite_results.cmake): it is built, never registered itself.

#include <gtest/gtest.h>
#include <memory>
#include <string_view>

namespace {

TEST(Mixed, Passes) {}
TEST(Mixed, Skips) {
    GTEST_SKIP() << "nothing to check here";
}
// A message that would end a case, a string or an object early in a report read carelessly.
TEST(Mixed, Fails) {
    EXPECT_EQ(1, 2)
        << "a <marked> & \"quoted\" {braced} message</testcase> ]]> <![CDATA[\nwith a second line…";
}
TEST(Mixed, DISABLED_Waits) {}

class Skipped : public testing::TestWithParam<int> {};
TEST_P(Skipped, Always) {
    GTEST_SKIP();
}
INSTANTIATE_TEST_SUITE_P(Every, Skipped, testing::Values(1, 2));

TEST(DISABLED_Parked, Waits) {}

// GoogleTest leaves a suite's own failure out of its result and skips the suite's cases.
struct BrokenSetUp : testing::Test {
    static void SetUpTestSuite() { FAIL() << "the suite's set-up failed"; }
};
TEST_F(BrokenSetUp, Runs) {}

// A failure outside every case: the global environment's tear-down fails in a run of this suite, whose
// case passes. GoogleTest reports it apart from the cases ("NonTestSuiteFailure") and exits with 1.
TEST(TornDown, Passes) {}

bool ran(std::string_view suiteName) {
    const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
    for (int i = 0; i < unit.total_test_suite_count(); ++i) {
        if (unit.GetTestSuite(i)->name() == suiteName)
            return unit.GetTestSuite(i)->should_run();
    }
    return false;
}

struct TearDownFails : testing::Environment {
    void TearDown() override {
        if (ran("TornDown"))
            ADD_FAILURE() << "the environment's tear-down failed";
    }
};
// GoogleTest owns the environments it is given.
testing::Environment* const tearDownFails =
    testing::AddGlobalTestEnvironment(std::make_unique<TearDownFails>().release());

} // namespace
