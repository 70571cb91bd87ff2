// The stand-in's simulated modem, as a terminal program meets it: commands
// and their answers, settings, calls, the on-line data and the escape back.
#include <gtest/gtest.h>

#include <string>

#include "emulator/lines/hayes_modem.h"

namespace {

using emu::HayesModem;

// Feeds a line at a time and returns what the modem says back.
struct Terminal {
    std::string Say(const std::string& bytes) {
        std::string reply;
        modem.Receive(bytes, now, &reply);
        return reply;
    }
    std::string Wait(double ms) {
        now += ms;
        std::string reply;
        modem.Advance(now, &reply);
        return reply;
    }
    // A quiet second, then the escape's pluses; what comes back at once.
    std::string Escape() {
        Wait(1000);
        return Say("+++");
    }
    HayesModem modem;
    double now = 10000;
};

TEST(HayesModem, CommandsSettingsAndTheirAnswers) {
    Terminal t;
    EXPECT_EQ(t.Say("AT\r"), "AT\r\r\nOK\r\n") << "echo, then the result framed by CR LF";
    EXPECT_EQ(t.Say("at\r"), "at\r\r\nOK\r\n");
    EXPECT_EQ(t.Say("hello\r"), "hello\r") << "no AT: echoed and ignored";
    EXPECT_EQ(t.Say("ATX?\r"), "ATX?\r\r\nERROR\r\n");
    EXPECT_EQ(t.Say("ATE0\r"), "ATE0\r\r\nOK\r\n") << "the echo stops after the command";
    EXPECT_EQ(t.Say("ATS7?\r"), "\r\n050\r\n\r\nOK\r\n");
    EXPECT_EQ(t.Say("ATS7=30S0=2\r"), "\r\nOK\r\n");
    EXPECT_EQ(t.Say("ATS7?S0?\r"), "\r\n030\r\n\r\n002\r\n\r\nOK\r\n");
    EXPECT_EQ(t.Say("ATS7=256\r"), "\r\nERROR\r\n");
    EXPECT_EQ(t.Say("ATS38=1\r"), "\r\nERROR\r\n");
    EXPECT_EQ(t.Say("ATI3\r"), "\r\nV.90 56K Data/Fax/Voice Modem Version 3.1.47\r\n\r\nOK\r\n");
    EXPECT_EQ(t.Say("ATI9\r"), "\r\nERROR\r\n");
    EXPECT_EQ(t.Say("AT+FCLASS=?\r"), "\r\n0,1,2,8\r\n\r\nOK\r\n");
    EXPECT_EQ(t.Say("ATX4&C1&D2L1M1\r"), "\r\nOK\r\n") << "init-string settings are accepted";
    EXPECT_EQ(t.Say("ATV0\r"), "0\r") << "numeric results";
    EXPECT_EQ(t.Say("ATFOO\r"), "4\r");
    EXPECT_EQ(t.Say("ATQ1\r"), "") << "quiet: no result at all";
    EXPECT_EQ(t.Say("ATS7?\r"), "030\r\n") << "information still comes";
    EXPECT_EQ(t.Say("ATQ0V1\r"), "\r\nOK\r\n");
    EXPECT_EQ(t.Say("A/"), "\r\nOK\r\n") << "A/ repeats the last line at once";
    EXPECT_EQ(t.Say("ATS7?X\bS0?\r"), "\r\n030\r\n\r\n002\r\n\r\nOK\r\n") << "backspace edits the line";
    EXPECT_EQ(t.Say("AT&W\r"), "\r\nOK\r\n");
    EXPECT_EQ(t.Say("AT&F\r"), "\r\nOK\r\n");
    EXPECT_EQ(t.Say("ATS7?\r"), "ATS7?\r\r\n050\r\n\r\nOK\r\n") << "factory: echo on again";
    EXPECT_EQ(t.Say("ATZ\r"), "ATZ\r\r\nOK\r\n") << "the profile written by &W comes back";
    EXPECT_EQ(t.Say("ATS7?\r"), "\r\n030\r\n\r\nOK\r\n");
    EXPECT_EQ(t.Say("AT" + std::string(300, 'S') + "\r"), "\r\nERROR\r\n") << "an overlong line";
}

TEST(HayesModem, CallsGoOnLineAndTheEscapeComesBack) {
    Terminal t;
    t.Say("ATE0\r");
    EXPECT_EQ(t.Say("ATDT555-1234\r"), "") << "the result waits for the handshake";
    EXPECT_EQ(t.Wait(HayesModem::kHandshakeMs), "");
    EXPECT_EQ(t.Wait(7 * HayesModem::kDialDigitMs), "\r\nCONNECT 57600\r\n");
    EXPECT_TRUE(t.modem.OnLine());
    EXPECT_EQ(t.Say("hello AT\r"), "hello AT\r") << "on line the far end echoes, commands are data";

    // Pluses without the guard time before them are data.
    EXPECT_EQ(t.Say("+++"), "+++");
    double due = 0;
    EXPECT_FALSE(t.modem.NextDueMs(&due));
    // With a quiet second before and after them, they escape.
    EXPECT_EQ(t.Escape(), "+++");
    ASSERT_TRUE(t.modem.NextDueMs(&due));
    EXPECT_EQ(due, t.now + 1000);
    EXPECT_EQ(t.Wait(999), "");
    EXPECT_EQ(t.Wait(1), "\r\nOK\r\n");
    EXPECT_FALSE(t.modem.OnLine());
    EXPECT_TRUE(t.modem.Connected());
    EXPECT_EQ(t.Say("ATO\r"), "\r\nCONNECT 57600\r\n");
    // A byte within the guard time after them cancels the escape; the
    // follow-up takes a waiting one at once.
    t.Wait(1000);
    EXPECT_EQ(t.Say("+++x"), "+++x");
    EXPECT_FALSE(t.modem.NextDueMs(&due));
    t.Escape();
    std::string reply;
    t.modem.ConfirmEscape(&reply);
    EXPECT_EQ(reply, "\r\nOK\r\n");
    EXPECT_EQ(t.Say("ATD5551234\r"), "\r\nERROR\r\n") << "no second call while one is up";
    EXPECT_EQ(t.Say("ATH\r"), "\r\nOK\r\n");
    EXPECT_FALSE(t.modem.Connected());
    EXPECT_EQ(t.Say("ATO\r"), "\r\nNO CARRIER\r\n");
}

TEST(HayesModem, TheNumberDecidesTheOutcomeAKeyAbortsAndAnsweringConnects) {
    Terminal t;
    t.Say("ATE0\r");
    // The number decides the outcome.
    const struct { const char* line; const char* result; } calls[] = {
        {"ATD5550\r", "\r\nBUSY\r\n"},
        {"ATD5559\r", "\r\nNO CARRIER\r\n"},
        {"ATD\r", "\r\nNO DIALTONE\r\n"},
        {"ATDT5558\r", "\r\nCONNECT 2400\r\n"},
    };
    for (const auto& call : calls) {
        t.Say(call.line);
        EXPECT_EQ(t.Wait(1000), call.result) << call.line;
        if (t.modem.Connected()) {
            t.Escape();
            t.Wait(1000);
            t.Say("ATH\r");
        }
    }
    EXPECT_EQ(t.Say("ATV0D5551\r"), "");
    EXPECT_EQ(t.Wait(1000), "18\r") << "CONNECT 57600 as a number";
    t.Escape();
    EXPECT_EQ(t.Wait(1000), "0\r");
    t.Say("ATH\r");
    // Any key aborts a call that is being set up.
    t.Say("ATV1D5551234\r");
    EXPECT_EQ(t.Say("x"), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(t.Wait(2000), "");
    // Answering connects after the handshake.
    EXPECT_EQ(t.Say("ATA\r"), "");
    EXPECT_EQ(t.Wait(HayesModem::kHandshakeMs), "\r\nCONNECT 57600\r\n");
}

}  // namespace
