/* What the watch's BPF programs tell quorvel-watch: one record per call of
 * interest on a watched device, through a BPF ring buffer. Shared by the
 * BPF side (C, as its compiler requires) and the program (C++): a packed
 * little-endian layout whose size and offsets both sides check.
 *
 * Times are the kernel's CLOCK_MONOTONIC in nanoseconds. A device is the
 * kernel's own number for it (major << 20 | minor), not the C library's
 * dev_t. */
#ifndef QUORVEL_WATCH_RECORDS_H
#define QUORVEL_WATCH_RECORDS_H

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#define WATCH_ASSERT(what) static_assert(what, #what)
namespace watchwire {
#else
#define WATCH_ASSERT(what) _Static_assert(what, #what)
#endif

#define WATCH_PIECE_BYTES 4096        /* the most bytes one data record carries */
#define WATCH_CALL_BYTES (64 * 1024)  /* the most bytes of one call copied; the rest is counted lost */
#define WATCH_IOCTL_BYTES 44          /* an ioctl's argument as copied: a termios2 at most */

enum WatchKind {
    WATCH_OPENED = 1,  /* a descriptor of the device came to a process; Request says how */
    WATCH_CLOSED = 2,  /* one went; Request says how */
    WATCH_WRITTEN = 3, /* bytes written to the device (TX); Result is the call's count, Offset where the piece lies in it */
    WATCH_READ = 4,    /* bytes read from it (RX), as WATCH_WRITTEN */
    WATCH_FAILED = 5,  /* a read or write that failed; Request 0 read, 1 write; Result the negative error */
    WATCH_IOCTL = 6,   /* an ioctl, at its exit: the argument as asked, then (settings) what the driver kept */
};

/* How a descriptor came (WATCH_OPENED) or went (WATCH_CLOSED). */
enum WatchHow {
    WATCH_BY_OPEN = 1,
    WATCH_BY_DUP = 2,
    WATCH_BY_FORK = 3,     /* a new process inherited it */
    WATCH_BY_RECEIVE = 4,  /* it came over a socket (SCM_RIGHTS) */
    WATCH_BY_CLOSE = 5,
    WATCH_BY_EXEC = 6,     /* closed on exec */
    WATCH_BY_EXIT = 7,     /* the process ended */
    WATCH_BY_REPLACE = 8,  /* another file took its number (dup2, open) */
};

/* The ioctl record's payload: the argument as the program passed it (and,
 * for TIOCMGET and the like, as the call left it), then for a settings
 * change the settings the driver kept (a ktermios: termios2's layout). */
#define WATCH_IOCTL_KEPT WATCH_IOCTL_BYTES
#define WATCH_IOCTL_PAYLOAD (2 * WATCH_IOCTL_BYTES)

#pragma pack(push, 1)
struct WatchRecord {
    uint64_t Nanoseconds; /* CLOCK_MONOTONIC at the call's exit (a close's entry) */
    uint32_t Process;     /* tgid */
    uint32_t Thread;      /* tid */
    uint32_t Device;      /* the kernel's device number */
    int32_t Descriptor;
    int64_t Result;       /* what the call returned: a count, 0, or a negative error */
    uint32_t Request;     /* ioctl: its request; opened and closed: WatchHow */
    uint32_t Offset;      /* data: where these bytes lie in the call's */
    uint16_t Kind;        /* WatchKind */
    uint16_t Length;      /* payload bytes after the record */
    char Program[16];     /* the process's name, as the kernel keeps it */
    uint32_t Reserved;    /* 0 */
};
#pragma pack(pop)

WATCH_ASSERT(sizeof(struct WatchRecord) == 64);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Process) == 8);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Thread) == 12);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Device) == 16);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Descriptor) == 20);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Result) == 24);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Request) == 32);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Offset) == 36);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Kind) == 40);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Length) == 42);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Program) == 44);
WATCH_ASSERT(__builtin_offsetof(struct WatchRecord, Reserved) == 60);

/* What was not seen of a device, counted by the BPF side: bytes (the ring
 * was full, a copy failed, a call was cut at its cap) and other records
 * (the ring was full). */
struct WatchLost {
    uint64_t Bytes;
    uint64_t Records;
};

WATCH_ASSERT(sizeof(struct WatchLost) == 16);

#ifdef __cplusplus
}  /* namespace watchwire */
#endif
#undef WATCH_ASSERT
#endif
