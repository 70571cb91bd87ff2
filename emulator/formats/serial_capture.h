// The serial session's pcap records as bytes, and what their events say: the
// same text for the live tap (quorvel-tap) and for a replay (the stand-in),
// so that a replayed session shows the lines that the live one showed. Pure
// code, on Linux and under Wine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/formats/serial_capture_records.h"

namespace serialcapture {

// The 12 bytes of a packet's RTAC serial header.
std::string SerialHeaderBytes(uint64_t unixMicroseconds, uint8_t event, uint8_t lines);

// What the pane shows for an event that carries no text of its own: the
// modem lines (CTS, DCD, DSR, RI) on, or those that changed since before
// (when before is known); a break, an error, an overflow, lost data.
std::string EventText(uint8_t event, uint8_t lines, uint8_t before, bool beforeKnown);

// One packet of a capture.
struct CapturedPacket {
    uint64_t Microseconds = 0;  // since the Unix epoch
    uint8_t Event = 0;
    uint8_t Lines = 0;
    std::string Payload;        // the line's bytes, or an event's own text
};

struct CaptureFile {
    std::vector<CapturedPacket> Packets;  // every whole packet, in order
    std::string Problem;                  // empty, or what is wrong and where; nothing after it is read
};

// Reads a pcap file of link type 250 from its bytes. A file that is not
// pcap, of another link type, or cut short gives its whole packets and one
// line that says what and where.
CaptureFile ReadCapture(const uint8_t* bytes, size_t size);

}  // namespace serialcapture
