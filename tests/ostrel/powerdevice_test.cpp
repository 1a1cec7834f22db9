// The power device as the power manager uses it: capabilities, state queries, and
// D4/D0 acting on the engine only while a client has the camera open.
#include "ostrel_fixture.h"

namespace ostrel_test {
namespace {

class PowerTest : public DriverTest {
 protected:
  DWORD Power(DWORD code, void* out, DWORD outLength, DWORD* returned = nullptr) {
    DWORD bytes = 0;
    SetLastError(0);
    BOOL ok = DevMgrPowerIoControl(u"CPM1:", code, nullptr, 0, out, outLength, &bytes);
    if (returned) *returned = bytes;
    return ok ? DWORD(ERROR_SUCCESS) : GetLastError();
  }
  DWORD SetState(DWORD state) { return Power(IOCTL_POWER_SET, &state, sizeof state); }
  DWORD GetState() {
    DWORD state = 0xFF;
    EXPECT_EQ(Power(IOCTL_POWER_GET, &state, sizeof state), ERROR_SUCCESS);
    return state;
  }
};

TEST_F(PowerTest, CapabilitiesAreD0AndD4) {
  Load();
  CS_POWER_CAPABILITIES caps{};
  DWORD returned = 0;
  ASSERT_EQ(Power(IOCTL_POWER_CAPABILITIES, &caps, sizeof caps, &returned), ERROR_SUCCESS);
  EXPECT_EQ(caps.DeviceDx, 0x11);
  EXPECT_EQ(returned, sizeof caps);
  EXPECT_EQ(Power(IOCTL_POWER_CAPABILITIES, &caps, sizeof caps - 1), CS_E_FAIL);
}

TEST_F(PowerTest, QueriesCheckTheStateTheyCarry) {
  Load();
  EXPECT_EQ(GetState(), 0u) << "D0 before any set";
  DWORD state = 4;
  EXPECT_EQ(Power(IOCTL_POWER_QUERY, &state, sizeof state), ERROR_SUCCESS);
  state = 5;
  EXPECT_EQ(Power(IOCTL_POWER_QUERY, &state, sizeof state), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Power(IOCTL_POWER_GET, &state, 3), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Power(0x00321010, &state, sizeof state), DWORD(ERROR_NOT_SUPPORTED));
}

TEST_F(PowerTest, WithoutAClientNothingIsPowered) {
  Load();
  EXPECT_EQ(SetState(4), ERROR_SUCCESS);
  EXPECT_EQ(GetState(), 0u) << "the stored state is unchanged";
  EXPECT_TRUE(FakeCameraEngine::Calls().empty());
}

TEST_F(PowerTest, SuspendAndResumeTheOpenCamera) {
  LoadAndOpen();
  FakeCameraEngine::ClearCalls();
  EXPECT_EQ(SetState(4), ERROR_SUCCESS);
  EXPECT_EQ(SetState(4), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::Calls(), (std::vector<std::string>{"Stop", "Suspend"})) << "suspended once";
  EXPECT_EQ(GetState(), 4u);
  FakeCameraEngine::ClearCalls();
  EXPECT_EQ(SetState(0), ERROR_SUCCESS);
  // No video ran before the suspend: resuming does not start the engine's video.
  EXPECT_EQ(FakeCameraEngine::Calls(), (std::vector<std::string>{"Resume"}));
  EXPECT_EQ(GetState(), 0u);
}

TEST_F(PowerTest, IntermediateStatesAreNotSupported) {
  LoadAndOpen();
  for (DWORD state : {1u, 2u, 3u}) EXPECT_EQ(SetState(state), DWORD(ERROR_NOT_SUPPORTED)) << state;
  EXPECT_EQ(SetState(7), CS_E_FAIL);
  DWORD state = 4;
  EXPECT_EQ(Power(IOCTL_POWER_SET, &state, 3), CS_E_FAIL) << "a state needs four bytes";
  EXPECT_EQ(GetState(), 0u);
}

TEST_F(PowerTest, ClosingWhileSuspendedLeavesTheNextOpenAtD0) {
  LoadAndOpen();
  ASSERT_EQ(SetState(4), ERROR_SUCCESS);
  ASSERT_EQ(camera_.Close(), ERROR_SUCCESS);
  EXPECT_EQ(GetState(), 0u) << "the closed camera is at D0 again, as the next open finds it";
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  EXPECT_EQ(GetState(), 0u) << "what the power manager reads is what streams";
  FakeCameraEngine::ClearCalls();
  EXPECT_EQ(SetState(4), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::Calls(), (std::vector<std::string>{"Stop", "Suspend"}));
}

}  // namespace
}  // namespace ostrel_test
