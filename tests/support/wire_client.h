// The tests' client of the control device: the program's wire records sent
// and read through the seam, one overlapped request at a time, as the
// program's threads do.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wire/capture_records.h"
#include "wire/device_records.h"
#include "wire/port_property_records.h"

namespace testsupport {

// One overlapped request with its own manual-reset event and room for its
// output; it must outlive the request's completion.
struct PendingRequest {
    explicit PendingRequest(size_t outputSize = 0);
    ~PendingRequest();
    PendingRequest(const PendingRequest&) = delete;
    PendingRequest& operator=(const PendingRequest&) = delete;
    bool Signalled(DWORD waitMs = 0) const;  // completed within waitMs
    // GetOverlappedResult of the request, waiting for its end when asked: TRUE
    // with its byte count in `bytes`, or FALSE with the error in GetLastError.
    BOOL Result(HANDLE device, BOOL wait = FALSE);

    OVERLAPPED overlapped{};
    std::vector<uint8_t> output;
    DWORD bytes = 0;  // as Result last reported it
};

// Issues the request into the request's own output, or into the caller's;
// the call's result (FALSE with ERROR_IO_PENDING while it waits).
BOOL IssueRequest(HANDLE device, uint32_t code, const void* input, DWORD inputSize, PendingRequest& request);
BOOL IssueRequest(HANDLE device, uint32_t code, const void* input, DWORD inputSize, void* output,
                  DWORD outputSize, PendingRequest& request);

// A per-port request's input as the driver receives it: the key, then the rest.
std::vector<uint8_t> PortKeyAnd(uint32_t portKey, const std::string& rest);

// Issues a data, signal or notice wait of the port.
std::unique_ptr<PendingRequest> IssuePortWait(HANDLE device, uint32_t code, uint32_t portKey,
                                              size_t outputSize);

// The configuration record for a settings text (none: null), which fills the
// field as far as it reaches, without its terminator when it fills it all;
// Configure sends it and tells whether it completed at once.
quorvel::DriverConfigRecord ConfigRecordFor(const char* settingsText);
bool Configure(HANDLE device, const char* settingsText);

struct Arrival {
    bool Arrived = false;
    quorvel::PortPropertyHeader Header{};
};

// The next port arrival within timeoutMs; a wait still pending then is
// cancelled, and counts only if it completed regardless.
Arrival WaitArrival(HANDLE device, DWORD timeoutMs);

// The property reply's size that the header asks for, as the program computes it.
uint32_t PropertyReplySize(const quorvel::PortPropertyHeader& header);

struct PropertyReply {
    DWORD Error = ERROR_SUCCESS;
    quorvel::PortPropertyHeader Header{};
    std::vector<uint8_t> Bytes;  // empty when the request failed
    std::wstring Text(uint32_t index) const;  // a UTF-16 property without its zeros
};

PropertyReply RequestProperties(HANDLE device, const quorvel::PortPropertyHeader& header);

// A capture ring of the test's, zero-filled, freed when it goes.
using OwnedRing = std::unique_ptr<quorvel::CaptureRing, void (*)(quorvel::CaptureRing*)>;
OwnedRing NewRing(uint32_t capacity, uint32_t portKey);

// The attach record lending the ring in timed record form, with no options;
// false when the ring's address does not fit it.
bool AttachRecordFor(const quorvel::CaptureRing* ring, quorvel::AttachRequest* attach);

// Lends the driver the ring as the capture thread does; true when the address
// fit and the attach completed at once.
bool AttachRing(HANDLE device, const quorvel::CaptureRing* ring);

struct TakenRecord {
    uint8_t Data;
    uint8_t Direction;
    uint64_t Time;  // in driver ticks
};

// Takes a ring's pending records as the capture thread does: every record up
// to the write index, which becomes the read index.
std::vector<TakenRecord> TakeRecords(quorvel::CaptureRing* ring);

}  // namespace testsupport
