#include "support/serial_lines.h"

#include <algorithm>
#include <cctype>

#include "support/message_pump.h"
#include "support/process_runner.h"
#include "support/test_paths.h"

namespace testsupport {
namespace {

// Wine maps the Linux root to drive Z:.
std::string LinuxPath(std::string windowsPath) {
    if (windowsPath.size() >= 2 && std::toupper(static_cast<unsigned char>(windowsPath[0])) == 'Z' &&
        windowsPath[1] == ':') {
        windowsPath.erase(0, 2);
    }
    std::replace(windowsPath.begin(), windowsPath.end(), '\\', '/');
    return windowsPath;
}

bool WriteText(const std::string& windowsPath, const std::string& text) {
    HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool done = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                written == text.size();
    CloseHandle(file);
    return done;
}

}  // namespace

LineLab::LineLab() {
    static LONG labs = 0;
    folder_ = "/tmp/quorvel-lines-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(InterlockedIncrement(&labs));
    peer_ = LinuxPath(PathIn(BuildFolder(), "linux\\serial_peer"));
    char prefix[MAX_PATH] = {};
    if (GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix))) {
        dosDevices_ = std::string(prefix) + "/dosdevices";
    }
    ready_ = CreateDirectoryA(("Z:" + folder_).c_str(), nullptr) && !dosDevices_.empty() &&
             Run("command -v socat >/dev/null && test -x " + peer_);
}

LineLab::~LineLab() {
    std::string commands = "for pid in $(cat " + folder_ + "/*.pid 2>/dev/null); do kill $pid 2>/dev/null; done\n";
    for (const std::string& com : mapped_) commands += "rm -f " + dosDevices_ + "/" + com + "\n";
    Run(commands);
    StartLinuxProgram("Z:\\bin\\rm -rf " + folder_);  // the lab's own folder goes last, unwaited
}

std::string LineLab::Path(const std::string& name) const { return folder_ + "/" + name; }
std::string LineLab::WindowsPath(const std::string& name) const {
    std::string path = "Z:" + Path(name);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// True when the commands ran and the last of them succeeded.
bool LineLab::Run(const std::string& commands, DWORD timeoutMs) {
    std::string step = "step" + std::to_string(++steps_);
    std::string ok = WindowsPath(step + ".ok"), failed = WindowsPath(step + ".failed");
    std::string script = "{\n" + commands + "\n} && touch " + Path(step + ".ok") + " || touch " + Path(step + ".failed") + "\n";
    if (!WriteText(WindowsPath(step + ".sh"), script)) return false;
    if (!StartLinuxProgram("Z:\\bin\\sh " + Path(step + ".sh"))) return false;
    auto exists = [](const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
    PumpUntil([&] { return exists(ok) || exists(failed); }, timeoutMs);
    return exists(ok);
}

bool LineLab::StartPair(const std::string& name) {
    std::string a = Path(name + ".a"), b = Path(name + ".b");
    return Run("rm -f " + a + " " + b + "\n" +
               "socat pty,raw,echo=0,link=" + a + " pty,raw,echo=0,link=" + b + " </dev/null >/dev/null 2>&1 &\n" +
               "echo $! > " + Path(name + ".pid") + "\n" +
               "for i in $(seq 100); do [ -e " + a + " ] && [ -e " + b + " ] && break; sleep 0.05; done\n" +
               "[ -e " + a + " ] && [ -e " + b + " ]");
}

bool LineLab::StopPair(const std::string& name) {
    std::string a = Path(name + ".a");
    return Run("kill $(cat " + Path(name + ".pid") + ")\nrm -f " + Path(name + ".pid") + "\n" +
               "for i in $(seq 100); do [ -e " + a + " ] || break; sleep 0.05; done");
}

bool LineLab::MapPort(const std::string& comName, const std::string& name) {
    std::string link;
    for (char c : comName) link.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    mapped_.push_back(link);
    return Run("ln -sfn " + Path(name) + " " + dosDevices_ + "/" + link);
}

bool LineLab::StartPeer(const std::string& end, const std::string& arguments, const std::string& out) {
    std::string pid = Path(out + ".pid");
    return Run(peer_ + " " + Path(end) + " " + arguments + " --out " + Path(out) + " >/dev/null 2>&1 &\necho $! > " +
               pid);
}

bool LineLab::StartTap(const std::string& arguments, const std::string& name) {
    std::string tap = peer_.substr(0, peer_.rfind('/')) + "/quorvel-tap";
    std::string feed = Path(name + "/feed");
    return Run(tap + " --no-monitor --folder " + Path(name) + " " + arguments + " >" + Path(name + ".out") + " 2>&1 &\n" +
               "echo $! > " + Path(name + ".pid") + "\n" +
               "for i in $(seq 100); do [ -p " + feed + " ] && break; sleep 0.05; done\n[ -p " + feed + " ]");
}

bool LineLab::StopTap(const std::string& name) {
    std::string pid = "$(cat " + Path(name + ".pid") + ")";
    return Run("kill " + pid + "\nfor i in $(seq 100); do kill -0 " + pid + " 2>/dev/null || break; sleep 0.05; done\n" +
               "! kill -0 " + pid + " 2>/dev/null");
}

std::string LineLab::WaitPeer(const std::string& out, DWORD timeoutMs) {
    std::string done = WindowsPath(out + ".done");
    if (!PumpUntil([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, timeoutMs)) return "";
    std::string line = ReadFile(out + ".done");
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

std::string LineLab::ReadFile(const std::string& name) const {
    HANDLE file = CreateFileA(WindowsPath(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string bytes;
    char buffer[65536];
    DWORD count = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &count, nullptr) && count > 0) bytes.append(buffer, count);
    CloseHandle(file);
    return bytes;
}

std::string PaneBytes(const std::vector<std::string>& lines, char prefix) {
    std::string bytes;
    for (const std::string& line : lines) {
        if (line.size() >= 5 && line[0] == prefix) bytes += line.substr(5);
    }
    return bytes;
}

}  // namespace testsupport
