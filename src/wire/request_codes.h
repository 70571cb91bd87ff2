// The sixteen requests of the control device "\\.\Quorvel".
//
// Each code is device type 0x15 in the upper half and the function number
// times four in the lower half: buffered method, any access.
#pragma once

#include <cstdint>

namespace quorvel {

constexpr uint32_t kLineDeviceType = 0x15;
constexpr uint32_t kMethodBuffered = 0;
constexpr uint32_t kFileAnyAccess = 0;

constexpr uint32_t MakeLineRequestCode(uint32_t function) {
    return (kLineDeviceType << 16) | (kFileAnyAccess << 14) | (function << 2) | kMethodBuffered;
}

constexpr uint32_t IOCTL_LINE_GET_DRIVER_INFO = 0x150004;
constexpr uint32_t IOCTL_LINE_SET_CONFIG = 0x150008;
constexpr uint32_t IOCTL_LINE_SET_PERSISTENT = 0x15000C;
constexpr uint32_t IOCTL_LINE_SHUTDOWN = 0x150010;
constexpr uint32_t IOCTL_LINE_WAIT_PORT_ARRIVAL = 0x150014;
constexpr uint32_t IOCTL_LINE_GET_PORT_PROPERTIES = 0x150018;
constexpr uint32_t IOCTL_LINE_ATTACH_CAPTURE = 0x15001C;
constexpr uint32_t IOCTL_LINE_WAIT_DATA = 0x150020;
constexpr uint32_t IOCTL_LINE_WAIT_SIGNAL = 0x150024;
constexpr uint32_t IOCTL_LINE_WAIT_NOTICE = 0x150028;
constexpr uint32_t IOCTL_LINE_DETACH_CAPTURE = 0x15002C;
constexpr uint32_t IOCTL_LINE_TOGGLE_PAUSE = 0x150030;
constexpr uint32_t IOCTL_LINE_SET_COMMAND_MODE = 0x150034;
constexpr uint32_t IOCTL_LINE_READ_RESPONSE = 0x150038;
constexpr uint32_t IOCTL_LINE_WRITE_COMMAND = 0x15003C;
constexpr uint32_t IOCTL_LINE_ESCAPE_FOLLOWUP = 0x150040;

static_assert(IOCTL_LINE_GET_DRIVER_INFO == MakeLineRequestCode(1));
static_assert(IOCTL_LINE_SET_CONFIG == MakeLineRequestCode(2));
static_assert(IOCTL_LINE_SET_PERSISTENT == MakeLineRequestCode(3));
static_assert(IOCTL_LINE_SHUTDOWN == MakeLineRequestCode(4));
static_assert(IOCTL_LINE_WAIT_PORT_ARRIVAL == MakeLineRequestCode(5));
static_assert(IOCTL_LINE_GET_PORT_PROPERTIES == MakeLineRequestCode(6));
static_assert(IOCTL_LINE_ATTACH_CAPTURE == MakeLineRequestCode(7));
static_assert(IOCTL_LINE_WAIT_DATA == MakeLineRequestCode(8));
static_assert(IOCTL_LINE_WAIT_SIGNAL == MakeLineRequestCode(9));
static_assert(IOCTL_LINE_WAIT_NOTICE == MakeLineRequestCode(10));
static_assert(IOCTL_LINE_DETACH_CAPTURE == MakeLineRequestCode(11));
static_assert(IOCTL_LINE_TOGGLE_PAUSE == MakeLineRequestCode(12));
static_assert(IOCTL_LINE_SET_COMMAND_MODE == MakeLineRequestCode(13));
static_assert(IOCTL_LINE_READ_RESPONSE == MakeLineRequestCode(14));
static_assert(IOCTL_LINE_WRITE_COMMAND == MakeLineRequestCode(15));
static_assert(IOCTL_LINE_ESCAPE_FOLLOWUP == MakeLineRequestCode(16));

}  // namespace quorvel
