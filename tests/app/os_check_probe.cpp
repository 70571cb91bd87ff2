// Runs the operating-system check alone and reports by exit code: the class
// (1, 2 or 3), or 100 when the system was refused (after its message box).
#include <windows.h>

#include "app/os_check.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return quorvel::CheckOperatingSystem() ? static_cast<int>(quorvel::OsClass) : 100;
}
