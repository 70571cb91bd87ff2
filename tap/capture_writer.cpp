#include "tap/capture_writer.h"

#include <pcap/pcap.h>
#include <time.h>

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

CaptureWriter::~CaptureWriter() { Close(); }

bool CaptureWriter::Open(const std::string& path, std::string* why) {
    pcap_ = pcap_open_dead(serialcapture::kLinkType, kSnapLength);
    dumper_ = pcap_ ? pcap_dump_open(pcap_, path.c_str()) : nullptr;
    if (!dumper_) {
        *why = "--capture " + path + ": " + (pcap_ ? pcap_geterr(pcap_) : "libpcap cannot start");
        if (pcap_) pcap_close(pcap_);
        pcap_ = nullptr;
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

}  // namespace tap
