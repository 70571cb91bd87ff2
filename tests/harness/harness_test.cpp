// Checks of the environment that every other test relies on.
#include <windows.h>
#include <gtest/gtest.h>

TEST(Harness, AnsiCodePageIs1252) { EXPECT_EQ(GetACP(), 1252u); }
