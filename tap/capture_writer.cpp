#include "tap/capture_writer.h"

#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "emulator/formats/serial_capture.h"

namespace tap {
namespace {

constexpr int kSnapLength = 65535;
constexpr size_t kMostFrameBytes = kSnapLength - sizeof(serialcapture::SerialHeader);

uint64_t WallMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

}  // namespace

CaptureWriter::CaptureWriter() : cutter_(kMostFrameBytes) {}

CaptureWriter::~CaptureWriter() {
    Close();
    if (folder_ >= 0) close(folder_);
}

// Makes the file at path: a new file, never through a link, mode 0600
// whatever the umask. Its descriptor, or -1 with *why.
int CaptureWriter::MakeFile(const std::string& path, std::string* why) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name_ = slash == std::string::npos ? path : path.substr(slash + 1);
    folder_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = folder_ < 0 || name_.empty()
                 ? -1
                 : openat(folder_, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    struct stat info{};
    if (fd >= 0 && fstat(fd, &info) == 0) {
        device_ = info.st_dev;
        inode_ = info.st_ino;
        if (fchmod(fd, S_IRUSR | S_IWUSR) == 0) return fd;
    }
    *why = "--capture " + path + ": " +
           (name_.empty() ? "names no file" : errno == EEXIST ? "exists; name a new file" : std::strerror(errno));
    if (fd >= 0) {
        close(fd);
        Discard();
    }
    return -1;
}

bool CaptureWriter::Open(const std::string& path, std::string* why) {
    int fd = MakeFile(path, why);
    if (fd < 0) return false;
    FILE* file = fdopen(fd, "wb");
    pcap_ = pcap_open_dead(serialcapture::kLinkType, kSnapLength);
    dumper_ = pcap_ && file ? pcap_dump_fopen(pcap_, file) : nullptr;
    if (!dumper_) {
        *why = "--capture " + path + ": " +
               (!file ? std::strerror(errno) : pcap_ ? pcap_geterr(pcap_) : "libpcap cannot start");
        if (file) fclose(file);
        else close(fd);
        if (pcap_) pcap_close(pcap_);
        pcap_ = nullptr;
        Discard();
        return false;
    }
    pcap_dump_flush(dumper_);  // the file's header, at once
    wallStartUs_ = WallMicroseconds();
    return true;
}

void CaptureWriter::SetSettings(const LineSettings& settings) {
    cutter_.SetGap(fixedGapUs_ ? fixedGapUs_ : IdleGapMicroseconds(settings));
}

void CaptureWriter::Write(uint8_t event, uint64_t microseconds, uint8_t lines, std::string_view payload) {
    if (!dumper_) return;
    uint64_t when = wallStartUs_ + microseconds;
    std::string packet = serialcapture::SerialHeaderBytes(when, event, lines);
    packet.append(payload);
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(when / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(when % 1000000);
    header.caplen = header.len = static_cast<bpf_u_int32>(packet.size());
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, reinterpret_cast<const u_char*>(packet.data()));
    pcap_dump_flush(dumper_);
}

void CaptureWriter::WriteFrames() {
    for (const Frame& frame : done_) Write(frame.Event, frame.Microseconds, frame.Lines, frame.Bytes);
    done_.clear();
}

void CaptureWriter::Data(uint8_t event, uint64_t microseconds, std::string_view bytes) {
    cutter_.Add(event, microseconds, lines_, bytes, &done_);
    WriteFrames();
}

void CaptureWriter::Event(uint8_t event, uint64_t microseconds, const std::string& text) {
    cutter_.Close(&done_);  // the event comes after the bytes before it
    WriteFrames();
    std::string told = serialcapture::EventText(event, lines_, linesTold_, linesToldKnown_);
    Write(event, microseconds, lines_, told == text ? std::string_view() : std::string_view(text));
    if (event == serialcapture::kStatusChange) {
        linesTold_ = lines_;
        linesToldKnown_ = true;
    }
}

void CaptureWriter::Tick(uint64_t now) {
    cutter_.Tick(now, &done_);
    WriteFrames();
}

void CaptureWriter::Close() {
    if (!dumper_) return;
    cutter_.Close(&done_);
    WriteFrames();
    pcap_dump_close(dumper_);
    pcap_close(pcap_);
    dumper_ = nullptr;
    pcap_ = nullptr;
}

bool CaptureWriter::GiveTo(uid_t user, gid_t group) {
    return folder_ >= 0 && fchownat(folder_, name_.c_str(), user, group, AT_SYMLINK_NOFOLLOW) == 0;
}

void CaptureWriter::Discard() {
    Close();
    if (folder_ < 0) return;
    struct stat info{};
    if (device_ && fstatat(folder_, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && info.st_dev == device_ &&
        info.st_ino == inode_) {
        unlinkat(folder_, name_.c_str(), 0);
    }
    close(folder_);
    folder_ = -1;
    device_ = 0;
}

}  // namespace tap
