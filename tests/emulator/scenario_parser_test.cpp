// The stand-in's settings text: escapes, statements, times, limits, files,
// the configuration record's text field and the generator's arithmetic, on
// good and bad input. No window, no device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "wire/request_codes.h"
#include "emulator/scenario/default_scenario.h"
#include "emulator/scenario/scenario_escapes.h"
#include "emulator/scenario/scenario_parser.h"
#include "emulator/scenario/settings_record.h"
#include "emulator/scenario/scenario_timing.h"
#include "support/table_rows.h"
#include "support/wire_client.h"
#include "wire/device_records.h"

namespace {

using namespace emu::scenario;

Scenario Parse(const std::string& text) { return ParseScenario(text); }

// Ports and events in one line each, with every field that their kind
// uses, so that a test compares a whole scenario at once and a failure shows
// all of it. A port: "COM12 #12 modem @250-3000 =Fax modem noprops loop
// 1030x0" (arrival-leave, friendly name, failing properties, round and
// rounds); a tap or a watch adds the folder of its feed: "fed from
// Z:\run\tap". An
// event: "@135 flash 3".
std::string Described(const Port& port) {
    static const char* const kinds[] = {"modem", "empty", "foreign", "tap", "sniff", "replay", "watch"};
    std::string text = port.Name + " #" + std::to_string(port.Number) + " " + kinds[static_cast<int>(port.Kind)] +
                       " @" + std::to_string(port.ArriveMs);
    if (port.Leaves) text += "-" + std::to_string(port.LeaveMs);
    if (port.HasFriendlyName) text += " =" + port.FriendlyName;
    if (port.PropertiesFail) text += " noprops";
    if (port.RoundMs) text += " loop " + std::to_string(port.RoundMs) + "x" + std::to_string(port.Rounds);
    bool fed = port.Kind == PortKind::Tap || port.Kind == PortKind::Sniff || port.Kind == PortKind::Watch;
    if (fed) text += " fed from " + port.OtherName;
    if (port.Kind == PortKind::Replay) text += " plays " + port.OtherName + (port.ReplayAtMaxSpeed ? " at most speed" : "");
    return text;
}

std::string Described(const Event& event) {
    static const char* const directions[] = {"alt", "rx", "tx"};
    std::string at = "@" + std::to_string(event.AtMs) + " ";
    const Generator& traffic = event.Traffic;
    switch (event.Kind) {
    case EventKind::Bytes:
        return at + (event.Direction == kTransmitted ? "tx " : event.Direction == kReceived ? "rx " : "?? ") +
               event.Data + (event.GapMs ? " gap " + std::to_string(event.GapMs) : "");
    case EventKind::Flash: return at + "flash " + std::to_string(event.Colour);
    case EventKind::Notice: return at + "notice " + event.Data;
    case EventKind::Leave: return at + "leave";
    case EventKind::Generate:
        return at + "gen " + std::to_string(traffic.Rate) + "/s run " + std::to_string(traffic.RunLength) + " " +
               directions[static_cast<int>(traffic.Direction)] +
               (traffic.Endless ? " endless" : " for " + std::to_string(traffic.DurationMs));
    }
    return at + "?";
}

using Lines = std::vector<std::string>;

// The whole outcome of a text: each port followed by its events (indented),
// then each problem as "where: message".
Lines Played(const Scenario& scenario) {
    Lines lines;
    for (const Port& port : scenario.Ports) {
        lines.push_back(Described(port));
        for (const Event& event : port.Events) lines.push_back("  " + Described(event));
    }
    for (const Problem& problem : scenario.Problems) lines.push_back(problem.Where + ": " + problem.Message);
    if (scenario.ProblemCount != scenario.Problems.size()) {
        lines.push_back("problems counted: " + std::to_string(scenario.ProblemCount));
    }
    return lines;
}

// The single problem of a text that should have exactly one.
std::string OnlyProblem(const std::string& text) {
    Scenario scenario = Parse(text);
    EXPECT_EQ(scenario.ProblemCount, 1u) << text << "\n" << testing::PrintToString(Played(scenario));
    return scenario.Problems.empty() ? std::string() : scenario.Problems[0].Message;
}

// A text with exactly one problem, and a part of that problem's message.
struct ProblemRow {
    testsupport::RowPlace Place;
    std::string Text;
    const char* Problem;
};

void ExpectOnlyProblems(const std::vector<ProblemRow>& rows) {
    testsupport::CheckEachRow(rows, [](const ProblemRow& row) {
        std::string problem = OnlyProblem(row.Text);
        EXPECT_NE(problem.find(row.Problem), std::string::npos) << row.Text.substr(0, 60) << " gave: " << problem;
    });
}

TEST(ScenarioEscapes, DecodeEveryEscapeAndKeepOtherBytes) {
    std::string bytes, error;
    ASSERT_TRUE(DecodeEscapes("A\\r\\n\\t\\0\\e\\s\\\\\\;\\\"\\x7f\\xA0z\xE9", &bytes, &error)) << error;
    EXPECT_EQ(bytes, std::string("A\r\n\t\0\x1B \\;\"\x7F\xA0z\xE9", 14));
}

TEST(ScenarioEscapes, RefuseWhatWouldTurnIntoOtherBytes) {
    std::string bytes, error;
    for (const char* bad : {"AT\\", "\\q", "\\x4", "\\x4G", "\\xZZ", "ok\\x", "\\ "}) {
        error.clear();
        EXPECT_FALSE(DecodeEscapes(bad, &bytes, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_EQ(Quoted(std::string("a\x01\xFF", 3)), "\"a??\"");
    EXPECT_EQ(Quoted(std::string(40, 'x'), 4), "\"xxxx...\"");
}

TEST(ScenarioText, StatementsSplitAtSemicolonsAndLinesWithCommentsAndQuotesDropped) {
    Scenario scenario = Parse(
        "  # a comment; it runs to the end of the line\n"
        "port COM1 ;  tx  AT\\;Z\\s  \r\n"
        "\"rx OK\"\n"
        "\n;;\n"
        "notice #1 on \\\"COM1\\\"\n");
    EXPECT_EQ(Played(scenario), (Lines{
                  "COM1 #1 modem @0",
                  "  @0 tx AT;Z ",              // blanks around a statement go, escaped ones stay
                  "  @0 rx OK",                 // the quotes of a command line are dropped
                  "  @0 notice #1 on \"COM1\"",  // '#' only starts a comment where a statement begins
              }));
}

TEST(ScenarioText, EmptyBlankAndCommentOnlyTextsAreEmptyScenarios) {
    for (const char* text : {"", "   ", ";;;", "\"", "\"\"", "# nothing; at all", "\r\n\t\n"}) {
        Scenario scenario = Parse(text);
        EXPECT_TRUE(scenario.Ports.empty()) << text;
        EXPECT_TRUE(scenario.Faults.empty()) << text;
        EXPECT_EQ(scenario.ProblemCount, 0u) << text;
    }
}

TEST(ScenarioText, PortsTakeTheirNameTimesKindAndFriendlyName) {
    Scenario scenario = Parse(
        "port COM1;port COM12@250-3000 =Fax \\x80 modem;port modem_b - 40 noprops;"
        "port COM9 @ 5 foreign;port COM0 empty noprops =");
    EXPECT_EQ(Played(scenario), (Lines{
                  "COM1 #1 modem @0",
                  "COM12 #12 modem @250-3000 =Fax \x80 modem",
                  "modem_b #3 modem @0-40 noprops",  // no trailing digits: its place in the scenario
                  "COM9 #9 foreign @5",
                  "COM0 #5 empty @0 = noprops",  // no usable number; an empty friendly name is one
              }));
}

TEST(ScenarioText, BadPortStatementsAreSkippedWithTheirPortsStatements) {
    ExpectOnlyProblems({
        TABLE_ROW("port", "name is missing"),
        TABLE_ROW("port COM1234567890123456", "longer"),
        TABLE_ROW("port COM1@500-400", "leave before it arrives"),
        TABLE_ROW("port COM1 fancy", "unknown port property"),
        TABLE_ROW("port COM9 foreign =Mine", "own friendly name"),
        TABLE_ROW("port COM9 empty foreign", "either"),
        TABLE_ROW("port COM1 =\\q", "escape"),
        TABLE_ROW("@5 port COM1", "takes no time"),
    });

    // The statements after a bad port statement do not slip onto the port
    // before it.
    EXPECT_EQ(Played(Parse("port COM1;tx A;port COM2@x;tx B;flash 1;port COM3;tx C")), (Lines{
                  "COM1 #1 modem @0", "  @0 tx A", "COM3 #3 modem @0", "  @0 tx C",
                  "statement 3: a number is expected at \"x\"",
                  "statement 4: \"tx\" belongs to a port, and no port statement stands before it",
                  "statement 5: \"flash\" belongs to a port, and no port statement stands before it",
              }));
}

TEST(ScenarioText, TimesAreAbsoluteOrAfterThePreviousStatementsEnd) {
    Scenario scenario = Parse(
        "port COM1;tx ATZ\\r;+20 rx OK;gap 5;+100 tx ABCD;flash 3;@50 notice early;"
        "gen rate=100 for=300;+7 leave");
    EXPECT_EQ(Played(scenario), (Lines{
                  "COM1 #1 modem @0", "  @0 tx ATZ\r",
                  "  @20 rx OK",  // bytes without a gap end where they start
                  "  @120 tx ABCD gap 5",
                  "  @135 flash 3",  // after the fourth byte, 3 gaps of 5 ms later
                  "  @50 notice early",
                  "  @50 gen 100/s run 16 alt for 300",  // '+0' after the notice at 50
                  "  @357 leave",  // 7 ms after the generator's 300 ms
              }));
}

TEST(ScenarioText, LeaveComesAfterAFiniteGeneratorButNotAfterAnEndlessOne) {
    EXPECT_EQ(Played(Parse("port COM1;@10 gen rate=100 for=300;+7 leave")),
              (Lines{"COM1 #1 modem @0", "  @10 gen 100/s run 16 alt for 300", "  @317 leave"}));

    ExpectOnlyProblems({TABLE_ROW("port COM1;gen rate=100;tx A", "without end")});
    EXPECT_EQ(Played(Parse("port COM1;gen rate=100 dir=tx run=4;@900 leave")),
              (Lines{"COM1 #1 modem @0", "  @0 gen 100/s run 4 tx endless", "  @900 leave"}));
}

TEST(ScenarioText, NumbersOutOfRangeAndOverlongValuesAreRefused) {
    ExpectOnlyProblems({
        TABLE_ROW("port COM1@86400001", "out of range"),
        TABLE_ROW("port COM1;@99999999999999999999999999 tx A", "out of range"),
        TABLE_ROW("port COM1;flash 256", "out of range"),
        TABLE_ROW("port COM1;flash -1", "number is expected"),
        TABLE_ROW("port COM1;flash", "number is expected"),
        TABLE_ROW("port COM1;flash 3 4", "unexpected"),
        TABLE_ROW("port COM1;gap 60001", "out of range"),
        TABLE_ROW("port COM1;gen rate=0", "at least 1 byte per second"),
        TABLE_ROW("port COM1;gen rate=1000001", "out of range"),
        TABLE_ROW("port COM1;gen rate=10 run=65537", "out of range"),
        TABLE_ROW("port COM1;gen rate=10 for=0", "at least 1 ms"),
        TABLE_ROW("port COM1;notice " + std::string(400, 'n'), "longer than 399"),
        TABLE_ROW("port COM1;tx " + std::string(5000, 'x'), "longer than 4096 characters"),
        TABLE_ROW("port COM1 =" + std::string(257, 'f'), "longer than 256"),
        TABLE_ROW("port COM1;+86400000 tx A;+1 tx B", "later than a day"),
        TABLE_ROW("port COM1;gap 60000;@86300000 tx ABC", "later than a day"),
        TABLE_ROW("port COM1;tx", "missing"),
        TABLE_ROW("port COM1;leave now", "unexpected"),
    });
}

TEST(ScenarioText, UnknownStatementsAndMisplacedOnesAreSkippedAndTheRestRuns) {
    EXPECT_EQ(Played(Parse("hello;port COM1;rx:OK;tx A;@10 gap 3;bogus 1 2 3;42;@;+ tx B;tx C")), (Lines{
                  "COM1 #1 modem @0", "  @0 tx A", "  @0 tx C",
                  "statement 1: unknown statement \"hello\"",
                  "statement 3: unknown statement \"rx:OK\"",
                  "statement 5: \"gap\" takes no time",
                  "statement 6: unknown statement \"bogus\"",
                  "statement 7: unknown statement \"42\"",
                  "statement 8: a number is expected at \"\"",
                  "statement 9: a number is expected at \" tx B\"",
              }));
    EXPECT_EQ(OnlyProblem("tx A").find("\"tx\" belongs to a port"), 0u);
}

TEST(ScenarioText, ALoopClosesItsPortAndItsEventsFitTheRound) {
    // Rounds 0: for ever.
    EXPECT_EQ(Played(Parse("port COM1;tx AT;+30 rx OK;+1000 loop;port COM2;gap 2;tx ABC;@20 loop 3")),
              (Lines{"COM1 #1 modem @0 loop 1030x0", "  @0 tx AT", "  @30 rx OK",
                     "COM2 #2 modem @0 loop 20x3", "  @0 tx ABC gap 2"}));

    ExpectOnlyProblems({
        TABLE_ROW("port COM1;tx A;+5 loop", "at least 10 ms"),
        TABLE_ROW("port COM1;loop", "at least 10 ms"),
        TABLE_ROW("port COM1;@500 tx A;@100 loop", "within its round"),
        TABLE_ROW("port COM1;gap 10;tx ABC;@15 loop", "within its round"),
        TABLE_ROW("port COM1;gen rate=5;@100 loop", "within its round"),
        TABLE_ROW("port COM1;tx A;+50 loop 0", "at least 1 round"),
        TABLE_ROW("port COM1;tx A;+50 loop;tx B", "follows its port's loop"),
    });
    EXPECT_EQ(Played(Parse("port COM1;gen rate=100 run=1 for=40;+10 loop 2")),
              (Lines{"COM1 #1 modem @0 loop 50x2", "  @0 gen 100/s run 1 alt for 40"}));
}

TEST(ScenarioText, GeneratorKeysAreCheckedOneByOne) {
    EXPECT_EQ(Played(Parse("port COM1;gen dir=rx for=2000 run=3 rate=960")),
              (Lines{"COM1 #1 modem @0", "  @0 gen 960/s run 3 rx for 2000"}));

    ExpectOnlyProblems({
        TABLE_ROW("port COM1;gen run=3", "needs rate="),
        TABLE_ROW("port COM1;gen rate=3 rate=4", "twice"),
        TABLE_ROW("port COM1;gen rate=3 speed=4", "no key"),
        TABLE_ROW("port COM1;gen rate=3 dir=up", "alt, rx or tx"),
        TABLE_ROW("port COM1;gen rate=3x", "unexpected"),
        TABLE_ROW("port COM1;gen 300", "rate="),
    });
}

TEST(ScenarioText, FaultsNameARequestWithAnErrorAndACount) {
    Scenario scenario = Parse("fault restart;fault props;FAULT attach 5 0;fault data 1 3");
    ASSERT_EQ(scenario.ProblemCount, 0u) << testing::PrintToString(Played(scenario));
    ASSERT_EQ(scenario.Faults.size(), 4u);
    EXPECT_EQ(scenario.Faults[0].Code, quorvel::IOCTL_LINE_SET_PERSISTENT);
    EXPECT_EQ(scenario.Faults[0].Error, 1110u) << "ERROR_MEDIA_CHANGED: the restart request";
    EXPECT_EQ(scenario.Faults[0].Times, 1u);
    EXPECT_EQ(scenario.Faults[1].Code, quorvel::IOCTL_LINE_GET_PORT_PROPERTIES);
    EXPECT_EQ(scenario.Faults[1].Error, 31u);
    EXPECT_EQ(scenario.Faults[2].Code, quorvel::IOCTL_LINE_ATTACH_CAPTURE);
    EXPECT_EQ(scenario.Faults[2].Error, 5u);
    EXPECT_EQ(scenario.Faults[2].Times, 0u) << "every time";
    EXPECT_EQ(scenario.Faults[3].Times, 3u);

    ExpectOnlyProblems({
        TABLE_ROW("fault config", "names no request"),
        TABLE_ROW("fault", "names no request"),
        TABLE_ROW("fault data 0", "not 0"),
        TABLE_ROW("fault data 65536", "out of range"),
        TABLE_ROW("fault data 5 1001", "out of range"),
        TABLE_ROW("fault restart 2", "unexpected"),
    });
}

TEST(ScenarioText, ProblemsAreKeptUpToALimitAndAllCounted) {
    std::string text;
    for (int i = 0; i < 80; ++i) text += "x;";
    Scenario scenario = Parse(text);
    EXPECT_EQ(scenario.ProblemCount, 80u);
    EXPECT_EQ(scenario.Problems.size(), kMaxProblems);
    EXPECT_EQ(scenario.Problems.back().Where, "statement 50");
}

TEST(ScenarioText, PortsAndEventsHaveAnUpperBound) {
    std::string ports;
    for (size_t i = 0; i < kMaxPorts + 3; ++i) ports += "port P" + std::to_string(i) + ";";
    Scenario many = Parse(ports);
    EXPECT_EQ(many.Ports.size(), kMaxPorts);
    EXPECT_EQ(many.ProblemCount, 3u);

    std::string events = "port COM1\n";
    for (size_t i = 0; i < kMaxEvents + 2; ++i) events += "@1 flash 1\n";
    Scenario crowded = Parse(events);
    EXPECT_EQ(crowded.Ports[0].Events.size(), kMaxEvents);
    EXPECT_EQ(crowded.ProblemCount, 2u);
}

// A reader of files that exist only in the test.
FileReader FakeFiles(std::map<std::string, std::string> files, std::vector<std::string>* asked) {
    return [files, asked](const std::string& path, std::string* contents, std::string* error) {
        asked->push_back(path);
        auto found = files.find(path);
        if (found == files.end()) {
            *error = "cannot open the file";
            return false;
        }
        *contents = found->second;
        return true;
    };
}

TEST(ScenarioFile, AFilesStatementsStandInItsPlaceNumberedByLine) {
    std::vector<std::string> asked;
    ParseOptions options;
    const char* contents = "# modem\nport COM7\r\ntx AT\\r\n\nbogus\nfile b.txt\n";
    options.ReadFile = FakeFiles({{"C:\\scen\\a.txt", contents}}, &asked);
    Scenario scenario = ParseScenario("port COM1;file  C:\\scen\\a.txt ;rx after;file missing.txt", options);
    EXPECT_EQ(asked, (std::vector<std::string>{"C:\\scen\\a.txt", "missing.txt"}))
        << "the path is taken as written: its backslashes are no escapes";
    EXPECT_EQ(Played(scenario), (Lines{
                  "COM1 #1 modem @0", "  @0 rx after",  // the text's own port continues after the file
                  "COM7 #7 modem @0", "  @0 tx AT\r",
                  "file line 5: unknown statement \"bogus\"",
                  "file line 6: a scenario file names no further file",
                  "statement 4: cannot open the file",
              }));

    ExpectOnlyProblems({
        TABLE_ROW("file x.txt", "no scenario files"),
        TABLE_ROW("file", "path is missing"),
        TABLE_ROW("+3 file x", "takes no time"),
    });
    std::vector<std::string> none;
    options.ReadFile = FakeFiles({}, &none);
    EXPECT_EQ(ParseScenario("file " + std::string(300, 'p'), options).Problems.at(0).Message,
              "the file's path is too long");
    EXPECT_TRUE(none.empty());
}

TEST(ScenarioSettings, TheRecordCarriesTextOnlyWithTwentyAtOffsetFour) {
    quorvel::DriverConfigRecord record = testsupport::ConfigRecordFor("port COM1");
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    record.SettingsPresent = 4;
    EXPECT_FALSE(ReadSettingsText(bytes, sizeof record).Present) << "4: no settings text";

    record.SettingsPresent = 20;
    SettingsText text = ReadSettingsText(bytes, sizeof record);
    EXPECT_TRUE(text.Present);
    EXPECT_EQ(text.Text, "port COM1");
    EXPECT_FALSE(text.FillsField);

    record.SettingsText[0] = 0;
    text = ReadSettingsText(bytes, sizeof record);
    EXPECT_TRUE(text.Present) << "an empty text is a text";
    EXPECT_TRUE(text.Text.empty());

    std::memset(record.SettingsText, 'a', 503);
    text = ReadSettingsText(bytes, sizeof record);
    EXPECT_EQ(text.Text.size(), 503u);
    EXPECT_TRUE(text.FillsField);
    record.SettingsText[503] = 'b';  // no terminator at all
    text = ReadSettingsText(bytes, sizeof record);
    EXPECT_EQ(text.Text, std::string(503, 'a')) << "never beyond the 503 characters";
    EXPECT_TRUE(text.FillsField);

    EXPECT_FALSE(ReadSettingsText(bytes, 10).Present);
    EXPECT_FALSE(ReadSettingsText(nullptr, sizeof record).Present);
    SettingsText shortRecord = ReadSettingsText(bytes, 30);
    EXPECT_EQ(shortRecord.Text.size(), 14u) << "a shorter record is read no further than its end";
}

TEST(ScenarioSettings, AFullTextLosesOnlyALastStatementThatMayBeCut) {
    ParseOptions cut;
    cut.MayBeCut = true;
    std::string filler = "port COM1;" + std::string(480, ' ') + ";";
    std::string text = filler + "@1500 tx A";
    text.resize(503, ' ');
    text.back() = '5';  // "@1500 tx A   ...5": where the program cut a longer text
    Scenario scenario = ParseScenario(text, cut);
    EXPECT_TRUE(scenario.Ports[0].Events.empty());
    ASSERT_EQ(scenario.ProblemCount, 1u);
    EXPECT_NE(scenario.Problems[0].Message.find("cut off"), std::string::npos);

    std::string closed = text.substr(0, 502) + ";";
    EXPECT_EQ(ParseScenario(closed, cut).Ports[0].Events.size(), 1u) << "ended by ';': complete";
    EXPECT_EQ(ParseScenario(text).ProblemCount, 0u) << "a text with room to spare is never cut";
    std::string comment = filler + "# a comment up to the very end";
    comment.resize(503, '!');
    EXPECT_EQ(ParseScenario(comment, cut).ProblemCount, 0u) << "a cut comment costs nothing";
}

// Texts built from the syntax's own pieces and random bytes: whatever comes,
// the parser ends, stays within its limits and explains every skip.
TEST(ScenarioText, RandomTextsNeverBreakTheParser) {
    const std::vector<std::string> pieces = {
        "port ", "COM1", "@", "-", "+", "tx ", "rx ", "gap ", "flash ", "notice ", "leave", "gen ",
        "rate=", "run=", "dir=alt", "for=", "loop ", "fault ", "restart", "file ", ";", "\n", "#",
        "\\", "\\x", "\\r", "\"", "=", " ", "0", "7", "99999", "86400000", "4294967296", "empty",
        "foreign", "noprops", "\xFF", std::string(1, '\0'), "AT"};
    std::mt19937 random(20240601);
    for (int round = 0; round < 10000; ++round) {
        std::string text;
        size_t count = random() % 40;
        for (size_t i = 0; i < count; ++i) {
            if (random() % 5 == 0) text.push_back(static_cast<char>(random() % 256));
            else text += pieces[random() % pieces.size()];
        }
        ParseOptions options;
        options.MayBeCut = random() % 2 == 0;
        Scenario scenario = ParseScenario(text, options);
        ASSERT_LE(scenario.Ports.size(), kMaxPorts);
        ASSERT_LE(scenario.Problems.size(), kMaxProblems);
        ASSERT_GE(scenario.ProblemCount, scenario.Problems.size());
        for (const Problem& problem : scenario.Problems) {
            ASSERT_FALSE(problem.Where.empty());
            ASSERT_FALSE(problem.Message.empty());
        }
        for (const Port& port : scenario.Ports) {
            ASSERT_LE(port.ArriveMs, kMaxTimeMs);
            if (port.RoundMs) ASSERT_GE(port.RoundMs, kMinRoundMs);
            for (const Event& event : port.Events) {
                ASSERT_LE(event.AtMs, kMaxTimeMs);
                if (event.Kind == EventKind::Bytes) ASSERT_FALSE(event.Data.empty());
                if (event.Kind == EventKind::Generate) ASSERT_GT(event.Traffic.Rate, 0u);
            }
        }
    }
}

TEST(DefaultScenario, ThreeModemsThatLoopForEverWithARingOnCom2) {
    Scenario scenario = Parse(emu::DefaultScenarioText());
    ASSERT_EQ(scenario.ProblemCount, 0u) << testing::PrintToString(Played(scenario));
    ASSERT_EQ(scenario.Ports.size(), 3u);
    const char* names[] = {"COM1", "COM2", "COM3"};
    for (size_t i = 0; i < 3; ++i) {
        const Port& port = scenario.Ports[i];
        EXPECT_EQ(port.Name, names[i]);
        EXPECT_EQ(port.Kind, PortKind::Modem);
        EXPECT_FALSE(port.Leaves);
        EXPECT_EQ(port.Rounds, 0u) << names[i] << " repeats for ever";
        EXPECT_GE(port.RoundMs, 5000u);
        EXPECT_LE(port.RoundMs, 60000u);
        ASSERT_FALSE(port.Events.empty());
        EXPECT_EQ(port.Events[0].Kind, EventKind::Bytes);
        EXPECT_EQ(port.Events[0].Direction, kTransmitted) << "the computer speaks first";
        EXPECT_LE(port.Events[0].AtMs, 1000u) << "traffic soon after the monitor attaches";
    }
    const auto& ring = scenario.Ports[1].Events;
    size_t rings = 0, flashes = 0, notices = 0;
    for (size_t i = 0; i < ring.size(); ++i) {
        if (ring[i].Kind == EventKind::Bytes && ring[i].Data == "\r\nRING\r\n") {
            ++rings;
            ASSERT_LT(i + 2, ring.size());
            EXPECT_EQ(ring[i + 1].Kind, EventKind::Flash);
            EXPECT_EQ(ring[i + 1].AtMs, ring[i].AtMs) << "the flash comes with the ring";
            EXPECT_EQ(ring[i + 2].Kind, EventKind::Notice);
            EXPECT_EQ(ring[i + 2].Data, "RING on COM2");
        }
        flashes += ring[i].Kind == EventKind::Flash;
        notices += ring[i].Kind == EventKind::Notice;
    }
    EXPECT_EQ(rings, 2u);
    EXPECT_EQ(flashes, 2u);
    EXPECT_EQ(notices, 2u);
}

TEST(ScenarioTiming, GeneratorRunsFollowTheRateAndEndWithTheDuration) {
    // A run every 10 ms.
    Generator generator{.Rate = 1000, .RunLength = 10, .Endless = false, .DurationMs = 95};
    EXPECT_EQ(TotalRuns(generator), 10u) << "runs start at 0, 10, ..., 90";
    for (auto [atMs, runs] : {std::pair{-1.0, 0u}, {0.0, 1u}, {9.9, 1u}, {10.0, 2u}, {5000.0, 10u}}) {
        EXPECT_EQ(RunsStartedBy(generator, atMs), runs) << "by " << atMs << " ms";
    }
    EXPECT_DOUBLE_EQ(RunStartMs(generator, 7), 70.0);
    generator.DurationMs = 100;
    EXPECT_EQ(TotalRuns(generator), 10u) << "a run at 100 would start at the end";

    // The largest values stay exact: a day at a million bytes a second.
    generator = {.Rate = kMaxRate, .RunLength = 1, .Endless = false, .DurationMs = kMaxTimeMs};
    EXPECT_EQ(TotalRuns(generator), uint64_t{kMaxTimeMs} * 1000);
    generator.Endless = true;
    EXPECT_EQ(RunsStartedBy(generator, 2.5), 2501u);

    generator.Direction = GeneratorDirection::Alternate;
    EXPECT_EQ(RunDirection(generator, 0), kReceived);
    EXPECT_EQ(RunDirection(generator, 1), kTransmitted);
    generator.Direction = GeneratorDirection::Transmitted;
    EXPECT_EQ(RunDirection(generator, 0), kTransmitted);
    const char bytes[] = {GeneratedByte(kReceived, 0), GeneratedByte(kReceived, 27), GeneratedByte(kTransmitted, 25)};
    EXPECT_EQ(std::string(bytes, 3), "ABz");
}

// A tap's or a watch's folder is taken as written: its backslashes are no
// escapes. A watch is named after its place among the watches.
TEST(ScenarioText, TapsAndWatchesNameTheirFolderAndTakeNoStatements) {
    EXPECT_EQ(Played(Parse("tap COM42 Z:\\run\\user\\0\\quorvel-tap-7 =Tap of \\x2Fdev\\x2FttyS0;tap SNIFF Z:\\t;"
                           "watch Z:\\run\\user\\0\\quorvel-watch-9;WATCH z:\\w")),
              (Lines{
                  "COM42 #42 tap @0 =Tap of /dev/ttyS0 fed from Z:\\run\\user\\0\\quorvel-tap-7",
                  "SNIFF #2 tap @0 fed from Z:\\t",
                  "WATCH1 #1 watch @0 fed from Z:\\run\\user\\0\\quorvel-watch-9",
                  "WATCH2 #2 watch @0 fed from z:\\w",
              }));

    ExpectOnlyProblems({
        TABLE_ROW("tap", "the port's name is missing"),
        TABLE_ROW("tap COM42", "a tap names its folder"),
        TABLE_ROW("tap COM42 =Tap", "a tap names its folder"),
        TABLE_ROW("tap COM42 Z:\\t more", "takes its name, its folder and =name"),
        TABLE_ROW("tap COM42 Z:\\t;gap 5", "follows a tap"),
        TABLE_ROW("@5 tap COM42 Z:\\t", "takes no time"),
        TABLE_ROW("sniff COM5 COM6", "unknown statement"),
        TABLE_ROW("watch", "a watch names its folder"),
        TABLE_ROW("watch Z:\\w =Watch", "a watch takes only its folder, not \"=Watch\""),
        TABLE_ROW("watch Z:\\w;rx AT", "follows a watch"),
        TABLE_ROW("@5 watch Z:\\w", "takes no time"),
    });
}

}  // namespace
