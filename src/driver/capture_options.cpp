#include "driver/capture_options.h"

namespace quorvel {

uint32_t CaptureOptions = 0;

}  // namespace quorvel
