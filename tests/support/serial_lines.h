// Real serial lines for tests that run under Wine: pty pairs made by socat,
// Wine serial ports mapped to their ends (links comN in the prefix's
// dosdevices folder), quorvel-tap owning a line, and the Linux-side peer at
// the far end of a line (serial_peer, built beside the test executables).
// Everything of the Linux side runs as Linux programs that the lab starts
// directly with their arguments, no shell between, each through run_to_file
// (which gives the lab what Wine does not: the program's output, its id and
// its end, as files); nothing of the serial side is faked.
//
// A lab lives in a folder of its own under /tmp. It ends every process it
// started, removes its port mappings and its folder when it goes. While it
// waits, it serves the calling thread's windows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

class LineLab {
public:
    LineLab();
    ~LineLab();
    LineLab(const LineLab&) = delete;
    LineLab& operator=(const LineLab&) = delete;

    bool Ready() const { return ready_; }
    // The Linux path of a file in the lab's folder.
    std::string Path(const std::string& name) const;

    // A pty pair whose two ends are the links NAME.a and NAME.b; false when
    // socat did not make it within a few seconds.
    bool StartPair(const std::string& name);
    // Ends the pair (its links go with it).
    bool StopPair(const std::string& name);
    // Maps the Wine serial port (COM71) to a file of the lab (a pair's end).
    bool MapPort(const std::string& comName, const std::string& name);

    // Starts serial_peer on a file of the lab (a pair's end) with the
    // arguments, separated by blanks (none holds one; no shell reads them);
    // its results go to OUT and OUT.done.
    bool StartPeer(const std::string& end, const std::string& arguments, const std::string& out);
    // The peer's last line ("ok COUNT", or what went wrong), once it is done;
    // "" when it was not done within timeoutMs.
    std::string WaitPeer(const std::string& out, DWORD timeoutMs);
    // A file of the lab, byte for byte.
    std::string ReadFile(const std::string& name) const;

    // Starts quorvel-tap without a monitor (the test is the monitor), its
    // folder in the lab under the tap's name, with the arguments (separated
    // by blanks); true once its feed is there.
    bool StartTap(const std::string& arguments, const std::string& name = "tap");
    // Starts quorvel-watch the same way (it needs root), on the devices in
    // the arguments; true once its feed is there.
    bool StartWatch(const std::string& arguments, const std::string& name = "watch");
    // Ends the tap (TERM) and waits until it has gone.
    bool StopTap(const std::string& name = "tap");
    // The tap's folder as Wine names it, for the settings text's tap statement.
    std::string TapFolder(const std::string& name = "tap") const { return WindowsPath(name); }

    // Starts a Linux program (its path, or its name on PATH) with these
    // arguments: its output goes to the lab's file OUT, its process id to
    // OUT.pid, and once it has ended its status to OUT.done ("exit 0", ...).
    bool StartProgram(const std::vector<std::string>& arguments, const std::string& out);
    // Runs one and waits for its end (up to timeoutMs): true when it ended
    // with status 0; its output in *output.
    bool RunProgram(const std::vector<std::string>& arguments, std::string* output = nullptr,
                    DWORD timeoutMs = 10000);
    // Ends a started program (TERM) and waits until it has ended.
    bool StopProgram(const std::string& out, DWORD timeoutMs = 5000);
    // Waits until a file of the lab is there (present) or gone.
    bool WaitForFile(const std::string& name, bool present = true, DWORD timeoutMs = 5000);

    // A file of the lab as Wine names it.
    std::string WindowsPath(const std::string& name) const;

private:
    std::string folder_;    // Linux path
    std::string programs_;  // Linux path of the folder of serial_peer, run_to_file and quorvel-tap
    std::string dosDevices_;
    std::vector<std::string> mapped_;   // links in dosDevices_
    std::vector<std::string> started_;  // the OUT of every program started
    int runs_ = 0;
    bool ready_ = false;
};

// What the run lines of a pane carry in one direction (0xB6 TX, 0xB7 RX),
// in order, without their prefixes.
std::string PaneBytes(const std::vector<std::string>& lines, char prefix);

}  // namespace testsupport
