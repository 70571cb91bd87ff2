// The watch's kernel side as the program holds it: the BPF programs loaded
// and attached, the devices they watch, the descriptors that were open
// before they were attached, and the ring their records come through. The
// programs stay attached only while this object lives: the kernel drops
// them with the last descriptor, so a watch that is killed leaves nothing
// attached either.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "watch/watch_records.h"

struct watch_bpf;
struct ring_buffer;
struct bpf_link;

namespace watch {

// Which calls the BPF side takes, set before it loads (into its read-only
// data, where the verifier sees them as constants).
struct WatchFilter {
    uint32_t OnlyProcess = 0;  // 0: every process
    std::string OnlyProgram;   // empty: every program; the kernel's name, 15 characters at most
};

class BpfWatch {
public:
    BpfWatch() = default;
    ~BpfWatch();
    BpfWatch(const BpfWatch&) = delete;
    BpfWatch& operator=(const BpfWatch&) = delete;

    // Loads the programs with the filter and a ring of ringBytes (a power of
    // two); false with one line that says what the kernel refused.
    bool Load(const WatchFilter& filter, uint32_t ringBytes, std::string* why);
    // The devices to watch (the kernel's numbers), before or after Attach.
    bool WatchDevice(uint32_t device);
    // A descriptor that was open before the programs were attached.
    bool AddDescriptor(uint32_t process, uint32_t descriptor, uint32_t device);
    // Attaches the programs: the system calls' (every system call of the
    // machine pays for them while they are attached) and the scheduler's.
    bool Attach(std::string* why);
    void Detach();

    // Hands each record waiting in the ring to take (its header and its
    // payload), waiting up to timeoutMs for a wake-up first (0: none);
    // false when the ring failed.
    using Take = std::function<void(const watchwire::WatchRecord&, std::string_view)>;
    bool Drain(int timeoutMs, const Take& take);
    int RingDescriptor() const;
    // What was not seen of the device so far.
    watchwire::WatchLost Lost(uint32_t device) const;

private:
    watch_bpf* skeleton_ = nullptr;
    ring_buffer* ring_ = nullptr;
    const Take* take_ = nullptr;  // while Drain runs
    bpf_link* links_[5] = {};
};

// The kernel's number for a device (major << 20 | minor) from the C
// library's.
uint32_t KernelDevice(uint64_t device);

}  // namespace watch
