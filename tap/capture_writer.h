// quorvel-tap's capture: the session in a pcap file that Wireshark and
// tshark open (link type 250, RTAC serial), written with libpcap. TX and RX
// bytes go as data frames cut at an idle gap; breaks, errors, overruns,
// changes of the modem lines and dropped feed records as their events; the
// tap's other events (settings, the device and the application coming and
// going) as status changes that carry their text. An event carries its text
// only where its code and control lines do not already say it, so that a
// protocol decoder meets no text where it expects none.
//
// Every frame is flushed to the file once it is written: a tap that is
// killed leaves a file that opens, with every frame that was complete. One
// thread: the relay's.
//
// The file is always a new one, the user's alone (mode 0600: it holds the
// line's traffic): an existing file or a link at its path is refused, never
// overwritten or followed.
#pragma once

#include <sys/types.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tap/frame_cutter.h"
#include "tap/line_settings.h"

typedef struct pcap pcap_t;
typedef struct pcap_dumper pcap_dumper_t;

namespace tap {

class CaptureWriter {
public:
    CaptureWriter();
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Makes the file (which must not exist yet); one line that says why not
    // otherwise. The capture's times are the wall clock at this moment plus
    // the relay's own.
    bool Open(const std::string& path, std::string* why);
    // The gap after which a frame ends: fixed (milliseconds, > 0), or else
    // three and a half characters at the settings' speed.
    void SetFixedGap(double milliseconds) { fixedGapUs_ = static_cast<uint64_t>(std::llround(milliseconds * 1000)); }
    void SetSettings(const LineSettings& settings);
    // The control lines (serialcapture::ControlLine bits) from now on.
    void SetLines(uint8_t lines) { lines_ = lines; }

    void Data(uint8_t event, uint64_t microseconds, std::string_view bytes);
    void Event(uint8_t event, uint64_t microseconds, const std::string& text);
    // Ends the open frame once its gap has passed.
    void Tick(uint64_t now);
    uint64_t Due() const { return cutter_.Due(); }
    // Writes the open frame and closes the file.
    void Close();
    // Gives the file to another user (the one who called sudo), through its
    // folder's descriptor; false when the kernel refuses.
    bool GiveTo(uid_t user, gid_t group);
    // Closes the file and removes it: a run that ends on bad input leaves no
    // file. Only the file this writer made goes, and only while it is still
    // at its path (another file put there since stays).
    void Discard();

private:
    int MakeFile(const std::string& path, std::string* why);
    void Write(uint8_t event, uint64_t microseconds, uint8_t lines, std::string_view payload);
    void WriteFrames();

    int folder_ = -1;   // the file's folder, by descriptor: the file is made and removed there by name
    std::string name_;  // the file's name in it
    dev_t device_ = 0;  // the file this writer made
    ino_t inode_ = 0;
    pcap_t* pcap_ = nullptr;
    pcap_dumper_t* dumper_ = nullptr;
    uint64_t wallStartUs_ = 0;
    uint64_t fixedGapUs_ = 0;
    FrameCutter cutter_;
    std::vector<Frame> done_;
    uint8_t lines_ = 0;
    uint8_t linesTold_ = 0;      // the control lines of the last status change written
    bool linesToldKnown_ = false;
};

}  // namespace tap
