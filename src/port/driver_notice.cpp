#include "port/driver_notice.h"

#include "system/scoped_handles.h"

namespace quorvel {
namespace {

// Guards NoticeText between the capture threads and the main thread.
ProcessLock g_noticeLock;

}  // namespace

char NoticeText[kNoticeSize] = {};
volatile LONG NoticeBlink = 0;

void PublishNotice(char* target, const char* received, uint32_t size) {
    uint32_t limit = size < kNoticeSize ? size : kNoticeSize;
    ScopedLock<ProcessLock> guard(g_noticeLock);
    uint32_t length = 0;
    while (length + 1 < limit && received[length]) {
        target[length] = received[length];
        ++length;
    }
    for (uint32_t i = length; i < kNoticeSize; ++i) target[i] = 0;
}

void CopyNoticeText(char* copy) {
    ScopedLock<ProcessLock> guard(g_noticeLock);
    uint32_t length = 0;
    while (length + 1 < kNoticeSize && NoticeText[length]) {
        copy[length] = NoticeText[length];
        ++length;
    }
    copy[length] = 0;
}

}  // namespace quorvel
