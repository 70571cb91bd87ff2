#include "support/windows_version.h"

#include <atomic>
#include <stdexcept>

namespace testsupport {
namespace {

// Deleting a just-ended executable can briefly fail while Wine still has it
// mapped; a few short retries cover that.
constexpr int kDeleteAttempts = 50;
constexpr DWORD kDeleteRetryMs = 20;

// A copy of an executable beside the original, named
// <stem>-<version>-<process id>-<n>.exe so that concurrent runs, in this
// process or in others, never share a file or a registry key.
class TemporaryCopy {
public:
    TemporaryCopy(const std::string& exePath, const std::string& version) {
        static std::atomic<unsigned> counter{0};
        const auto separator = exePath.find_last_of("\\/");
        const std::string folder = separator == std::string::npos ? "." : exePath.substr(0, separator);
        std::string stem = separator == std::string::npos ? exePath : exePath.substr(separator + 1);
        if (stem.size() > 4 && _stricmp(stem.c_str() + stem.size() - 4, ".exe") == 0) {
            stem.resize(stem.size() - 4);
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            fileName_ = stem + "-" + version + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                        std::to_string(counter++) + ".exe";
            path_ = folder + "\\" + fileName_;
            if (CopyFileA(exePath.c_str(), path_.c_str(), TRUE)) return;
            if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
        }
        throw std::runtime_error("cannot copy " + exePath + " to " + path_);
    }
    ~TemporaryCopy() {
        for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
            if (DeleteFileA(path_.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
            Sleep(kDeleteRetryMs);
        }
    }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    const std::string& path() const { return path_; }
    const std::string& fileName() const { return fileName_; }

private:
    std::string fileName_;
    std::string path_;
};

// The Version value of one executable name, removed with its key on destruction.
class AppDefaultsVersion {
public:
    AppDefaultsVersion(const std::string& exeFileName, const std::string& version)
        : key_(AppDefaultsKey(exeFileName)) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr) != ERROR_SUCCESS) {
            throw std::runtime_error("cannot create HKCU\\" + key_);
        }
        const LONG status = RegSetValueExA(key, "Version", 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(version.c_str()),
                                           static_cast<DWORD>(version.size() + 1));
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) {
            RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
            throw std::runtime_error("cannot set Version under HKCU\\" + key_);
        }
    }
    ~AppDefaultsVersion() { RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }
    AppDefaultsVersion(const AppDefaultsVersion&) = delete;
    AppDefaultsVersion& operator=(const AppDefaultsVersion&) = delete;

private:
    std::string key_;
};

}  // namespace

std::string AppDefaultsKey(const std::string& exeFileName) {
    return "Software\\Wine\\AppDefaults\\" + exeFileName;
}

ProcessResult RunAsWindowsVersion(const std::string& exePath, const std::string& version,
                                  const std::string& arguments, DWORD timeoutMs,
                                  const std::function<void(DWORD processId)>& whileRunning) {
    const TemporaryCopy copy(exePath, version);
    const AppDefaultsVersion setting(copy.fileName(), version);
    return RunProcess(copy.path(), arguments, timeoutMs, whileRunning);
}

}  // namespace testsupport
