#include "tap/com_port_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tap {

using namespace telnet;

namespace {

constexpr size_t kChunk = 65536;  // the most one read of the socket takes

char ParityCode(char parity) {
    switch (parity) {
        case 'O': return 2;
        case 'E': return 3;
        case 'M': return 4;
        case 'S': return 5;
        default: return 1;
    }
}

}  // namespace

ComPortLink::ComPortLink(int socket, uint64_t nowUs) : socket_(socket), openedAt_(nowUs) {
    Send(decoder_.Opening());
    // The probe: a speed of 0 asks the server for the one it has; its
    // answer, whatever the speed, is the probe's.
    held_ = ComPortRequest(kSetBaudrate, BaudValue(0));
    expected_.push_back({kSetBaudrate, "", false});
}

ComPortLink::~ComPortLink() {
    close(socket_);
    if (outcome_ >= 0) close(outcome_);
}

// ---- The line's bytes ----------------------------------------------------

ssize_t ComPortLink::Read(void* buffer, size_t size, uint64_t nowUs) {
    if (!HasInput() && !failed_) TakeIn(nowUs);
    if (pendingFrom_ < pending_.size()) {
        size_t count = std::min(size, pending_.size() - pendingFrom_);
        std::memcpy(buffer, pending_.data() + pendingFrom_, count);
        pendingFrom_ += count;
        if (pendingFrom_ == pending_.size()) {
            pending_.clear();
            pendingFrom_ = 0;
        }
        return static_cast<ssize_t>(count);
    }
    if (failed_) {
        errno = error_;
        return -1;
    }
    if (closed_) return 0;
    errno = EAGAIN;
    return -1;
}

ssize_t ComPortLink::Write(const void* bytes, size_t size) {
    if (!failed_ && !out_.empty()) Flush();
    if (failed_) {
        errno = error_;
        return -1;
    }
    if (!out_.empty()) {
        errno = EAGAIN;
        return -1;
    }
    AppendDoubled(std::string_view(static_cast<const char*>(bytes), size), &out_);
    if (!Flush()) {
        errno = error_;
        return -1;
    }
    return static_cast<ssize_t>(size);
}

void ComPortLink::Listen(uint64_t nowUs) {
    if (!Ended() && pending_.size() - pendingFrom_ < kMostPending) TakeIn(nowUs);
}

// One read of the socket, decoded into what the relay reads next.
void ComPortLink::TakeIn(uint64_t nowUs) {
    uint8_t chunk[kChunk];
    ssize_t count = recv(socket_, chunk, sizeof(chunk), MSG_DONTWAIT);
    if (count == 0) closed_ = true;
    if (count < 0 && errno != EAGAIN && errno != EINTR) {
        failed_ = true;
        error_ = errno;
    }
    if (count <= 0) return;
    TelnetInput input;
    decoder_.Decode(chunk, static_cast<size_t>(count), &input);
    Received(input, nowUs);
}

// The data in order, each message in its place: a line state's marks stand
// where it came. The server's agreement to COM-PORT releases what waited for it.
void ComPortLink::Received(const TelnetInput& input, uint64_t nowUs) {
    Send(input.Replies);
    heard_ = heard_ || !input.Messages.empty();
    size_t from = 0;
    for (size_t i = 0; i < input.Messages.size(); ++i) {
        AppendDoubled(std::string_view(input.Data).substr(from, input.MessageAt[i] - from), &pending_);
        from = input.MessageAt[i];
        Message(input.Messages[i]);
    }
    AppendDoubled(std::string_view(input.Data).substr(from), &pending_);
    if (agreedAt_ == 0 && decoder_.ComPortAgreed()) {
        agreedAt_ = std::max<uint64_t>(nowUs, 1);
        // The modem lines as they change; the line's errors and breaks (not
        // its data-ready and empty-buffer states, which change all the time).
        Send(ComPortRequest(kSetModemstateMask, std::string(1, '\xFF')));
        Send(ComPortRequest(kSetLinestateMask,
                            std::string(1, static_cast<char>(kOverrunError | kParityError | kFramingError | kBreakDetected))));
        Send(held_);
        held_.clear();
    }
}

void ComPortLink::Message(const ComPortMessage& message) {
    uint8_t value = message.Value.empty() ? 0 : static_cast<uint8_t>(message.Value[0]);
    if (message.Command == kNotifyModemstate) {
        if (!message.Value.empty()) modemState_ = value;
    } else if (message.Command == kNotifyLinestate) {
        if (value & kOverrunError) ++counts_.Overrun;
        if (value & kBreakDetected) {
            ++counts_.Break;
            pending_.append("\xFF\x00\x00", 3);
        }
        for (uint8_t error : {kFramingError, kParityError}) {
            if (!(value & error)) continue;
            ++(error == kFramingError ? counts_.Frame : counts_.Parity);
            pending_.append("\xFF\x01", 2);
        }
    } else {
        Answered(message);
    }
}

// ---- Settings ------------------------------------------------------------

void ComPortLink::Request(uint8_t command, const std::string& value, bool awaited) {
    expected_.push_back({command, value, awaited});
    std::string wire = ComPortRequest(command, value);
    if (decoder_.ComPortAgreed()) Send(wire);
    else held_ += wire;
}

int ComPortLink::Apply(const LineSettings& settings, uint64_t nowUs) {
    if (outcome_ >= 0) Settle(false);
    int relayEnd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (relayEnd < 0) return -1;
    outcome_ = fcntl(relayEnd, F_DUPFD_CLOEXEC, 0);
    if (outcome_ < 0) {
        close(relayEnd);
        return -1;
    }
    refused_ = false;
    answerDeadline_ = nowUs + kAnswerWaitUs;
    if (settings.Baud == 0) {
        // A hang-up drops DTR and RTS; the speed stays.
        Request(kSetControl, {static_cast<char>(kDtrOff)}, true);
        Request(kSetControl, {static_cast<char>(kRtsOff)}, true);
        hungUp_ = true;
        return relayEnd;
    }
    if (hungUp_) {
        // Raised again with the next speed, as a local device's driver does;
        // a server with no modem lines does not answer these.
        Request(kSetControl, {static_cast<char>(kDtrOn)}, false);
        Request(kSetControl, {static_cast<char>(kRtsOn)}, false);
        hungUp_ = false;
    }
    Request(kSetBaudrate, BaudValue(settings.Baud), true);
    Request(kSetDatasize, {static_cast<char>(settings.Format.DataBits)}, true);
    Request(kSetParity, {ParityCode(settings.Format.Parity)}, true);
    Request(kSetStopsize, {static_cast<char>(settings.Format.StopBits)}, true);
    // RFC 2217 has one flow control at a time: hardware wins over XON/XOFF.
    char flow = settings.RtsCts ? kHardwareFlowControl : settings.XonXoff ? kXonXoffFlowControl : kNoFlowControl;
    Request(kSetControl, {flow}, true);
    if (settings.RtsCts && settings.XonXoff) refused_ = true;
    return relayEnd;
}

// An answer settles the request that it repeats; otherwise the probe, if
// one of its command waits; otherwise the first awaited request of its
// command, refused. An answer that nobody awaits (to a purge, or one the
// server sends unasked) changes nothing.
void ComPortLink::Answered(const ComPortMessage& message) {
    auto first = [&](auto matches) { return std::find_if(expected_.begin(), expected_.end(), matches); };
    auto same = first([&](const Expected& e) { return e.Command == message.Command && e.Value == message.Value; });
    if (same == expected_.end()) same = first([&](const Expected& e) { return e.Command == message.Command && e.Value.empty(); });
    if (same == expected_.end()) {
        same = first([&](const Expected& e) { return e.Command == message.Command && e.Awaited; });
        if (same == expected_.end()) return;
        refused_ = true;
    }
    expected_.erase(same);
    if (outcome_ >= 0 && std::none_of(expected_.begin(), expected_.end(), [](const Expected& e) { return e.Awaited; })) {
        Settle(!refused_);
    }
}

void ComPortLink::Settle(bool applied) {
    uint64_t outcome = applied ? kSettingsApplied : kSettingsRefused;
    if (write(outcome_, &outcome, sizeof(outcome)) < 0) {
        // The relay let go of the change: nobody waits for it any more.
    }
    close(outcome_);
    outcome_ = -1;
    // The change's requests go; a probe still waits for its answer.
    std::erase_if(expected_, [](const Expected& e) { return !e.Value.empty(); });
}

bool ComPortLink::ApplyAndWait(const LineSettings& settings, const LineOps& kernel) {
    int outcome = Apply(settings, kernel.NowMicroseconds());
    if (outcome < 0) return false;
    // What the line brings meanwhile is kept for the relay's first reads.
    while (outcome_ >= 0 && !failed_ && !closed_) {
        bool room = pending_.size() - pendingFrom_ < kMostPending;
        pollfd wait{socket_, static_cast<short>((room ? POLLIN : 0) | Needs()), 0};
        int64_t left = UntilDeadline(kernel.NowMicroseconds());
        kernel.Poll(&wait, 1, static_cast<int>((left + 999) / 1000));
        if (room && (wait.revents & (POLLIN | POLLHUP | POLLERR))) TakeIn(kernel.NowMicroseconds());
        Serve(wait.revents, kernel.NowMicroseconds());
    }
    if (outcome_ >= 0) Settle(false);
    uint64_t value = 0;
    bool applied = read(outcome, &value, sizeof(value)) == sizeof(value) && value == kSettingsApplied;
    close(outcome);
    return applied;
}

// ---- Flushes, modem lines, the poll --------------------------------------

void ComPortLink::PurgeReceived() { Send(ComPortRequest(kPurgeData, std::string(1, static_cast<char>(kPurgeReceived)))); }
void ComPortLink::PurgeToSend() { Send(ComPortRequest(kPurgeData, std::string(1, static_cast<char>(kPurgeToSend)))); }

bool ComPortLink::ModemLines(int* bits, uint64_t nowUs) const {
    if (modemState_ < 0) {
        uint64_t since = agreedAt_ ? agreedAt_ : openedAt_;
        errno = nowUs - since < kLinesWaitUs ? EAGAIN : ENOTTY;
        return false;
    }
    *bits = (modemState_ & kClearToSend ? TIOCM_CTS : 0) | (modemState_ & kDataSetReady ? TIOCM_DSR : 0) |
            (modemState_ & kCarrierDetect ? TIOCM_CD : 0) | (modemState_ & kRingIndicator ? TIOCM_RI : 0) |
            (hungUp_ ? 0 : TIOCM_DTR | TIOCM_RTS);
    return true;
}

short ComPortLink::Needs() const { return out_.empty() ? 0 : POLLOUT; }

int64_t ComPortLink::UntilDeadline(uint64_t nowUs) const {
    if (outcome_ < 0) return -1;
    return answerDeadline_ > nowUs ? static_cast<int64_t>(answerDeadline_ - nowUs) : 0;
}

bool ComPortLink::Serve(short revents, uint64_t nowUs) {
    if ((revents & POLLOUT) && !out_.empty()) Flush();
    if (outcome_ >= 0 && nowUs >= answerDeadline_) Settle(false);
    return !failed_;
}

void ComPortLink::Send(const std::string& wire) {
    out_ += wire;
    Flush();
}

bool ComPortLink::Flush() {
    while (!out_.empty() && !failed_) {
        ssize_t count = send(socket_, out_.data(), out_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (count > 0) {
            out_.erase(0, static_cast<size_t>(count));
        } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            break;
        } else {
            failed_ = true;
            error_ = count < 0 ? errno : EPIPE;
        }
    }
    return !failed_;
}

}  // namespace tap
