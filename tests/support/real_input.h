// Real mouse and keyboard input through the X server, as a person would
// give it: xdotool, a Linux program, started from the Windows test (Wine
// runs Unix programs that CreateProcess names by a Z: path). Wine does not
// report when such a program ends, so each call waits a moment; tests then
// poll for the effect.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// Runs xdotool with the arguments; false when it could not be started.
bool XDoTool(std::vector<std::string> arguments);

// A left click at the centre of a window (screen coordinates from outside).
bool ClickWindow(HWND window);
// A left click at a point of the screen.
bool ClickAt(int x, int y);
// Keys as xdotool names them, one after another ("alt+d Return"), or text
// to type.
bool PressKeys(const std::string& keys);
bool TypeText(const std::string& text);

// The text of an edit of another process (asked in the wide form).
std::string EditText(HWND edit);

}  // namespace testsupport
