// The text of the "Port properties" box (the box itself: ui/properties_box.h).
#pragma once

#include <windows.h>

#include <cstddef>

#include "port/port_monitor.h"

namespace quorvel {

constexpr size_t kPropertiesTextCapacity = 2000;

// Formats the port's properties into text (capacity bytes, at least 1). A
// longer text is cut; the result is always terminated. Absent texts read
// "(null)".
void FormatPropertiesText(const PortMonitor& port, char* text, size_t capacity);

}  // namespace quorvel
