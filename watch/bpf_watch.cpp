#include "watch/bpf_watch.h"

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <initializer_list>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "watch/watch.skel.h"

namespace watch {

uint32_t KernelDevice(uint64_t device) {
    return static_cast<uint32_t>((major(device) << 20) | minor(device));
}

BpfWatch::~BpfWatch() {
    Detach();
    ring_buffer__free(ring_);
    watch_bpf__destroy(skeleton_);
}

namespace {

int OneRecord(void* context, void* data, size_t size) {
    auto* take = *static_cast<const BpfWatch::Take**>(context);
    if (!take || size < sizeof(watchwire::WatchRecord)) return 0;
    watchwire::WatchRecord header;
    std::memcpy(&header, data, sizeof(header));
    size_t length = std::min<size_t>(header.Length, size - sizeof(header));
    (*take)(header, std::string_view(static_cast<const char*>(data) + sizeof(header), length));
    return 0;
}

// libbpf's own messages stay quiet (the watch says in one line what
// failed), unless QUORVEL_WATCH_DEBUG asks for them with the verifier's.
int Print(enum libbpf_print_level, const char* format, va_list arguments) {
    return getenv("QUORVEL_WATCH_DEBUG") ? std::vfprintf(stderr, format, arguments) : 0;
}

}  // namespace

bool BpfWatch::Load(const WatchFilter& filter, uint32_t ringBytes, std::string* why) {
    libbpf_set_print(Print);
    skeleton_ = watch_bpf__open();
    if (!skeleton_) {
        *why = std::string("the BPF programs cannot be opened: ") + std::strerror(errno);
        return false;
    }
    skeleton_->rodata->only_process = filter.OnlyProcess;
    for (size_t i = 0; i < filter.OnlyProgram.size() && i + 1 < sizeof(skeleton_->rodata->only_program); ++i) {
        skeleton_->rodata->only_program[i] = filter.OnlyProgram[i];
    }
    bpf_map__set_max_entries(skeleton_->maps.ring, ringBytes);
    skeleton_->rodata->wake_at = ringBytes / 2;
    if (int error = watch_bpf__load(skeleton_)) {
        *why = std::string("the kernel refused the BPF programs: ") + std::strerror(-error);
        return false;
    }
    ring_ = ring_buffer__new(bpf_map__fd(skeleton_->maps.ring), OneRecord, &take_, nullptr);
    if (!ring_) {
        *why = std::string("the BPF ring cannot be read: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool BpfWatch::WatchDevice(uint32_t device) {
    uint8_t yes = 1;
    return bpf_map__update_elem(skeleton_->maps.devices, &device, sizeof(device), &yes, sizeof(yes), BPF_ANY) == 0;
}

bool BpfWatch::AddDescriptor(uint32_t process, uint32_t descriptor, uint32_t device) {
    uint32_t key[2] = {process, descriptor};
    if (bpf_map__update_elem(skeleton_->maps.descriptors, key, sizeof(key), &device, sizeof(device), BPF_NOEXIST) != 0) {
        return false;
    }
    // The BPF side counts its own descriptors atomically; this one's slot is
    // only marked, in a map of its own (watch.bpf.c).
    uint32_t slot = process % 4096, marked = 1;
    return bpf_map__update_elem(skeleton_->maps.seeded, &slot, sizeof(slot), &marked, sizeof(marked), BPF_ANY) == 0;
}

namespace {

void DetachAll(bpf_link** links, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        bpf_link__destroy(links[i]);
        links[i] = nullptr;
    }
}

// Attaches each program into its link; false (with every one of them
// detached again) when the kernel refuses one.
bool AttachAll(std::initializer_list<bpf_program*> programs, bpf_link** links, std::string* why) {
    size_t i = 0;
    for (bpf_program* program : programs) {
        links[i] = bpf_program__attach(program);
        if (!links[i]) {
            *why = std::string("the kernel refused to attach ") + bpf_program__name(program) + ": " + std::strerror(errno);
            DetachAll(links, i);
            return false;
        }
        ++i;
    }
    return true;
}

}  // namespace

bool BpfWatch::Attach(std::string* why) {
    if (links_[0]) return true;
    auto& programs = skeleton_->progs;
    return AttachAll({programs.on_process_fork, programs.on_process_exec, programs.on_process_exit,
                      programs.on_syscall_enter, programs.on_syscall_exit},
                     links_, why);
}

void BpfWatch::Detach() { DetachAll(links_, 5); }

bool BpfWatch::Drain(int timeoutMs, const Take& take) {
    take_ = &take;
    int result = timeoutMs > 0 ? ring_buffer__poll(ring_, timeoutMs) : 0;
    // Data records do not wake the ring's epoll (only a control record or a
    // full 64 KiB do): what waits is taken without asking epoll.
    if (result >= 0) result = ring_buffer__consume(ring_);
    take_ = nullptr;
    return result >= 0 || result == -EINTR;
}

int BpfWatch::RingDescriptor() const { return ring_buffer__epoll_fd(ring_); }

watchwire::WatchLost BpfWatch::Lost(uint32_t device) const {
    watchwire::WatchLost lost{};
    bpf_map__lookup_elem(skeleton_->maps.lost, &device, sizeof(device), &lost, sizeof(lost), 0);
    return lost;
}

}  // namespace watch
