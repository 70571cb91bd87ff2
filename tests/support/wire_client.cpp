#include "support/wire_client.h"

#include <algorithm>
#include <cstring>

#include "port/capture_ring.h"
#include "port/property_reply_layout.h"
#include "port/ring_memory.h"
#include "system/system_calls.h"
#include "wire/request_codes.h"

namespace testsupport {

using namespace quorvel;

PendingRequest::PendingRequest(size_t outputSize) : output(outputSize, 0) {
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

PendingRequest::~PendingRequest() { CloseHandle(overlapped.hEvent); }

bool PendingRequest::Signalled(DWORD waitMs) const {
    return WaitForSingleObject(overlapped.hEvent, waitMs) == WAIT_OBJECT_0;
}

BOOL PendingRequest::Result(HANDLE device, BOOL wait) {
    return GetOverlappedResult(device, &overlapped, &bytes, wait);
}

BOOL IssueRequest(HANDLE device, uint32_t code, const void* input, DWORD inputSize, PendingRequest& request) {
    return IssueRequest(device, code, input, inputSize, request.output.data(),
                        static_cast<DWORD>(request.output.size()), request);
}

BOOL IssueRequest(HANDLE device, uint32_t code, const void* input, DWORD inputSize, void* output,
                  DWORD outputSize, PendingRequest& request) {
    return seam::DeviceIoControl(device, code, const_cast<void*>(input), inputSize, output, outputSize,
                                 nullptr, &request.overlapped);
}

std::vector<uint8_t> PortKeyAnd(uint32_t portKey, const std::string& rest) {
    std::vector<uint8_t> bytes(sizeof portKey + rest.size());
    std::memcpy(bytes.data(), &portKey, sizeof portKey);
    std::memcpy(bytes.data() + sizeof portKey, rest.data(), rest.size());
    return bytes;
}

std::unique_ptr<PendingRequest> IssuePortWait(HANDLE device, uint32_t code, uint32_t portKey,
                                              size_t outputSize) {
    auto request = std::make_unique<PendingRequest>(outputSize);
    IssueRequest(device, code, &portKey, sizeof portKey, *request);
    return request;
}

DriverConfigRecord ConfigRecordFor(const char* settingsText) {
    DriverConfigRecord record{};
    record.Length = kDriverConfigLength;
    record.SettingsPresent = settingsText ? 20 : 4;
    record.ConfigFlag = 1;
    if (settingsText) {
        std::memcpy(record.SettingsText, settingsText,
                    std::min<size_t>(std::strlen(settingsText), kSettingsTextCapacity));
    }
    return record;
}

bool Configure(HANDLE device, const char* settingsText) {
    DriverConfigRecord record = ConfigRecordFor(settingsText);
    PendingRequest request;
    return IssueRequest(device, IOCTL_LINE_SET_CONFIG, &record, sizeof record, request);
}

Arrival WaitArrival(HANDLE device, DWORD timeoutMs) {
    Arrival arrival;
    PendingRequest request(sizeof arrival.Header);
    if (!IssueRequest(device, IOCTL_LINE_WAIT_PORT_ARRIVAL, nullptr, 0, request) &&
        GetLastError() != ERROR_IO_PENDING) {
        return arrival;
    }
    if (!request.Signalled(timeoutMs)) {
        seam::CancelIo(device);
        request.Signalled(INFINITE);
    }
    if (request.overlapped.Internal != 0) return arrival;
    arrival.Arrived = true;
    std::memcpy(&arrival.Header, request.output.data(), sizeof arrival.Header);
    return arrival;
}

uint32_t PropertyReplySize(const PortPropertyHeader& header) {
    uint32_t size = 0;
    return ComputePropertyReplySize(header, &size) ? size : 0;
}

std::wstring PropertyReply::Text(uint32_t index) const {
    uint32_t offsets[kPropertyCount];
    LocatePropertyBlobs(Header, offsets);
    std::wstring text;
    for (size_t i = 0; i + 1 < Header.Lengths[index] && offsets[index] + i + 1 < Bytes.size(); i += 2) {
        const uint8_t* unit = Bytes.data() + offsets[index] + i;
        auto c = static_cast<wchar_t>(unit[0] | unit[1] << 8);
        if (c) text.push_back(c);
    }
    return text;
}

PropertyReply RequestProperties(HANDLE device, const PortPropertyHeader& header) {
    PropertyReply reply{ERROR_SUCCESS, header, {}};
    PendingRequest request(PropertyReplySize(header));
    if (IssueRequest(device, IOCTL_LINE_GET_PORT_PROPERTIES, &header, sizeof header, request)) {
        reply.Bytes = request.output;
    } else {
        reply.Error = GetLastError();
    }
    return reply;
}

OwnedRing NewRing(uint32_t capacity, uint32_t portKey) {
    return OwnedRing(AllocateCaptureRing(capacity, portKey), FreeCaptureRing);
}

bool AttachRecordFor(const CaptureRing* ring, AttachRequest* attach) {
    *attach = AttachRequest{};
    attach->RecordForm = 1;
    return RingAddressField(ring, &attach->RingAddress);
}

bool AttachRing(HANDLE device, const CaptureRing* ring) {
    AttachRequest attach{};
    bool addressFits = AttachRecordFor(ring, &attach);
    PendingRequest request;
    return IssueRequest(device, IOCTL_LINE_ATTACH_CAPTURE, &attach, sizeof attach, request) && addressFits;
}

std::vector<TakenRecord> TakeRecords(CaptureRing* ring) {
    std::vector<TakenRecord> records;
    uint32_t write = ring->WriteIndex;
    MemoryBarrier();
    for (uint32_t i = ring->ReadIndex; i != write; i = i + 1 == ring->Capacity ? 0 : i + 1) {
        const CaptureRecord& record = RingRecords(ring)[i];
        records.push_back(TakenRecord{record.Data, record.Direction, RecordTimestamp(record)});
    }
    ring->ReadIndex = write;
    return records;
}

}  // namespace testsupport
