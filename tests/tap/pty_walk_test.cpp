// The tap on real ptys, as the kernel runs them: each test is a whole walk
// of a Linux client on the application's side and a pty as the device,
// with the relay on a thread of its own and the feed read as the monitor
// reads it. What the kernel does here (packet mode, EXTPROC, hang-ups,
// settings) is what the tap relies on.
#include "tap/line_walk.h"

namespace {

using namespace tapwalk;

// A program that opens the side, writes and closes at once (echo hello >
// PATH) has its bytes passed then, not behind the next opener's. The
// application closes and reopens: what the device sent meanwhile, and what
// it had sent that the application had not read (5 bytes), never reaches
// the new opener; the pane says how many bytes were kept from it.
TEST_F(LineWalk, BytesForAClosedApplicationSideNeverReachItsNextOpener) {
    Pty device;
    ASSERT_NO_FATAL_FAILURE(StartTap(device.Slave));
    OpenClient();
    Send(client_, "hello\n");
    CloseClient();
    EXPECT_EQ(Receive(device.Master, 6, 1000), "hello\n");
    ASSERT_TRUE(FeedHas("[application closed]"));
    EXPECT_EQ(Story("[application opened]"),
              (std::vector<std::string>{"[application opened]", "TX hello\n", "[application closed]"}));
    OpenClient();
    ASSERT_TRUE(FeedHas("[application opened]"));
    Send(device.Master, "STALE");
    ASSERT_TRUE(FeedUntil([&] { return Story().back() == "RX STALE"; }));
    CloseClient();  // without reading them
    ASSERT_TRUE(FeedUntil([&] { return Events("[application closed]").size() == 2; }));
    Send(device.Master, "RING\r\n");
    ASSERT_TRUE(FeedUntil([&] { return Story().back() == "RX RING\r\n"; }));
    OpenClient();
    ASSERT_TRUE(FeedHas("[11 bytes from the device not passed: no application had the line]"));
    EXPECT_EQ(Receive(client_, 1, 300), "") << "nothing stale for the new opener";
    Send(device.Master, "OK");
    EXPECT_EQ(Receive(client_, 2), "OK");
}

// The device goes (its pty closes) and comes back under the same path: the
// application's bytes meanwhile are dropped and counted, never delivered
// late, and the line goes on with the new device.
TEST_F(LineWalk, ADeviceThatGoesAndComesBackUnderItsPathIsOpenedAgain) {
    auto device = std::make_unique<Pty>();
    char folder[] = "/tmp/quorvel-tap-walk-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    link_ = std::string(folder) + "/device";
    ASSERT_EQ(symlink(device->Slave.c_str(), link_.c_str()), 0);
    ASSERT_NO_FATAL_FAILURE(StartTap(link_));
    OpenClient();
    device->Close();
    ASSERT_TRUE(FeedHas("[device gone]"));
    Send(client_, "lost");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto back = std::make_unique<Pty>();
    unlink(link_.c_str());
    ASSERT_EQ(symlink(back->Slave.c_str(), link_.c_str()), 0);
    ASSERT_TRUE(FeedHas("[device back]"));
    ASSERT_TRUE(FeedHas("[4 bytes from the application dropped: the device was away]"));
    Send(client_, "AT\r");
    EXPECT_EQ(Receive(back->Master, 3), "AT\r");
    unlink(link_.c_str());
    link_.clear();
    rmdir(folder);
}

// A sniffer hears two read-only lines, interleaved in the order read, on
// one clock, and writes nothing to either.
TEST_F(LineWalk, ASnifferHearsBothLinesInTheOrderReadAndWritesNothing) {
    Pty tx, rx;
    ASSERT_NO_FATAL_FAILURE(StartSniffer(tx.Slave, rx.Slave));
    ASSERT_TRUE(FeedHas("[RX: no modem lines]"));
    for (const auto& [line, bytes] : std::vector<std::pair<int, std::string>>{
             {tx.Master, "ATD5\r"}, {rx.Master, "CONNECT"}, {tx.Master, "x"}}) {
        size_t before = Story().size();
        Send(line, bytes);
        ASSERT_TRUE(FeedUntil([&] { return Story().size() > before; }));
    }
    std::vector<std::string> story = Story();
    EXPECT_EQ(std::vector<std::string>(story.end() - 3, story.end()),
              (std::vector<std::string>{"TX ATD5\r", "RX CONNECT", "TX x"}));
    uint64_t last = 0;
    for (const FeedRecord& record : Fed()) {
        EXPECT_GE(record.Microseconds, last) << "one clock, ascending";
        last = record.Microseconds;
    }
    EXPECT_EQ(Receive(tx.Master, 1, 100) + Receive(rx.Master, 1, 100), "") << "nothing written to either";
}

// While the terminal holds the line, its commands go to the device and the
// answers to the monitor alone; the application's bytes wait and follow,
// in order, once the terminal lets go.
TEST_F(LineWalk, TheTerminalHoldsTheLineAndTheApplicationsBytesFollowInOrder) {
    Pty device;
    ASSERT_NO_FATAL_FAILURE(StartTap(device.Slave));
    OpenClient();
    ASSERT_TRUE(FeedHas("[application opened]"));
    Command(tapfeed::kOpen);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Send(client_, "ATH\r");
    Command(tapfeed::kWrite, "AT\r");
    EXPECT_EQ(Receive(device.Master, 4, 300), "AT\r") << "the terminal's only";
    Send(device.Master, "OK\r\n");
    ASSERT_TRUE(FeedUntil([&] { return Story().back() == "ANSWER OK\r\n"; }));
    EXPECT_EQ(Receive(client_, 1, 100), "") << "the answer is the terminal's";
    Command(tapfeed::kClose);
    EXPECT_EQ(Receive(device.Master, 4), "ATH\r");
    Send(device.Master, "X");
    EXPECT_EQ(Receive(client_, 1), "X");
    ASSERT_TRUE(FeedUntil([&] { return Story().back() == "RX X"; }));
    EXPECT_EQ(Story("TX AT\r"), (std::vector<std::string>{"TX AT\r", "ANSWER OK\r\n", "TX ATH\r", "RX X"}));
    // The monitor takes the line again and goes: the hold goes with it.
    Command(tapfeed::kOpen);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Send(client_, "ATA\r");
    EXPECT_EQ(Receive(device.Master, 4, 200), "") << "held";
    close(commands_[1]);
    commands_[1] = -1;
    ASSERT_TRUE(FeedHas("[the terminal's channel closed: the monitor went]"));
    EXPECT_EQ(Receive(device.Master, 4), "ATA\r");
}

// The application flushes: its input flush drops what the device sent that
// it has not read (the tap's queue and the device's buffer; the bytes are
// recorded all the same), its output flush what it wrote that has not gone
// to the device (the tap's queue and the master), while the device reads
// nothing. Only what comes after each flush passes.
TEST_F(LineWalk, TheApplicationsFlushesDropWhatWaitsForItAndForTheDevice) {
    Pty device;
    ASSERT_NO_FATAL_FAILURE(StartTap(device.Slave));
    OpenClient();
    ASSERT_TRUE(FeedHas("[application opened]"));
    size_t stale = SendUntilFull(device.Master, 's');
    ASSERT_TRUE(FeedUntil([&] { return Recorded(tapfeed::kRx).size() >= 65536; }));
    ASSERT_EQ(tcflush(client_, TCIFLUSH), 0);
    ASSERT_TRUE(FeedUntil([&] { return !Events("[input flushed").empty(); }));
    Send(device.Master, "fresh");
    std::string got = Receive(client_, 70000, 500);
    EXPECT_TRUE(got == "fresh") << got.size() << " bytes: " << got.substr(0, 16) << "...";
    ASSERT_TRUE(FeedUntil([&] { return Recorded(tapfeed::kRx) == std::string(stale, 's') + "fresh"; }))
        << "every byte that came is recorded: " << Recorded(tapfeed::kRx).size() << " of " << stale + 5;

    size_t written = SendUntilFull(client_, 'o');
    ASSERT_TRUE(FeedUntil([&] { return !Recorded(tapfeed::kTx).empty(); }));
    ASSERT_EQ(tcflush(client_, TCOFLUSH), 0);
    ASSERT_TRUE(FeedUntil([&] { return !Events("[output flushed").empty(); }));
    std::string sent = Recorded(tapfeed::kTx);  // what went to the device before the flush
    Send(client_, "NEW");
    std::string arrived = Receive(device.Master, written + 3, 2000);
    EXPECT_TRUE(arrived == sent + "NEW") << arrived.size() << " bytes arrived, " << sent.size()
                                         << " went before the flush, " << written << " were written";
    std::printf("flushes: %zu stale bytes for the application, %s; %zu written for the device, %s\n", stale,
                Events("[input flushed")[0].c_str(), written, Events("[output flushed")[0].c_str());
}

}  // namespace
