#include "sim/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using dielmon::sim::ParseSimOptions;
using dielmon::sim::SimHelpText;
using dielmon::sim::SimOptions;

namespace {

SimOptions Parsed(const std::vector<std::string>& args) {
    std::string error;
    const auto o = ParseSimOptions(args, &error);
    EXPECT_TRUE(o.has_value()) << error;
    return o.value_or(SimOptions{});
}

} // namespace

TEST(SimOptions, NoArgumentsGiveTheDefaults) {
    const SimOptions o = Parsed({});
    EXPECT_TRUE(o.Device.empty());
    EXPECT_EQ(o.Baud, 9600);
    EXPECT_EQ(o.Speed, 1.0);
    EXPECT_EQ(o.InstrumentType, 5);
    EXPECT_FALSE(o.DoubleSteps);
    EXPECT_EQ(o.Records, 9);
    EXPECT_FALSE(o.Error.has_value());
    EXPECT_FALSE(o.HangupAt.has_value());
    EXPECT_FALSE(o.Silent || o.Noise || o.Split || o.BadCheck || o.SaveDone || o.Help);
}

TEST(SimOptions, EveryOptionSetsItsField) {
    const SimOptions o =
        Parsed({"--device", "/dev/ttyS1", "--baud",  "19200",          "--speed",
                "50",       "--type",     "7",       "--double-steps", "--records",
                "100",      "--error",    "B1@3",    "--hangup-at",    "12",
                "--silent", "--noise",    "--split", "--bad-check",    "--save-done",
                "--trace"});
    EXPECT_EQ(o.Device, "/dev/ttyS1");
    EXPECT_EQ(o.Baud, 19200);
    EXPECT_EQ(o.Speed, 50.0);
    EXPECT_EQ(o.InstrumentType, 7);
    EXPECT_TRUE(o.DoubleSteps);
    EXPECT_EQ(o.Records, 100);
    ASSERT_TRUE(o.Error.has_value());
    EXPECT_EQ(o.Error->Code, 0xB1);
    EXPECT_EQ(o.Error->Step, 3);
    EXPECT_EQ(o.HangupAt, 12);
    EXPECT_TRUE(o.Silent && o.Noise && o.Split && o.BadCheck && o.SaveDone && o.Trace);
}

TEST(SimOptions, ValuesMayFollowAnEqualsSign) {
    const SimOptions o = Parsed({"--speed=1000", "--records=0", "--error=0xa2@0", "--type=4"});
    EXPECT_EQ(o.Speed, 1000.0);
    EXPECT_EQ(o.Records, 0);
    ASSERT_TRUE(o.Error.has_value());
    EXPECT_EQ(o.Error->Code, 0xA2);
    EXPECT_EQ(o.Error->Step, 0);
    EXPECT_EQ(o.InstrumentType, 4);
}

TEST(SimOptions, FractionalSpeedsSlowTheInstrumentDown) {
    EXPECT_EQ(Parsed({"--speed", "0.5"}).Speed, 0.5);
}

TEST(SimOptions, HelpIsAFlagAndItsTextNamesEveryOption) {
    EXPECT_TRUE(Parsed({"--help"}).Help);
    const std::string text = SimHelpText();
    for (const char* name : {"--device", "--baud", "--speed", "--type", "--double-steps",
                             "--records", "--error", "--hangup-at", "--silent", "--noise",
                             "--split", "--bad-check", "--save-done", "--help"}) {
        EXPECT_NE(text.find(name), std::string::npos) << name;
    }
}

struct BadArguments {
    std::vector<std::string> Args;
    std::string Named; // what the message must mention
};

class SimOptionsRejects : public testing::TestWithParam<BadArguments> {};

TEST_P(SimOptionsRejects, WithAMessageNamingTheArgument) {
    std::string error;
    EXPECT_FALSE(ParseSimOptions(GetParam().Args, &error).has_value());
    EXPECT_NE(error.find(GetParam().Named), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    BadOptions, SimOptionsRejects,
    testing::Values(
        BadArguments{{"--bogus"}, "--bogus"}, BadArguments{{"extra"}, "extra"},
        BadArguments{{"--speed"}, "--speed"}, BadArguments{{"--speed", "0"}, "0"},
        BadArguments{{"--speed", "-2"}, "-2"}, BadArguments{{"--speed", "fast"}, "fast"},
        BadArguments{{"--speed", "nan"}, "nan"}, BadArguments{{"--type", "3"}, "3"},
        BadArguments{{"--type", "8"}, "8"}, BadArguments{{"--records", "101"}, "101"},
        BadArguments{{"--records", "-1"}, "-1"}, BadArguments{{"--records", "9x"}, "9x"},
        BadArguments{{"--error", "B1"}, "B1"}, BadArguments{{"--error", "1B1@2"}, "1B1@2"},
        BadArguments{{"--error", "ZZ@2"}, "ZZ@2"}, BadArguments{{"--error", "B1@"}, "B1@"},
        BadArguments{{"--error", "B1@-1"}, "B1@-1"}, BadArguments{{"--hangup-at", "x"}, "x"},
        BadArguments{{"--baud", "9601"}, "9601"}, BadArguments{{"--device", ""}, "--device"},
        BadArguments{{"--silent=1"}, "--silent"}));
