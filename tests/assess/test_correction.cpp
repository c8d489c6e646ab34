// Temperature correction by worked values: the exponential rule above and below 20 °C, tables
// between and beyond their points, and what happens without a temperature or with a negative
// reading.
#include "assess/correction.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace dielmon::assess;

namespace {

Method Exponential() {
    Method m;
    m.Name = "exponential-1.3";
    m.Kind = MethodKind::Exponential;
    return m;
}

Method Table(Beyond outside) {
    Method m;
    m.Name = "lab";
    m.Kind = MethodKind::Table;
    m.Points = {{0, 1.5}, {20, 1.0}, {40, 0.6}};
    m.Outside = outside;
    return m;
}

} // namespace

TEST(Correction, TheExponentialRuleDividesAbove20AndMultipliesBelow) {
    const Method m = Exponential();
    // 0.5 % at 30 °C: A = 1.3, 0.5 / 1.3 = 0.3846 %.
    Corrected c = Correct(m, 30.0, 0.5);
    ASSERT_TRUE(c.Value);
    EXPECT_NEAR(*c.Value, 0.384615, 1e-6);
    EXPECT_NEAR(*c.Factor, 1 / 1.3, 1e-12);
    // 0.5 % at 10 °C: 0.5 × 1.3 = 0.65 %.
    c = Correct(m, 10.0, 0.5);
    EXPECT_NEAR(*c.Value, 0.65, 1e-12);
    EXPECT_NEAR(*c.Factor, 1.3, 1e-12);
    // Two steps away and half a step away: A = 1.69 at 40 °C, √1.3 at 15 °C.
    EXPECT_NEAR(*Correct(m, 40.0, 0.5).Value, 0.5 / 1.69, 1e-12);
    EXPECT_NEAR(*Correct(m, 15.0, 0.5).Value, 0.5 * std::sqrt(1.3), 1e-12);
    EXPECT_DOUBLE_EQ(*Correct(m, 20.0, 0.5).Factor, 1.0);
    EXPECT_NEAR(ExponentialFactor(1.3, 10, 20, 0), 1.69, 1e-12);
    // A negative reading stays negative: the factor only scales it.
    c = Correct(m, 30.0, -0.1);
    EXPECT_LT(*c.Value, 0);
    EXPECT_NEAR(*c.Value, -0.1 / 1.3, 1e-12);
    // Without a temperature the rule cannot work; "none" needs none.
    c = Correct(m, std::nullopt, 0.5);
    EXPECT_FALSE(c.Value);
    EXPECT_FALSE(c.Factor);
    EXPECT_NE(c.Problem.find("no test temperature"), std::string::npos);
    Method none;
    none.Name = "none";
    c = Correct(none, std::nullopt, -0.02);
    EXPECT_DOUBLE_EQ(*c.Value, -0.02);
    EXPECT_DOUBLE_EQ(*c.Factor, 1.0);
    EXPECT_FALSE(Correct(m, std::nan(""), 0.5).Value);
}

TEST(Correction, ATableIsReadOnStraightLinesAndItsEndsAreClampedOrRefused) {
    const Method refuse = Table(Beyond::Refuse);
    EXPECT_NEAR(*Correct(refuse, 10.0, 0.4).Value, 0.5, 1e-12); // factor 1.25
    EXPECT_NEAR(*Correct(refuse, 30.0, 0.4).Factor, 0.8, 1e-12);
    EXPECT_NEAR(*Correct(refuse, 5.0, 0.4).Factor, 1.375, 1e-12);
    // Its points themselves, the ends included.
    EXPECT_DOUBLE_EQ(*TableFactor(refuse.Points, 0, Beyond::Refuse), 1.5);
    EXPECT_DOUBLE_EQ(*TableFactor(refuse.Points, 20, Beyond::Refuse), 1.0);
    EXPECT_DOUBLE_EQ(*TableFactor(refuse.Points, 40, Beyond::Refuse), 0.6);
    // Beyond them: no correction, and why.
    Corrected c = Correct(refuse, 40.5, 0.4);
    EXPECT_FALSE(c.Value);
    EXPECT_EQ(c.Problem, "the table of lab covers 0 to 40 °C, not 40.5 °C");
    EXPECT_FALSE(Correct(refuse, -0.1, 0.4).Value);
    // Or the end's factor, marked as such.
    const Method clamp = Table(Beyond::Clamp);
    c = Correct(clamp, 55, 0.4);
    EXPECT_TRUE(c.Clamped);
    EXPECT_DOUBLE_EQ(*c.Factor, 0.6);
    c = Correct(clamp, -20, 0.4);
    EXPECT_DOUBLE_EQ(*c.Factor, 1.5);
    c = Correct(clamp, 39.9, 0.4);
    EXPECT_FALSE(c.Clamped);
    EXPECT_NEAR(*c.Factor, 0.602, 1e-12);
}
