#include "emulator/scenario/default_scenario.h"

namespace emu {

// Three modems, each of whose traffic begins when the monitor attaches to it
// and repeats for ever:
// - COM1: a dialer sets its modem up, dials out and logs in to a bulletin
//   board by hand (one key at a time, echoed by the board), then says
//   goodbye and the line drops;
// - COM2: answering software waits for a call; the phone rings twice (each
//   ring flashes the window and sends a notice), the software answers,
//   a caller logs in, logs out, and the software hangs up with the escape
//   sequence and its guard times;
// - COM3: a diagnostics program queries its modem now and then; the long
//   profile arrives at about 9600 bits per second, a byte every millisecond.
// Modems echo commands until echo is switched off (ATE0 on COM1).
namespace {

constexpr char kDefaultScenario[] = R"(
port COM1
@400 tx ATZ\r
+15 rx ATZ\r\r\nOK\r\n
+300 tx AT&F\r
+12 rx AT&F\r\r\nOK\r\n
+250 tx ATE0V1X4&C1&D2\r
+14 rx ATE0V1X4&C1&D2\r\r\nOK\r\n
+400 tx ATDT5551234\r
+5200 rx \r\nCONNECT 57600\r\n
+900 rx \r\nWelcome to the Harbour Lights BBS\r\n\r\nlogin:\s
+1400 tx g
+20 rx g
+190 tx u
+20 rx u
+160 tx e
+20 rx e
+220 tx s
+20 rx s
+170 tx t
+20 rx t
+260 tx \r
+60 rx \r\nPassword:\s
+1100 tx h4rb0ur\r
+350 rx \r\n\r\nMain menu: [F]iles [M]essages [G]oodbye\r\nCommand:\s
+2300 tx g
+20 rx g\r\nThanks for calling. Goodbye!\r\n
+700 rx \r\nNO CARRIER\r\n
+4000 loop

port COM2@200
@300 tx ATZ\r
+12 rx ATZ\r\r\nOK\r\n
+280 tx ATS0=0\r
+11 rx ATS0=0\r\r\nOK\r\n
+2600 rx \r\nRING\r\n
flash 6
notice RING on COM2
+6000 rx \r\nRING\r\n
flash 6
notice RING on COM2
+450 tx ATA\r
+12 rx ATA\r
+4800 rx \r\nCONNECT 33600\r\n
+500 tx \r\nQuorvel test host\r\n\r\nlogin:\s
+2100 rx guest\r
+40 tx \r\nPassword:\s
+1700 rx visitor\r
+80 tx \r\nLast login: Tue Mar 14 09:26 from COM2\r\n$\s
+2600 rx exit\r
+30 tx \r\nlogout\r\n
+1000 tx +++
+1000 rx \r\nOK\r\n
+150 tx ATH0\r
+14 rx ATH0\r\r\nOK\r\n
+5000 loop

port COM3@400
@800 tx AT\r
+10 rx AT\r\r\nOK\r\n
+600 tx ATI3\r
+25 rx ATI3\r\r\nV.90 56K Data/Fax/Voice Modem Version 3.1.47\r\n\r\nOK\r\n
+700 tx AT+FCLASS=?\r
+18 rx AT+FCLASS=?\r\r\n0,1,2,8\r\n\r\nOK\r\n
+900 tx AT&V\r
gap 1
+30 rx AT&V\r\r\nACTIVE PROFILE:\r\n
+1 rx B0 E1 L1 M1 N1 Q0 T V1 W0 X4 Y0 &C1 &D2 &G0 &J0 &K3 &Q5 &R1 &S0 &T5 &X0 &Y0\r\n
+1 rx S00:000 S01:000 S02:043 S03:013 S04:010 S05:008 S06:002 S07:050\r\n\r\nOK\r\n
gap 0
+1200 tx ATS7?\r
+12 rx ATS7?\r\r\n050\r\n\r\nOK\r\n
+6000 loop
)";

}  // namespace

const char* DefaultScenarioText() { return kDefaultScenario; }

}  // namespace emu
