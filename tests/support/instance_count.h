// The count of running instances ("QuorvelAccessCount"), as another instance
// would read it, and a way back to no instance for tests that run the
// program's start-up several times in one process.
#pragma once

#include <windows.h>

namespace testsupport {

// The current count; 0 while the counter does not exist.
LONG InstanceCount();

// Takes every count back and forgets that this process counted itself.
void ResetInstanceCount();

}  // namespace testsupport
