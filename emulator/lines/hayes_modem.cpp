#include "emulator/lines/hayes_modem.h"

#include <cctype>
#include <cstdio>

namespace emu {
namespace {

// Numeric result codes (ATV0).
constexpr uint32_t ResultCode(int result) {
    constexpr uint32_t codes[] = {0, 1, 2, 3, 4, 6, 7};
    return codes[result];
}

const char* const kResultTexts[] = {"OK", "CONNECT", "RING", "NO CARRIER", "ERROR", "NO DIALTONE", "BUSY"};

const char* const kIdentification[] = {
    "56000",
    "Quorvel stand-in modem",
    "Firmware 3.1.47",
    "V.90 56K Data/Fax/Voice Modem Version 3.1.47",
};

constexpr uint32_t kGoodLineSpeed = 57600;
constexpr uint32_t kPoorLineSpeed = 2400;

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Reads decimal digits at *at; false when there are none (value then 0).
bool ReadNumber(const std::string& line, size_t* at, uint32_t* value) {
    *value = 0;
    size_t start = *at;
    while (*at < line.size() && std::isdigit(static_cast<unsigned char>(line[*at]))) {
        if (*value < 100000) *value = *value * 10 + static_cast<uint32_t>(line[*at] - '0');
        ++*at;
    }
    return *at > start;
}

bool Next(const std::string& line, size_t at, char c) { return at < line.size() && line[at] == c; }

}  // namespace

HayesModem::HayesModem() : active_(Factory()), stored_(Factory()) {}

HayesModem::Settings HayesModem::Factory() {
    Settings settings;
    const uint8_t defaults[] = {0, 0, 43, 13, 10, 8, 2, 50, 2, 6, 14, 95, 50};
    for (size_t i = 0; i < sizeof(defaults); ++i) settings.S[i] = defaults[i];
    return settings;
}

double HayesModem::GuardMs() const { return active_.S[12] * 20.0; }

void HayesModem::Receive(const std::string& bytes, double nowMs, std::string* reply) {
    for (char c : bytes) {
        if (call_ == Call::Dialing || call_ == Call::Answering) {
            // Any key aborts a call that is being set up.
            call_ = Call::Idle;
            SendResult(Result::NoCarrier, reply);
        } else if (mode_ == Mode::OnLine) {
            DataByte(c, nowMs, reply);
        } else {
            CommandByte(c, nowMs, reply);
        }
    }
}

void HayesModem::Advance(double nowMs, std::string* reply) {
    if ((call_ == Call::Dialing || call_ == Call::Answering) && nowMs >= callDueMs_) FinishCall(reply);
    if (escapePending_ && nowMs >= escapeDueMs_) TakeEscape(reply);
}

void HayesModem::ConfirmEscape(std::string* reply) {
    if (escapePending_) TakeEscape(reply);
}

bool HayesModem::NextDueMs(double* dueMs) const {
    bool calling = call_ == Call::Dialing || call_ == Call::Answering;
    if (!calling && !escapePending_) return false;
    if (calling && escapePending_) {
        *dueMs = callDueMs_ < escapeDueMs_ ? callDueMs_ : escapeDueMs_;
    } else {
        *dueMs = calling ? callDueMs_ : escapeDueMs_;
    }
    return true;
}

// On line every byte goes to the far end, which echoes it. Three escape
// characters (S2), with the guard time (S12) quiet before them, start the
// escape; it is taken once the guard time has passed quietly after them too.
void HayesModem::DataByte(char c, double nowMs, std::string* reply) {
    uint8_t escape = active_.S[2];
    if (escape < 128 && c == static_cast<char>(escape)) {
        if (pluses_ == 0) {
            if (nowMs - lastDataMs_ >= GuardMs()) pluses_ = 1;
        } else if (pluses_ < 3 && nowMs - lastPlusMs_ <= GuardMs()) {
            ++pluses_;
        } else {
            pluses_ = 0;
        }
        lastPlusMs_ = nowMs;
    } else {
        pluses_ = 0;
    }
    escapePending_ = pluses_ == 3;
    if (escapePending_) escapeDueMs_ = nowMs + GuardMs();
    lastDataMs_ = nowMs;
    reply->push_back(c);
}

// In command mode: the echo, then "AT" opens a command line that CR (S3)
// ends, backspace (S5) edits, and "A/" repeats the last one.
void HayesModem::CommandByte(char c, double nowMs, std::string* reply) {
    if (active_.Echo) reply->push_back(c);
    switch (scan_) {
        case Scan::WaitA:
            if (Upper(c) == 'A') scan_ = Scan::WaitT;
            break;
        case Scan::WaitT:
            if (Upper(c) == 'T') {
                scan_ = Scan::Line;
                line_.clear();
                lineTooLong_ = false;
            } else if (c == '/') {
                scan_ = Scan::WaitA;
                Execute(lastLine_, nowMs, reply);
            } else if (Upper(c) != 'A') {
                scan_ = Scan::WaitA;
            }
            break;
        case Scan::Line:
            if (c == static_cast<char>(active_.S[3])) {
                scan_ = Scan::WaitA;
                if (lineTooLong_) {
                    SendResult(Result::Error, reply);
                } else {
                    lastLine_ = line_;
                    Execute(line_, nowMs, reply);
                }
            } else if (c == static_cast<char>(active_.S[5])) {
                if (!line_.empty()) line_.pop_back();
            } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
                if (line_.size() < kMaxCommandLength) {
                    line_.push_back(c);
                } else {
                    lineTooLong_ = true;
                }
            }
            break;
    }
}

void HayesModem::Execute(const std::string& line, double nowMs, std::string* reply) {
    std::string info;
    bool resultPending = false;  // a call, or going on line, gives its own result
    bool stop = false;
    size_t at = 0;
    while (at < line.size() && !stop) {
        if (line[at] == ' ') {
            ++at;
        } else if (!ExecuteOne(line, &at, nowMs, &info, &resultPending, &stop)) {
            *reply += info;
            SendResult(Result::Error, reply);
            return;
        }
    }
    *reply += info;
    if (!resultPending) SendResult(Result::Ok, reply);
}

// One command at *at; false when it is not understood or out of range.
bool HayesModem::ExecuteOne(const std::string& line, size_t* at, double nowMs, std::string* info,
                            bool* resultPending, bool* stop) {
    char command = Upper(line[(*at)++]);
    uint32_t n = 0;
    switch (command) {
        case 'E': case 'V': case 'Q': return Switch(command, line, at);
        case 'Z':
            ReadNumber(line, at, &n);
            if (n > 1) return false;
            HangUp();
            active_ = stored_;
            *stop = true;  // the rest of the line is not looked at
            return true;
        case 'I': return Identify(line, at, info);
        case 'S': return Register(line, at, info);
        case 'D': case 'A': case 'H': case 'O': return CallCommand(command, line, at, nowMs, info, resultPending, stop);
        case '&': return Ampersand(line, at, info);
        case '+': return Extended(line, at, info);
        case 'B': case 'L': case 'M': case 'N': case 'P': case 'T': case 'W': case 'X': case 'Y':
            ReadNumber(line, at, &n);  // speaker, dialling and result-set settings: accepted
            return true;
        default:
            return false;
    }
}

// E, V and Q with 0 or 1.
bool HayesModem::Switch(char command, const std::string& line, size_t* at) {
    uint32_t n = 0;
    ReadNumber(line, at, &n);
    if (n > 1) return false;
    (command == 'E' ? active_.Echo : command == 'V' ? active_.Verbose : active_.Quiet) = n == 1;
    return true;
}

bool HayesModem::Identify(const std::string& line, size_t* at, std::string* info) const {
    uint32_t n = 0;
    ReadNumber(line, at, &n);
    if (n >= sizeof(kIdentification) / sizeof(kIdentification[0])) return false;
    *info += Info(kIdentification[n]);
    return true;
}

// Sn? reads a register, Sn=v writes it.
bool HayesModem::Register(const std::string& line, size_t* at, std::string* info) {
    uint32_t n = 0;
    if (!ReadNumber(line, at, &n) || n >= kRegisters) return false;
    if (Next(line, *at, '?')) {
        ++*at;
        char value[8];
        std::snprintf(value, sizeof(value), "%03u", static_cast<unsigned>(active_.S[n]));
        *info += Info(value);
        return true;
    }
    uint32_t value = 0;
    if (!Next(line, *at, '=')) return false;
    ++*at;
    if (!ReadNumber(line, at, &value) || value > 255) return false;
    active_.S[n] = static_cast<uint8_t>(value);
    return true;
}

// D dials (the rest of the line is its number), A answers, H hangs up, O
// goes back on line. A call and going on line give their own result.
bool HayesModem::CallCommand(char command, const std::string& line, size_t* at, double nowMs, std::string* info,
                             bool* resultPending, bool* stop) {
    uint32_t n = 0;
    if (command == 'D' || command == 'A') {
        if (call_ != Call::Idle) return false;
        StartCall(command == 'D' ? Call::Dialing : Call::Answering, command == 'D' ? line.substr(*at) : "", nowMs);
        if (command == 'D') *at = line.size();
        *resultPending = true;
        *stop = command == 'A';
        return true;
    }
    ReadNumber(line, at, &n);
    if (n > 1) return false;
    if (command == 'H') {
        HangUp();
        return true;
    }
    if (call_ == Call::Connected) {
        SendConnect(info);
        mode_ = Mode::OnLine;
        lastDataMs_ = nowMs;
        pluses_ = 0;
    } else {
        SendResult(Result::NoCarrier, info);
    }
    *resultPending = true;
    *stop = true;
    return true;
}

bool HayesModem::Ampersand(const std::string& line, size_t* at, std::string* info) {
    if (*at >= line.size()) return false;
    char setting = Upper(line[(*at)++]);
    uint32_t n = 0;
    ReadNumber(line, at, &n);
    switch (setting) {
        case 'F': active_ = Factory(); return true;
        case 'W': stored_ = active_; return true;
        case 'V': *info += Info(Profile()); return true;
        case 'C': case 'D': case 'G': case 'J': case 'K': case 'Q':
        case 'R': case 'S': case 'T': case 'X': case 'Y':
            return true;  // line and flow settings: accepted, nothing to simulate
        default: return false;
    }
}

// The one extended command: the fax class, +FCLASS=?, +FCLASS? and
// +FCLASS=n (0, 1, 2 or 8); an optional ';' ends it.
bool HayesModem::Extended(const std::string& line, size_t* at, std::string* info) {
    std::string name;
    while (*at < line.size() && std::isalpha(static_cast<unsigned char>(line[*at]))) {
        name.push_back(Upper(line[(*at)++]));
    }
    if (name != "FCLASS") return false;
    if (Next(line, *at, '=') && Next(line, *at + 1, '?')) {
        *at += 2;
        *info += Info("0,1,2,8");
    } else if (Next(line, *at, '?')) {
        ++*at;
        *info += Info(std::to_string(active_.FaxClass));
    } else if (Next(line, *at, '=')) {
        ++*at;
        uint32_t value = 0;
        if (!ReadNumber(line, at, &value) || (value > 2 && value != 8)) return false;
        active_.FaxClass = value;
    } else {
        return false;
    }
    if (Next(line, *at, ';')) ++*at;
    return true;
}

// The number decides how the call goes: no digits, no dial tone; the last
// digit 0, busy; 9, no carrier; 8, a poor line at 2400; else 57600.
void HayesModem::StartCall(Call kind, const std::string& dialString, double nowMs) {
    call_ = kind;
    callResult_ = Result::Connect;
    callSpeed_ = kGoodLineSpeed;
    callDueMs_ = nowMs + kHandshakeMs;
    if (kind != Call::Dialing) return;
    uint32_t digits = 0;
    char last = 0;
    for (char c : dialString) {
        if (!std::isdigit(static_cast<unsigned char>(c))) continue;
        ++digits;
        last = c;
    }
    callDueMs_ += digits * kDialDigitMs;
    if (digits == 0) {
        callResult_ = Result::NoDialtone;
    } else if (last == '0') {
        callResult_ = Result::Busy;
    } else if (last == '9') {
        callResult_ = Result::NoCarrier;
    } else if (last == '8') {
        callSpeed_ = kPoorLineSpeed;
    }
}

void HayesModem::FinishCall(std::string* reply) {
    if (callResult_ != Result::Connect) {
        call_ = Call::Idle;
        SendResult(callResult_, reply);
        return;
    }
    call_ = Call::Connected;
    speed_ = callSpeed_;
    mode_ = Mode::OnLine;
    lastDataMs_ = callDueMs_;
    pluses_ = 0;
    SendConnect(reply);
}

void HayesModem::HangUp() {
    call_ = Call::Idle;
    mode_ = Mode::Command;
    escapePending_ = false;
    pluses_ = 0;
}

void HayesModem::TakeEscape(std::string* reply) {
    mode_ = Mode::Command;
    escapePending_ = false;
    pluses_ = 0;
    scan_ = Scan::WaitA;
    SendResult(Result::Ok, reply);
}

std::string HayesModem::LineEnd() const {
    return std::string{static_cast<char>(active_.S[3]), static_cast<char>(active_.S[4])};
}

// Verbose results are framed by CR LF on both sides; numeric ones are the
// code and a CR. Quiet mode sends none.
void HayesModem::SendResult(Result result, std::string* reply) const {
    if (active_.Quiet) return;
    int index = static_cast<int>(result);
    if (active_.Verbose) {
        *reply += LineEnd() + kResultTexts[index] + LineEnd();
    } else {
        *reply += std::to_string(ResultCode(index)) + static_cast<char>(active_.S[3]);
    }
}

void HayesModem::SendConnect(std::string* reply) const {
    if (active_.Quiet) return;
    if (active_.Verbose) {
        *reply += LineEnd() + "CONNECT " + std::to_string(speed_) + LineEnd();
    } else {
        *reply += std::string(speed_ == kPoorLineSpeed ? "10" : "18") + static_cast<char>(active_.S[3]);
    }
}

std::string HayesModem::Info(const std::string& text) const {
    return active_.Verbose ? LineEnd() + text + LineEnd() : text + LineEnd();
}

std::string HayesModem::Profile() const {
    char text[256];
    const uint8_t* s = active_.S;
    std::snprintf(text, sizeof(text),
                  "ACTIVE PROFILE:%sE%d Q%d V%d &C1 &D2%sS00:%03u S01:%03u S02:%03u S03:%03u "
                  "S04:%03u S05:%03u S06:%03u S07:%03u%sS08:%03u S09:%03u S10:%03u S11:%03u "
                  "S12:%03u",
                  LineEnd().c_str(), active_.Echo, active_.Quiet, active_.Verbose, LineEnd().c_str(),
                  s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], LineEnd().c_str(), s[8], s[9],
                  s[10], s[11], s[12]);
    return text;
}

}  // namespace emu
