// The calls that the driver layer's diagnostic hook saw, for tests.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "driver/trace_api_result.h"

namespace testsupport {

struct TracedCall {
    std::string Name;
    bool Success;
    unsigned long Error;
    bool operator==(const TracedCall&) const = default;
};

inline void PrintTo(const TracedCall& call, std::ostream* out) {
    *out << "{" << call.Name << ", " << (call.Success ? "success" : "failure") << ", error " << call.Error << "}";
}

// The hook's records since the last ClearTraceRecords, oldest first. Every
// record must carry the driver layer's source name.
inline std::vector<TracedCall> TracedCalls() {
    quorvel::TraceRecord records[quorvel::kTraceCapacity];
    uint32_t count = quorvel::ReadTraceRecords(records, quorvel::kTraceCapacity);
    std::vector<TracedCall> calls;
    for (uint32_t i = 0; i < count; ++i) {
        if (std::string(records[i].SourceFile) != "Quorvel Service Access") {
            calls.push_back({"(wrong source name)", false, 0});
            continue;
        }
        calls.push_back({records[i].CallName, records[i].Success != 0, records[i].Error});
    }
    return calls;
}

// Only the names, in order.
inline std::vector<std::string> TracedNames() {
    std::vector<std::string> names;
    for (const TracedCall& call : TracedCalls()) names.push_back(call.Name);
    return names;
}

}  // namespace testsupport
