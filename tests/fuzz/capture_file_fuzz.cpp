// A capture file as anyone may hand the replay: any bytes. Its reader gives
// the whole packets in order and, for anything else, one line that says
// what is wrong; every packet lies within the file, and the event texts of
// whatever it read never break.
#include <cstdint>

#include "emulator/formats/serial_capture.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    serialcapture::CaptureFile file = serialcapture::ReadCapture(data, size);
    size_t used = sizeof(serialcapture::FileHeader);
    uint8_t lines = 0;
    bool known = false;
    for (const serialcapture::CapturedPacket& packet : file.Packets) {
        used += sizeof(serialcapture::PacketHeader) + sizeof(serialcapture::SerialHeader) + packet.Payload.size();
        std::string text = serialcapture::EventText(packet.Event, packet.Lines, lines, known);
        FUZZ_CHECK(text.size() < 64);
        lines = packet.Lines;
        known = true;
    }
    // Without a fault, the packets are the whole file; with one, they lie within it.
    if (file.Problem.empty()) FUZZ_CHECK(used == size);
    else FUZZ_CHECK(file.Packets.empty() || used <= size);
    return 0;
}
