// What quorvel-tap's capture costs and whether it is whole: the throughput
// of two taps side by side in the same run, one writing its capture and one
// not, and a megabyte each way at 921600 baud counted back by tshark.
#pragma once

namespace bench {

void CaptureFileTable();

}  // namespace bench
