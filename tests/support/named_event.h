// A named manual-reset event that a child process can open by name (the
// probe's --wait-for argument). The name carries this process's id so that
// concurrent test runs do not share events.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

class NamedEvent {
public:
    explicit NamedEvent(const std::string& stem)
        : name_(stem + "-" + std::to_string(GetCurrentProcessId())),
          event_(CreateEventA(nullptr, TRUE, FALSE, name_.c_str())) {}
    ~NamedEvent() { CloseHandle(event_); }
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    const std::string& name() const { return name_; }
    void Set() const { SetEvent(event_); }

private:
    std::string name_;
    HANDLE event_;
};

}  // namespace testsupport
