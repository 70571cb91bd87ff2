// A captured message box compared whole with the one a test expects:
// EXPECT_EQ(box, OkBox(caption, text, icon)) checks every field at once, and
// a failure prints both boxes in full.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>

#include "support/message_box_capture.h"

namespace testsupport {

inline bool operator==(const CapturedMessageBox& a, const CapturedMessageBox& b) {
    return a.found == b.found && a.caption == b.caption && a.text == b.text && a.icon == b.icon &&
           a.owner == b.owner && a.pressedButton == b.pressedButton;
}

inline void PrintTo(const CapturedMessageBox& box, std::ostream* out) {
    *out << (box.found ? "{" : "{not found, ") << testing::PrintToString(box.caption) << ", "
         << testing::PrintToString(box.text) << ", icon " << box.icon << ", owner " << box.owner << ", button "
         << box.pressedButton << "}";
}

// A box that was found and dismissed with OK, its only button.
inline CapturedMessageBox OkBox(std::string caption, std::string text, MessageBoxIcon icon, HWND owner = nullptr) {
    return {true, std::move(caption), std::move(text), icon, owner, IDOK};
}

}  // namespace testsupport
