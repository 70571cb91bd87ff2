#include "support/message_recorder.h"

#include <algorithm>
#include <map>
#include <sstream>

namespace testsupport {
namespace {

// The attached recorders by window; the windows' thread only.
std::map<HWND, MessageRecorder*>& Recorders() {
    static std::map<HWND, MessageRecorder*> recorders;
    return recorders;
}

std::string Describe(const RecordedMessage& message) {
    std::ostringstream text;
    text << "0x" << std::hex << message.Message << std::dec << "(" << message.WParam;
    if (message.LParam != kAnyParam) text << ", " << message.LParam;
    return text.str() + ")";
}

}  // namespace

MessageRecorder::MessageRecorder(std::initializer_list<UINT> kept) : kept_(kept) {}

MessageRecorder::~MessageRecorder() { Detach(); }

void MessageRecorder::Attach(HWND window) {
    Detach();
    window_ = window;
    Recorders()[window] = this;
    original_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Procedure)));
}

void MessageRecorder::Detach() {
    if (!window_) return;
    if (IsWindow(window_)) SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    Recorders().erase(window_);
    window_ = nullptr;
}

size_t MessageRecorder::Count(UINT message) const {
    return static_cast<size_t>(std::count_if(messages_.begin(), messages_.end(),
                                             [&](const RecordedMessage& m) { return m.Message == message; }));
}

size_t MessageRecorder::CountWhileRedrawOff(UINT message) const {
    bool off = false;
    size_t count = 0;
    for (const RecordedMessage& m : messages_) {
        if (m.Message == WM_SETREDRAW) off = m.WParam == 0;
        if (m.Message == message && off) ++count;
    }
    return count;
}

LRESULT CALLBACK MessageRecorder::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MessageRecorder* recorder = Recorders()[window];
    if (std::find(recorder->kept_.begin(), recorder->kept_.end(), message) != recorder->kept_.end()) {
        recorder->messages_.push_back(RecordedMessage{message, wParam, lParam});
    }
    WNDPROC original = recorder->original_;
    if (message == WM_NCDESTROY) recorder->Detach();
    return CallWindowProcA(original, window, message, wParam, lParam);
}

testing::AssertionResult SequenceIs(const std::vector<RecordedMessage>& recorded,
                                    const std::vector<RecordedMessage>& expected) {
    std::ostringstream seen;
    for (const RecordedMessage& m : recorded) seen << " " << Describe(m);
    for (size_t i = 0; i < std::max(recorded.size(), expected.size()); ++i) {
        bool same = i < recorded.size() && i < expected.size() && recorded[i].Message == expected[i].Message &&
                    recorded[i].WParam == expected[i].WParam &&
                    (expected[i].LParam == kAnyParam || recorded[i].LParam == expected[i].LParam);
        if (!same) {
            return testing::AssertionFailure() << "at message " << i << " expected "
                                               << (i < expected.size() ? Describe(expected[i]) : "nothing")
                                               << "; recorded:" << seen.str();
        }
    }
    return testing::AssertionSuccess();
}

}  // namespace testsupport
