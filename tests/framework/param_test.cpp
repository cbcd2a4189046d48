#include "framework/param.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using iplug::IParam;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(IParam, ConstrainClampsAndRoundsOnlySteppedParameters) {
    IParam volume; // continuous: the step only sets the display
    volume.InitDouble("Volume", 100.0, 0.0, 100.0, 0.1, "%");
    IParam key;
    key.InitEnum("Key", 0, 12);
    IParam offsetSteps; // stepped double whose minimum is not a multiple of the step
    offsetSteps.InitDouble("Offset", 0.5, 0.5, 10.5, 2.0, "", IParam::kFlagStepped);

    struct Case {
        const IParam* param;
        double in;
        double out;
    };
    const Case cases[] = {
        {&volume, 50.05, 50.05},  {&volume, -3.0, 0.0},     {&volume, 101.0, 100.0},   {&volume, kInf, 100.0},
        {&volume, -kInf, 0.0},    {&volume, kNaN, 100.0},   {&key, 11.5, 11.0},        {&key, 2.5, 3.0},
        {&key, 2.4, 2.0},         {&key, -0.4, 0.0},        {&key, 13.0, 11.0},        {&key, kNaN, 0.0},
        {&offsetSteps, 1.4, 0.5}, {&offsetSteps, 1.6, 2.5}, {&offsetSteps, 9.9, 10.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.param->GetName()) + " " + std::to_string(c.in));
        EXPECT_EQ(c.param->Constrain(c.in), c.out);
    }
}

TEST(IParam, ValuesAndNormalizedMapping) {
    IParam tempo;
    tempo.InitDouble("Tempo", 120.0, 20.0, 300.0, 0.1, "bpm", IParam::kFlagCannotAutomate);
    EXPECT_FALSE(tempo.GetCanAutomate());
    EXPECT_FALSE(tempo.GetStepped());
    EXPECT_EQ(tempo.Value(), 120.0);
    EXPECT_DOUBLE_EQ(tempo.GetNormalized(), 100.0 / 280.0);
    tempo.SetNormalized(1.5);
    EXPECT_EQ(tempo.Value(), 300.0);
    tempo.SetNormalized(kNaN);
    EXPECT_EQ(tempo.Value(), 20.0);
    EXPECT_EQ(tempo.ToNormalized(-50.0), 0.0);
    tempo.Set(99.99);
    EXPECT_EQ(tempo.Int(), 99); // truncates, never rounds
    EXPECT_EQ(tempo.GetDisplay(), "100.0");
    tempo.SetToDefault();
    EXPECT_EQ(tempo.Value(), 120.0);

    IParam a4;
    a4.InitEnum("A4", 3, {"415 Hz", "432 Hz", "435 Hz", "440 Hz"});
    EXPECT_TRUE(a4.GetStepped());
    EXPECT_EQ(a4.Int(), 3);
    EXPECT_EQ(a4.GetDisplay(), "440 Hz");
    EXPECT_EQ(a4.FromNormalized(0.5), 2.0); // 1.5 rounds to a whole index
    EXPECT_EQ(a4.GetDisplay(0.0, true), "415 Hz");
    EXPECT_EQ(a4.NDisplayTexts(), 4);
    double value = -1.0;
    EXPECT_STREQ(a4.GetDisplayTextAtIdx(1, &value), "432 Hz");
    EXPECT_EQ(value, 1.0);
    EXPECT_STREQ(a4.GetDisplayTextAtIdx(4), "");

    IParam single;
    single.InitEnum("Only", 0, {"One"});
    EXPECT_EQ(single.Constrain(5.0), 0.0);
    EXPECT_EQ(single.GetNormalized(), 0.0);
}

TEST(IParam, RefusesBadDefinitions) {
    IParam p;
    EXPECT_THROW(p.InitDouble("x", 0.0, 1.0, 1.0, 0.1), std::invalid_argument);
    EXPECT_THROW(p.InitDouble("x", 0.0, 0.0, 1.0, 0.0), std::invalid_argument);
    EXPECT_THROW(p.InitDouble("x", kNaN, 0.0, 1.0, 0.1), std::invalid_argument);
    EXPECT_THROW(p.InitEnum("x", 0, 0), std::invalid_argument);
}

} // namespace
