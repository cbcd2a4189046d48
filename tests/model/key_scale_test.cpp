#include "engine/model/key_scale.h"

#include <gtest/gtest.h>

namespace {

double snap(double pitch, int root, unsigned kind, double a4 = 440.0) {
    return np::nearestScaleDegree(pitch, np::KeyScale{root, kind}, a4);
}

TEST(KeyScale, DegreesFollowRootAndKindAndWrapNegativeRoots) {
    const auto dMajor = np::KeyScale{2, 1}.degrees();
    const bool expectDMajor[12] = {false, true, true,  false, true,  false,
                                   true,  true, false, true,  false, true};
    for (int pc = 0; pc < 12; ++pc)
        EXPECT_EQ(dMajor[pc], expectDMajor[pc]) << "pitch class " << pc;

    // A root of -10 is the same pitch class as 2; it must not index outside the mask.
    EXPECT_EQ(np::KeyScale({-10, 1}).degrees(), dMajor);
    EXPECT_EQ(np::KeyScale({14, 1}).degrees(), dMajor);

    const auto aMinor = np::KeyScale{9, 2}.degrees();
    for (int pc : {9, 11, 0, 2, 4, 5, 7})
        EXPECT_TRUE(aMinor[pc]) << pc;
    EXPECT_FALSE(aMinor[1]);

    for (bool set : np::KeyScale{0, 7}.degrees())
        EXPECT_FALSE(set);
}

TEST(KeyScale, NearestDegreeTiesGoUpAndHonourTheReference) {
    EXPECT_EQ(snap(60.5, 0, 0), 61.0);
    EXPECT_EQ(snap(60.4, 0, 0), 60.0);
    EXPECT_EQ(snap(-60.5, 0, 0), -60.0); // tie between -61 and -60 goes to the higher degree
    EXPECT_EQ(snap(61.0, 0, 1), 62.0);   // C# in C major: C and D tie, D wins
    EXPECT_NEAR(snap(69.0, 9, 1, 432.0), 68.68233, 1e-5);
    EXPECT_NEAR(snap(60.2, 0, 1, 432.0), 60.0 - 0.31767, 1e-5);
}

TEST(KeyScale, NearestDegreeWithoutDegreesRoundsInTheTuning) {
    EXPECT_EQ(snap(60.6, 0, 5), 61.0);
    EXPECT_NEAR(snap(60.6, 0, 5, 432.0), 61.0 - 0.31767, 1e-5);
}

TEST(KeyScale, NoteNames) {
    EXPECT_EQ(np::midiNoteName(60), "C4");
    EXPECT_EQ(np::midiNoteName(69), "A4");
    EXPECT_EQ(np::midiNoteName(0), "C-1");
    EXPECT_EQ(np::midiNoteName(127), "G9");
    EXPECT_EQ(np::midiNoteName(-1), "B-2");
}

} // namespace
