// The tests' control of the scenario runner, and a fresh driver: every part
// back to where a new process starts, with scenarios switched off.
#include "emulator/control/test_control.h"

#include "emulator/drivers/control_driver.h"
#include "emulator/drivers/filter_driver.h"
#include "emulator/kernel/device_core.h"
#include "emulator/kernel/driver_clock.h"
#include "emulator/lines/running_lines.h"
#include "emulator/runner/scenario_runner.h"

namespace emu::control {

void RunScenarios(bool run) { EnableScenarios(run); }

void ResetDriver() {
    InstallScenarioRunner();
    EndRunningLines(true);  // before the lock: the lines take it as they end
    DriverGuard guard(DriverLock());
    CancelScheduledEvents();
    ResetScenarios();
    CancelAllRequests();
    ClearFaults();
    ClearRequestLog();
    ResetFilterDriver();
    ResetControlDriver();
}

}  // namespace emu::control
