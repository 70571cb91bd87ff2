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

std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

}  // namespace

LineLab::LineLab() {
    static LONG labs = 0;
    folder_ = "/tmp/quorvel-lines-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(InterlockedIncrement(&labs));
    programs_ = LinuxPath(PathIn(BuildFolder(), "linux"));
    char prefix[MAX_PATH] = {};
    if (GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix))) {
        dosDevices_ = std::string(prefix) + "/dosdevices";
    }
    auto exists = [](const std::string& path) { return GetFileAttributesA(("Z:" + path).c_str()) != INVALID_FILE_ATTRIBUTES; };
    ready_ = CreateDirectoryA(("Z:" + folder_).c_str(), nullptr) && !dosDevices_.empty() &&
             exists(programs_ + "/serial_peer") && exists(programs_ + "/run_to_file") && RunProgram({"socat", "-V"});
}

LineLab::~LineLab() {
    std::vector<std::string> kill = {"kill"}, running;
    for (const std::string& out : started_) {
        std::string pid = ReadFile(out + ".pid");
        if (pid.empty() || !ReadFile(out + ".done").empty()) continue;
        kill.push_back(pid.substr(0, pid.find('\n')));
        running.push_back(out);
    }
    if (kill.size() > 1) RunProgram(kill);
    // Each writes its end into the folder; then nothing writes there any more.
    for (const std::string& out : running) WaitForFile(out + ".done", true, 2000);
    std::vector<std::string> links = {"rm", "-f"};
    for (const std::string& com : mapped_) links.push_back(dosDevices_ + "/" + com);
    if (!mapped_.empty()) RunProgram(links);
    StartLinuxProgram({"/bin/rm", "-rf", folder_});  // the lab's own folder goes last, unwaited
}

std::string LineLab::Path(const std::string& name) const { return folder_ + "/" + name; }
std::string LineLab::WindowsPath(const std::string& name) const {
    std::string path = "Z:" + Path(name);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool LineLab::WaitForFile(const std::string& name, bool present, DWORD timeoutMs) {
    std::string path = WindowsPath(name);
    // Wine's GetFileAttributes fails for a FIFO and for a link to a pty; a
    // directory search finds every kind of file.
    auto exists = [&] {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(path.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return false;
        FindClose(search);
        return true;
    };
    return PumpUntil([&] { return exists() == present; }, timeoutMs);
}

bool LineLab::StartProgram(const std::vector<std::string>& arguments, const std::string& out) {
    started_.push_back(out);
    return StartLinuxProgram(Joined({programs_ + "/run_to_file", Path(out)}, arguments));
}

bool LineLab::RunProgram(const std::vector<std::string>& arguments, std::string* output, DWORD timeoutMs) {
    std::string out = "run" + std::to_string(++runs_);
    if (!StartProgram(arguments, out) || !WaitForFile(out + ".done", true, timeoutMs)) return false;
    if (output) *output = ReadFile(out);
    return ReadFile(out + ".done") == "exit 0\n";
}

bool LineLab::StopProgram(const std::string& out, DWORD timeoutMs) {
    if (!WaitForFile(out + ".pid", true, timeoutMs)) return false;
    std::string pid = ReadFile(out + ".pid");
    return RunProgram({"kill", pid.substr(0, pid.find('\n'))}) && WaitForFile(out + ".done", true, timeoutMs);
}

bool LineLab::StartPair(const std::string& name) {
    std::string a = name + ".a", b = name + ".b";
    return StartProgram({"socat", "pty,raw,echo=0,link=" + Path(a), "pty,raw,echo=0,link=" + Path(b)}, name + ".socat") &&
           WaitForFile(a) && WaitForFile(b);
}

bool LineLab::StopPair(const std::string& name) {
    return StopProgram(name + ".socat") && WaitForFile(name + ".a", false);
}

bool LineLab::MapPort(const std::string& comName, const std::string& name) {
    std::string link;
    for (char c : comName) link.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    mapped_.push_back(link);
    return RunProgram({"ln", "-sfn", Path(name), dosDevices_ + "/" + link});
}

bool LineLab::StartPeer(const std::string& end, const std::string& arguments, const std::string& out) {
    return StartProgram(Joined(Joined({programs_ + "/serial_peer", Path(end)}, SplitAtBlanks(arguments)), {"--out", Path(out)}),
                        out + ".run");
}

bool LineLab::StartTap(const std::string& arguments, const std::string& name) {
    return StartProgram(Joined({programs_ + "/quorvel-tap", "--no-monitor", "--folder", Path(name)}, SplitAtBlanks(arguments)),
                        name + ".out") &&
           WaitForFile(name + "/feed");
}

bool LineLab::StartWatch(const std::string& arguments, const std::string& name) {
    return StartProgram(Joined({programs_ + "/quorvel-watch", "--no-monitor", "--folder", Path(name)}, SplitAtBlanks(arguments)),
                        name + ".out") &&
           WaitForFile(name + "/feed");
}

bool LineLab::StopTap(const std::string& name) { return StopProgram(name + ".out"); }

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
