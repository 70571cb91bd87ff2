#include "port/driver_notice.h"

namespace quorvel {
namespace {

// Guards NoticeText between the capture threads and the main thread.
CRITICAL_SECTION* NoticeLock() {
    static CRITICAL_SECTION* lock = [] {
        auto* section = new CRITICAL_SECTION;
        InitializeCriticalSection(section);
        return section;
    }();
    return lock;
}

}  // namespace

char NoticeText[kNoticeSize] = {};
volatile LONG NoticeBlink = 0;

void PublishNotice(char* target, const char* received, uint32_t size) {
    uint32_t limit = size < kNoticeSize ? size : kNoticeSize;
    EnterCriticalSection(NoticeLock());
    uint32_t length = 0;
    while (length + 1 < limit && received[length]) {
        target[length] = received[length];
        ++length;
    }
    for (uint32_t i = length; i < kNoticeSize; ++i) target[i] = 0;
    LeaveCriticalSection(NoticeLock());
}

void CopyNoticeText(char* copy) {
    EnterCriticalSection(NoticeLock());
    uint32_t length = 0;
    while (length + 1 < kNoticeSize && NoticeText[length]) {
        copy[length] = NoticeText[length];
        ++length;
    }
    copy[length] = 0;
    LeaveCriticalSection(NoticeLock());
}

}  // namespace quorvel
