#include "app/os_check.h"

#include <cstdio>
#include <initializer_list>

namespace quorvel {

uint32_t OsClass = 0;

static_assert(sizeof(OSVERSIONINFOEXA) == 156);

namespace {

constexpr size_t kRefusalCapacity = 2000;

// A condition mask with the same condition on every field of typeMask. The
// system takes one field per call, so each field gets a call of its own; one
// call with the combined mask would leave the other fields without any
// condition, and Windows 2000 and XP would be refused.
ULONGLONG ConditionMask(DWORD typeMask, BYTE condition) {
    ULONGLONG mask = 0;
    for (DWORD field : {static_cast<DWORD>(VER_MINORVERSION), static_cast<DWORD>(VER_MAJORVERSION),
                        static_cast<DWORD>(VER_PRODUCT_TYPE)}) {
        if (typeMask & field) mask = VerSetConditionMask(mask, field, condition);
    }
    return mask;
}

bool Passes(OSVERSIONINFOEXA& version, DWORD typeMask, BYTE condition) {
    return VerifyVersionInfoA(&version, typeMask, ConditionMask(typeMask, condition)) != FALSE;
}

}  // namespace

void FormatRefusalText(const OSVERSIONINFOEXA& version, char* text, size_t capacity) {
    std::snprintf(text, capacity,
                  "Error: this program cannot run on this operating system.\n\n"
                  "Additional information:\n\n"
                  "  Major version:\t%d\n  Minor version:\t%d\n  Build number:\t%d\n"
                  "  Platform ID:\t%d%s\n  Product type:\t%s\n\n  More:%s\n\n"
                  "Allowed operating systems are:\n. Windows 2000 Professional\n"
                  ". Windows XP Professional\n",
                  static_cast<int>(version.dwMajorVersion), static_cast<int>(version.dwMinorVersion),
                  static_cast<int>(version.dwBuildNumber), static_cast<int>(version.dwPlatformId),
                  version.dwPlatformId == VER_PLATFORM_WIN32_NT ? " (Win32 NT)" : "",
                  version.wProductType == VER_NT_WORKSTATION ? "Workstation" : "Unknown",
                  version.szCSDVersion);
}

bool CheckOperatingSystem() {
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    const DWORD versionAndProduct = VER_MAJORVERSION | VER_MINORVERSION | VER_PRODUCT_TYPE;
    // The record is not cleared between the tests.
    version.dwMajorVersion = 5;
    version.dwMinorVersion = 0;
    version.wProductType = VER_NT_WORKSTATION;
    if (Passes(version, versionAndProduct, VER_EQUAL)) {
        OsClass = 1;
        return true;
    }
    version.dwMinorVersion = 1;
    if (Passes(version, versionAndProduct, VER_EQUAL)) {
        OsClass = 2;
        return true;
    }
    if (Passes(version, VER_MAJORVERSION | VER_MINORVERSION, VER_GREATER)) {
        OsClass = 3;
        return true;
    }

    version = OSVERSIONINFOEXA{};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version));
    char text[kRefusalCapacity];
    FormatRefusalText(version, text, sizeof(text));
    MessageBoxA(nullptr, text, "Quorvel", MB_OK | MB_ICONWARNING);
    return false;
}

}  // namespace quorvel
