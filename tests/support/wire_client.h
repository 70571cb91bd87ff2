// The tests' client of the control device: the program's wire records sent
// and read through the seam, one overlapped request at a time, as the
// program's own threads do. Tests of the stand-in, of the port layer and the
// benchmark talk to the device through it rather than by hand.
#pragma once

#include <windows.h>

#include <cstddef>
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

    // Whether the request has completed within waitMs.
    bool Signalled(DWORD waitMs = 0) const;

    OVERLAPPED overlapped{};
    std::vector<uint8_t> output;
};

// Issues the request with the given input and the request's own output; the
// call's result (FALSE with ERROR_IO_PENDING while it waits).
BOOL IssueRequest(HANDLE device, uint32_t code, const void* input, DWORD inputSize,
                  PendingRequest& request);

// The same with an output buffer of the caller's.
BOOL IssueRequest(HANDLE device, uint32_t code, const void* input, DWORD inputSize, void* output,
                  DWORD outputSize, PendingRequest& request);

// The input of a per-port request as the driver receives it: the port's key,
// then the rest of the record.
std::vector<uint8_t> PortKeyAnd(uint32_t portKey, const std::string& rest);

// Issues one of the port's waits (data, signal, notice) with its key as input.
std::unique_ptr<PendingRequest> IssuePortWait(HANDLE device, uint32_t code, uint32_t portKey,
                                              size_t outputSize);

// The configuration record for a settings text, or for none (null): the text
// fills the field as far as it reaches, without its terminator when it fills
// it all.
quorvel::DriverConfigRecord ConfigRecordFor(const char* settingsText);

// Sends the configuration record for the text; true when it completed at once.
bool Configure(HANDLE device, const char* settingsText);

struct Arrival {
    bool Arrived = false;
    quorvel::PortPropertyHeader Header{};
};

// The next port arrival within timeoutMs; a wait still pending then is
// cancelled, and counts only if it completed regardless.
Arrival WaitArrival(HANDLE device, DWORD timeoutMs);

// The size of the property reply that the header asks for, as the program
// computes it.
uint32_t PropertyReplySize(const quorvel::PortPropertyHeader& header);

// A port's property reply as the request returned it.
struct PropertyReply {
    DWORD Error = ERROR_SUCCESS;
    quorvel::PortPropertyHeader Header{};
    std::vector<uint8_t> Bytes;  // empty when the request failed

    // Property index as UTF-16 text, without its zeros.
    std::wstring Text(uint32_t index) const;
};

// Requests the properties of the port that the header describes.
PropertyReply RequestProperties(HANDLE device, const quorvel::PortPropertyHeader& header);

// A capture ring of the test's, freed when it goes.
using OwnedRing = std::unique_ptr<quorvel::CaptureRing, void (*)(quorvel::CaptureRing*)>;

// A new zero-filled ring for the port (null when none can be had).
OwnedRing NewRing(uint32_t capacity, uint32_t portKey);

// The attach record that lends the ring in timed record form, with no
// options; false when its address does not fit the record.
bool AttachRecordFor(const quorvel::CaptureRing* ring, quorvel::AttachRequest* attach);

// Lends the driver the ring, as the capture thread does; true when the
// attach completed at once.
bool AttachRing(HANDLE device, const quorvel::CaptureRing* ring);

// One record taken from a ring.
struct TakenRecord {
    uint8_t Data;
    uint8_t Direction;
    uint64_t Time;  // in driver ticks
};

// Takes the pending records of a ring, as the capture thread does: every
// record up to the write index, which becomes the read index.
std::vector<TakenRecord> TakeRecords(quorvel::CaptureRing* ring);

}  // namespace testsupport
