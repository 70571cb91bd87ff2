// What the tap makes and takes around the relay, walked on the real file
// system: the capture file (new, never through a link, the user's alone,
// and only its own removed) and the device held exclusively.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "tap/capture_writer.h"
#include "tap/line_ops.h"

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

}  // namespace
