// The one driver notice for all ports: its text and its blink counter.
//
// A capture thread whose notice wait completes publishes the text and sets
// NoticeBlink to 1; the main thread's timer reads the text and counts the
// blink. The text is copied under a lock both ways, so the main thread never
// sees a torn or unterminated notice.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quorvel {

constexpr uint32_t kNoticeSize = 400;

// The latest notice, zero-terminated within its 400 bytes. Written by capture
// threads (PublishNotice), read by the main thread (CopyNoticeText).
extern char NoticeText[kNoticeSize];
// 0: no notice; 1 to 64: blinking; 65 and more: done. Set by capture threads
// with InterlockedExchange, advanced by the main thread with
// InterlockedIncrement.
extern volatile LONG NoticeBlink;

// Copies a notice received from the driver into target (kNoticeSize bytes):
// up to its first zero, never beyond its size, always terminated.
void PublishNotice(char* target, const char* received, uint32_t size);

// The current notice, up to its first zero and at most 399 characters,
// terminated; copy has room for kNoticeSize bytes.
void CopyNoticeText(char* copy);

}  // namespace quorvel
