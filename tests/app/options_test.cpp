// The command-line options, found by case-sensitive substring search.
#include <gtest/gtest.h>

#include <string>

#include "app/options.h"

namespace {

using quorvel::Options;
using quorvel::ParseOptions;

// The options found, told whole: the persistent flag, then those that are set.
std::string Told(const Options& options) {
    std::string told = "persistent " + std::to_string(options.PersistentFlag);
    if (options.Uninstall) told += ", uninstall";
    if (options.KeepRequested) told += ", keep";
    if (options.SettingsText) told += ", text \"" + std::string(options.SettingsText) + "\"";
    return told;
}

TEST(Options, NoneGiven) {
    EXPECT_EQ(Told(ParseOptions("")), "persistent 0");
    EXPECT_EQ(Told(ParseOptions(nullptr)), "persistent 0");
}

TEST(Options, SettingsTextRunsToTheEndAndOptionsInsideItCount) {
    const char* line = "/f /s=port COM1 /k tx AT";
    Options options = ParseOptions(line);
    EXPECT_EQ(Told(options), "persistent 1, keep, text \"port COM1 /k tx AT\"") << "the /k inside it takes effect";
    EXPECT_EQ(options.SettingsText, line + 6) << "it points into the command line";
    EXPECT_EQ(Told(ParseOptions("/k /s=")), "persistent 1, keep, text \"\"") << "present but empty";
    EXPECT_STREQ(ParseOptions("/s=a/s=b").SettingsText, "a/s=b") << "from the first /s=";
    EXPECT_TRUE(ParseOptions("/s=install/dir").Uninstall) << "/d inside the settings text";
}

TEST(Options, OnlyLowerCaseLettersAreOptions) {
    EXPECT_EQ(Told(ParseOptions("/K /D /F /S=x")), "persistent 0");
}

TEST(Options, KeepWinsOverFree) {
    EXPECT_EQ(ParseOptions("/k /f").PersistentFlag, 1);
    EXPECT_EQ(ParseOptions("/f/k").PersistentFlag, 1);
    EXPECT_EQ(ParseOptions("/f").PersistentFlag, 0);
    EXPECT_TRUE(ParseOptions("x/ky").KeepRequested) << "letters anywhere, not words";
}

}  // namespace
