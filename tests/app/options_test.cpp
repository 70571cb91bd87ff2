// The command-line options, found by case-sensitive substring search.
#include <gtest/gtest.h>

#include <string>

#include "app/options.h"

namespace {

using quorvel::Options;
using quorvel::ParseOptions;

TEST(Options, NoneGiven) {
    Options options = ParseOptions("");
    EXPECT_EQ(options.PersistentFlag, 0);
    EXPECT_EQ(options.SettingsText, nullptr);
    EXPECT_FALSE(options.Uninstall);
    EXPECT_FALSE(options.KeepRequested);
    EXPECT_EQ(ParseOptions(nullptr).SettingsText, nullptr);
}

TEST(Options, SettingsTextRunsToTheEndAndOptionsInsideItCount) {
    const char* line = "/f /s=port COM1 /k tx AT";
    Options options = ParseOptions(line);
    ASSERT_NE(options.SettingsText, nullptr);
    EXPECT_STREQ(options.SettingsText, "port COM1 /k tx AT");
    EXPECT_EQ(options.SettingsText, line + 6) << "it points into the command line";
    EXPECT_EQ(options.PersistentFlag, 1) << "the /k inside the settings text takes effect";

    Options atEnd = ParseOptions("/k /s=");
    ASSERT_NE(atEnd.SettingsText, nullptr);
    EXPECT_STREQ(atEnd.SettingsText, "") << "present but empty";

    EXPECT_STREQ(ParseOptions("/s=a/s=b").SettingsText, "a/s=b") << "from the first /s=";
    EXPECT_TRUE(ParseOptions("/s=install/dir").Uninstall) << "/d inside the settings text";
}

TEST(Options, OnlyLowerCaseLettersAreOptions) {
    Options options = ParseOptions("/K /D /F /S=x");
    EXPECT_EQ(options.PersistentFlag, 0);
    EXPECT_FALSE(options.Uninstall);
    EXPECT_FALSE(options.KeepRequested);
    EXPECT_EQ(options.SettingsText, nullptr);
}

TEST(Options, KeepWinsOverFree) {
    EXPECT_EQ(ParseOptions("/k /f").PersistentFlag, 1);
    EXPECT_EQ(ParseOptions("/f/k").PersistentFlag, 1);
    EXPECT_EQ(ParseOptions("/f").PersistentFlag, 0);
    EXPECT_TRUE(ParseOptions("x/ky").KeepRequested) << "letters anywhere, not words";
}

}  // namespace
