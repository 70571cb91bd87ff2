#include "emulator/runner/scenario_runner.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>

#include "emulator/drivers/control_driver.h"
#include "emulator/scenario/default_scenario.h"
#include "emulator/kernel/device_core.h"
#include "emulator/kernel/driver_clock.h"
#include "emulator/lines/feed_line.h"
#include "emulator/drivers/filter_driver.h"
#include "emulator/lines/modem_line.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/scenario/scenario_file.h"
#include "emulator/scenario/scenario_parser.h"
#include "emulator/lines/replay_line.h"
#include "emulator/lines/running_lines.h"
#include "emulator/scenario/settings_record.h"
#include "emulator/scenario/scenario_timing.h"
#include "wire/port_property_records.h"

namespace emu {
namespace {

using scenario::Event;
using scenario::EventKind;

constexpr double kAttachPollMs = 10;
// A generator step writes at most this many bytes; a step that falls behind
// catches up in the steps right after it.
constexpr uint64_t kMaxBytesPerStep = 200000;

struct LivePort {
    scenario::Port Plan;
    std::vector<size_t> Order;  // its events by time; equal times in the order written
    uint32_t Key = 0;
    bool Arrived = false;
};

struct RunnerState {
    bool Enabled = true;  // a fresh process plays scenarios; a reset driver does not
    uint64_t Generation = 0;
    double StartMs = 0;
    std::vector<LivePort> Ports;
    std::vector<scenario::Problem> Problems;
    size_t ProblemCount = 0;
    bool ProblemsShown = false;
    size_t Pending = 0;  // steps of this generation scheduled and not yet run
};

RunnerState& Runner() {
    static auto* state = new RunnerState;  // never destroyed: the driver thread may run at exit
    return *state;
}

// Runs step at dueMs on the driver's clock, unless a newer scenario or a
// reset has come in between.
void At(double dueMs, std::function<void()> step) {
    RunnerState& state = Runner();
    uint64_t generation = state.Generation;
    ++state.Pending;
    // At the absolute time: steps due together keep the script's order even
    // when scheduled at different moments.
    ScheduleAt(dueMs, [generation, step = std::move(step)] {
        RunnerState& now = Runner();
        if (now.Generation != generation) return;
        --now.Pending;
        step();
    });
}

// The record of a scenario port while it is present; null before it has
// arrived and after it has gone.
EmulatedPort* Present(size_t port) {
    const LivePort& live = Runner().Ports[port];
    return live.Arrived ? FindPort(live.Key) : nullptr;
}

bool Alive(size_t port) { return Present(port) != nullptr; }

// The scenario's problems, once, as a notice on the first port that the
// monitor attaches to: the user's only window onto the driver.
void ShowProblems(EmulatedPort& port) {
    RunnerState& state = Runner();
    if (state.ProblemsShown || state.ProblemCount == 0) return;
    state.ProblemsShown = true;
    const scenario::Problem& first = state.Problems.front();
    std::string text = "Scenario: " + std::to_string(state.ProblemCount) +
                       (state.ProblemCount == 1 ? " statement" : " statements") + " skipped; " +
                       first.Where + ": " + first.Message;
    if (text.size() > scenario::kMaxNoticeLength) text.resize(scenario::kMaxNoticeLength);
    PostNotice(port, text);
}

void Pass(EmulatedPort& port, uint8_t direction, std::string_view bytes) {
    BytesPassed(port, direction, bytes, TicksNow(port));
}

void SendByte(size_t port, size_t event, size_t index, double firstMs) {
    EmulatedPort* record = Present(port);
    if (!record) return;
    const Event& e = Runner().Ports[port].Plan.Events[event];
    Pass(*record, e.Direction, std::string_view(e.Data).substr(index, 1));
    if (index + 1 < e.Data.size()) {
        At(firstMs + static_cast<double>(index + 1) * e.GapMs,
           [=] { SendByte(port, event, index + 1, firstMs); });
    }
}

// Writes every run of the generator that has started by now, then waits for
// the next one.
struct GeneratorProgress {
    uint64_t Runs = 0;
    uint64_t Received = 0;     // bytes so far in each direction, for their pattern
    uint64_t Transmitted = 0;
};

void GenerateStep(size_t port, size_t event, double startMs, GeneratorProgress progress) {
    EmulatedPort* record = Present(port);
    if (!record) return;
    const scenario::Generator& generator = Runner().Ports[port].Plan.Events[event].Traffic;
    uint64_t due = scenario::RunsStartedBy(generator, DriverClockMilliseconds() - startMs);
    uint64_t written = 0;
    while (progress.Runs < due && written < kMaxBytesPerStep) {
        uint8_t direction = scenario::RunDirection(generator, progress.Runs);
        uint64_t& count = direction == scenario::kTransmitted ? progress.Transmitted : progress.Received;
        std::string bytes(generator.RunLength, '\0');
        for (char& byte : bytes) byte = scenario::GeneratedByte(direction, count++);
        Pass(*record, direction, bytes);
        written += bytes.size();
        ++progress.Runs;
    }
    if (progress.Runs >= scenario::TotalRuns(generator)) return;
    double nextMs = progress.Runs < due ? DriverClockMilliseconds()
                                        : startMs + scenario::RunStartMs(generator, progress.Runs);
    At(nextMs, [=] { GenerateStep(port, event, startMs, progress); });
}

void Perform(size_t port, size_t event, double dueMs) {
    EmulatedPort& record = *Present(port);
    const Event& e = Runner().Ports[port].Plan.Events[event];
    switch (e.Kind) {
        case EventKind::Bytes:
            if (e.GapMs == 0) {
                Pass(record, e.Direction, e.Data);
            } else {
                SendByte(port, event, 0, dueMs);
            }
            break;
        case EventKind::Flash: FlashColour(record, e.Colour); break;
        case EventKind::Notice: PostNotice(record, e.Data); break;
        case EventKind::Leave: LeavePort(record.Key); break;
        case EventKind::Generate: GenerateStep(port, event, dueMs, GeneratorProgress{}); break;
    }
}

// Event k (in time order) of the round that started at roundMs; each event
// schedules the next, so a port has one step of its round waiting at a time.
void RunEvent(size_t port, double roundMs, size_t k) {
    if (!Alive(port)) return;
    const LivePort& live = Runner().Ports[port];
    size_t event = live.Order[k];
    double dueMs = roundMs + static_cast<double>(live.Plan.Events[event].AtMs);
    Perform(port, event, dueMs);
    if (k + 1 < live.Order.size() && Alive(port)) {
        At(roundMs + static_cast<double>(live.Plan.Events[live.Order[k + 1]].AtMs),
           [=] { RunEvent(port, roundMs, k + 1); });
    }
}

void StartRound(size_t port, uint32_t round, double roundMs) {
    if (!Alive(port)) return;
    const LivePort& live = Runner().Ports[port];
    const scenario::Port& plan = live.Plan;
    bool another = plan.RoundMs > 0 && (plan.Rounds == 0 || round + 1 < plan.Rounds);
    if (another) {
        double nextMs = roundMs + static_cast<double>(plan.RoundMs);
        At(nextMs, [=] { StartRound(port, round + 1, nextMs); });
    }
    if (!live.Order.empty()) {
        double firstMs = roundMs + static_cast<double>(plan.Events[live.Order[0]].AtMs);
        At(firstMs, [=] { RunEvent(port, roundMs, 0); });
    }
}

// The port's timeline begins once the monitor has lent it a capture ring.
void WaitForAttach(size_t port) {
    EmulatedPort* record = Present(port);
    if (!record) return;
    if (record->Capture.Ring) {
        ShowProblems(*record);
        StartRound(port, 0, DriverClockMilliseconds());
        return;
    }
    At(DriverClockMilliseconds() + kAttachPollMs, [=] { WaitForAttach(port); });
}

void Arrive(size_t port) {
    RunnerState& state = Runner();
    LivePort& live = state.Ports[port];
    if (live.Plan.Kind == scenario::PortKind::Tap || live.Plan.Kind == scenario::PortKind::Watch) {
        // Its feed line brings the tap's port with the feed's first record,
        // or the watch's ports as the feed says, and takes them away when the
        // feed ends.
        StartFeedLine(live.Plan);
        return;
    }
    if (live.Plan.Kind == scenario::PortKind::Replay) {
        StartReplayLine(live.Plan);
        return;
    }
    ArrivingPort arriving;
    arriving.Blobs = PortBlobsFor(live.Plan);
    arriving.Line = NewModemLine();
    arriving.RefusesProperties = live.Plan.PropertiesFail;
    live.Key = ArrivePort(arriving);
    live.Arrived = true;
    if (live.Plan.Leaves) {
        At(state.StartMs + static_cast<double>(live.Plan.LeaveMs), [=] {
            if (EmulatedPort* record = Present(port)) LeavePort(record->Key);
        });
    }
    WaitForAttach(port);
}

}  // namespace

void StartScenario(const scenario::Scenario& played) {
    DriverGuard guard(DriverLock());
    RunnerState& state = Runner();
    ++state.Generation;  // the steps of the previous scenario do nothing from now on
    EndRunningLines(false);
    state.Pending = 0;
    state.StartMs = DriverClockMilliseconds();
    state.Ports.clear();
    state.Problems = played.Problems;
    state.ProblemCount = played.ProblemCount;
    state.ProblemsShown = false;

    for (const scenario::Problem& problem : played.Problems) {
        std::string line = "Quorvel stand-in scenario: " + problem.Where + ": " + problem.Message + "\n";
        OutputDebugStringA(line.c_str());
    }
    for (const scenario::Fault& fault : played.Faults) {
        RequestFault request;
        request.FaultKind = RequestFault::Kind::FailAtOnce;
        request.Error = fault.Error;
        request.Times = fault.Times;
        AddRequestFault(fault.Code, request);
    }
    for (const scenario::Port& port : played.Ports) {
        LivePort live;
        live.Plan = port;
        for (size_t i = 0; i < port.Events.size(); ++i) live.Order.push_back(i);
        std::stable_sort(live.Order.begin(), live.Order.end(), [&](size_t a, size_t b) {
            return port.Events[a].AtMs < port.Events[b].AtMs;
        });
        state.Ports.push_back(std::move(live));
    }
    for (size_t i = 0; i < state.Ports.size(); ++i) {
        At(state.StartMs + static_cast<double>(state.Ports[i].Plan.ArriveMs), [=] { Arrive(i); });
    }
}

void StartConfiguredScenario(const std::vector<uint8_t>& configRecord) {
    DriverGuard guard(DriverLock());
    if (!Runner().Enabled) return;
    scenario::SettingsText settings = scenario::ReadSettingsText(configRecord.data(), configRecord.size());
    if (!settings.Present) {
        StartScenario(scenario::ParseScenario(DefaultScenarioText()));
        return;
    }
    scenario::ParseOptions options;
    options.MayBeCut = settings.FillsField;
    options.ReadFile = scenario::ReadScenarioFile;
    StartScenario(scenario::ParseScenario(settings.Text, options));
}

void ResetScenarios() {
    DriverGuard guard(DriverLock());
    RunnerState& state = Runner();
    ++state.Generation;
    EndRunningLines(false);
    state.Enabled = false;
    state.Pending = 0;
    state.Ports.clear();
    state.Problems.clear();
    state.ProblemCount = 0;
}

size_t PendingScenarioSteps() {
    DriverGuard guard(DriverLock());
    return Runner().Pending;
}

void EnableScenarios(bool run) {
    DriverGuard guard(DriverLock());
    Runner().Enabled = run;
}

void InstallScenarioRunner() {
    EnsureControlDriver();
    SetConfigurationListener(StartConfiguredScenario);
}

}  // namespace emu
