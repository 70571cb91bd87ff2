// The watch's kernel side: every system call of interest on a watched
// serial device, seen at the system call's entry and exit (raw syscall
// tracepoints, which see 32-bit programs too) and the scheduler's fork,
// exec and exit. Which descriptors are a watched device's is decided here,
// at the call that made them, so that a program's first write after its
// open is never missed. Nothing here waits: a record that does not fit the
// ring is counted against its device, never dropped silently.
#include "vmlinux.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>

#include "watch/watch_records.h"

char LICENSE[] SEC("license") = "GPL";

#define MOST_DESCRIPTORS 16384
#define BUSY_SLOTS 4096  // processes with watched descriptors, by tgid modulo this
#define MOST_IOVECS 16
#define SOL_SOCKET 1
#define SCM_RIGHTS 1
#define MOST_PASSED 8    // descriptors of one SCM_RIGHTS message looked at
#define EAGAIN 11
#define F_DUPFD 0
#define F_DUPFD_CLOEXEC 1030
#define CLOSE_RANGE_CLOEXEC 4
#define S_IFMT 0170000
#define S_IFCHR 0020000
#define TS_COMPAT 0x0002
#define SYS_RECVMSG 17  // socketcall's number for recvmsg

// Set by the program before it loads: one process, one program, or (0,
// empty) every one.
const volatile unsigned int only_process = 0;
const volatile char only_program[16] = {};

struct DescriptorKey {
    u32 Process;
    u32 Descriptor;
};

// The watched devices, by the kernel's number: filled by the program.
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 1024);
    __type(key, u32);
    __type(value, u8);
} devices SEC(".maps");

// Every descriptor of a watched device, and its device.
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, MOST_DESCRIPTORS);
    __type(key, struct DescriptorKey);
    __type(value, u32);
} descriptors SEC(".maps");

// How many watched descriptors the processes of each slot hold: the cheap
// first test on every read and write of the machine.
struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, BUSY_SLOTS);
    __type(key, u32);
    __type(value, u32);
} busy SEC(".maps");

// Slots of processes that held watched descriptors before the programs were
// attached (found in /proc). Only the program writes it, and only ever sets
// a slot: a slot that stays set costs a lookup, never a missed call, and the
// counts above stay the BPF side's own, changed atomically.
struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, BUSY_SLOTS);
    __type(key, u32);
    __type(value, u32);
} seeded SEC(".maps");

// What was not seen, by device: bytes (the ring was full, a copy failed, a
// call was cut at its cap) and other records (the ring was full). The
// program reads it and tells the user.
struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 1024);
    __type(key, u32);
    __type(value, struct WatchLost);
} lost SEC(".maps");

enum Call {
    CALL_NONE, CALL_READ, CALL_READV, CALL_WRITE, CALL_WRITEV, CALL_IOCTL, CALL_OPEN, CALL_DUP,
    CALL_FCNTL, CALL_CLOSE, CALL_CLOSE_RANGE, CALL_RECVMSG, CALL_SOCKETCALL,
};

// What a call's entry saved for its exit, per thread.
struct Pending {
    u64 Buffer;  // the data, the iovecs, the ioctl's argument, the msghdr
    u32 Count;   // iovecs
    u32 Descriptor;
    u32 Device;
    u32 Request;  // the ioctl's request
    u16 Call;
    u16 Compat;   // a 32-bit program: its pointers and iovecs are 32 bits
};

// Least recently used first out: a thread that ends inside a call leaves
// its entry behind, and such entries must not fill the map.
struct {
    __uint(type, BPF_MAP_TYPE_LRU_HASH);
    __uint(max_entries, 8192);
    __type(key, u32);
    __type(value, struct Pending);
} pending SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 4 << 20);  // the program may set another size before it loads
} ring SEC(".maps");

// A record is built here, then copied into the ring whole.
struct Scratch {
    struct WatchRecord Header;
    u8 Data[2 * WATCH_PIECE_BYTES];  // twice a piece: the verifier sees lengths masked, not clamped
};

struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 1);
    __type(key, u32);
    __type(value, struct Scratch);
} scratch SEC(".maps");

// Data wakes the program only once this much waits (set before loading to
// half the ring): it looks every 20 ms anyway, and every wake-up costs the
// writing program a switch on its CPU.
const volatile unsigned long long wake_at = 1 << 20;  // a C type: the skeleton names it

static __always_inline struct Scratch *Fresh(u16 kind, u32 device, s32 fd, s64 result, u32 request)
{
    u32 zero = 0;
    struct Scratch *s = bpf_map_lookup_elem(&scratch, &zero);
    if (!s) return 0;
    u64 ids = bpf_get_current_pid_tgid();
    s->Header.Nanoseconds = bpf_ktime_get_ns();
    s->Header.Process = ids >> 32;
    s->Header.Thread = (u32)ids;
    s->Header.Device = device;
    s->Header.Descriptor = fd;
    s->Header.Result = result;
    s->Header.Request = request;
    s->Header.Offset = 0;
    s->Header.Kind = kind;
    s->Header.Length = 0;
    s->Header.Reserved = 0;
    bpf_get_current_comm(s->Header.Program, sizeof(s->Header.Program));
    return s;
}

// The calls below that are not inlined are checked by the verifier once
// each, not at every place that calls them: inlined, the exit's program had
// too many paths for it.
__noinline int Count(u32 device, u64 bytes, u64 records)
{
    struct WatchLost *count = bpf_map_lookup_elem(&lost, &device);
    if (!count) {
        struct WatchLost none = {};
        bpf_map_update_elem(&lost, &device, &none, BPF_NOEXIST);  // or another CPU made it first
        count = bpf_map_lookup_elem(&lost, &device);
        if (!count) return 0;
    }
    __sync_fetch_and_add(&count->Bytes, bytes);
    __sync_fetch_and_add(&count->Records, records);
    return 0;
}

static __always_inline void CountLost(u32 device, u64 bytes) { Count(device, bytes, 0); }

// Sends the record with length bytes of data; control records wake the
// program at once, data only once enough waits.
static __always_inline void Send(struct Scratch *s, u32 length, u64 lostIfFull)
{
    length &= 2 * WATCH_PIECE_BYTES - 1;
    s->Header.Length = length;
    u64 flags = BPF_RB_NO_WAKEUP;
    if (s->Header.Kind != WATCH_WRITTEN && s->Header.Kind != WATCH_READ) flags = BPF_RB_FORCE_WAKEUP;
    else if (bpf_ringbuf_query(&ring, BPF_RB_AVAIL_DATA) >= wake_at) flags = BPF_RB_FORCE_WAKEUP;
    if (bpf_ringbuf_output(&ring, s, sizeof(s->Header) + length, flags) != 0)
        Count(s->Header.Device, lostIfFull, lostIfFull ? 0 : 1);
}

static __always_inline u32 SlotOf(u32 process) { return process % BUSY_SLOTS; }

static __always_inline void AddBusy(u32 process, s32 by)
{
    u32 slot = SlotOf(process);
    u32 *count = bpf_map_lookup_elem(&busy, &slot);
    if (count) __sync_fetch_and_add(count, by);
}

static __always_inline bool MayBeBusy(u32 process)
{
    u32 slot = SlotOf(process);
    u32 *count = bpf_map_lookup_elem(&busy, &slot);
    if (count && *count) return true;
    u32 *seed = bpf_map_lookup_elem(&seeded, &slot);
    return seed && *seed;
}

static __always_inline bool Wanted(void)
{
    if (only_process && (bpf_get_current_pid_tgid() >> 32) != only_process) return false;
    if (!only_program[0]) return true;
    char name[16];
    bpf_get_current_comm(name, sizeof(name));
    for (int i = 0; i < 16; i++) {
        if (name[i] != only_program[i]) return false;
        if (!name[i]) break;
    }
    return true;
}

// The device behind a descriptor of the current process, when it is a
// watched character device; 0 otherwise.
static __always_inline u32 WatchedDeviceOf(struct task_struct *task, u32 fd)
{
    struct fdtable *table = BPF_CORE_READ(task, files, fdt);
    if (!table || fd >= BPF_CORE_READ(table, max_fds)) return 0;
    struct file **all = BPF_CORE_READ(table, fd);
    struct file *file = 0;
    if (bpf_probe_read_kernel(&file, sizeof(file), &all[fd]) != 0 || !file) return 0;
    struct inode *inode = BPF_CORE_READ(file, f_inode);
    if (!inode || (BPF_CORE_READ(inode, i_mode) & S_IFMT) != S_IFCHR) return 0;
    u32 device = BPF_CORE_READ(inode, i_rdev);
    return bpf_map_lookup_elem(&devices, &device) ? device : 0;
}

__noinline int Closed(u32 process, u32 fd, u32 device, u32 how)
{
    struct DescriptorKey key = {process, fd};
    if (bpf_map_delete_elem(&descriptors, &key) != 0) return 0;
    AddBusy(process, -1);
    struct Scratch *s = Fresh(WATCH_CLOSED, device, fd, 0, how);
    if (s) Send(s, 0, 0);
    return 0;
}

// A descriptor that a call has just made: the device's when it is a
// watched one; a watched descriptor that another file took over is closed.
__noinline int Made(s32 fd, u32 how)
{
    if (fd < 0) return 0;
    u32 process = bpf_get_current_pid_tgid() >> 32;
    struct DescriptorKey key = {process, fd};
    u32 device = Wanted() ? WatchedDeviceOf(bpf_get_current_task_btf(), fd) : 0;
    u32 *old = bpf_map_lookup_elem(&descriptors, &key);
    if (old && *old != device) Closed(process, fd, *old, WATCH_BY_REPLACE);
    if (!device || (old && *old == device)) return 0;
    if (bpf_map_update_elem(&descriptors, &key, &device, BPF_NOEXIST) != 0) return 0;
    AddBusy(process, 1);
    struct Scratch *s = Fresh(WATCH_OPENED, device, fd, fd, how);
    if (s) Send(s, 0, 0);
    return 0;
}

static __always_inline bool IsCompat(void)
{
    struct task_struct *task = bpf_get_current_task_btf();
    return task->thread_info.status & TS_COMPAT;
}

// The call behind a system call number, for 64-bit and for 32-bit programs.
static __always_inline enum Call CallOf(long id, bool compat)
{
    if (!compat) {
        switch (id) {
        case 0: case 17: return CALL_READ;        // read, pread64
        case 19: case 295: case 327: return CALL_READV;  // readv, preadv, preadv2
        case 1: case 18: return CALL_WRITE;       // write, pwrite64
        case 20: case 296: case 328: return CALL_WRITEV;
        case 16: return CALL_IOCTL;
        case 2: case 257: case 437: return CALL_OPEN;   // open, openat, openat2
        case 32: case 33: case 292: return CALL_DUP;    // dup, dup2, dup3
        case 72: return CALL_FCNTL;
        case 3: return CALL_CLOSE;
        case 436: return CALL_CLOSE_RANGE;
        case 47: return CALL_RECVMSG;
        }
        return CALL_NONE;
    }
    switch (id) {
    case 3: case 180: return CALL_READ;
    case 145: case 333: case 378: return CALL_READV;
    case 4: case 181: return CALL_WRITE;
    case 146: case 334: case 379: return CALL_WRITEV;
    case 54: return CALL_IOCTL;
    case 5: case 295: case 437: return CALL_OPEN;
    case 41: case 63: case 330: return CALL_DUP;
    case 55: case 221: return CALL_FCNTL;  // fcntl, fcntl64
    case 6: return CALL_CLOSE;
    case 436: return CALL_CLOSE_RANGE;
    case 372: return CALL_RECVMSG;
    case 102: return CALL_SOCKETCALL;
    }
    return CALL_NONE;
}

// A system call's arguments, as 64-bit and 32-bit programs pass them.
static __always_inline u64 Argument(struct pt_regs *regs, int which, bool compat)
{
    if (compat) {
        switch (which) {
        case 0: return (u32)regs->bx;
        case 1: return (u32)regs->cx;
        case 2: return (u32)regs->dx;
        }
        return (u32)regs->si;
    }
    switch (which) {
    case 0: return regs->di;
    case 1: return regs->si;
    case 2: return regs->dx;
    }
    return regs->r10;
}

// ---- close_range, fork, exec and exit: over a process's descriptors ----

struct Sweep {
    u32 Process;
    u32 First, Last;  // close_range's range
    u32 Child;        // fork: the new process
    u32 How;
    struct task_struct *Task;  // exec: whose table still holds what stayed open
};

static long CloseInRange(struct bpf_map *map, struct DescriptorKey *key, u32 *device, struct Sweep *sweep)
{
    if (key->Process == sweep->Process && key->Descriptor >= sweep->First && key->Descriptor <= sweep->Last)
        Closed(key->Process, key->Descriptor, *device, sweep->How);
    return 0;
}

static long CopyToChild(struct bpf_map *map, struct DescriptorKey *key, u32 *device, struct Sweep *sweep)
{
    if (key->Process != sweep->Process) return 0;
    struct DescriptorKey child = {sweep->Child, key->Descriptor};
    if (bpf_map_update_elem(&descriptors, &child, device, BPF_NOEXIST) != 0) return 0;
    AddBusy(sweep->Child, 1);
    struct Scratch *s = Fresh(WATCH_OPENED, *device, key->Descriptor, key->Descriptor, WATCH_BY_FORK);
    if (s) {
        s->Header.Process = s->Header.Thread = sweep->Child;
        Send(s, 0, 0);
    }
    return 0;
}

static long CloseGoneOnExec(struct bpf_map *map, struct DescriptorKey *key, u32 *device, struct Sweep *sweep)
{
    if (key->Process != sweep->Process) return 0;
    if (WatchedDeviceOf(sweep->Task, key->Descriptor) != *device) Closed(key->Process, key->Descriptor, *device, WATCH_BY_EXEC);
    return 0;
}

SEC("tp_btf/sched_process_fork")
int BPF_PROG(on_process_fork, struct task_struct *parent, struct task_struct *child)
{
    struct Sweep sweep = {.Process = parent->tgid, .Child = child->tgid};
    if (sweep.Child == sweep.Process || !MayBeBusy(sweep.Process)) return 0;  // a thread shares the table
    bpf_for_each_map_elem(&descriptors, CopyToChild, &sweep, 0);
    return 0;
}

SEC("tp_btf/sched_process_exec")
int BPF_PROG(on_process_exec, struct task_struct *task, pid_t old, struct linux_binprm *binary)
{
    struct Sweep sweep = {.Process = task->tgid, .Task = task};
    if (MayBeBusy(sweep.Process)) bpf_for_each_map_elem(&descriptors, CloseGoneOnExec, &sweep, 0);
    return 0;
}

SEC("tp_btf/sched_process_exit")
int BPF_PROG(on_process_exit, struct task_struct *task, bool groupDead)
{
    struct Sweep sweep = {.Process = task->tgid, .First = 0, .Last = ~0u, .How = WATCH_BY_EXIT};
    if (groupDead && MayBeBusy(sweep.Process)) bpf_for_each_map_elem(&descriptors, CloseInRange, &sweep, 0);
    return 0;
}

// ---- Bytes ------------------------------------------------------------

// Where a copy stands: the call's iovecs (or its one buffer), how far in.
struct Copy {
    struct Pending Call;
    u64 Base, Length;  // the current iovec
    u32 Vector;        // the next iovec to read
    u64 Done;          // bytes of the call copied or counted
    u64 Total;         // what the call moved
    u16 Kind;
};

static __always_inline bool NextVector(struct Copy *copy)
{
    struct Pending *call = &copy->Call;
    if (copy->Vector >= call->Count || copy->Vector >= MOST_IOVECS) return false;
    if (call->Compat) {
        u32 pair[2];
        if (bpf_probe_read_user(pair, sizeof(pair), (void *)(call->Buffer + 8ull * copy->Vector)) != 0) return false;
        copy->Base = pair[0];
        copy->Length = pair[1];
    } else {
        u64 pair[2];
        if (bpf_probe_read_user(pair, sizeof(pair), (void *)(call->Buffer + 16ull * copy->Vector)) != 0) return false;
        copy->Base = pair[0];
        copy->Length = pair[1];
    }
    copy->Vector++;
    return true;
}

// The copy in progress on this CPU. Kept in a map, not on the stack: with
// its state on the stack the verifier follows every turn of the loop with
// exact values, and gives up.
struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 1);
    __type(key, u32);
    __type(value, struct Copy);
} copies SEC(".maps");

// One piece of the call's bytes into the ring; 1 ends the loop.
static long CopyPiece(u32 index, void *unused)
{
    u32 zero = 0;
    struct Copy *copy = bpf_map_lookup_elem(&copies, &zero);
    if (!copy || copy->Done >= copy->Total) return 1;
    if (copy->Length == 0 && !NextVector(copy)) return 1;
    if (copy->Length == 0) return 0;  // an empty iovec: the next turn takes the one after it
    u64 length = copy->Length;
    if (length > copy->Total - copy->Done) length = copy->Total - copy->Done;
    if (length > WATCH_PIECE_BYTES) length = WATCH_PIECE_BYTES;
    u32 bounded = length & (2 * WATCH_PIECE_BYTES - 1);
    struct Scratch *s = Fresh(copy->Kind, copy->Call.Device, copy->Call.Descriptor, copy->Total, 0);
    if (!s) return 1;
    s->Header.Offset = copy->Done;
    if (bpf_probe_read_user(s->Data, bounded, (void *)copy->Base) != 0) CountLost(copy->Call.Device, bounded);
    else Send(s, bounded, bounded);
    copy->Base += length;
    copy->Length -= length;
    copy->Done += length;
    return 0;
}

// shape: the iovecs' count (low 16 bits), the call (next 8) and whether it
// is a 32-bit program's (top 8): a subprogram takes five arguments at most.
__noinline int CopyBytes(u32 device, u32 fd, u64 buffer, u32 shape, s64 result)
{
    u32 count = shape & 0xFFFF, kind = (shape >> 16) & 0xFF, compat = shape >> 24;
    u32 zero = 0;
    struct Copy *copy = bpf_map_lookup_elem(&copies, &zero);
    if (!copy) return 0;
    bool vector = kind == CALL_READV || kind == CALL_WRITEV;
    copy->Kind = kind == CALL_READ || kind == CALL_READV ? WATCH_READ : WATCH_WRITTEN;
    copy->Call.Buffer = buffer;
    copy->Call.Count = count;
    copy->Call.Descriptor = fd;
    copy->Call.Device = device;
    copy->Call.Compat = compat;
    copy->Base = vector ? 0 : buffer;
    copy->Length = vector ? 0 : result;
    copy->Vector = 0;
    copy->Done = 0;
    copy->Total = result > WATCH_CALL_BYTES ? WATCH_CALL_BYTES : result;
    bpf_loop(WATCH_CALL_BYTES / WATCH_PIECE_BYTES + MOST_IOVECS, CopyPiece, 0, 0);
    if ((u64)result > copy->Done) CountLost(device, result - copy->Done);
    return 0;
}

// ---- ioctl ------------------------------------------------------------

#define TCSETS 0x5402
#define TCSETSF 0x5404
#define TCSETS2 0x402C542B
#define TCSETSF2 0x402C542D

static __always_inline u32 ArgumentBytes(u32 request)
{
    switch (request) {
    case 0x5402: case 0x5403: case 0x5404: return 36;  // TCSETS, W, F: a termios
    case 0x402C542B: case 0x402C542C: case 0x402C542D: return 44;  // TCSETS2, W, F: a termios2
    case 0x5415: case 0x5416: case 0x5417: case 0x5418: return 4;  // TIOCMGET, BIS, BIC, SET
    case 0x542F: return 32;  // TIOCSRS485: a serial_rs485's first 32 bytes
    }
    return 0;  // the argument is a number, or nothing
}

static __always_inline bool SetsSettings(u32 request)
{
    return (request >= TCSETS && request <= TCSETSF) || (request >= TCSETS2 && request <= TCSETSF2);
}

__noinline int Ioctl(u32 device, u32 fd, u32 request, u64 buffer, s64 result)
{
    struct Scratch *s = Fresh(WATCH_IOCTL, device, fd, result, request);
    if (!s) return 0;
    __builtin_memset(s->Data, 0, WATCH_IOCTL_PAYLOAD);
    u32 bytes = ArgumentBytes(request);
    if (bytes == 4) bpf_probe_read_user(s->Data, 4, (void *)buffer);
    else if (bytes == 32) bpf_probe_read_user(s->Data, 32, (void *)buffer);
    else if (bytes == 36) bpf_probe_read_user(s->Data, 36, (void *)buffer);
    else if (bytes == 44) bpf_probe_read_user(s->Data, 44, (void *)buffer);
    else __builtin_memcpy(s->Data, &buffer, 8);  // the number itself (TCSBRK, TCFLSH, ...)
    if (SetsSettings(request)) {
        struct task_struct *task = bpf_get_current_task_btf();
        struct fdtable *table = BPF_CORE_READ(task, files, fdt);
        struct file **all = BPF_CORE_READ(table, fd);
        struct file *file = 0;
        if (fd < BPF_CORE_READ(table, max_fds) &&
            bpf_probe_read_kernel(&file, sizeof(file), &all[fd]) == 0 && file) {
            struct tty_file_private *tty = BPF_CORE_READ(file, private_data);
            struct tty_struct *owner = BPF_CORE_READ(tty, tty);
            if (owner) bpf_probe_read_kernel(s->Data + WATCH_IOCTL_KEPT, WATCH_IOCTL_BYTES, &owner->termios);
        }
    }
    Send(s, WATCH_IOCTL_PAYLOAD, 0);
    return 0;
}

// ---- Descriptors that came over a socket ---------------------------------

// One control message of a received message: the descriptors it passes,
// when it passes any. Its length, for the next one's place; 0 ends.
__noinline u32 ReceivedRights(u64 at, u64 end, u32 compat)
{
    u32 header = compat ? 12 : 16;
    if (at + header > end) return 0;
    s32 head[4] = {};  // length (and, for 64-bit, its high half), level, type
    if (bpf_probe_read_user(head, sizeof(head), (void *)at) != 0) return 0;
    u32 length = head[0];
    s32 level = compat ? head[1] : head[2], type = compat ? head[2] : head[3];
    if (length < header || at + length > end) return 0;
    if (level == SOL_SOCKET && type == SCM_RIGHTS) {
        u32 count = (length - header) / 4;
        s32 passed[MOST_PASSED] = {};
        if (bpf_probe_read_user(passed, sizeof(passed), (void *)(at + header)) == 0) {
            for (int i = 0; i < MOST_PASSED; i++) {
                if (i < count) Made(passed[i], WATCH_BY_RECEIVE);
            }
        }
    }
    u32 align = compat ? 4 : 8;
    return (length + align - 1) & ~(align - 1);
}

// The descriptors that a received message passed (SCM_RIGHTS), in any of
// its first control messages (SCM_CREDENTIALS may come first).
__noinline int Received(u64 message, u32 compat)
{
    u64 control = 0, size = 0;
    if (compat) {
        u32 fields[2];
        if (bpf_probe_read_user(fields, sizeof(fields), (void *)(message + 16)) != 0) return 0;
        control = fields[0];
        size = fields[1];
    } else {
        u64 fields[2];
        if (bpf_probe_read_user(fields, sizeof(fields), (void *)(message + 32)) != 0) return 0;
        control = fields[0];
        size = fields[1];
    }
    if (!control) return 0;
    u64 at = control, end = control + size;
    for (int i = 0; i < 4; i++) {
        u32 length = ReceivedRights(at, end, compat);
        if (!length) break;
        at += length;
    }
    return 0;
}

// ---- The system calls -----------------------------------------------------

static __always_inline void Save(struct Pending *call)
{
    u32 thread = (u32)bpf_get_current_pid_tgid();
    bpf_map_update_elem(&pending, &thread, call, BPF_ANY);
}

// A read, write or ioctl on a watched descriptor: what its exit needs.
static __always_inline void EnterData(struct pt_regs *regs, enum Call kind, bool compat)
{
    u32 process = bpf_get_current_pid_tgid() >> 32;
    if (!MayBeBusy(process)) return;
    struct DescriptorKey key = {process, (u32)Argument(regs, 0, compat)};
    u32 *device = bpf_map_lookup_elem(&descriptors, &key);
    if (!device) return;
    struct Pending call = {.Buffer = Argument(regs, 1, compat), .Count = (u32)Argument(regs, 2, compat),
                           .Descriptor = key.Descriptor, .Device = *device, .Call = kind, .Compat = compat};
    if (kind == CALL_IOCTL) {
        call.Request = (u32)Argument(regs, 1, compat);
        call.Buffer = Argument(regs, 2, compat);
    }
    Save(&call);
}

static __always_inline void EnterSocketCall(struct pt_regs *regs)
{
    if (Argument(regs, 0, true) != SYS_RECVMSG) return;
    u32 arguments[2];
    if (bpf_probe_read_user(arguments, sizeof(arguments), (void *)Argument(regs, 1, true)) != 0) return;
    struct Pending call = {.Buffer = arguments[1], .Call = CALL_RECVMSG, .Compat = 1};
    Save(&call);
}

SEC("tp_btf/sys_enter")
int BPF_PROG(on_syscall_enter, struct pt_regs *regs, long id)
{
    bool compat = IsCompat();
    enum Call kind = CallOf(id, compat);
    switch (kind) {
    case CALL_NONE: return 0;
    case CALL_READ: case CALL_READV: case CALL_WRITE: case CALL_WRITEV: case CALL_IOCTL:
        EnterData(regs, kind, compat);
        return 0;
    case CALL_CLOSE: {
        u32 process = bpf_get_current_pid_tgid() >> 32;
        if (!MayBeBusy(process)) return 0;
        struct DescriptorKey key = {process, (u32)Argument(regs, 0, compat)};
        u32 *device = bpf_map_lookup_elem(&descriptors, &key);
        if (device) Closed(process, key.Descriptor, *device, WATCH_BY_CLOSE);
        return 0;
    }
    case CALL_CLOSE_RANGE: {
        struct Sweep sweep = {.Process = bpf_get_current_pid_tgid() >> 32, .First = (u32)Argument(regs, 0, compat),
                              .Last = (u32)Argument(regs, 1, compat), .How = WATCH_BY_CLOSE};
        if (!(Argument(regs, 2, compat) & CLOSE_RANGE_CLOEXEC) && MayBeBusy(sweep.Process))
            bpf_for_each_map_elem(&descriptors, CloseInRange, &sweep, 0);
        return 0;
    }
    case CALL_SOCKETCALL: EnterSocketCall(regs); return 0;
    case CALL_FCNTL: case CALL_RECVMSG: {
        // Their exit needs to know that the fcntl dups, and where the message lies.
        struct Pending call = {.Buffer = Argument(regs, 1, compat), .Call = kind, .Compat = compat};
        u64 command = Argument(regs, 1, compat);
        if (kind == CALL_FCNTL && command != F_DUPFD && command != F_DUPFD_CLOEXEC) return 0;
        Save(&call);
        return 0;
    }
    default: return 0;  // opens and dups: their exit looks at what they made
    }
}

SEC("tp_btf/sys_exit")
int BPF_PROG(on_syscall_exit, struct pt_regs *regs, long result)
{
    u32 thread = (u32)bpf_get_current_pid_tgid();
    bool compat = IsCompat();
    enum Call kind = CallOf(regs->orig_ax, compat);
    if (kind == CALL_NONE || kind == CALL_CLOSE || kind == CALL_CLOSE_RANGE) return 0;
    if (kind == CALL_OPEN) {
        Made(result, WATCH_BY_OPEN);
        return 0;
    }
    if (kind == CALL_DUP) {
        Made(result, WATCH_BY_DUP);
        return 0;
    }
    if ((kind == CALL_READ || kind == CALL_READV || kind == CALL_WRITE || kind == CALL_WRITEV || kind == CALL_IOCTL) &&
        !MayBeBusy(bpf_get_current_pid_tgid() >> 32))
        return 0;
    struct Pending *call = bpf_map_lookup_elem(&pending, &thread);
    if (!call) return 0;
    struct Pending copy = *call;
    bpf_map_delete_elem(&pending, &thread);
    switch (copy.Call) {
    case CALL_READ: case CALL_WRITE: case CALL_READV: case CALL_WRITEV:
        if (result > 0) {
            u32 count = copy.Count > 0xFFFF ? 0xFFFF : copy.Count;
            CopyBytes(copy.Device, copy.Descriptor, copy.Buffer, count | copy.Call << 16 | (u32)copy.Compat << 24, result);
        } else if (result < 0 && result != -EAGAIN) {
            struct Scratch *s = Fresh(WATCH_FAILED, copy.Device, copy.Descriptor, result,
                                      copy.Call == CALL_WRITE || copy.Call == CALL_WRITEV);
            if (s) Send(s, 0, 0);
        }
        return 0;
    case CALL_IOCTL: Ioctl(copy.Device, copy.Descriptor, copy.Request, copy.Buffer, result); return 0;
    case CALL_FCNTL: Made(result, WATCH_BY_DUP); return 0;
    case CALL_RECVMSG: if (result >= 0) Received(copy.Buffer, copy.Compat); return 0;
    }
    return 0;
}
