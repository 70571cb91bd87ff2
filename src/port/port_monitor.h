// The record of one monitored serial port.
//
// The main thread creates it on a port arrival, fetches the port's device
// properties into it, links it into PortList and gives it a pane and a
// capture thread; at removal it waits for that thread, unlinks the record,
// releases its storage and destroys it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "port/pane_line_queue.h"
#include "wire/port_property_records.h"

namespace quorvel {

struct CaptureRing;

struct PortMonitor {
    explicit PortMonitor(HANDLE device);
    PortMonitor(const PortMonitor&) = delete;
    PortMonitor& operator=(const PortMonitor&) = delete;

    PortMonitor* Previous = nullptr;  // towards the head of PortList; main thread only
    PortMonitor* Next = nullptr;      // towards the tail; main thread only
    // The control device handle for every request of this port, or
    // INVALID_HANDLE_VALUE. Set at construction, read by the capture thread.
    HANDLE DeviceHandle;
    PortPropertyHeader Header = {};               // copy of the arrival's header
    const uint8_t* PropertyData[kPropertyCount] = {};  // blob starts in PropertyReply
    uint32_t Address = 0;
    const uint8_t* Config = nullptr;            // into PropertyReply, not interpreted
    const uint8_t* ConfigTranslated = nullptr;  // into PropertyReply, not interpreted
    uint32_t BusNumber = 0;
    uint8_t BusGuid[16] = {};
    char* ClassGuid = nullptr;
    char* ClassName = nullptr;
    char* CompatibleIds = nullptr;
    char* Description = nullptr;
    char* DriverKey = nullptr;
    char* Enumerator = nullptr;
    char* FriendlyName = nullptr;
    char* HardwareID = nullptr;
    int32_t InterfaceType = 0;
    char* Location = nullptr;
    char* Manufacturer = nullptr;
    char* PDOName = nullptr;
    uint32_t UINumber = 0;
    char* ComPort = nullptr;
    // The ring lent to the driver. Allocated by the capture thread, which
    // publishes it here only once the driver has taken it
    // (PublishCaptureRing); read by the capture thread and, for the port's
    // control requests, by the main thread (PublishedCaptureRing); freed by
    // the main thread (ReleaseStorage) only after the capture thread has
    // ended and the driver has let go of it.
    struct CaptureRing* volatile CaptureRing = nullptr;
    uint32_t RecordForm = 1;  // timed 8-byte records, the only form used
    // Latest capture timestamp seen, in driver ticks; the capture thread's alone.
    uint64_t LatestTimestamp = 0;
    // The pane and its capture thread: written by the main thread (SetPane)
    // and read by it alone; the capture thread gets its pane at start.
    HWND ListBox = nullptr;
    HANDLE CaptureThreadHandle = nullptr;
    // The lines on their way from the capture thread to the pane; see
    // pane_line_queue.h for who touches what.
    PaneLineQueue PaneLines;
    // Whether the pane's new run lines show their bytes as hex pairs (1) or
    // as they are (0): written by the main thread from the pane's menu, read
    // by the capture thread at each run, both interlocked.
    volatile LONG ShowHex = 0;
    uint8_t TxPaused = 0;            // main thread only
    uint8_t RxPaused = 0;            // main thread only
    uint8_t CommandChannelOpen = 0;  // main thread only

    // The property reply that PropertyData, Config and ConfigTranslated point
    // into; owned by the record.
    uint8_t* PropertyReply = nullptr;
};

// Asks the driver for the port's properties and decodes them. True when the
// record now holds the header and the decoded properties; on false the
// record is as constructed.
bool FetchProperties(PortMonitor& port, const PortPropertyHeader& header);

// Fills the property fields from PropertyData.
void DecodeProperties(PortMonitor& port);

// The capture thread hands the ring over once the driver has taken it; a
// thread that reads it with PublishedCaptureRing sees the whole ring or none.
void PublishCaptureRing(PortMonitor& port, CaptureRing* ring);
CaptureRing* PublishedCaptureRing(const PortMonitor& port);

void SetPane(PortMonitor& port, HWND listBox, HANDLE captureThread);
void GetPane(const PortMonitor& port, HWND* listBox, HANDLE* captureThread);
const char* GetFriendlyName(const PortMonitor& port);

// Frees what the record owns: its texts, capture ring, property reply and
// the lines not yet added to its pane, and clears the header copy. Only once
// its capture thread has ended.
void ReleaseStorage(PortMonitor& port);

}  // namespace quorvel
