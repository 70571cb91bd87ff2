// The simulated modem behind a port's command channel: a Hayes-compatible
// modem that answers AT commands, dials and answers calls, and goes on line
// (where the far end echoes what it receives) until the "+++" escape brings
// it back to its commands.
//
// Pure logic: the caller hands in the bytes written to the port and the time,
// and gets back what the modem sends. Nothing here knows of threads, locks or
// requests; the stand-in's command channel drives it.
#pragma once

#include <cstdint>
#include <string>

namespace emu {

class HayesModem {
public:
    static constexpr uint32_t kRegisters = 38;       // S0 to S37
    static constexpr size_t kMaxCommandLength = 255;  // characters after "AT"
    static constexpr double kHandshakeMs = 500;       // a dial or an answer, plus:
    static constexpr double kDialDigitMs = 20;        // per digit dialled

    HayesModem();

    // Bytes from the computer at nowMs; appends the modem's answer to reply.
    void Receive(const std::string& bytes, double nowMs, std::string* reply);

    // Runs the modem's timers up to nowMs: a call that is being set up, the
    // guard time after "+++". Appends what they produce to reply.
    void Advance(double nowMs, std::string* reply);

    // The escape follow-up: an escape that is waiting out its guard time is
    // taken at once. Does nothing otherwise.
    void ConfirmEscape(std::string* reply);

    // When Advance next has something to do; false when nothing waits.
    bool NextDueMs(double* dueMs) const;

    bool OnLine() const { return mode_ == Mode::OnLine; }
    bool Connected() const { return call_ == Call::Connected; }

private:
    struct Settings {
        bool Echo = true;
        bool Verbose = true;
        bool Quiet = false;
        uint32_t FaxClass = 0;
        uint8_t S[kRegisters] = {};
    };
    enum class Mode { Command, OnLine };
    enum class Call { Idle, Dialing, Answering, Connected };
    enum class Scan { WaitA, WaitT, Line };
    enum class Result { Ok, Connect, Ring, NoCarrier, Error, NoDialtone, Busy };

    static Settings Factory();
    double GuardMs() const;
    void CommandByte(char c, double nowMs, std::string* reply);
    void DataByte(char c, double nowMs, std::string* reply);
    void Execute(const std::string& line, double nowMs, std::string* reply);
    bool ExecuteOne(const std::string& line, size_t* at, double nowMs, std::string* info,
                    bool* resultPending, bool* stop);
    bool Switch(char command, const std::string& line, size_t* at);
    bool Identify(const std::string& line, size_t* at, std::string* info) const;
    bool Register(const std::string& line, size_t* at, std::string* info);
    bool CallCommand(char command, const std::string& line, size_t* at, double nowMs, std::string* info,
                     bool* resultPending, bool* stop);
    bool Ampersand(const std::string& line, size_t* at, std::string* info);
    bool Extended(const std::string& line, size_t* at, std::string* info);
    void StartCall(Call kind, const std::string& dialString, double nowMs);
    void FinishCall(std::string* reply);
    void HangUp();
    void TakeEscape(std::string* reply);
    void SendResult(Result result, std::string* reply) const;
    void SendConnect(std::string* reply) const;
    std::string Info(const std::string& text) const;
    std::string Profile() const;
    std::string LineEnd() const;

    Settings active_;
    Settings stored_;  // what ATZ restores; AT&W writes it
    Mode mode_ = Mode::Command;
    Call call_ = Call::Idle;
    uint32_t speed_ = 0;
    double callDueMs_ = 0;
    Result callResult_ = Result::NoCarrier;  // of the call being set up
    uint32_t callSpeed_ = 0;
    Scan scan_ = Scan::WaitA;
    std::string line_;
    bool lineTooLong_ = false;
    std::string lastLine_;  // for "A/"
    double lastDataMs_ = 0;  // on line: when the last byte came
    double lastPlusMs_ = 0;
    uint32_t pluses_ = 0;
    bool escapePending_ = false;
    double escapeDueMs_ = 0;
};

}  // namespace emu
