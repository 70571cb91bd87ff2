#include "support/instance_count.h"

#include "driver/driver_services.h"

namespace testsupport {
namespace {

const char kCounterName[] = "QuorvelAccessCount";

}  // namespace

LONG InstanceCount() {
    HANDLE counter = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, kCounterName);
    if (!counter) return 0;
    LONG previous = 0;
    ReleaseSemaphore(counter, 1, &previous);
    WaitForSingleObject(counter, 0);
    CloseHandle(counter);
    return previous;
}

void ResetInstanceCount() {
    quorvel::InstanceCounted = false;
    HANDLE counter = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, kCounterName);
    if (!counter) return;
    while (WaitForSingleObject(counter, 0) == WAIT_OBJECT_0) {
    }
    CloseHandle(counter);
}

}  // namespace testsupport
