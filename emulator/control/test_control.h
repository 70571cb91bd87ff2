// The stand-in's control interface for tests: script events, inject faults,
// read the log of every request. Tests (and the benchmark) link it beside
// the stand-in and call these in-process; the program never does. Each part
// of the stand-in has its file here, which calls that part's own operations.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "emulator/drivers/control_driver.h"
#include "emulator/drivers/emulated_port.h"
#include "emulator/kernel/request_log.h"
#include "emulator/lines/port_catalog.h"

namespace emu::control {

// The parts' own records and blob makers, under the names the tests use.
using emu::CapturedByte;
using emu::DriverSnapshot;
using emu::GuidBlob;
using emu::LoggedRequest;
using emu::NumberBlob;
using emu::PortBlobs;
using emu::RequestFault;
using emu::TextBlob;
using emu::TextListBlob;

// ---- Service manager -------------------------------------------------------

struct ServiceInfo {
    bool Exists = false;
    bool MarkedForDeletion = false;
    std::string DisplayName;
    std::string BinaryPath;
    std::optional<std::string> LoadOrderGroup;  // none when created without one
    DWORD ServiceType = 0;
    DWORD StartType = 0;
    DWORD ErrorControl = 0;
    DWORD State = 0;
    uint32_t OpenHandles = 0;
    uint32_t StartCount = 0;  // starts accepted
    uint32_t StopCount = 0;   // stop controls accepted
};

// Empties the shared service database (for every process that shares it)
// and clears the service faults.
void ResetServices();
ServiceInfo GetService(const char* name);
// Every open of the service fails with this error; 0 ends the fault.
void FailServiceOpen(const char* name, DWORD error);
// Opening the service manager fails with this error; 0 ends the fault.
void FailManagerOpen(DWORD error);
// A pending state of the service never settles while hold is true.
void HoldServicePending(const char* name, bool hold);
// Someone else stops the service: it is stopped at once.
void StopServiceFromOutside(const char* name);
// Puts the service into a given state (for example SERVICE_PAUSED).
void SetServiceState(const char* name, DWORD state);

// ---- Control device requests ------------------------------------------------

void InjectFault(uint32_t code, const RequestFault& fault);
void ClearFaults();

std::vector<LoggedRequest> RequestLog();
// Only the entries with this request code, in order.
std::vector<LoggedRequest> RequestLog(uint32_t code);
void ClearRequestLog();
// Requests still pending; code 0 counts every code.
size_t PendingRequests(uint32_t code = 0);
// Handles of the control device open in this process.
size_t OpenDeviceHandles();

// ---- The emulated control driver -------------------------------------------

// A port arrives: it is reported to the next arrival wait (one port per
// wait, in arrival order). Returns its PortKey.
uint32_t AddPort(const PortBlobs& port);
// The port goes away: every wait of that port ends cancelled.
void RemovePort(uint32_t portKey);

// ---- The emulated filter driver: capture -----------------------------------

// Writes the bytes into the port's capture ring, one record each, and
// completes the port's data wait. Without an attached ring nothing is
// written; records that find the ring full are dropped and counted.
void PushRecords(uint32_t portKey, const std::vector<CapturedByte>& bytes);
// The same with the driver clock's current time for every byte.
void PushBytes(uint32_t portKey, uint8_t direction, const std::string& bytes);
// Flashes a colour: completes the port's signal wait with the colour index
// (or keeps it for the next signal wait).
void Flash(uint32_t portKey, uint32_t colourIndex);
// Sends a notice: completes the port's notice wait with the text.
void SendNotice(uint32_t portKey, const std::string& text);
// Completes the port's data wait without writing a record.
void WakeDataWait(uint32_t portKey);
uint64_t DroppedRecords(uint32_t portKey);
// From now on every port keeps the records written into its ring, in order
// (those that found the ring full, or their direction paused, are not
// written); WrittenRecords gives them.
void KeepWrittenRecords(bool keep);
std::vector<CapturedByte> WrittenRecords(uint32_t portKey);
bool IsCaptureAttached(uint32_t portKey);
// Whether the filter leaves bytes of that direction (2 or 3) unrecorded.
bool IsDirectionPaused(uint32_t portKey, uint8_t direction);
// Whether the port's command channel to its modem is open.
bool IsCommandChannelOpen(uint32_t portKey);
// Ticks per second that the next attach puts into the ring (default 10 MHz).
void SetTickFrequency(uint64_t ticksPerSecond);

// Runs action on the driver thread after delayMs, with the driver lock held.
void ScheduleAfter(DWORD delayMs, std::function<void()> action);

// The 20-byte reply of the driver information request (default: a plausible
// reply with options 5).
void SetDriverInfoReply(const std::vector<uint8_t>& reply);

DriverSnapshot Driver();

// Back to a fresh driver: ports, arrivals, faults, log, settings and timed
// events cleared; pending requests are cancelled. The running scenario ends,
// and the configuration request starts none until RunScenarios(true): a
// test sees only the ports it adds.
void ResetDriver();

// ---- Scenarios ----------------------------------------------------------------

// Whether the configuration request starts the scenario of its settings text
// (or the default one without a text). On in a fresh process, as the
// program needs it; off after ResetDriver.
void RunScenarios(bool run);

}  // namespace emu::control
