// A test program whose suites end in every way the per-suite harness must tell apart, for its self-test
// (check_suite_results.cmake): it is built, never registered itself.

#include <gtest/gtest.h>

namespace {

TEST(Mixed, Passes) {}
TEST(Mixed, Skips) {
    GTEST_SKIP() << "nothing to check here";
}
TEST(Mixed, Fails) {
    EXPECT_EQ(1, 2) << "a <marked> & \"quoted\" message";
}
TEST(Mixed, DISABLED_Waits) {}

class Skipped : public testing::TestWithParam<int> {};
TEST_P(Skipped, Always) {
    GTEST_SKIP();
}
INSTANTIATE_TEST_SUITE_P(Every, Skipped, testing::Values(1, 2));

TEST(DISABLED_Parked, Waits) {}

// GoogleTest leaves a suite's own failure out of its XML result and skips the suite's cases.
struct BrokenSetUp : testing::Test {
    static void SetUpTestSuite() { FAIL() << "the suite's set-up failed"; }
};
TEST_F(BrokenSetUp, Runs) {}

} // namespace
