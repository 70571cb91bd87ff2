// One port of a feed (tap_feed_records.h): a tap's one port, or one of a
// watch's many. The feed line's thread (feed_line.h) hands it the feed's
// records for it, and the port turns them into its capture's records: TX
// and RX bytes with the feed's own times (microseconds on the feeding
// program's clock: one clock for every record of the port), each event as a
// line of its own (a direction code other than TX and RX), and the device's
// answers while the terminal holds the line into the response as well.
//
// Records that come before the port's capture is attached (the first
// settings and events come with the arrival, before anyone listens) wait
// for the attach. Records that the port's ring has no room for wait, the
// feed unread meanwhile, until the program's capture thread has made room:
// what fits at once, then the rest in short steps that also watch the stop,
// the driver lock held for each step only. So a burst reaches the pane whole
// as long as the feeding program's queue holds it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

#include "emulator/drivers/emulated_port.h"
#include "emulator/formats/tap_feed_records.h"

namespace emu {

// The feed line keeps its ports by their number in the feed.
struct FeedPort {
    // With the driver lock held: written by the feed line's thread at the
    // arrival and the leave, cleared by the port's Release when it goes
    // otherwise.
    uint32_t Key = 0;
    // A tap's command FIFO, or null: the port refuses the command channel
    // (a sniffer's or a watch's: nothing is ever written to their lines).
    // Written by the thread before the arrival; read by the program's
    // requests, driver lock held, while the port is there. The handle is the
    // feed line's, which outlives its ports.
    HANDLE Commands = nullptr;

    // The thread's alone:
    uint8_t NextEventCode = 0;
    // Records that wait for the capture's attach, and their payload bytes.
    std::deque<std::pair<tapfeed::FeedHeader, std::string>> Waiting;
    size_t WaitingBytes = 0;
};

// The port arrives with these properties, its times the feed's
// microseconds; the port is the capture's line until it leaves.
void ArriveFeedPort(FeedPort& port, const PortBlobs& blobs);
// The port leaves, if it is still there; the port may then be freed.
void LeaveFeedPort(FeedPort& port);

// One whole record of bytes or an event into the port, behind those before
// it (dropped when the port has gone); false when the stop came while it
// waited for room.
bool TakeFeedRecord(FeedPort& port, HANDLE stop, const tapfeed::FeedHeader& header, const std::string& payload);
// Passes on the records that waited for the capture's attach, once it is
// attached (they are dropped when the port has gone); false when the stop
// came while they waited for room.
bool PassWaitingRecords(FeedPort& port, HANDLE stop);

}  // namespace emu
