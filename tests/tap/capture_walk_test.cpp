// The session in a pcap file, as Wireshark's tshark reads it: a walk through
// the tap on real ptys with --capture, then tshark on the file; and the
// stand-in's reader of such files against every way a file can be bad.
#include <stdio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/formats/serial_capture.h"
#include "tap/line_walk.h"
#include "linux/shell_output.h"

namespace {

using namespace tapwalk;

// One packet as tshark shows it.
struct Shown {
    double Time = 0;
    int Event = 0;
    std::string Bytes;
};

// A path for a new capture file, in a new folder under /tmp (the writer
// makes only new files); RemoveCapture removes both.
std::string FreshCapturePath() {
    char folder[] = "/tmp/quorvel-capture-XXXXXX";
    return mkdtemp(folder) ? std::string(folder) + "/session.pcap" : std::string("/nonexistent/session.pcap");
}

void RemoveCapture(const std::string& file) {
    unlink(file.c_str());
    rmdir(file.substr(0, file.rfind('/')).c_str());
}

std::string Unhex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

using nativetest::Shell;

// Every packet of the file, as tshark reads it.
std::vector<Shown> Tshark(const std::string& file) {
    std::istringstream lines(Shell("tshark -r " + file +
                                 " -T fields -e frame.time_epoch -e rtacser.eventtype -e data.data 2>/dev/null"));
    std::vector<Shown> shown;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        Shown packet;
        std::string event, hex;
        fields >> packet.Time >> event >> hex;
        packet.Event = std::stoi(event, nullptr, 16);
        packet.Bytes = Unhex(hex);
        shown.push_back(packet);
    }
    return shown;
}

class CaptureWalk : public LineWalk {
protected:
    void SetUp() override {
        file_ = FreshCapturePath();
        capture_ = std::make_unique<CaptureWriter>();
        std::string why;
        ASSERT_TRUE(capture_->Open(file_, &why)) << why;
    }
    void TearDown() override {
        LineWalk::TearDown();
        RemoveCapture(file_);
    }
    std::string file_;
};

// A session with a speed change, a pause in the traffic and the device gone
// and back: tshark reads every TX and RX byte in order, in frames cut where
// the line was quiet, the events between them, and times that ascend.
TEST_F(CaptureWalk, TsharkReadsTheWholeSessionInFramesAndEventsInOrder) {
    char folder[] = "/tmp/quorvel-capture-walk-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    link_ = std::string(folder) + "/device";
    auto device = std::make_unique<Pty>();
    ASSERT_EQ(symlink(device->Slave.c_str(), link_.c_str()), 0);
    ASSERT_NO_FATAL_FAILURE(StartTap(link_));
    OpenClient();
    ASSERT_TRUE(FeedHas("[application opened]"));
    SetClientSpeed(B9600);  // a character is about 1 ms: frames end after 3.6 ms of quiet
    ASSERT_TRUE(FeedHas("[9600 8N1]"));
    Send(client_, "ATZ\r");
    ASSERT_EQ(Receive(device->Master, 4), "ATZ\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Send(client_, "ATI3\r");
    ASSERT_EQ(Receive(device->Master, 5), "ATI3\r");
    Send(device->Master, "\r\nOK\r\n");
    ASSERT_EQ(Receive(client_, 6), "\r\nOK\r\n");
    device->Close();
    ASSERT_TRUE(FeedHas("[device gone]"));
    auto back = std::make_unique<Pty>();
    unlink(link_.c_str());
    ASSERT_EQ(symlink(back->Slave.c_str(), link_.c_str()), 0);
    ASSERT_TRUE(FeedHas("[device back]"));
    Send(client_, "AT\r");
    ASSERT_EQ(Receive(back->Master, 3), "AT\r");
    StopRelay();

    std::vector<Shown> shown = Tshark(file_);
    std::vector<std::string> story;
    double last = 0;
    for (const Shown& packet : shown) {
        EXPECT_GE(packet.Time, last) << "times ascend";
        last = packet.Time;
        if (packet.Event == 1) story.push_back("TX " + packet.Bytes);
        else if (packet.Event == 2) story.push_back("RX " + packet.Bytes);
        else if (!packet.Bytes.empty()) story.push_back(packet.Bytes);
    }
    std::vector<std::string> from9600(std::find(story.begin(), story.end(), "[9600 8N1]"), story.end());
    EXPECT_EQ(from9600, (std::vector<std::string>{"[9600 8N1]", "TX ATZ\r", "TX ATI3\r", "RX \r\nOK\r\n",
                                                  "[device gone]", "[device back]", "[9600 8N1]", "TX AT\r"}))
        << "each send a frame of its own: the line was quiet between them";
    unlink(link_.c_str());
    link_.clear();
    rmdir(folder);
}

uint16_t ModbusCrc(const std::string& bytes) {
    uint16_t crc = 0xFFFF;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

std::string WithCrc(std::string frame) {
    uint16_t crc = ModbusCrc(frame);
    frame.push_back(static_cast<char>(crc & 0xFF));
    frame.push_back(static_cast<char>(crc >> 8));
    return frame;
}

// A Modbus RTU request and its answer through the tap: tshark decodes both
// frames, function code and registers, with the rtacser payload as Modbus.
TEST_F(CaptureWalk, AModbusExchangeDecodesInTshark) {
    Pty device;
    ASSERT_NO_FATAL_FAILURE(StartTap(device.Slave));
    OpenClient();
    ASSERT_TRUE(FeedHas("[application opened]"));
    std::string request = WithCrc(std::string("\x01\x03\x00\x6B\x00\x03", 6));
    std::string answer = WithCrc(std::string("\x01\x03\x06\x02\x2B\x00\x00\x00\x64", 9));
    Send(client_, request);
    ASSERT_EQ(Receive(device.Master, request.size()), request);
    Send(device.Master, answer);
    ASSERT_EQ(Receive(client_, answer.size()), answer);
    StopRelay();
    std::string decode = "tshark -r " + file_ + " -d rtacser.data,mbrtu";
    std::string summary = Shell(decode + " 2>/dev/null");
    EXPECT_NE(summary.find("Query: Unit:   1, Func:   3: Read Holding Registers"), std::string::npos) << summary;
    EXPECT_NE(summary.find("Response: Unit:   1, Func:   3: Read Holding Registers"), std::string::npos);
    std::string detail = Shell(decode + " -V 2>/dev/null");
    EXPECT_NE(detail.find("Reference Number: 107"), std::string::npos) << "the first register, 0x6B";
    EXPECT_NE(detail.find("Register 107 (UINT16): 555"), std::string::npos) << "its value in the answer";
}

// A small capture that the writer makes: settings, TX, RX, a break.
std::string SmallCapture() {
    std::string file = FreshCapturePath();
    {
        CaptureWriter writer;
        std::string why;
        EXPECT_TRUE(writer.Open(file, &why)) << why;
        writer.SetFixedGap(1);
        writer.Event(serialcapture::kStatusChange, 0, "[9600 8N1]");
        writer.Data(serialcapture::kTxData, 10, "AT\r");
        writer.Data(serialcapture::kRxData, 20000, "OK");
        writer.Event(serialcapture::kBreak, 30000, "[break]");
        writer.Close();
    }
    std::ifstream stream(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    RemoveCapture(file);
    return bytes;
}

serialcapture::CaptureFile ReadBytes(const std::string& data) {
    return serialcapture::ReadCapture(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

// The stand-in's reader of capture files, against every way a file can be
// bad: cut short at each block's boundary and inside it, of another link
// type, empty, not pcap. It gives the whole packets and one line that says
// what and where.
TEST(CaptureReader, ABadFileGivesItsWholePacketsAndSaysWhatAndWhere) {
    std::string bytes = SmallCapture();
    serialcapture::CaptureFile whole = ReadBytes(bytes);
    ASSERT_EQ(whole.Problem, "");
    ASSERT_EQ(whole.Packets.size(), 4u);
    EXPECT_EQ(whole.Packets[0].Payload, "[9600 8N1]");
    EXPECT_EQ(whole.Packets[1].Payload, "AT\r");
    EXPECT_EQ(whole.Packets[2].Event, serialcapture::kRxData);
    EXPECT_EQ(whole.Packets[3].Payload, "") << "a break says itself";
    EXPECT_EQ(whole.Packets[2].Microseconds - whole.Packets[1].Microseconds, 19990u);

    // Cut at every byte: what is whole stays, and the cut is told with its place.
    std::vector<size_t> starts = {24};
    for (const serialcapture::CapturedPacket& packet : whole.Packets) {
        starts.push_back(starts.back() + 16 + sizeof(serialcapture::SerialHeader) + packet.Payload.size());
    }
    for (size_t cut = 1; cut < bytes.size(); ++cut) {
        serialcapture::CaptureFile part = ReadBytes(bytes.substr(0, cut));
        size_t whole_packets = 0;
        while (whole_packets + 1 < starts.size() && starts[whole_packets + 1] <= cut) ++whole_packets;
        SCOPED_TRACE("cut at " + std::to_string(cut));
        EXPECT_EQ(part.Packets.size(), whole_packets);
        bool atBoundary = cut == starts[whole_packets];
        if (cut < 24) {
            EXPECT_EQ(part.Problem, "the file is cut short in its header");
        } else if (!atBoundary) {
            EXPECT_EQ(part.Problem.rfind("cut short in packet " + std::to_string(whole_packets + 1) + " (byte " +
                                         std::to_string(starts[whole_packets]) + ")", 0), 0u) << part.Problem;
        } else {
            EXPECT_EQ(part.Problem, "") << "a file cut between packets is a shorter file";
        }
    }
    std::string otherLink = bytes;
    otherLink[20] = 1;  // Ethernet
    EXPECT_EQ(ReadBytes(otherLink).Problem, "link type 1, not 250 (serial lines)");
    EXPECT_EQ(ReadBytes("").Problem, "the file is empty");
    EXPECT_EQ(ReadBytes("port COM1;tx AT\\r;rx OK" + std::string(10, ' ')).Problem,
              "not a pcap file (its first bytes are no pcap magic)");
}

}  // namespace
