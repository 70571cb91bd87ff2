// Plays a scenario on the stand-in's driver thread.
//
// The scenario starts with the configuration request: its ports arrive and
// leave at their times counted from that moment. A port's own events (its
// traffic, flashes, notices, generators, its leaving and its loop) count
// from the moment the monitor attaches its capture ring (seen within 10 ms):
// bytes that pass a port before anyone listens would be lost. The faults are
// armed at the start, before the program's next request.
//
// Everything runs with the driver lock held. A new scenario, and a reset of
// the driver, end the one that runs; a port that has gone gets no more work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "emulator/scenario/scenario.h"

namespace emu {

// The control driver's requests, and the runner as the listener of its
// configuration request: once per process, before the device first opens.
void InstallScenarioRunner();

// Starts what the configuration record asks for: the scenario of its
// settings text or of the file the text names; the default scenario when it
// carries no settings text. Does nothing while scenarios are switched off
// (EnableScenarios).
void StartConfiguredScenario(const std::vector<uint8_t>& configRecord);

// Replaces the running scenario with this one, starting now.
void StartScenario(const scenario::Scenario& scenario);

// Ends the running scenario and switches scenarios off (for a fresh driver).
void ResetScenarios();
// Whether the configuration request starts a scenario: on in a fresh
// process, off after ResetScenarios.
void EnableScenarios(bool run);

// Timed steps of the running scenario that are scheduled and have not run yet.
size_t PendingScenarioSteps();

}  // namespace emu
