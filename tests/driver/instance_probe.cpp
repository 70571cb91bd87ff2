// A second running instance, for the tests of the instance count: a console
// program linked with the driver layer and the stand-in (whose services are
// shared by every process of the prefix). It runs the steps given on its
// command line in order and ends with 0 when every step held, or with the
// number (from 1) of the first step that did not.
//
//   install          InstallAndStartDrivers with the build folder; must give true
//   count=N          the instance count is N
//   stop             StopDriverIfLastInstance
//   running=0|1      whether the stand-in's control service runs
//   signal=NAME      sets the named event NAME
//   wait=NAME        waits up to 20 s for the named event NAME
//
// Exit code 100: a step it does not know.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/driver_services.h"
#include "emulator/control/test_control.h"
#include "support/emulated_driver.h"
#include "support/instance_count.h"

namespace {

constexpr int kUnknownStep = 100;
constexpr DWORD kWaitLimitMs = 20000;

bool RunStep(const std::string& step, bool* known) {
    *known = true;
    auto valueOf = [&](const char* prefix) -> const char* {
        size_t length = std::strlen(prefix);
        return step.compare(0, length, prefix) == 0 ? step.c_str() + length : nullptr;
    };
    if (step == "install") return quorvel::InstallAndStartDrivers(testsupport::ProductFolder().c_str());
    if (step == "stop") {
        quorvel::StopDriverIfLastInstance();
        return true;
    }
    if (const char* value = valueOf("count=")) return testsupport::InstanceCount() == std::atol(value);
    if (const char* value = valueOf("running=")) {
        bool running = emu::control::GetService("Quorvel").State == SERVICE_RUNNING;
        return running == (std::atoi(value) != 0);
    }
    if (const char* value = valueOf("signal=")) {
        HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, value);
        bool ok = event && SetEvent(event);
        if (event) CloseHandle(event);
        return ok;
    }
    if (const char* value = valueOf("wait=")) {
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, value);
        bool ok = event && WaitForSingleObject(event, kWaitLimitMs) == WAIT_OBJECT_0;
        if (event) CloseHandle(event);
        return ok;
    }
    *known = false;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        bool known = false;
        bool held = RunStep(argv[i], &known);
        if (!known) return kUnknownStep;
        if (!held) return i;
    }
    return 0;
}
