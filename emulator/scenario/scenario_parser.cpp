#include "emulator/scenario/scenario_parser.h"

#include <windows.h>

#include <vector>

#include "wire/request_codes.h"
#include "emulator/scenario/scenario_escapes.h"

namespace emu::scenario {
namespace {

constexpr uint32_t kMaxErrorCode = 65535;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordChar(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// When an event is over: at its last byte, at the end of its generator's
// duration, or where it starts. Endless generators are the caller's concern.
uint64_t EventEnd(const Event& event) {
    if (event.Kind == EventKind::Bytes && !event.Data.empty()) {
        return event.AtMs + static_cast<uint64_t>(event.Data.size() - 1) * event.GapMs;
    }
    if (event.Kind == EventKind::Generate && !event.Traffic.Endless) {
        return event.AtMs + event.Traffic.DurationMs;
    }
    return event.AtMs;
}

// One statement of a text, with the line it starts on.
struct Piece {
    std::string Text;
    uint32_t Line = 1;
};

struct Split {
    std::vector<Piece> Pieces;
    bool EndsInsideStatement = false;  // the text ended without closing its last statement
};

// Cuts a text into statements: ';' and line ends close a statement; blanks
// around it are dropped; a '#' where a statement would begin starts a
// comment that runs to the end of the line; double quotes are dropped (they
// are what a command line wraps around an argument with spaces). An escape
// stays whole (scenario_escapes.h), so "\;" and "\"" reach the decoding
// unharmed.
Split SplitStatements(std::string_view text) {
    Split split;
    std::string current;
    uint32_t line = 1;
    uint32_t startLine = 1;
    auto close = [&] {
        std::string_view trimmed = TrimBlanks(current);
        if (!trimmed.empty()) split.Pieces.push_back(Piece{std::string(trimmed), startLine});
        current.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n' || c == '\r' || c == ';') {
            close();
            if (c == '\n') ++line;
            continue;
        }
        if (c == '"') continue;
        if (current.empty()) {
            if (IsBlank(c)) continue;
            if (c == '#') {
                while (i + 1 < text.size() && text[i + 1] != '\n') ++i;
                continue;
            }
            startLine = line;
        }
        current.push_back(c);
        if (EscapeGoesOn(text, i)) current.push_back(text[++i]);
    }
    split.EndsInsideStatement = !current.empty();
    close();
    return split;
}

// Reads one statement from left to right.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    void SkipBlanks() {
        while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    }
    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    bool Take(char c) {
        if (Peek() != c || AtEnd()) return false;
        ++pos_;
        return true;
    }
    std::string_view Word() {
        size_t start = pos_;
        while (pos_ < text_.size() && IsWordChar(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }
    // A token up to the next blank.
    std::string_view Token() {
        size_t start = pos_;
        while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }
    std::string_view Rest() {
        std::string_view rest = TrimBlanks(text_.substr(pos_));
        pos_ = text_.size();
        return rest;
    }
    // A decimal number of at most max; false with a reason otherwise.
    bool Number(uint64_t max, uint64_t* value, std::string* error) {
        size_t start = pos_;
        uint64_t result = 0;
        bool tooLarge = false;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) {
            if (!tooLarge) {
                result = result * 10 + static_cast<uint64_t>(text_[pos_] - '0');
                tooLarge = result > max;
            }
            ++pos_;
        }
        if (pos_ == start) {
            *error = "a number is expected at " + Quoted(text_.substr(pos_));
            return false;
        }
        if (tooLarge) {
            *error = Quoted(text_.substr(start, pos_ - start)) + " is out of range (0 to " +
                     std::to_string(max) + ")";
            return false;
        }
        *value = result;
        return true;
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

struct RequestName {
    const char* Name;
    uint32_t Code;
};

constexpr RequestName kRequestNames[] = {
    {"persistent", quorvel::IOCTL_LINE_SET_PERSISTENT},
    {"shutdown", quorvel::IOCTL_LINE_SHUTDOWN},
    {"arrival", quorvel::IOCTL_LINE_WAIT_PORT_ARRIVAL},
    {"props", quorvel::IOCTL_LINE_GET_PORT_PROPERTIES},
    {"attach", quorvel::IOCTL_LINE_ATTACH_CAPTURE},
    {"data", quorvel::IOCTL_LINE_WAIT_DATA},
    {"signal", quorvel::IOCTL_LINE_WAIT_SIGNAL},
    {"notice", quorvel::IOCTL_LINE_WAIT_NOTICE},
    {"detach", quorvel::IOCTL_LINE_DETACH_CAPTURE},
    {"pause", quorvel::IOCTL_LINE_TOGGLE_PAUSE},
    {"mode", quorvel::IOCTL_LINE_SET_COMMAND_MODE},
    {"response", quorvel::IOCTL_LINE_READ_RESPONSE},
    {"write", quorvel::IOCTL_LINE_WRITE_COMMAND},
    {"escape", quorvel::IOCTL_LINE_ESCAPE_FOLLOWUP},
};

// Where the statements of the port being described go, and the time at
// which its previous statement ended (the base of "+" times).
struct PortCursor {
    bool Valid = false;   // false before the first port and after a bad port statement
    size_t Index = 0;
    uint64_t PreviousEndMs = 0;
    bool PreviousEndless = false;
    uint32_t GapMs = 0;
    bool Closed = false;           // its loop has been written, or it is a tap, a watch or a replay
    const char* ClosedBy = "";     // what closed it, for the message
};

// The time written before a statement: "@T" or "+D".
struct TimePrefix {
    enum class Kind { None, At, After } Which = Kind::None;
    uint64_t Ms = 0;
};

// One text's parse: the scenario it fills, what it may read, and the
// events counted so far (a limit of the whole scenario, files included).
struct Parse {
    Scenario& Out;
    const ParseOptions& Options;
    size_t EventCount = 0;
};

// What a statement's function is given besides the parse and the cursor.
struct Statement {
    Scanner& Scan;
    std::string_view Word;
    TimePrefix Time;
    bool InFile = false;
    const char* Keys = "";  // what may follow the word, as its messages name it
};

using ApplyStatement = bool (*)(Parse& parse, PortCursor& cursor, Statement& statement, std::string* error);

// A statement of the language: its word, whether it belongs to the port
// before it, whether it takes a time, its keys, and the function that
// applies it.
struct StatementRule {
    const char* Word;
    bool OfAPort;
    bool TakesTime;
    const char* Keys;
    ApplyStatement Apply;
};

void Report(Scenario& out, const std::string& where, const std::string& message) {
    ++out.ProblemCount;
    if (out.Problems.size() < kMaxProblems) out.Problems.push_back(Problem{where, message});
}

bool ReadTime(Scanner& scan, TimePrefix* time, std::string* error) {
    if (scan.Take('@')) {
        time->Which = TimePrefix::Kind::At;
    } else if (scan.Take('+')) {
        time->Which = TimePrefix::Kind::After;
    } else {
        return true;
    }
    return scan.Number(kMaxTimeMs, &time->Ms, error);
}

// A port's statement needs a port before it that takes statements still.
bool PortTakesStatement(const PortCursor& cursor, std::string_view word, std::string* error) {
    if (!cursor.Valid) {
        *error = Quoted(word) + " belongs to a port, and no port statement stands before it";
    } else if (cursor.Closed) {
        *error = Quoted(word) + " follows " + cursor.ClosedBy + ", which ends the port's statements";
    }
    return cursor.Valid && !cursor.Closed;
}

bool NoTime(const TimePrefix& time, std::string_view word, std::string* error) {
    if (time.Which == TimePrefix::Kind::None) return true;
    *error = Quoted(word) + " takes no time";
    return false;
}

bool End(Scanner& scan, std::string* error) {
    scan.SkipBlanks();
    if (scan.AtEnd()) return true;
    *error = "unexpected " + Quoted(scan.Rest());
    return false;
}

bool Text(std::string_view raw, size_t maxLength, std::string* bytes, std::string* error) {
    if (raw.empty()) {
        *error = "the bytes or text are missing";
        return false;
    }
    if (!DecodeEscapes(raw, bytes, error)) return false;
    if (bytes->size() > maxLength) {
        *error = "longer than " + std::to_string(maxLength) + " bytes";
        return false;
    }
    return true;
}

bool Start(const PortCursor& cursor, const TimePrefix& time, uint64_t* startMs, std::string* error) {
    if (time.Which == TimePrefix::Kind::At) {
        *startMs = time.Ms;
        return true;
    }
    if (cursor.PreviousEndless) {
        *error = "follows a generator without end: give it a time with '@'";
        return false;
    }
    *startMs = cursor.PreviousEndMs + time.Ms;
    if (*startMs > kMaxTimeMs) {
        *error = "starts later than a day after its port's start";
        return false;
    }
    return true;
}

// A number key: at most max, and not 0.
bool PositiveNumber(Scanner& scan, uint64_t max, const char* zeroError, uint64_t* value, std::string* error) {
    if (!scan.Number(max, value, error)) return false;
    if (*value != 0) return true;
    *error = zeroError;
    return false;
}

bool GeneratorDirectionKey(Scanner& scan, Generator* generator, std::string* error) {
    std::string_view direction = scan.Word();
    if (SameWord(direction, "alt")) {
        generator->Direction = GeneratorDirection::Alternate;
    } else if (SameWord(direction, "rx")) {
        generator->Direction = GeneratorDirection::Received;
    } else if (SameWord(direction, "tx")) {
        generator->Direction = GeneratorDirection::Transmitted;
    } else {
        *error = "dir= is alt, rx or tx";
        return false;
    }
    return true;
}

// One key=value of gen; index: which key it was (0 rate, 1 run, 2 for, 3 dir).
bool GeneratorKey(Scanner& scan, std::string_view key, Generator* generator, int* index, std::string* error) {
    uint64_t value = 0;
    if (SameWord(key, "rate")) {
        *index = 0;
        if (!PositiveNumber(scan, kMaxRate, "the rate is at least 1 byte per second", &value, error)) return false;
        generator->Rate = static_cast<uint32_t>(value);
    } else if (SameWord(key, "run")) {
        *index = 1;
        if (!PositiveNumber(scan, kMaxRunLength, "a run is at least 1 byte", &value, error)) return false;
        generator->RunLength = static_cast<uint32_t>(value);
    } else if (SameWord(key, "for")) {
        *index = 2;
        if (!PositiveNumber(scan, kMaxTimeMs, "a generator runs at least 1 ms", &value, error)) return false;
        generator->Endless = false;
        generator->DurationMs = value;
    } else if (SameWord(key, "dir")) {
        *index = 3;
        return GeneratorDirectionKey(scan, generator, error);
    } else {
        *error = "gen has no key " + Quoted(key);
        return false;
    }
    return true;
}

bool GeneratorKeys(Statement& statement, Generator* generator, std::string* error) {
    Scanner& scan = statement.Scan;
    bool seen[4] = {};
    while (!scan.AtEnd()) {
        std::string_view key = scan.Word();
        if (key.empty() || !scan.Take('=')) {
            *error = std::string("gen takes ") + statement.Keys + ", not " + Quoted(scan.Rest());
            return false;
        }
        int index = -1;
        Generator parsed = *generator;
        bool ok = GeneratorKey(scan, key, &parsed, &index, error);
        if (index >= 0 && seen[index]) {
            *error = Quoted(key) + " is given twice";
            return false;
        }
        if (!ok) return false;
        seen[index] = true;
        *generator = parsed;
        if (!scan.AtEnd() && !IsBlank(scan.Peek())) {
            *error = "unexpected " + Quoted(scan.Rest());
            return false;
        }
        scan.SkipBlanks();
    }
    if (seen[0]) return true;
    *error = "gen needs rate=";
    return false;
}

// The event of an rx, tx, flash, notice, leave or gen statement.
bool ReadEvent(const PortCursor& cursor, Statement& statement, Event* event, std::string* error) {
    Scanner& scan = statement.Scan;
    std::string_view word = statement.Word;
    if (SameWord(word, "rx") || SameWord(word, "tx")) {
        event->Kind = EventKind::Bytes;
        event->Direction = SameWord(word, "rx") ? kReceived : kTransmitted;
        event->GapMs = cursor.GapMs;
        return Text(scan.Rest(), kMaxStatementLength, &event->Data, error);
    }
    if (SameWord(word, "flash")) {
        event->Kind = EventKind::Flash;
        uint64_t colour = 0;
        if (!scan.Number(kMaxColour, &colour, error) || !End(scan, error)) return false;
        event->Colour = static_cast<uint32_t>(colour);
        return true;
    }
    if (SameWord(word, "notice")) {
        event->Kind = EventKind::Notice;
        return Text(scan.Rest(), kMaxNoticeLength, &event->Data, error);
    }
    if (SameWord(word, "leave")) {
        event->Kind = EventKind::Leave;
        return End(scan, error);
    }
    event->Kind = EventKind::Generate;
    return GeneratorKeys(statement, &event->Traffic, error);
}

bool EventStatement(Parse& parse, PortCursor& cursor, Statement& statement, std::string* error) {
    Event event;
    if (!Start(cursor, statement.Time, &event.AtMs, error) || !ReadEvent(cursor, statement, &event, error)) {
        return false;
    }
    bool endless = event.Kind == EventKind::Generate && event.Traffic.Endless;
    uint64_t endMs = EventEnd(event);
    if (endMs > kMaxTimeMs) {
        *error = "ends later than a day after its port's start";
        return false;
    }
    if (parse.EventCount >= kMaxEvents) {
        *error = "more than " + std::to_string(kMaxEvents) + " events";
        return false;
    }
    parse.Out.Ports[cursor.Index].Events.push_back(std::move(event));
    ++parse.EventCount;
    cursor.PreviousEndMs = endMs;
    cursor.PreviousEndless = endless;
    return true;
}

// The port's name and its number: the name's trailing digits (1 to 255),
// else its place in the scenario.
bool PortName(const Parse& parse, Scanner& scan, Port* port, std::string* error) {
    std::string_view name = scan.Word();
    if (name.empty() || name.size() > kMaxNameLength) {
        *error = name.empty() ? "the port's name is missing (letters, digits, '_')"
                              : "the port's name is longer than " + std::to_string(kMaxNameLength) + " characters";
        return false;
    }
    port->Name = std::string(name);
    size_t digits = name.size();
    while (digits > 0 && IsDigit(name[digits - 1])) --digits;
    uint64_t number = 0;
    for (size_t i = digits; i < name.size() && number <= 255; ++i) number = number * 10 + (name[i] - '0');
    port->Number = digits < name.size() && number >= 1 && number <= 255
                       ? static_cast<uint32_t>(number)
                       : static_cast<uint32_t>(parse.Out.Ports.size() + 1);
    return true;
}

// "@ARRIVE" and "-LEAVE".
bool PortTimes(Scanner& scan, Port* port, std::string* error) {
    scan.SkipBlanks();
    if (scan.Take('@')) {
        scan.SkipBlanks();
        if (!scan.Number(kMaxTimeMs, &port->ArriveMs, error)) return false;
        scan.SkipBlanks();
    }
    if (!scan.Take('-')) return true;
    scan.SkipBlanks();
    if (!scan.Number(kMaxTimeMs, &port->LeaveMs, error)) return false;
    port->Leaves = true;
    if (port->LeaveMs >= port->ArriveMs) return true;
    *error = "the port would leave before it arrives";
    return false;
}

bool FriendlyName(Scanner& scan, Port* port, std::string* error) {
    if (!DecodeEscapes(scan.Rest(), &port->FriendlyName, error)) return false;
    if (port->FriendlyName.size() > kMaxFriendlyNameLength) {
        *error = "the friendly name is longer than " + std::to_string(kMaxFriendlyNameLength) + " bytes";
        return false;
    }
    port->HasFriendlyName = true;
    return true;
}

// "empty", "foreign", "noprops" and "=FRIENDLY NAME".
bool PortFlags(Statement& statement, Port* port, std::string* error) {
    Scanner& scan = statement.Scan;
    bool foreign = false, empty = false;
    for (scan.SkipBlanks(); !scan.AtEnd(); scan.SkipBlanks()) {
        if (scan.Take('=')) {
            if (!FriendlyName(scan, port, error)) return false;
            break;
        }
        std::string_view flag = scan.Token();
        if (SameWord(flag, "empty")) {
            port->Kind = PortKind::Empty;
            empty = true;
        } else if (SameWord(flag, "foreign")) {
            port->Kind = PortKind::Foreign;
            foreign = true;
        } else if (SameWord(flag, "noprops")) {
            port->PropertiesFail = true;
        } else {
            *error = "unknown port property " + Quoted(flag) + " (" + statement.Keys + ")";
            return false;
        }
    }
    if (foreign && (port->HasFriendlyName || empty)) {
        *error = port->HasFriendlyName ? "a foreign port has its own friendly name" : "a port is either empty or foreign";
        return false;
    }
    return true;
}

// The port becomes the one that the statements after it describe.
bool AddPort(Parse& parse, PortCursor& cursor, Port port, std::string* error) {
    if (parse.Out.Ports.size() >= kMaxPorts) {
        *error = "more than " + std::to_string(kMaxPorts) + " ports";
        return false;
    }
    parse.Out.Ports.push_back(std::move(port));
    cursor.Valid = true;
    cursor.Index = parse.Out.Ports.size() - 1;
    return true;
}

bool PortStatement(Parse& parse, PortCursor& cursor, Statement& statement, std::string* error) {
    cursor = PortCursor{};  // a bad port statement leaves no port to add to
    Port port;
    if (!PortName(parse, statement.Scan, &port, error) || !PortTimes(statement.Scan, &port, error) ||
        !PortFlags(statement, &port, error)) {
        return false;
    }
    return AddPort(parse, cursor, std::move(port), error);
}

bool GapStatement(Parse&, PortCursor& cursor, Statement& statement, std::string* error) {
    uint64_t gap = 0;
    if (!statement.Scan.Number(kMaxGapMs, &gap, error) || !End(statement.Scan, error)) return false;
    cursor.GapMs = static_cast<uint32_t>(gap);
    return true;
}

bool LoopStatement(Parse& parse, PortCursor& cursor, Statement& statement, std::string* error) {
    Scanner& scan = statement.Scan;
    uint64_t rounds = 0;
    bool counted = !scan.AtEnd();
    if (counted && !scan.Number(kMaxRounds, &rounds, error)) return false;
    if (!End(scan, error)) return false;
    if (counted && rounds == 0) {
        *error = "a loop runs at least 1 round";
        return false;
    }
    uint64_t roundMs = 0;
    if (!Start(cursor, statement.Time, &roundMs, error)) return false;
    if (roundMs < kMinRoundMs) {
        *error = "a round lasts at least " + std::to_string(kMinRoundMs) + " ms";
        return false;
    }
    Port& port = parse.Out.Ports[cursor.Index];
    for (const Event& event : port.Events) {
        bool endless = event.Kind == EventKind::Generate && event.Traffic.Endless;
        if (endless || EventEnd(event) > roundMs) {
            *error = "every event of a loop ends within its round of " + std::to_string(roundMs) + " ms";
            return false;
        }
    }
    port.RoundMs = roundMs;
    port.Rounds = static_cast<uint32_t>(rounds);  // 0 (none written): for ever
    cursor.Closed = true;
    cursor.ClosedBy = "its port's loop";
    return true;
}

// "tap NAME FOLDER [=FRIENDLY NAME]": a port on a real serial line that
// quorvel-tap owns, named NAME; FOLDER is the tap's folder as Wine names it
// (taken as written, without escapes). It takes no statements of its own:
// its traffic is real.
bool TapStatement(Parse& parse, PortCursor& cursor, Statement& statement, std::string* error) {
    Scanner& scan = statement.Scan;
    cursor = PortCursor{};
    Port port;
    port.Kind = PortKind::Tap;
    if (!PortName(parse, scan, &port, error)) return false;
    scan.SkipBlanks();
    std::string_view folder = scan.Token();
    if (folder.empty() || folder.front() == '=') {
        *error = "a tap names its folder, such as Z:\\run\\user\\1000\\quorvel-tap-42";
        return false;
    }
    port.OtherName = std::string(folder);
    scan.SkipBlanks();
    if (scan.Take('=')) {
        if (!FriendlyName(scan, &port, error)) return false;
    } else if (!scan.AtEnd()) {
        *error = std::string("a tap takes ") + statement.Keys + ", not " + Quoted(scan.Rest());
        return false;
    }
    if (!AddPort(parse, cursor, std::move(port), error)) return false;
    cursor.Closed = true;
    cursor.ClosedBy = "a tap";
    return true;
}

// "watch FOLDER": the feed of quorvel-watch, whose ports come and go as it
// says; FOLDER is the watch's folder as Wine names it (taken as written,
// without escapes). It is named WATCH and its place among the watches, for
// the stand-in's reports, and takes no statements of its own.
bool WatchStatement(Parse& parse, PortCursor& cursor, Statement& statement, std::string* error) {
    Scanner& scan = statement.Scan;
    cursor = PortCursor{};
    Port port;
    port.Kind = PortKind::Watch;
    scan.SkipBlanks();
    std::string_view folder = scan.Token();
    if (folder.empty()) {
        *error = "a watch names its folder, such as Z:\\run\\user\\1000\\quorvel-watch-42";
        return false;
    }
    port.OtherName = std::string(folder);
    scan.SkipBlanks();
    if (!scan.AtEnd()) {
        *error = std::string("a watch takes ") + statement.Keys + ", not " + Quoted(scan.Rest());
        return false;
    }
    int watches = 1;
    for (const Port& other : parse.Out.Ports) watches += other.Kind == PortKind::Watch;
    port.Name = "WATCH" + std::to_string(watches);
    port.Number = static_cast<uint32_t>(watches);
    if (!AddPort(parse, cursor, std::move(port), error)) return false;
    cursor.Closed = true;
    cursor.ClosedBy = "a watch";
    return true;
}

// "replay FILE [speed=1|max] [=FRIENDLY NAME]": a port that plays a capture
// file (taken as written, without escapes), named REPLAY and its place
// among the replays.
bool ReplayStatement(Parse& parse, PortCursor& cursor, Statement& statement, std::string* error) {
    Scanner& scan = statement.Scan;
    cursor = PortCursor{};
    Port port;
    port.Kind = PortKind::Replay;
    scan.SkipBlanks();
    std::string_view file = scan.Token();
    if (file.empty() || file.front() == '=') {
        *error = "a replay names its capture file";
        return false;
    }
    port.OtherName = std::string(file);
    for (scan.SkipBlanks(); !scan.AtEnd(); scan.SkipBlanks()) {
        if (scan.Take('=')) {
            if (!FriendlyName(scan, &port, error)) return false;
            break;
        }
        std::string_view key = scan.Token();
        if (!SameWord(key, "speed=1") && !SameWord(key, "speed=max")) {
            *error = std::string("a replay takes ") + statement.Keys + ", not " + Quoted(key);
            return false;
        }
        port.ReplayAtMaxSpeed = SameWord(key, "speed=max");
    }
    int replays = 1;
    for (const Port& other : parse.Out.Ports) replays += other.Kind == PortKind::Replay;
    port.Name = "REPLAY" + std::to_string(replays);
    port.Number = static_cast<uint32_t>(replays);
    if (!AddPort(parse, cursor, std::move(port), error)) return false;
    cursor.Closed = true;
    cursor.ClosedBy = "a replay";
    return true;
}

// "REQUEST [ERROR [TIMES]]": the error is ERROR_GEN_FAILURE unless given.
bool ReadRequestFault(Scanner& scan, std::string_view name, Fault* fault, std::string* error) {
    for (const RequestName& request : kRequestNames) {
        if (SameWord(name, request.Name)) fault->Code = request.Code;
    }
    if (fault->Code == 0) {
        *error = "fault names no request: " + Quoted(name);
        return false;
    }
    fault->Error = ERROR_GEN_FAILURE;
    uint64_t value = 0;
    scan.SkipBlanks();
    if (!scan.AtEnd()) {
        if (!PositiveNumber(scan, kMaxErrorCode, "a fault's error is not 0", &value, error)) return false;
        fault->Error = static_cast<uint32_t>(value);
        scan.SkipBlanks();
        if (!scan.AtEnd()) {
            if (!scan.Number(kMaxFaultTimes, &value, error)) return false;
            fault->Times = static_cast<uint32_t>(value);
        }
    }
    return End(scan, error);
}

bool FaultStatement(Parse& parse, PortCursor&, Statement& statement, std::string* error) {
    Scanner& scan = statement.Scan;
    std::string_view name = scan.Word();
    Fault fault;
    if (SameWord(name, "restart")) {
        // The persistent-mode request asks for a Windows restart.
        fault.Code = quorvel::IOCTL_LINE_SET_PERSISTENT;
        fault.Error = ERROR_MEDIA_CHANGED;
        if (!End(scan, error)) return false;
    } else if (!ReadRequestFault(scan, name, &fault, error)) {
        return false;
    }
    parse.Out.Faults.push_back(fault);
    return true;
}

bool FileStatement(Parse& parse, PortCursor& cursor, Statement& statement, std::string* error);

constexpr StatementRule kStatements[] = {
    {"port", false, false, "empty, foreign, noprops, =name", PortStatement},
    {"tap", false, false, "its name, its folder and =name", TapStatement},
    {"watch", false, false, "only its folder", WatchStatement},
    {"replay", false, false, "speed=1 or speed=max and =name", ReplayStatement},
    {"fault", false, false, "", FaultStatement},
    {"file", false, false, "", FileStatement},
    {"gap", true, false, "", GapStatement},
    {"loop", true, true, "", LoopStatement},
    {"rx", true, true, "", EventStatement},
    {"tx", true, true, "", EventStatement},
    {"flash", true, true, "", EventStatement},
    {"notice", true, true, "", EventStatement},
    {"leave", true, true, "", EventStatement},
    {"gen", true, true, "rate=, run=, dir= and for=", EventStatement},
};

// One statement: its time, its word, and the rule that applies it.
bool ApplyOne(Parse& parse, PortCursor& cursor, std::string_view text, bool inFile, std::string* error) {
    Scanner scan(text);
    TimePrefix time;
    if (!ReadTime(scan, &time, error)) return false;
    scan.SkipBlanks();
    std::string_view word = scan.Word();
    if (word.empty()) {
        *error = "a statement is expected at " + Quoted(text);
        return false;
    }
    if (!scan.AtEnd() && !IsBlank(scan.Peek())) {
        *error = "unknown statement " + Quoted(text);
        return false;
    }
    scan.SkipBlanks();
    for (const StatementRule& rule : kStatements) {
        if (!SameWord(word, rule.Word)) continue;
        if (rule.OfAPort && !PortTakesStatement(cursor, word, error)) return false;
        if (!rule.TakesTime && !NoTime(time, word, error)) return false;
        Statement statement{scan, word, time, inFile, rule.Keys};
        return rule.Apply(parse, cursor, statement, error);
    }
    *error = "unknown statement " + Quoted(word);
    return false;
}

// Every statement of a text, each reported where it fails; a text (the
// settings text, or a file it names) has a cursor of its own.
void ParseText(Parse& parse, std::string_view text, bool inFile, bool mayBeCut) {
    PortCursor cursor;
    Split split = SplitStatements(text);
    for (size_t i = 0; i < split.Pieces.size(); ++i) {
        const Piece& piece = split.Pieces[i];
        std::string where = inFile ? "file line " + std::to_string(piece.Line) : "statement " + std::to_string(i + 1);
        bool last = i + 1 == split.Pieces.size();
        if (mayBeCut && last && split.EndsInsideStatement) {
            Report(parse.Out, where,
                   "cut off at the end of the 503 characters (end the text with ';' to keep its last statement)");
            continue;
        }
        if (piece.Text.size() > kMaxStatementLength) {
            Report(parse.Out, where, "longer than " + std::to_string(kMaxStatementLength) + " characters");
            continue;
        }
        std::string error;
        if (!ApplyOne(parse, cursor, piece.Text, inFile, &error)) Report(parse.Out, where, error);
    }
}

bool FileStatement(Parse& parse, PortCursor&, Statement& statement, std::string* error) {
    if (statement.InFile) {
        *error = "a scenario file names no further file";
        return false;
    }
    std::string path(statement.Scan.Rest());
    if (path.empty() || path.size() > kMaxPathLength) {
        *error = path.empty() ? "the file's path is missing" : "the file's path is too long";
        return false;
    }
    if (!parse.Options.ReadFile) {
        *error = "no scenario files here";
        return false;
    }
    std::string contents;
    if (!parse.Options.ReadFile(path, &contents, error)) return false;
    ParseText(parse, contents, true, false);  // its own cursor: the text's port is where it was
    return true;
}

}  // namespace

Scenario ParseScenario(std::string_view text, const ParseOptions& options) {
    Scenario scenario;
    Parse parse{scenario, options};
    ParseText(parse, text, false, options.MayBeCut);
    return scenario;
}

}  // namespace emu::scenario
