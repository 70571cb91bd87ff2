// One connection to a serial line served over the network (RFC 2217), as
// the relay's table of calls presents it: a device whose reads give the
// line's bytes marked as the kernel marks a device's input (FF FF for a
// real FF, FF 00 00 for a break, and FF 01 for a framing or parity error
// that the server reported without its byte), whose writes take the line's
// bytes, and whose settings go out as COM-PORT requests that the server
// answers.
//
// Nothing here waits: the socket is non-blocking, what it does not take
// waits in a queue of one write's size (a write while that queue holds
// anything takes nothing: EAGAIN), and the server's answers to a settings
// change come as the relay reads the line. Each change's outcome is written
// to a descriptor of its own (as a local device's), once every request has
// its answer or kAnswerWaitUs has passed: applied when each answer repeats
// what was asked, refused otherwise.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "tap/line_ops.h"
#include "tap/line_settings.h"
#include "tap/telnet_codec.h"

namespace tap {

class ComPortLink {
public:
    static constexpr uint64_t kAnswerWaitUs = 2000000;  // how long a request waits for its answer
    static constexpr uint64_t kLinesWaitUs = 2000000;   // a server silent on its modem lines this long has none
    static constexpr size_t kMostPending = 1 << 17;     // decoded bytes the start's wait keeps for the relay

    // Takes over a connected, non-blocking socket and sends the opening.
    ComPortLink(int socket, uint64_t nowUs);
    ~ComPortLink();
    ComPortLink(const ComPortLink&) = delete;
    ComPortLink& operator=(const ComPortLink&) = delete;

    int Socket() const { return socket_; }

    // Before the relay takes the connection: reads what comes (kept for the
    // relay, up to kMostPending) until the server has said anything of the
    // COM-PORT option (a probe asks it for its speed), which tells a server
    // that serves the line from one that only greets and closes (a line
    // already in use).
    void Listen(uint64_t nowUs);
    bool Heard() const { return heard_; }
    bool Ended() const { return closed_ || failed_; }
    uint64_t SinceOpened(uint64_t nowUs) const { return nowUs - openedAt_; }

    // As read(2) and write(2) on a device: -1 with EAGAIN when there is
    // nothing to read or no room; 0 from Read when the server has closed.
    ssize_t Read(void* buffer, size_t size, uint64_t nowUs);
    ssize_t Write(const void* bytes, size_t size);

    // Sends the settings' requests; a descriptor that becomes readable with
    // kSettingsApplied or kSettingsRefused (8 bytes), or -1.
    int Apply(const LineSettings& settings, uint64_t nowUs);
    // The same, waiting up to the answer time for the outcome (the tap's
    // start, before there is a line to keep going); whether it applied.
    bool ApplyAndWait(const LineSettings& settings, const LineOps& kernel);

    void PurgeReceived();
    void PurgeToSend();
    // The device's modem lines (TIOCM_* bits) as the server last told
    // them; false with EAGAIN while it may still tell, with ENOTTY once it
    // has been silent too long.
    bool ModemLines(int* bits, uint64_t nowUs) const;
    ErrorCounts Counts() const { return counts_; }

    // For the poll: the events the link itself needs on its socket, the
    // microseconds until its next deadline (-1: none), and whether decoded
    // bytes wait for a read.
    short Needs() const;
    int64_t UntilDeadline(uint64_t nowUs) const;
    bool HasInput() const { return pendingFrom_ < pending_.size() || closed_; }
    // After the poll: sends what waits, ends the answers' wait when it is
    // over; false once the connection has failed.
    bool Serve(short revents, uint64_t nowUs);

private:
    // A request sent and not yet answered; one not awaited (a modem line
    // raised after a hang-up, the probe) never holds a change up. The
    // probe's Value is empty: any answer of its command is its.
    struct Expected {
        uint8_t Command;
        std::string Value;
        bool Awaited;
    };

    void Send(const std::string& wire);
    bool Flush();
    void TakeIn(uint64_t nowUs);
    void Received(const TelnetInput& input, uint64_t nowUs);
    void Message(const ComPortMessage& message);
    void Answered(const ComPortMessage& message);
    void Settle(bool applied);
    void Request(uint8_t command, const std::string& value, bool awaited);

    int socket_;
    TelnetDecoder decoder_;
    std::string out_;        // on the wire's way out, not yet taken by the socket
    std::string held_;       // requests made before the server agreed to COM-PORT
    std::string pending_;    // decoded and marked; read by the relay from pendingFrom_ on
    size_t pendingFrom_ = 0;
    bool closed_ = false;    // the server ended the connection (read 0 once pending_ is empty)
    bool failed_ = false;    // a send failed: the connection is gone
    int error_ = 0;          // the failed send's error

    std::deque<Expected> expected_;  // requests of the change under way, not yet answered
    bool refused_ = false;           // an answer of the change under way differed from its request
    int outcome_ = -1;               // the link's copy of that change's outcome descriptor
    uint64_t answerDeadline_ = 0;
    bool hungUp_ = false;            // the last settings asked for were a hang-up

    bool heard_ = false;     // the server has sent a COM-PORT message
    uint64_t agreedAt_ = 0;  // when the server agreed to COM-PORT (0: not yet)
    uint64_t openedAt_;
    int modemState_ = -1;    // NOTIFY-MODEMSTATE's last value (-1: none yet)
    ErrorCounts counts_;     // the errors the server's line states told
};

}  // namespace tap
