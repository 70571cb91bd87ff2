#include "emulator/scenario/scenario_file.h"

#include <windows.h>

#include "emulator/scenario/scenario.h"
#include "system/scoped_handles.h"

namespace emu::scenario {

bool ReadScenarioFile(const std::string& path, std::string* contents, std::string* error) {
    contents->clear();
    quorvel::ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        *error = "cannot open the file (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
        *error = "not a file on disk";
        return false;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file.Get(), &high);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        *error = "cannot read the file's size";
        return false;
    }
    if (high != 0 || size > kMaxFileSize) {
        *error = "the file is larger than " + std::to_string(kMaxFileSize) + " bytes";
        return false;
    }
    contents->resize(size);
    DWORD done = 0;
    while (done < size) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), &(*contents)[done], size - done, &read, nullptr) || read == 0) {
            *error = "cannot read the file";
            return false;
        }
        done += read;
    }
    if (contents->find('\0') != std::string::npos) {
        *error = "not a text file (it holds a zero byte)";
        return false;
    }
    return true;
}

}  // namespace emu::scenario
