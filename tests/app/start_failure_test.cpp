// A start that fails after the driver has been installed and opened gives
// the driver back: the device is closed, this instance's count taken back,
// and the control driver stopped when no other instance uses it.
#include <windows.h>
#include <gtest/gtest.h>

#include "app/application.h"
#include "driver/control_device.h"
#include "driver/driver_services.h"
#include "wire/request_codes.h"
#include "ui/window_commands.h"
#include "emulator/control/test_control.h"
#include "support/instance_count.h"
#include "support/message_box_equality.h"

namespace {

using namespace quorvel;
namespace control = emu::control;

using testsupport::InstanceCount;

class StartFailure : public testing::Test {
protected:
    void SetUp() override {
        control::ResetServices();
        control::ResetDriver();
        testsupport::ResetInstanceCount();
        AppInstance = GetModuleHandleA(nullptr);
    }
    void TearDown() override {
        control::ResetDriver();
        control::ResetServices();
    }

    void ExpectDriverGivenBack() {
        EXPECT_EQ(ControlDevice, INVALID_HANDLE_VALUE);
        EXPECT_EQ(control::OpenDeviceHandles(), 0u);
        EXPECT_EQ(InstanceCount(), 0);
        auto service = control::GetService("Quorvel");
        EXPECT_EQ(service.StopCount, 1u);
        EXPECT_EQ(service.State, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(AccessLock, nullptr);
    }
};

TEST_F(StartFailure, ARestartRequestShowsItsMessageAfterGivingTheDriverBack) {
    control::InjectFault(IOCTL_LINE_SET_PERSISTENT, {.Error = ERROR_MEDIA_CHANGED});
    HWND window = nullptr;
    bool started = true;
    auto box = testsupport::CaptureMessageBox([&] {
        started = InitializeApplication(SW_SHOWNORMAL, 1, nullptr, &window);
    });
    EXPECT_FALSE(started);
    EXPECT_EQ(box, testsupport::OkBox("Quorvel", "You must restart Windows to run this application.\n",
                                      testsupport::MessageBoxIcon::Error));
    EXPECT_EQ(control::Driver().PersistentFlag, -1) << "the request failed at once";
    ExpectDriverGivenBack();
}

TEST_F(StartFailure, AFailureAfterTheRestartTestGivesTheDriverBackToo) {
    // The window class exists already: the start fails at its registration.
    WNDCLASSA taken = {.lpfnWndProc = DefWindowProcA, .hInstance = AppInstance, .lpszClassName = kMainWindowClass};
    ASSERT_NE(RegisterClassA(&taken), 0);
    HWND window = nullptr;
    EXPECT_FALSE(InitializeApplication(SW_SHOWNORMAL, 0, nullptr, &window));
    UnregisterClassA(kMainWindowClass, AppInstance);
    ExpectDriverGivenBack();
}

}  // namespace
