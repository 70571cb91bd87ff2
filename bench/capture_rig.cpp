#include "bench/capture_rig.h"

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "bench/bench_clock.h"
#include "bench/bench_windows.h"
#include "bench/pane_watch.h"
#include "bench/process_probes.h"
#include "wire/request_codes.h"
#include "driver/stop_event.h"
#include "emulator/lines/port_catalog.h"
#include "emulator/scenario/scenario_parser.h"
#include "emulator/runner/scenario_runner.h"
#include "emulator/control/test_control.h"
#include "port/capture_ring.h"
#include "port/capture_runs.h"
#include "port/capture_thread.h"
#include "port/port_monitor.h"
#include "support/emulated_driver.h"
#include "support/wire_client.h"
#include "system/system_calls.h"
#include "ui/line_intake.h"

namespace bench {
namespace {

namespace control = emu::control;
using quorvel::PortMonitor;

// ---- The stand-in ----------------------------------------------------------

// A clean stand-in whose control driver runs.
bool StartCleanDriver() {
    if (testsupport::TryStartCleanEmulatedDriver()) return true;
    std::fprintf(stderr, "bench: the stand-in's control driver did not start (%squorvel.sys)\n",
                 testsupport::ProductFolder().c_str());
    return false;
}

// ---- Capture threads -------------------------------------------------------

HANDLE StartCaptureThread(HWND pane, PortMonitor* port) {
    HANDLE started = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    quorvel::CaptureStartBlock block{pane, port, started};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, quorvel::CaptureThread, &block, 0, nullptr));
    quorvel::SetPane(*port, pane, thread);  // as the program does: the line intake finds the pane there
    if (thread) WaitForSingleObject(started, INFINITE);
    CloseHandle(started);
    return thread;
}

// Every pane has its lines and shows them: nothing of it waits to be painted.
bool AllPanesShow(CaptureRig& rig, uint32_t lines) {
    for (const BenchPort& port : rig.Ports()) {
        if (rig.Lines(port) < lines || GetUpdateRect(port.Pane, nullptr, FALSE)) return false;
    }
    return true;
}

// Once the figures are taken: the records pending beyond the next 8192 get
// one direction, so that what is left is a few thousand runs and one long
// one, not up to 99999 runs to replay. The run being cut (at most 4097
// records from the read index) is never touched.
void CollapseTails(CaptureRig& rig) {
    constexpr uint32_t kUntouched = 8192;
    for (const BenchPort& port : rig.Ports()) {
        quorvel::CaptureRing* ring = port.Monitor ? port.Monitor->CaptureRing : nullptr;
        uint32_t pending = rig.Pending(port);
        if (!ring || pending <= kUntouched + 1) continue;
        quorvel::CaptureRecord* records = quorvel::RingRecords(ring);
        uint32_t capacity = ring->Capacity;
        uint32_t slot = (ring->ReadIndex + kUntouched) % capacity;
        uint8_t direction = records[slot].Direction;
        for (uint32_t i = kUntouched; i < pending; ++i) {
            records[slot].Direction = direction;
            slot = slot + 1 == capacity ? 0 : slot + 1;
        }
    }
}

void DestroyPanes(CaptureRig& rig) {
    CollapseTails(rig);
    for (BenchPort& port : rig.Ports()) {
        if (IsWindow(port.Pane)) DestroyWindow(port.Pane);
    }
}

// Runs an action on the window thread when a time has passed, unless it is
// cancelled first (by its destruction, which waits for its thread).
class Deadline {
public:
    Deadline(HWND main, double seconds, std::function<void()> action)
        : main_(main), ms_(static_cast<DWORD>(seconds * 1000)), action_(std::move(action)),
          cancel_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0, nullptr));
    }
    ~Deadline() {
        SetEvent(cancel_);
        if (thread_) {
            WaitPumping(thread_, INFINITE);
            CloseHandle(thread_);
        }
        CloseHandle(cancel_);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

private:
    static unsigned __stdcall Run(void* argument) {
        auto* deadline = static_cast<Deadline*>(argument);
        if (WaitForSingleObject(deadline->cancel_, deadline->ms_) == WAIT_TIMEOUT) {
            RunOnWindowThread(deadline->main_, deadline->action_);
        }
        return 0;
    }

    HWND main_;
    DWORD ms_;
    std::function<void()> action_;
    HANDLE cancel_;
    HANDLE thread_ = nullptr;
};

// ---- The feeder ------------------------------------------------------------

struct Feeder {
    std::vector<uint32_t> Keys;
    const TrafficShape* Shape = nullptr;
    const LineRate* Rate = nullptr;
    double Seconds = 0;
    uint64_t Offered = 0;  // the same stream goes to every port
    RunClock* Clock = nullptr;
    HWND Main = nullptr;
    std::function<void()> AtEnd;  // run on the window thread after the last push
};

// Every 10 ms gives each port the bytes that the line rate has made due
// since the start, so the rate holds however late a tick comes.
unsigned __stdcall FeedLoop(void* argument) {
    auto* feeder = static_cast<Feeder*>(argument);
    const uint32_t runLength = feeder->Shape->RunLength;
    double start = Now();
    for (;;) {
        double elapsed = Now() - start;
        bool last = elapsed >= feeder->Seconds;
        if (last) elapsed = feeder->Seconds;
        auto due = static_cast<uint64_t>(elapsed * static_cast<double>(feeder->Rate->BytesPerSecond));
        if (due > feeder->Offered) {
            // The runs that begin in this push enter the ring now.
            double now = Now();
            std::vector<double>& entered = feeder->Clock->EnteredAt;
            for (uint64_t run = (feeder->Offered + runLength - 1) / runLength;
                 run * runLength < due && run < entered.size(); ++run) {
                entered[run] = now;
            }
            auto bytes = ShapeBytes(*feeder->Shape, *feeder->Rate, feeder->Offered,
                                    static_cast<uint32_t>(due - feeder->Offered));
            for (uint32_t key : feeder->Keys) control::PushRecords(key, bytes);
            feeder->Offered = due;
        }
        if (last) {
            RunOnWindowThread(feeder->Main, feeder->AtEnd);
            return 0;
        }
        Sleep(10);
    }
}

}  // namespace

bool CaptureRig::Start(HWND main, int count, const RunClock* clock) {
    if (StartPorts(main, count, clock, nullptr)) return true;
    std::fprintf(stderr, "bench: the capture rig did not start\n");
    return false;
}

bool CaptureRig::StartScenario(HWND main, const char* scenario, int count) {
    if (StartPorts(main, count, nullptr, scenario)) return true;
    std::fprintf(stderr, "bench: the capture rig did not start with %s\n", scenario);
    return false;
}

bool CaptureRig::StartPorts(HWND main, int count, const RunClock* clock, const char* scenario) {
    Stop();
    ResetEvent(quorvel::StopEvent);
    started_ = true;
    if (!StartCleanDriver()) return false;
    device_ = testsupport::OpenEmulatedDevice();
    if (device_ == INVALID_HANDLE_VALUE) return false;
    if (scenario) emu::StartScenario(emu::scenario::ParseScenario(scenario));
    for (int i = 0; i < count && !scenario; ++i) {
        control::AddPort(emu::ModemPort(L"COM" + std::to_wstring(i + 1), static_cast<uint32_t>(i + 1)));
    }
    for (int i = 0; i < count; ++i) {
        testsupport::Arrival arrival = testsupport::WaitArrival(device_, 5000);
        if (!arrival.Arrived) return false;
        BenchPort port;
        port.Key = arrival.Header.PortKey;
        port.Monitor = new PortMonitor(device_);
        if (!quorvel::FetchProperties(*port.Monitor, arrival.Header)) {
            delete port.Monitor;
            return false;
        }
        // Made hidden, as the program makes its panes; the thread shows it.
        port.Pane = CreateStackedPane(main, i, count, false);
        WatchPane(port.Pane, clock);
        port.Thread = StartCaptureThread(port.Pane, port.Monitor);
        ports_.push_back(port);
        if (!port.Thread) return false;
    }
    return PumpUntil(
        [&] {
            for (const BenchPort& port : ports_) {
                if (!control::IsCaptureAttached(port.Key)) return false;
            }
            return control::PendingRequests(quorvel::IOCTL_LINE_WAIT_DATA) == ports_.size();
        },
        5000);
}

void CaptureRig::Stop() {
    if (!started_) return;
    started_ = false;
    double begun = Now();
    // Without its pane a capture thread drains what is left in moments (each
    // add fails at once), and only a drained thread looks at StopEvent.
    DestroyPanes(*this);
    PumpUntil([&] { return Drained(); }, 120000);
    double drained = Now();
    SetEvent(quorvel::StopEvent);
    for (BenchPort& port : ports_) {
        if (!port.Thread) {
            quorvel::ForgetPaneIntake(port.Monitor->PaneLines);
            quorvel::ReleaseStorage(*port.Monitor);
            delete port.Monitor;
            continue;
        }
        if (WaitPumping(port.Thread, 30000)) {
            quorvel::ForgetPaneIntake(port.Monitor->PaneLines);
            quorvel::ReleaseStorage(*port.Monitor);
            delete port.Monitor;
        } else {
            // Its ring may still be in use: leave it rather than free it.
            std::fprintf(stderr, "bench: a capture thread did not end; its port is left as it is\n");
        }
        CloseHandle(port.Thread);
    }
    ports_.clear();
    ResetEvent(quorvel::StopEvent);
    if (device_ != INVALID_HANDLE_VALUE) seam::CloseHandle(device_);
    device_ = INVALID_HANDLE_VALUE;
    control::ResetDriver();
    control::ResetServices();
    if (Now() - begun > 5) {
        std::fprintf(stderr, "bench: teardown took %.1f s (%.1f s to drain without panes)\n", Now() - begun,
                     drained - begun);
    }
}

uint32_t CaptureRig::Pending(const BenchPort& port) const {
    quorvel::CaptureRing* ring = port.Monitor ? port.Monitor->CaptureRing : nullptr;
    uint32_t pending = 0;
    if (!ring || !quorvel::PendingRecordCount(ring->WriteIndex, ring->ReadIndex, ring->Capacity, &pending)) return 0;
    return pending;
}

bool CaptureRig::Drained() const {
    return std::all_of(ports_.begin(), ports_.end(), [&](const BenchPort& port) { return Pending(port) == 0; });
}

uint32_t CaptureRig::Lines(const BenchPort& port) const {
    PaneWatch* watch = WatchOf(port.Pane);
    return watch ? watch->Lines : 0;
}


DrainFigures MeasureDrain(HWND main, int ports, const TrafficShape& shape, double capSeconds) {
    DrainFigures figures;
    figures.Ports = ports;
    CaptureRig rig;
    if (!rig.Start(main, ports)) return figures;
    // The ring keeps one slot free: 99999 records fill it.
    const uint32_t records = quorvel::kCaptureCapacity - 1;
    auto bytes = ShapeBytes(shape, kRate921600, 0, records);
    figures.ExpectedLines = LinesForBytes(shape, records);
    PumpFor(100);  // let the panes' first paint pass

    double start = 0;
    bool capped = false;
    auto takeFigures = [&] {
        figures.Seconds = Now() - start;
        for (const BenchPort& port : rig.Ports()) {
            figures.Lines += rig.Lines(port);
            figures.Records += records - rig.Pending(port);
        }
    };
    {
        // At the cap the figures are taken where they stand; without their
        // panes the threads then drain the rest in moments.
        Deadline cap(main, capSeconds, [&] {
            if (figures.Complete) return;
            capped = true;
            takeFigures();
            DestroyPanes(rig);
        });
        start = Now();
        for (const BenchPort& port : rig.Ports()) control::PushRecords(port.Key, bytes);
        PumpUntil(
            [&] {
                if (capped) return true;
                if (!AllPanesShow(rig, figures.ExpectedLines)) return false;
                figures.Complete = true;
                takeFigures();
                return true;
            },
            INFINITE);
    }
    rig.Stop();
    return figures;
}

uint64_t FeedFigures::DroppedAll() const {
    uint64_t dropped = 0;
    for (uint64_t d : Dropped) dropped += d;
    return dropped;
}

double FeedFigures::LeastDrainedShare() const {
    if (Offered == 0 || Dropped.empty()) return 0;
    double least = 1;
    for (size_t i = 0; i < Dropped.size(); ++i) {
        double share = static_cast<double>(Offered - Dropped[i] - Pending[i]) / static_cast<double>(Offered);
        if (share < least) least = share;
    }
    return least;
}

double FeedFigures::PerPortBytesPerSecond() const {
    return Seconds > 0 ? LeastDrainedShare() * static_cast<double>(Offered) / Seconds : 0;
}

FeedFigures MeasureFeed(HWND main, int ports, const TrafficShape& shape, const LineRate& rate,
                        double seconds) {
    FeedFigures figures;
    figures.Ports = ports;
    RunClock clock;
    // Room for every run of the feed, and some more for a late last tick.
    clock.EnteredAt.assign(static_cast<size_t>(seconds * static_cast<double>(rate.BytesPerSecond) /
                                               shape.RunLength) + 1024, 0.0);
    CaptureRig rig;
    if (!rig.Start(main, ports, shape.RunLength >= kNumberedRunLength ? &clock : nullptr)) return figures;
    PumpFor(100);
    Feeder feeder;
    for (const BenchPort& port : rig.Ports()) feeder.Keys.push_back(port.Key);
    feeder.Shape = &shape;
    feeder.Rate = &rate;
    feeder.Seconds = seconds;
    feeder.Clock = &clock;
    feeder.Main = main;
    double start = 0;
    PostProbe probe(main, 20);
    feeder.AtEnd = [&] {
        // The waits are those of the feed: what follows (reading the
        // figures, destroying the panes) is the benchmark's own work.
        figures.PostWaits = probe.Stop(&figures.PostSpans);
        figures.Seconds = Now() - start;
        figures.Offered = feeder.Offered;
        for (const BenchPort& port : rig.Ports()) {
            figures.Dropped.push_back(control::DroppedRecords(port.Key));
            figures.Pending.push_back(rig.Pending(port));
            if (PaneWatch* watch = WatchOf(port.Pane)) {
                figures.Lines += watch->Lines;
                figures.Delays.insert(figures.Delays.end(), watch->Delays.begin(), watch->Delays.end());
                figures.RepaintSpans.insert(figures.RepaintSpans.end(), watch->RepaintWaits.begin(),
                                            watch->RepaintWaits.end());
            }
        }
        figures.CommittedWithLines = CommittedBytes();
        figures.ResidentWithLines = ResidentBytes();
        DestroyPanes(rig);
    };
    start = Now();
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, FeedLoop, &feeder, 0, nullptr));
    if (!thread) return figures;
    WaitPumping(thread, INFINITE);
    CloseHandle(thread);
    rig.Stop();
    return figures;
}

}  // namespace bench
