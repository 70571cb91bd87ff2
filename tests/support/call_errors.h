// A call that must fail, and the error it must fail with, as one check:
// EXPECT_TRUE(FailsWith(call, ERROR_X)). The call's result is taken before the
// last error is read, so the error is the call's own; a call that succeeds
// instead is reported as such, not as some stale error.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

namespace testsupport {

inline testing::AssertionResult ErrorIs(bool failed, DWORD expected) {
    if (!failed) return testing::AssertionFailure() << "succeeded; expected error " << expected;
    DWORD error = GetLastError();
    if (error == expected) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "failed with error " << error << "; expected " << expected;
}

// FALSE, a null service handle, or a file handle that is INVALID_HANDLE_VALUE.
inline testing::AssertionResult FailsWith(BOOL result, DWORD expected) { return ErrorIs(!result, expected); }
inline testing::AssertionResult FailsWith(SC_HANDLE result, DWORD expected) {
    return ErrorIs(result == nullptr, expected);
}
inline testing::AssertionResult FailsWith(HANDLE result, DWORD expected) {
    return ErrorIs(result == INVALID_HANDLE_VALUE, expected);
}

}  // namespace testsupport
