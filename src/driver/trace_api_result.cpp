#include "driver/trace_api_result.h"

#include <windows.h>

namespace quorvel {
namespace {

// The ring: any thread that makes a traced call claims the next slot with an
// interlocked increment and writes it; readers copy it when no traced call is
// running. A slot being written while it is read can only give a mixed record,
// which is acceptable for a diagnostic.
TraceRecord g_traceRing[kTraceCapacity];
volatile LONG g_traceCount = 0;  // records ever written since the last clear

}  // namespace

void TraceApiResult(uint8_t success, const char* sourceFile, uint32_t line, const char* callName,
                    uint32_t error) {
    LONG index = InterlockedIncrement(&g_traceCount) - 1;
    g_traceRing[static_cast<uint32_t>(index) % kTraceCapacity] =
        TraceRecord{success, sourceFile, line, callName, error};
}

uint32_t ReadTraceRecords(TraceRecord* records, uint32_t capacity) {
    uint32_t total = static_cast<uint32_t>(g_traceCount);
    uint32_t kept = total < kTraceCapacity ? total : kTraceCapacity;
    uint32_t count = kept < capacity ? kept : capacity;
    for (uint32_t i = 0; i < count; ++i) {
        records[i] = g_traceRing[(total - count + i) % kTraceCapacity];
    }
    return count;
}

void ClearTraceRecords() { InterlockedExchange(&g_traceCount, 0); }

}  // namespace quorvel
