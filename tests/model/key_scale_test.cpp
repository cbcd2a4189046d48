#include "engine/model/key_scale.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

double snap(double pitch, int root, unsigned kind, double a4 = 440.0) {
    return np::nearestScaleDegree(pitch, np::KeyScale{root, kind}, a4);
}

TEST(KeyScale, DegreesFollowRootAndKindForAnyRoot) {
    const auto dMajor = np::KeyScale{2, 1}.degrees();
    EXPECT_EQ(dMajor, (std::array<bool, 12>{false, true, true, false, true, false, true, true, false, true,
                                            false, true}));
    // Any root names the same pitch class as its value mod 12, without overflowing near the int limits.
    constexpr int kIntMax = std::numeric_limits<int>::max(); // 7 mod 12
    constexpr int kIntMin = std::numeric_limits<int>::min(); // 4 mod 12
    for (const auto& [root, same] : {std::pair{-10, 2}, {14, 2}, {kIntMax, 7}, {kIntMin, 4}}) {
        SCOPED_TRACE(root);
        EXPECT_EQ(np::KeyScale({root, 1}).degrees(), np::KeyScale({same, 1}).degrees());
    }
    EXPECT_EQ(np::KeyScale({9, 2}).degrees(), np::KeyScale({0, 1}).degrees())
        << "A minor holds C major's notes";
    EXPECT_EQ(np::KeyScale({0, 7}).degrees(), (std::array<bool, 12>{})) << "an unknown kind has no degree";
}

TEST(KeyScale, NearestDegreeTiesGoUpAndHonourTheReference) {
    EXPECT_EQ(snap(60.5, 0, 0), 61.0);
    EXPECT_EQ(snap(60.4, 0, 0), 60.0);
    EXPECT_EQ(snap(-60.5, 0, 0), -60.0); // a tie between -61 and -60 goes to the higher degree
    EXPECT_EQ(snap(61.0, 0, 1), 62.0);   // C# in C major: C and D tie, D wins
    EXPECT_NEAR(snap(69.0, 9, 1, 432.0), 68.68233, 1e-5);
    EXPECT_NEAR(snap(60.6, 0, 5, 432.0), 61.0 - 0.31767, 1e-5) << "no degree: rounded in the tuning";
    EXPECT_EQ(snap(1e7, 0, 1, 432.0), 1e7) << "no MIDI pitch: nothing to snap to";
}

TEST(KeyScale, NoteNames) {
    EXPECT_EQ(std::vector<std::string>({np::midiNoteName(60), np::midiNoteName(69), np::midiNoteName(0),
                                        np::midiNoteName(127), np::midiNoteName(-1)}),
              std::vector<std::string>({"C4", "A4", "C-1", "G9", "B-2"}));
}

} // namespace
