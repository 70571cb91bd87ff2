// Real message boxes, read and dismissed by the test helpers: in this
// process (the way tests drive the program's code in-process) and in a child
// process (the way end-to-end tests see the running program).
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/message_box_equality.h"
#include "support/process_runner.h"
#include "support/test_paths.h"

namespace {

using testsupport::CaptureMessageBox;
using testsupport::CaptureMessageBoxes;
using testsupport::CapturedMessageBox;
using testsupport::MessageBoxIcon;
using testsupport::OkBox;
using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A hidden top-level window: under Wine without a window manager, destroying
// a shown window takes about 2 s, and ownership does not need it shown.
class OwnerWindow {
public:
    OwnerWindow()
        : window_(CreateWindowExA(0, "STATIC", "Owner", WS_OVERLAPPED, 0, 0, 160, 60,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr)) {}
    ~OwnerWindow() { DestroyWindow(window_); }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND handle() const { return window_; }

private:
    HWND window_;
};

TEST(MessageBoxCapture, ReadsCaptionTextAndIconOfEachKind) {
    struct Case {
        const char* caption;
        UINT icon;
        MessageBoxIcon expected;
    };
    const Case cases[] = {
        {"Warning box", MB_ICONWARNING, MessageBoxIcon::Warning},
        {"Error box", MB_ICONERROR, MessageBoxIcon::Error},
        {"Information box", MB_ICONINFORMATION, MessageBoxIcon::Information},
        {"Question box", MB_ICONQUESTION, MessageBoxIcon::Question},
        {"Plain box \xe9", 0, MessageBoxIcon::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caption);
        int answer = 0;
        const CapturedMessageBox box = CaptureMessageBox(
            [&] { answer = MessageBoxA(nullptr, "Line one\n\tLine two \xe9", c.caption, MB_OK | c.icon); });
        EXPECT_EQ(box, OkBox(c.caption, "Line one\n\tLine two \xe9", c.expected));
        EXPECT_EQ(answer, IDOK);
    }
}

TEST(MessageBoxCapture, IconOtherThanTheStandardOnesIsUnknown) {
    MSGBOXPARAMSA params = {.cbSize = sizeof(MSGBOXPARAMSA), .lpszText = "Custom icon", .lpszCaption = "Custom",
                            .dwStyle = MB_OK | MB_USERICON, .lpszIcon = IDI_APPLICATION};
    const CapturedMessageBox box = CaptureMessageBox([&] { MessageBoxIndirectA(&params); });
    EXPECT_EQ(box, OkBox("Custom", "Custom icon", MessageBoxIcon::Unknown));
}

TEST(MessageBoxCapture, ReportsTheOwnerWindow) {
    const OwnerWindow owner;
    ASSERT_NE(owner.handle(), nullptr);
    const CapturedMessageBox box =
        CaptureMessageBox([&] { MessageBoxA(owner.handle(), "Owned", "Owned box", MB_OK | MB_ICONERROR); });
    EXPECT_EQ(box, OkBox("Owned box", "Owned", MessageBoxIcon::Error, owner.handle()));
}

TEST(MessageBoxCapture, DismissesWithTheDefaultButtonAsEnterWould) {
    struct Case {
        UINT style;
        int expected;
    };
    const Case cases[] = {
        {MB_YESNO | MB_ICONQUESTION, IDYES},
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDNO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        int answer = 0;
        const CapturedMessageBox box =
            CaptureMessageBox([&] { answer = MessageBoxA(nullptr, "Choose", "Choice", c.style); });
        EXPECT_EQ(box, (CapturedMessageBox{true, "Choice", "Choose", MessageBoxIcon::Question, nullptr, c.expected}));
        EXPECT_EQ(answer, c.expected);
    }
}

TEST(MessageBoxCapture, ActionWithoutBoxEndsTheWaitWhenItReturns) {
    bool ran = false;
    const auto start = Clock::now();
    const CapturedMessageBox box = CaptureMessageBox([&] { ran = true; }, 5000);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(box.found);
    EXPECT_LT(MillisecondsSince(start), 1000);
}

TEST(MessageBoxCapture, FindsABoxThatAppearsLater) {
    int answer = 0;
    const CapturedMessageBox box = CaptureMessageBox([&] {
        Sleep(400);
        answer = MessageBoxA(nullptr, "Late", "Delayed box", MB_OK | MB_ICONINFORMATION);
    });
    EXPECT_EQ(box, OkBox("Delayed box", "Late", MessageBoxIcon::Information));
    EXPECT_EQ(answer, IDOK);
}

TEST(MessageBoxCapture, BoxAfterTheTimeoutIsDismissedButNotReported) {
    int answer = 0;
    const CapturedMessageBox box = CaptureMessageBox(
        [&] {
            Sleep(300);
            answer = MessageBoxA(nullptr, "Too late", "Too late", MB_OK);
        },
        100);
    EXPECT_FALSE(box.found);
    EXPECT_EQ(answer, IDOK);
}

TEST(MessageBoxCapture, ReportsEveryBoxInTheOrderShown) {
    const std::vector<CapturedMessageBox> boxes = CaptureMessageBoxes([] {
        MessageBoxA(nullptr, "First", "One", MB_OK | MB_ICONWARNING);
        MessageBoxA(nullptr, "Second", "Two", MB_OK | MB_ICONERROR);
    });
    EXPECT_EQ(boxes, (std::vector<CapturedMessageBox>{OkBox("One", "First", MessageBoxIcon::Warning),
                                                      OkBox("Two", "Second", MessageBoxIcon::Error)}));
}

std::string ProbePath() {
    return testsupport::PathIn(testsupport::TestExecutableFolder(), "version_probe.exe");
}

// The probe shows the boxes listed in its source, then exits with the number
// answered with IDOK.
TEST(ProcessMessageBox, ReadsAndDismissesTheBoxesOfAnotherProcess) {
    std::vector<CapturedMessageBox> boxes;
    std::string ownerTitle;
    DWORD ownerProcess = 0;
    const auto result =
        testsupport::RunProcess(ProbePath(), "--message-boxes", 60000, [&](DWORD processId) {
            for (int i = 0; i < 4; ++i) {
                boxes.push_back(testsupport::WaitForProcessMessageBox(processId, 10000));
                // The owner lives until the last box closes; read it meanwhile.
                if (i == 1 && boxes[1].owner) {
                    char title[64] = {};
                    GetWindowTextA(boxes[1].owner, title, sizeof title);
                    ownerTitle = title;
                    GetWindowThreadProcessId(boxes[1].owner, &ownerProcess);
                }
            }
        });
    ASSERT_TRUE(result.started);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 4u);
    ASSERT_EQ(boxes.size(), 4u);
    // The second box is owned by the probe's window: its owner is checked by
    // the window's title and process.
    EXPECT_EQ(boxes, (std::vector<CapturedMessageBox>{
                         OkBox("Probe warning", "Line one\n\tLine two", MessageBoxIcon::Warning),
                         OkBox("Probe error", "Owned by the probe \xe9", MessageBoxIcon::Error, boxes[1].owner),
                         OkBox("Probe information", "Information", MessageBoxIcon::Information),
                         OkBox("Probe question", "Question", MessageBoxIcon::Question),
                     }));
    EXPECT_EQ(ownerTitle, "Probe owner");
    EXPECT_EQ(ownerProcess, result.processId);
}

TEST(ProcessMessageBox, StopsWaitingWhenTheProcessEndsWithoutABox) {
    CapturedMessageBox box;
    long long waitedMs = -1;
    const auto result = testsupport::RunProcess(ProbePath(), "", 10000, [&](DWORD processId) {
        const auto start = Clock::now();
        box = testsupport::WaitForProcessMessageBox(processId, 8000);
        waitedMs = MillisecondsSince(start);
    });
    ASSERT_TRUE(result.started);
    EXPECT_TRUE(result.exited);
    EXPECT_FALSE(box.found);
    EXPECT_GE(waitedMs, 0);
    EXPECT_LT(waitedMs, 3000);
}

}  // namespace
