#include "driver/stop_event.h"

namespace quorvel {

HANDLE StopEvent = nullptr;

}  // namespace quorvel
