// The diagnostic hook of the driver layer: after most service-manager and
// device calls it receives the call's success, the calling source's name,
// the line, the call's name and an error value.
//
// It keeps the latest calls in a small in-memory ring and nothing else: no
// log file, no output. The ring lets tests see which calls were made, and
// in which order.
#pragma once

#include <cstdint>

namespace quorvel {

// The source name that every traced call of the driver layer passes.
constexpr const char kServiceAccessSource[] = "Quorvel Service Access";

void TraceApiResult(uint8_t success, const char* sourceFile, uint32_t line, const char* callName,
                    uint32_t error);

struct TraceRecord {
    uint8_t Success;
    const char* SourceFile;  // static texts: the hook keeps the pointers only
    uint32_t Line;
    const char* CallName;
    uint32_t Error;
};

constexpr uint32_t kTraceCapacity = 64;

// Copies the latest records (at most capacity, at most kTraceCapacity),
// oldest first, and returns their number. Meant for a moment when no thread
// is making traced calls.
uint32_t ReadTraceRecords(TraceRecord* records, uint32_t capacity);

// Forgets every record.
void ClearTraceRecords();

}  // namespace quorvel
