// The hand-over of pane lines: batches keep whole lines with their kinds,
// bounded; runs as hex pairs; queues are listed once, in order, wake the intake once, and give
// their lines to the main thread in the order they were queued; a pane is
// asked to keep room for its next lines, which doubles as they reach it; the
// notice of lines a pane could not show counts them.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port/capture_pane.h"
#include "port/line_batch.h"
#include "port/capture_runs.h"
#include "port/hex_pairs.h"
#include "port/pane_line_queue.h"
#include "ui/missed_lines.h"
#include "ui/pane_copy_text.h"
#include "ui/pane_menu.h"
#include "ui/pane_storage.h"
#include "ui/pane_tail.h"
#include "ui/repaint_share.h"

namespace {

using namespace quorvel;

int g_wakes = 0;
void CountWake() { ++g_wakes; }

// The batch's lines, each with its whole bytes.
std::vector<std::string> Lines(const LineBatch& batch) {
    std::vector<std::string> lines;
    BatchLine line;
    for (size_t at = 0; at < batch.Bytes(); lines.emplace_back(line.Bytes, line.Length)) at = batch.Read(at, line);
    return lines;
}

bool Append(LineBatch& batch, const char* timing, const std::string& run, size_t maxBytes) {
    BatchLine timingLine = timing ? TextLine(LineKind::Timing, timing) : BatchLine{};
    BatchLine runLine{LineKind::Run, run.data(), static_cast<uint32_t>(run.size())};
    return batch.Append(timing ? &timingLine : nullptr, runLine, maxBytes);
}

// Queues one run's lines as a capture thread's step does.
bool QueueLines(PaneLineQueue& queue, const char* timing, const char* run) {
    LineBatch step;
    return Append(step, timing, run, kMaxGatheredBytes) && QueueBatch(queue, step);
}

// A run keeps its zero bytes and what follows them, for a copy as hex; its
// kind goes with it.
TEST(LineBatch, KeepsWholeRunsWithTheirKindAndNeverGrowsPastItsBound) {
    LineBatch batch;
    ASSERT_TRUE(Append(batch, "{5ms}", std::string("\xB7RX: A\0B", 8), 100));
    ASSERT_TRUE(Append(batch, nullptr, "\xB6TX: OK", 100));
    EXPECT_EQ(Lines(batch), (std::vector<std::string>{"{5ms}", std::string("\xB7RX: A\0B", 8), "\xB6TX: OK"}));
    BatchLine first;
    batch.Read(0, first);
    EXPECT_EQ(first.Kind, LineKind::Timing);
    EXPECT_EQ(batch.Lines(), 3u);
    size_t bytes = batch.Bytes();
    EXPECT_FALSE(Append(batch, "{1ms}", std::string(100, 'x'), 100)) << "beyond the bound: nothing";
    EXPECT_EQ(batch.Bytes(), bytes);
    std::string big(10000, 'y');
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(Append(batch, nullptr, big, 1 << 20)) << "grows";
    EXPECT_EQ(batch.Lines(), 53u);
    LineBatch other;
    other.Swap(batch);
    EXPECT_TRUE(batch.Empty());
    EXPECT_EQ(Lines(other)[2], "\xB6TX: OK");
}

TEST(PaneLineQueue, ListedOnceInOrderWakingOnceAndTakenInOrder) {
    g_wakes = 0;
    // A capture pane whose only call that does anything counts the wake-ups.
    CapturePane counting = CurrentCapturePane();
    counting.LinesQueued = CountWake;
    SetCapturePane(&counting);
    PaneLineQueue first, second;
    ASSERT_TRUE(QueueLines(second, "{1ms}", "\xB7RX: 1"));
    ASSERT_TRUE(QueueLines(first, nullptr, "\xB7RX: a"));
    ASSERT_TRUE(QueueLines(second, nullptr, "\xB6TX: 2"));
    EXPECT_EQ(g_wakes, 2) << "each queue wakes the intake once until it is taken";
    EXPECT_TRUE(AnyListedQueue());
    PaneLineQueue* taken[4] = {};
    ASSERT_EQ(TakeListedQueues(taken, 4), 2u);
    EXPECT_EQ(taken[0], &second) << "oldest first";
    EXPECT_EQ(taken[1], &first);
    EXPECT_FALSE(AnyListedQueue());
    LineBatch lines;
    ASSERT_TRUE(TakeGatheredLines(second, lines));
    EXPECT_EQ(Lines(lines), (std::vector<std::string>{"{1ms}", "\xB7RX: 1", "\xB6TX: 2"}));
    // Lines queued while the taken ones are being added come behind them.
    ASSERT_TRUE(QueueLines(second, nullptr, "\xB7RX: 3"));
    EXPECT_EQ(g_wakes, 3);
    lines.Clear();
    ASSERT_TRUE(TakeGatheredLines(second, lines));
    EXPECT_EQ(Lines(lines), (std::vector<std::string>{"\xB7RX: 3"}));
    lines.Clear();
    EXPECT_FALSE(TakeGatheredLines(second, lines)) << "nothing gathered since";
    // Queues that a turn did not reach go ahead of those listed meanwhile.
    ASSERT_EQ(TakeListedQueues(taken, 4), 1u);
    PaneLineQueue third;
    ListAgain(third);
    PaneLineQueue* unserved[] = {&second, &first};
    ListAheadAgain(unserved, 2);
    ASSERT_EQ(TakeListedQueues(taken, 4), 3u);
    EXPECT_EQ(std::vector<PaneLineQueue*>(taken, taken + 3), (std::vector<PaneLineQueue*>{&second, &first, &third}));
    ListAgain(third);
    ForgetQueue(third);
    // A queue that is forgotten leaves the list and its memory.
    ListAgain(first);
    ForgetQueue(second);
    ASSERT_EQ(TakeListedQueues(taken, 4), 1u);
    EXPECT_EQ(taken[0], &first) << "the forgotten one is gone from the list";
    EXPECT_EQ(second.Gathered.Capacity(), 0u);
    ListAgain(first);
    ForgetQueue(first);
    EXPECT_FALSE(AnyListedQueue());
    SetCapturePane(nullptr);
}

// What a pane shows as hex, and what its copy takes: a run's bytes as pairs
// behind its prefix, the whole run where the pane shows it only up to a zero
// byte; lines that are not runs, or hex already, as they are.
TEST(HexPairs, RunsBecomePairsBehindTheirPrefixAndOtherLinesStayAsTheyAre) {
    std::string run("\xB7RX: \x00\r\n\xFF", 9);
    EXPECT_EQ(HexRunText(run.data(), run.size(), kRunPrefixLength), "\xB7RX: 00 0D 0A FF");
    EXPECT_EQ(HexRunText("\x01\x7F", 2, 0), "01 7F") << "a run without prefix";
    EXPECT_EQ(HexRunText("\xB6TX: ", 5, kRunPrefixLength), "\xB6TX: ") << "no bytes, no pairs";
    char room[HexRunLineCapacity(9)];
    EXPECT_EQ(HexRunLine(run.data(), run.size(), kRunPrefixLength, room), 16u);
    EXPECT_EQ(CopiedLine(LineKind::Run, "\xB7RX: ", run, true), "\xB7RX: 00 0D 0A FF") << "the whole run";
    EXPECT_EQ(CopiedLine(LineKind::Run, "\xB7RX: ", run, false), "\xB7RX: ") << "as shown";
    EXPECT_EQ(CopiedLine(LineKind::Run, "\xB6TX: AT\r", "", true), "\xB6TX: 41 54 0D");
    EXPECT_EQ(CopiedLine(LineKind::BareRun, "AT", "", true), "41 54");
    EXPECT_EQ(CopiedLine(LineKind::HexRun, "\xB6TX: 41", "", true), "\xB6TX: 41") << "hex already";
    EXPECT_EQ(CopiedLine(LineKind::Timing, "{5ms}", "", true), "{5ms}");
    EXPECT_EQ(CopiedLine(LineKind::Notice, "[3 lines missing]", "", true), "[3 lines missing]");
}

// The pane's menu by its items' texts: copying what is selected only when
// something is, the check on the way the pane shows new runs.
TEST(PaneMenu, ItsItemsByTextWithTheirStates) {
    auto items = [](HMENU menu) {
        std::vector<std::string> texts;
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            char text[32] = "";
            GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
            UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
            if (state & MF_SEPARATOR) {
                texts.push_back("-");
                continue;
            }
            texts.push_back(std::string(text) + (state & MF_GRAYED ? " (grayed)" : "") +
                            (state & MF_CHECKED ? " (checked)" : ""));
        }
        DestroyMenu(menu);
        return texts;
    };
    EXPECT_EQ(items(CreatePaneMenu(true, true, false)),
              (std::vector<std::string>{"Copy", "Copy all", "Copy as hex", "-", "Show as text (checked)", "Show as hex"}));
    EXPECT_EQ(items(CreatePaneMenu(false, false, true)),
              (std::vector<std::string>{"Copy (grayed)", "Copy all (grayed)", "Copy as hex (grayed)", "-",
                                        "Show as text", "Show as hex (checked)"}));
}

TEST(PaneTail, AViewAtTheBottomFollowsAndOneAboveStays) {
    EXPECT_TRUE(ShowsLastLine(0, 10, 0)) << "an empty pane follows";
    EXPECT_TRUE(ShowsLastLine(90, 10, 100));
    EXPECT_FALSE(ShowsLastLine(89, 10, 100));
    EXPECT_TRUE(ShowsLastLine(5, 0, 6)) << "a pane too low for one line still follows";
    EXPECT_EQ(TailTopIndex(100, 10), 90);
    EXPECT_EQ(TailTopIndex(4, 10), 0);
}

TEST(PaneStorage, TheRoomStaysWhileTheLinesFitAndDoublesWhenTheyReachIt) {
    EXPECT_EQ(PaneReservation(1, 0), kFirstReservedLines) << "a new pane";
    EXPECT_EQ(PaneReservation(1023, 1024), 1024u) << "one more line fits";
    EXPECT_EQ(PaneReservation(1024, 1024), 2048u);
    EXPECT_EQ(PaneReservation(5000, 1024), 8192u) << "doubled until another line fits";
    EXPECT_EQ(PaneReservation(3000000000u, 2147483648u), UINT32_MAX) << "never wraps";
}

TEST(RepaintShare, ATurnRepaintsThePanesThatFellDueSinceTheLastOne) {
    EXPECT_EQ(RepaintShare(24, 30), 8u) << "24 panes a pace, 0.3 of one since the last turn: rounded up";
    EXPECT_EQ(RepaintShare(24, 10), 3u);
    EXPECT_EQ(RepaintShare(0, 30), 1u) << "a turn may always repaint one";
    EXPECT_EQ(RepaintShare(3, 0), 1u);
    EXPECT_EQ(RepaintShare(24, 60000), 24u) << "after a quiet spell, every pane";
    EXPECT_EQ(RepaintShare(24, UINT32_MAX), 24u) << "however long the gap";
    EXPECT_EQ(RepaintShare(UINT32_MAX, kRepaintPaceMs), UINT32_MAX) << "never wraps";
}

TEST(MissedLines, TheNoticeCountsTheLinesWithoutWrapping) {
    char notice[kMissedLinesNoticeSize];
    FormatMissedLinesNotice(1, notice, sizeof(notice));
    EXPECT_STREQ(notice, "(1 line could not be shown)");
    FormatMissedLinesNotice(UINT32_MAX, notice, sizeof(notice));
    EXPECT_STREQ(notice, "(4294967295 lines could not be shown)");
    EXPECT_EQ(CountMissedLine(7), 8u);
    EXPECT_EQ(CountMissedLine(UINT32_MAX), UINT32_MAX);
}

}  // namespace
