// Real message boxes, read and dismissed by the test helpers: in this
// process (the way tests drive the program's code in-process) and in a child
// process (the way end-to-end tests see the running program).
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/message_box_capture.h"
#include "support/process_runner.h"
#include "support/test_paths.h"

namespace {

using testsupport::CaptureMessageBox;
using testsupport::CaptureMessageBoxes;
using testsupport::CapturedMessageBox;
using testsupport::MessageBoxIcon;
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
        EXPECT_TRUE(box.found);
        EXPECT_EQ(box.caption, c.caption);
        EXPECT_EQ(box.text, "Line one\n\tLine two \xe9");
        EXPECT_EQ(box.icon, c.expected);
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.pressedButton, IDOK);
        EXPECT_EQ(answer, IDOK);
    }
}

TEST(MessageBoxCapture, IconOtherThanTheStandardOnesIsUnknown) {
    MSGBOXPARAMSA params = {};
    params.cbSize = sizeof params;
    params.lpszText = "Custom icon";
    params.lpszCaption = "Custom";
    params.dwStyle = MB_OK | MB_USERICON;
    params.lpszIcon = IDI_APPLICATION;
    const CapturedMessageBox box = CaptureMessageBox([&] { MessageBoxIndirectA(&params); });
    EXPECT_TRUE(box.found);
    EXPECT_EQ(box.icon, MessageBoxIcon::Unknown);
}

TEST(MessageBoxCapture, ReportsTheOwnerWindow) {
    const OwnerWindow owner;
    ASSERT_NE(owner.handle(), nullptr);
    const CapturedMessageBox box =
        CaptureMessageBox([&] { MessageBoxA(owner.handle(), "Owned", "Owned box", MB_OK | MB_ICONERROR); });
    EXPECT_TRUE(box.found);
    EXPECT_EQ(box.owner, owner.handle());
    EXPECT_EQ(box.icon, MessageBoxIcon::Error);
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
        EXPECT_TRUE(box.found);
        EXPECT_EQ(box.pressedButton, c.expected);
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
    EXPECT_TRUE(box.found);
    EXPECT_EQ(box.caption, "Delayed box");
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
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "One");
    EXPECT_EQ(boxes[0].icon, MessageBoxIcon::Warning);
    EXPECT_EQ(boxes[1].caption, "Two");
    EXPECT_EQ(boxes[1].icon, MessageBoxIcon::Error);
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

    struct Expected {
        const char* caption;
        const char* text;
        MessageBoxIcon icon;
    };
    const Expected expected[] = {
        {"Probe warning", "Line one\n\tLine two", MessageBoxIcon::Warning},
        {"Probe error", "Owned by the probe \xe9", MessageBoxIcon::Error},
        {"Probe information", "Information", MessageBoxIcon::Information},
        {"Probe question", "Question", MessageBoxIcon::Question},
    };
    for (size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE(expected[i].caption);
        EXPECT_TRUE(boxes[i].found);
        EXPECT_EQ(boxes[i].caption, expected[i].caption);
        EXPECT_EQ(boxes[i].text, expected[i].text);
        EXPECT_EQ(boxes[i].icon, expected[i].icon);
        EXPECT_EQ(boxes[i].pressedButton, IDOK);
        if (i != 1) {
            EXPECT_EQ(boxes[i].owner, nullptr);
        }
    }
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
