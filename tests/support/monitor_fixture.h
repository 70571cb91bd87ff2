// The monitor in-process for tests: the start-up builds the main window with
// its two terminal edits, and the stand-in runs no scenario, so that the
// ports are the test's alone.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "emulator/control/test_control.h"
#include "port/port_monitor.h"

namespace testsupport {

// A clean stand-in: no services, a fresh driver that plays no scenario.
void ResetStandIn();
// The program's start-up in this process (the test's thread is its main
// thread); its stop: the window destroyed, the program shut down, the
// stand-in clean again.
bool StartMonitorInProcess(HWND* main);
void StopMonitorInProcess(HWND main);

class MonitorTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A modem arrives; returns its key once its capture ring is attached.
    uint32_t Arrive(const wchar_t* comName);
    uint32_t Arrive(const emu::control::PortBlobs& port);
    // Sets the main window's client area.
    void SetClientSize(int width, int height);
    RECT Client();
    HWND PaneOf(const quorvel::PortMonitor* port);
    // The record of the port with this key, or null.
    quorvel::PortMonitor* PortOf(uint32_t key);
    int EditHeight();

    HWND main_ = nullptr;
    HWND command_ = nullptr;
    HWND response_ = nullptr;
};

// A child's rectangle in its parent's client coordinates.
RECT RectInClient(HWND mainWindow, HWND child);
inline int Height(const RECT& rect) { return rect.bottom - rect.top; }
inline int Width(const RECT& rect) { return rect.right - rect.left; }

}  // namespace testsupport
