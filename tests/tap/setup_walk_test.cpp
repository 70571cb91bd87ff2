// What the tap makes and takes around the relay, each walked on the real
// file system: the capture file (new, never through a link, the user's
// alone, and only its own removed), the device held exclusively, the
// private folder and the record that lets the next run clear what a killed
// tap left (and nothing else), and the command line and settings text that
// must not let a path or a number through that they should not.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "emulator/formats/tap_feed_records.h"
#include "tap/capture_writer.h"
#include "tap/children.h"
#include "tap/line_ops.h"
#include "tap/tap_folder.h"
#include "tap/tap_options.h"
#include "tap/tap_record.h"

namespace {

using namespace tap;

std::string NewFolder() {
    char folder[] = "/tmp/quorvel-setup-walk-XXXXXX";
    return mkdtemp(folder) ? folder : "/nonexistent";
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string Read(const std::string& path) {
    std::ifstream stream(path);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

mode_t Mode(const std::string& path) {
    struct stat info{};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

bool Exists(const std::string& path) {
    struct stat info{};
    return lstat(path.c_str(), &info) == 0;
}

void RemoveAll(const std::string& folder) {
    ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
}

// An existing file, a link to a file and a link to nowhere are refused and
// left as they were; a new file is 0600 under any umask; discarding removes
// the file the writer made, but not another file put at its path since.
TEST(CaptureFile, OnlyANewFileIsMadeAndOnlyItIsDiscarded) {
    std::string folder = NewFolder();
    mode_t umaskBefore = umask(0277);
    Write(folder + "/keep.pcap", "kept");
    Write(folder + "/target", "target");
    ASSERT_EQ(symlink((folder + "/target").c_str(), (folder + "/link.pcap").c_str()), 0);
    ASSERT_EQ(symlink((folder + "/nowhere").c_str(), (folder + "/dangling.pcap").c_str()), 0);
    for (const char* name : {"keep.pcap", "link.pcap", "dangling.pcap"}) {
        CaptureWriter writer;
        std::string why;
        EXPECT_FALSE(writer.Open(folder + "/" + name, &why)) << name;
        EXPECT_EQ(why, "--capture " + folder + "/" + name + ": exists; name a new file");
    }
    EXPECT_EQ(Read(folder + "/keep.pcap"), "kept");
    EXPECT_EQ(Read(folder + "/target"), "target");
    EXPECT_FALSE(Exists(folder + "/nowhere")) << "a link is never followed";
    {
        CaptureWriter writer;
        std::string why;
        ASSERT_TRUE(writer.Open(folder + "/new.pcap", &why)) << why;
        EXPECT_EQ(Mode(folder + "/new.pcap"), 0600u) << "the line's traffic is the user's alone, whatever the umask";
        writer.Discard();
        EXPECT_FALSE(Exists(folder + "/new.pcap"));
    }
    CaptureWriter writer;
    std::string why;
    ASSERT_TRUE(writer.Open(folder + "/swapped.pcap", &why)) << why;
    ASSERT_EQ(rename((folder + "/swapped.pcap").c_str(), (folder + "/moved.pcap").c_str()), 0);
    Write(folder + "/swapped.pcap", "another's");
    writer.Discard();
    EXPECT_EQ(Read(folder + "/swapped.pcap"), "another's") << "only the file the writer made goes";
    umask(umaskBefore);
    RemoveAll(folder);
}

// A pty as the device: the tap's hold refuses a second open (root too), its
// close clears exclusive mode, and another program's lock or exclusive mode
// refuses the tap.
TEST(DeviceHold, TheDeviceIsTheTapsAloneAndFreeAgainOnceItCloses) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const char* device = ptsname(master);
    const LineOps& ops = KernelLineOps();
    int held = ops.OpenDevice(device, false);
    ASSERT_GE(held, 0);
    EXPECT_EQ(ops.OpenDevice(device, false), -1) << "a second tap";
    EXPECT_EQ(errno, EBUSY);
    ops.Close(held);
    int other = open(device, O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0) << "free again once closed";
    int exclusive = 1;
    ASSERT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the close clears exclusive mode (the master keeps the pty)";
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(ops.OpenDevice(device, true), -1) << "another program's lock";
    EXPECT_EQ(errno, EBUSY);
    flock(other, LOCK_UN);
    ioctl(other, TIOCEXCL);
    EXPECT_EQ(ops.OpenDevice(device, true), -1) << "another program's exclusive mode";
    EXPECT_EQ(errno, EBUSY);
    ioctl(other, TIOCNXCL);
    held = ops.OpenDevice(device, true);
    EXPECT_GE(held, 0);
    ops.Close(held);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    ops.Close(pipeFds[0]);  // no terminal: closed all the same
    EXPECT_EQ(fcntl(pipeFds[0], F_GETFD), -1);
    close(pipeFds[1]);
    close(other);
    close(master);
}

// A tap in a child process: makes its folder at requested (or the default
// one), a link recorded beside it, and then dies without a word, or (given
// a pipe) lives until the pipe's other end closes.
pid_t ChildTap(const std::string& requested, const std::string& link, const int* live = nullptr) {
    pid_t child = fork();
    if (child != 0) return child;
    TapFolder folder;
    std::string why;
    if (!MakeTapFolder(requested, &folder, &why)) {
        std::fprintf(stderr, "child tap: %s\n", why.c_str());
        _exit(1);
    }
    if (!link.empty() && symlink("/dev/pts/quorvel-gone", link.c_str()) == 0) {
        RecordLink(folder.Record, link, "/dev/pts/quorvel-gone");
    }
    if (!live) _exit(0);  // killed: everything stays
    close(live[1]);
    char byte;
    while (read(live[0], &byte, 1) > 0) {
    }
    RemoveTapFolder(&folder);
    _exit(0);
}

// Taps in child processes around a run: two killed (one in the runtime
// folder, one in a folder given with --folder, each with a link), one
// alive, and what is not a tap's to clear.
class DeadTaps : public testing::Test {
protected:
    void SetUp() override {
        work_ = NewFolder();
        base_ = work_ + "/runtime";
        ASSERT_EQ(mkdir(base_.c_str(), 0700), 0);
        setenv("XDG_RUNTIME_DIR", base_.c_str(), 1);
        umask_ = umask(0277);
        ASSERT_EQ(pipe(live_), 0);
        alive_ = ChildTap("", "", live_);
        close(live_[0]);
        for (int i = 0; i < 200 && !Exists(TapIn(alive_) + "/" + kRecordName); ++i) usleep(10000);
        pid_t inBase = ChildTap("", work_ + "/link-in-base");
        pid_t given = ChildTap(work_ + "/given", work_ + "/link-given");
        // Both end before either is reaped: until then neither is gone for
        // the other, which may still be clearing dead taps as it starts.
        for (pid_t dead : {inBase, given}) {
            siginfo_t info{};
            ASSERT_EQ(waitid(P_PID, static_cast<id_t>(dead), &info, WEXITED | WNOWAIT), 0);
            ASSERT_EQ(info.si_status, 0) << "the child tap made its folder";
        }
        for (pid_t dead : {inBase, given}) ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
        deadInBase_ = TapIn(inBase);
        // Since pointed elsewhere: no longer the dead tap's.
        ASSERT_EQ(unlink((work_ + "/link-in-base").c_str()), 0);
        ASSERT_EQ(symlink("/dev/pts/quorvel-another", (work_ + "/link-in-base").c_str()), 0);
        ASSERT_EQ(mkdir((base_ + "/quorvel-tap-no-record").c_str(), 0700), 0);
        ASSERT_EQ(symlink((work_ + "/given").c_str(), (base_ + "/quorvel-tap-via-link").c_str()), 0);
    }
    void TearDown() override {
        close(live_[1]);
        waitpid(alive_, nullptr, 0);
        umask(umask_);
        unsetenv("XDG_RUNTIME_DIR");
        RemoveAll(work_);
    }
    std::string TapIn(pid_t pid) const { return base_ + "/quorvel-tap-" + std::to_string(pid); }

    std::string work_, base_, deadInBase_;
    int live_[2] = {-1, -1};
    pid_t alive_ = -1;
    mode_t umask_ = 0;
};

// A run clears the killed tap in its runtime folder, and a run given the
// other's folder clears that one with its link; a live tap, a folder
// without a record, a link to a dead tap's folder and a link that points
// elsewhere now stay. The folder is 0700 and its files 0600 under any
// umask; the end leaves nothing, and a control character is refused.
TEST_F(DeadTaps, ANewRunClearsWhatAKilledTapLeftAndNothingElse) {
    ASSERT_TRUE(Exists(deadInBase_ + "/" + tapfeed::kFeedName));
    TapFolder mine;
    std::string why;
    ASSERT_TRUE(MakeTapFolder("", &mine, &why)) << why;
    EXPECT_FALSE(Exists(deadInBase_)) << "the killed tap's folder";
    EXPECT_TRUE(Exists(work_ + "/link-in-base")) << "a link that points elsewhere now";
    EXPECT_TRUE(Exists(TapIn(alive_) + "/" + tapfeed::kFeedName)) << "a live tap's";
    EXPECT_TRUE(Exists(base_ + "/quorvel-tap-no-record"));
    EXPECT_TRUE(Exists(base_ + "/quorvel-tap-via-link"));
    EXPECT_TRUE(Exists(work_ + "/given/" + kRecordName)) << "a link is never followed";
    EXPECT_TRUE(Exists(work_ + "/link-given"));
    EXPECT_EQ(Mode(mine.Path), 0700u);
    for (const char* name : {tapfeed::kFeedName, tapfeed::kCommandsName, kRecordName}) {
        EXPECT_EQ(Mode(mine.Path + "/" + name), 0600u) << name;
    }
    TapFolder given;
    ASSERT_TRUE(MakeTapFolder(work_ + "/given", &given, &why)) << why;
    EXPECT_FALSE(Exists(work_ + "/link-given")) << "the killed tap's link";
    std::string paths[] = {mine.Path, given.Path};
    RemoveTapFolder(&given);
    RemoveTapFolder(&mine);
    for (const std::string& path : paths) EXPECT_FALSE(Exists(path));
    TapFolder refused;
    EXPECT_FALSE(MakeTapFolder(work_ + "/a\nb", &refused, &why));
    EXPECT_NE(why.find("no control character"), std::string::npos) << why;
    EXPECT_FALSE(Exists(work_ + "/a\nb"));
}

TapOptions Parsed(const std::vector<std::string>& arguments, bool* ok, std::string* error) {
    TapOptions options;
    *ok = ParseTapOptions(arguments, &options, error);
    return options;
}

// A frame gap is a plain decimal from a microsecond to a minute; the
// friendly name's control characters are escapes, so a device's path adds
// no statement to the monitor's settings text.
TEST(TapCommandLine, AFrameGapIsAPlainDecimalAndAPathAddsNoStatement) {
    bool ok = false;
    std::string error;
    for (const char* good : {"0.001", "3.5", "12", "60000", "60000.0", "0012.50"}) {
        TapOptions options = Parsed({"--frame-gap", good}, &ok, &error);
        EXPECT_TRUE(ok) << good << ": " << error;
        EXPECT_DOUBLE_EQ(options.FrameGapMs, std::strtod(good, nullptr));
    }
    for (const char* bad : {"0.0001", "0", "0.0", "0x10", "inf", "nan", "1e3", "-1", "+1", "1.2.3", ".", "", " 1",
                            "60000.001"}) {
        Parsed({"--frame-gap", bad}, &ok, &error);
        EXPECT_FALSE(ok) << bad;
        EXPECT_EQ(error, "--frame-gap " + std::string(bad) + ": milliseconds as a plain decimal, from 0.001 to 60000");
    }
    EXPECT_EQ(MonitorScenario("COM42", "Z:\\run\\f", "Tap of /dev/a\nport EVIL;\r\x7F"),
              "tap COM42 Z:\\run\\f =Tap of \\x2Fdev\\x2Fa\\x0Aport EVIL\\;\\x0D\\x7F");
}

}  // namespace
