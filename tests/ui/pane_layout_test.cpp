// Layout arithmetic of the main window.
#include <gtest/gtest.h>

#include "ui/pane_layout.h"

namespace {

using namespace quorvel;

TEST(PaneLayout, TheEditsShareTheWidthTheResponseTakesTheOddPixel) {
    TerminalEditPlacement odd = PlaceTerminalEdits(301);
    EXPECT_EQ(odd.CommandWidth, 150);
    EXPECT_EQ(odd.ResponseLeft, 150);
    EXPECT_EQ(odd.ResponseWidth, 151);
    TerminalEditPlacement none = PlaceTerminalEdits(0);
    EXPECT_EQ(none.CommandWidth, 0);
    EXPECT_EQ(none.ResponseWidth, 0);
}

TEST(PaneLayout, PanesShareTheHeightBelowTheEditsNeverNegative) {
    EXPECT_EQ(PaneHeightAsked(124, 24, 3), 33) << "100 pixels for three panes, one left over";
    EXPECT_EQ(PaneHeightAsked(124, 24, 1), 100);
    EXPECT_EQ(PaneHeightAsked(24, 24, 2), 0);
    EXPECT_EQ(PaneHeightAsked(0, 24, 2), 0) << "a minimised window";
    EXPECT_EQ(PaneHeightAsked(500, 24, 0), 0) << "no port, no division";
}

TEST(PaneLayout, TheWindowIsFittedToItsContent) {
    EXPECT_EQ(FittedWindowHeight(300, 270, 250), 280);
}

}  // namespace
