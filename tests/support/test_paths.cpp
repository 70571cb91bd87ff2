#include "support/test_paths.h"

#include <windows.h>

#include <stdexcept>

namespace testsupport {
namespace {

std::string ParentFolder(const std::string& path) {
    const auto separator = path.find_last_of("\\/");
    if (separator == std::string::npos) throw std::runtime_error("no folder in path: " + path);
    return path.substr(0, separator);
}

}  // namespace

std::string TestExecutableFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) throw std::runtime_error("GetModuleFileNameA failed");
    return ParentFolder(std::string(path, length));
}

std::string BuildFolder() { return ParentFolder(TestExecutableFolder()); }

std::string PathIn(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}

std::string MonitorProgram() { return PathIn(BuildFolder(), "quorvel-emu.exe"); }

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace testsupport
