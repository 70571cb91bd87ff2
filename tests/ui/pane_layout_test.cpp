// Layout arithmetic of the main window.
#include <gtest/gtest.h>

#include <string>

#include "ui/pane_layout.h"
#include "ui/pane_line_fit.h"

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

// Where a line leaves the pane: a character counts while it begins inside.
TEST(PaneLayout, ALineIsDrawnAsFarAsItBeginsInsideThePane) {
    CharacterWidths widths{};
    widths.fill(5);
    widths[0xFF] = 7;
    EXPECT_EQ(CharactersInRoom("abcdef", widths, 40, 12), 3u) << "begins at 0, 5 and 10, the next at 15";
    EXPECT_EQ(CharactersInRoom("abc", widths, 40, 100), 3u) << "a short line whole";
    EXPECT_EQ(CharactersInRoom("a\tbc", widths, 40, 41), 3u) << "the tab leads b to 40, c would begin at 45";
    EXPECT_EQ(CharactersInRoom("\t\tx", widths, 0, 11), 3u) << "without tab stops a tab is as wide as itself";
    EXPECT_EQ(CharactersInRoom("\xFF\xFF\xFF", widths, 40, 14), 2u) << "each byte by its own width";
    EXPECT_EQ(CharactersInRoom("abc", widths, 40, 0), 0u) << "a pane without width";
    EXPECT_EQ(CharactersInRoom("", widths, 40, 10), 0u);
    CharacterWidths unmeasured{};
    EXPECT_EQ(CharactersInRoom(std::string(100000, 'x'), unmeasured, 40, 10), 100000u)
        << "a font that could not be measured: the whole line";
}

}  // namespace
