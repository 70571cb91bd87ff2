// A recorder of the messages that reach a window, for tests that check a
// sequence of them: the window is subclassed while the recorder is attached,
// the chosen messages are kept in order, and an expected sequence is written
// as a table and compared by one checker.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace testsupport {

// A parameter that the checker does not compare.
constexpr LPARAM kAnyParam = static_cast<LPARAM>(-0x5A5A5A5A);

struct RecordedMessage {
    UINT Message;
    WPARAM WParam = 0;
    LPARAM LParam = kAnyParam;
};

class MessageRecorder {
public:
    explicit MessageRecorder(std::initializer_list<UINT> kept);
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    // Records what reaches window from now on (on the window's own thread).
    void Attach(HWND window);
    void Detach();
    void Clear() { messages_.clear(); }
    const std::vector<RecordedMessage>& Messages() const { return messages_; }
    // How many of message were recorded.
    size_t Count(UINT message) const;
    // How many of message came while the window's redraw was off (between a
    // WM_SETREDRAW FALSE and the next WM_SETREDRAW TRUE).
    size_t CountWhileRedrawOff(UINT message) const;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    std::vector<UINT> kept_;
    std::vector<RecordedMessage> messages_;
    HWND window_ = nullptr;
    WNDPROC original_ = nullptr;
};

// The recorded sequence is exactly the expected one: messages and wParams,
// and lParams where the table gives one.
testing::AssertionResult SequenceIs(const std::vector<RecordedMessage>& recorded,
                                    const std::vector<RecordedMessage>& expected);

}  // namespace testsupport
