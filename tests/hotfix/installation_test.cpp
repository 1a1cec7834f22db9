// The installation's steps and what each failure leaves behind: a failed step is said
// (a box, or a log line when silent), ends the run with a failure code and records
// nothing: no marker key, no pending restart, no package version, no restart.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "hotfix_fixture.h"
#include "hotfix_package.h"

namespace hotfix_test {
namespace {

namespace fs = std::filesystem;
using Installation = HotfixTest;

std::string CabinetBytes() {
  std::string out;
  FILE* f = std::fopen(kHotfixCabinetPath, "rb");
  if (f == nullptr) return out;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  std::fclose(f);
  return out;
}

void UseCabinet(const std::string& bytes) {
  CeSimOverrideResource(u"BIN", IDR_CABINET, bytes.data(), static_cast<DWORD>(bytes.size()));
}

// Files the CAB installer left half-placed in \Windows.
std::vector<std::string> LeftOvers() {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(camera::test::ImagePath("Windows")))
    if (e.path().filename().string().find(".wceload-new") != std::string::npos)
      out.push_back(e.path().filename().string());
  return out;
}

TEST_F(Installation, AnIncompatibleDeviceGetsNothingWritten) {
  CeSimDeviceIdentity id = CeSimDefaultDeviceIdentity();
  id.modelId = "XX990000";
  id.deviceString = u"XX99";
  id.oemInfo = u"Other phone";
  CeSimSetDeviceIdentity(id);
  CeSimTapMenuBarButton(IDM_SETUP);
  EXPECT_EQ(Run(u""), kExitFailed);
  EXPECT_EQ(Texts(), std::vector<std::u16string>{u"This hotfix is not compatible with your device."});
  EXPECT_EQ(Captions(), std::vector<std::u16string>{u"Incorrect Device"});
  EXPECT_FALSE(CabinetWritten());
  EXPECT_TRUE(CeSimStartedProcesses().empty());
  EXPECT_EQ(NeedReboot(), 0);   // the start-up's record only
  EXPECT_FALSE(MarkerExists());
  EXPECT_EQ(Utf8(PackageVersion()), "(absent)");
}

TEST_F(Installation, AnIncompatibleDeviceInASilentRunIsOnlyLogged) {
  CeSimDeviceIdentity id = CeSimDefaultDeviceIdentity();
  id.romVersion = u"1.61.0.0";
  CeSimSetDeviceIdentity(id);
  camera::test::DebugCapture capture;
  EXPECT_EQ(Run(u"/silent"), kExitFailed);
  EXPECT_TRUE(CeSimMessageBoxes().empty());
  EXPECT_TRUE(CeSimDebugCapturedContains("the ROM version 1.61.0.0 is outside 0.0.0.0 to 1.60.0.0"));
  EXPECT_FALSE(CabinetWritten());
  EXPECT_FALSE(MarkerExists());
}

// ---- a step fails -----------------------------------------------------------------------

struct FailedStep {
  const char* name;
  std::function<void()> arrange;
  const char16_t* message;   // the box shown interactively; null: none
  const char* log;           // the log line, also in silent runs
};
void PrintTo(const FailedStep& c, std::ostream* os) { *os << c.name; }

class FailingStep : public HotfixTest, public ::testing::WithParamInterface<FailedStep> {
 protected:
  void ExpectNothingRecorded() {
    EXPECT_FALSE(MarkerExists());
    EXPECT_EQ(NeedReboot(), 0);
    EXPECT_EQ(Utf8(PackageVersion()), "(absent)");
    EXPECT_EQ(RebootRequests(), 0u);
    EXPECT_TRUE(LeftOvers().empty());
  }
};

TEST_P(FailingStep, IsToldToTheUserAndRecordsNothing) {
  GetParam().arrange();
  camera::test::DebugCapture capture;
  CeSimTapMenuBarButton(IDM_SETUP);
  EXPECT_EQ(Run(u""), kExitFailed);
  std::vector<std::u16string> expected{u"The installation will now start. Press OK to continue."};
  if (GetParam().message != nullptr) expected.push_back(GetParam().message);
  EXPECT_EQ(Texts(), expected);
  EXPECT_TRUE(CeSimDebugCapturedContains(GetParam().log)) << "no log line \"" << GetParam().log << "\"";
  ExpectNothingRecorded();
}

TEST_P(FailingStep, IsLoggedInASilentRun) {
  GetParam().arrange();
  camera::test::DebugCapture capture;
  EXPECT_EQ(Run(u"/silent"), kExitFailed);
  EXPECT_TRUE(CeSimMessageBoxes().empty());
  EXPECT_TRUE(CeSimDebugCapturedContains(GetParam().log)) << "no log line \"" << GetParam().log << "\"";
  ExpectNothingRecorded();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FailingStep,
    ::testing::Values(
        FailedStep{"MissingCabinetResource", [] { CeSimRemoveResource(u"BIN", IDR_CABINET); },
                   u"The installation package is missing from this program.", "missing from this program"},
        FailedStep{"EmptyCabinetResource", [] { UseCabinet(""); },
                   u"The installation package is missing from this program.", "missing from this program"},
        FailedStep{"CabinetFileCannotBeCreated",
                   [] { fs::create_directories(camera::test::ImagePath("Install.cab/taken")); },
                   u"Can't write the installation package.", "Can't write the installation package"},
        FailedStep{"CabinetFileWriteFails",
                   [] { fs::create_symlink("/dev/full", camera::test::ImagePath("Install.cab")); },
                   u"Can't write the installation package.", "Can't write the installation package"},
        FailedStep{"CabInstallerMissing", [] { CeSimRegisterProgram(u"wceload.exe", nullptr); }, nullptr,
                   "\\Windows\\wceload.exe cannot be started"},
        FailedStep{"CorruptCabinet", [] { UseCabinet(std::string(4096, '\x5a')); },
                   u"The installation failed (error 2).", "The installation failed (error 2)"},
        FailedStep{"TruncatedCabinet",
                   [] {
                     std::string cab = CabinetBytes();
                     UseCabinet(cab.substr(0, cab.size() / 2));
                   },
                   u"The installation failed (error 2).", "The installation failed (error 2)"},
        FailedStep{"ReadOnlyTargetInWindows",
                   [] {
                     // A folder where a deliverable goes: the file cannot be put there.
                     fs::remove(camera::test::ImagePath("Windows/Corvane.dll"));
                     fs::create_directories(camera::test::ImagePath("Windows/Corvane.dll/taken"));
                   },
                   u"The installation failed (error 4).", "The installation failed (error 4)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Installation, AFailingCabinetChangesNoDeliverable) {
  std::string before;
  ASSERT_TRUE(camera::test::ReadImageFile("Windows/Plindor.dll", &before));
  fs::remove(camera::test::ImagePath("Windows/Calbrook.mif"));
  fs::create_directories(camera::test::ImagePath("Windows/Calbrook.mif/taken"));
  EXPECT_EQ(Run(u"/silent"), kExitFailed);
  std::string after;
  ASSERT_TRUE(camera::test::ReadImageFile("Windows/Plindor.dll", &after));
  EXPECT_TRUE(before == after) << "Plindor.dll was replaced by an installation that failed";
  EXPECT_TRUE(LeftOvers().empty());
}

// ---- after the installation ---------------------------------------------------------------

TEST_F(Installation, AFailedRestartRequestIsReported) {
  CeSimDeviceIdentity id = CeSimDefaultDeviceIdentity();
  id.rebootSucceeds = false;
  CeSimSetDeviceIdentity(id);
  CeSimTapMenuBarButton(IDM_SETUP);
  EXPECT_EQ(Run(u""), kExitFailed);
  ASSERT_FALSE(CeSimMessageBoxes().empty());
  EXPECT_EQ(Utf8(CeSimMessageBoxes().back().text), "Can't reset device!");
  EXPECT_EQ(Utf8(CeSimMessageBoxes().back().caption), "Error");
  EXPECT_EQ(RebootRequests(), 1u);
  EXPECT_EQ(NeedReboot(), 1);   // installed: the restart is still owed
  EXPECT_TRUE(MarkerExists());
}

TEST_F(Installation, WithTheRebootSwitchOffItOnlySaysComplete) {
  g_rebootSwitch = 0;
  CeSimTapMenuBarButton(IDM_SETUP);
  EXPECT_EQ(Run(u""), kExitInstalled);
  EXPECT_EQ(Texts(), (std::vector<std::u16string>{u"The installation will now start. Press OK to continue.",
                                                  u"Installation complete!"}));
  EXPECT_EQ(RebootRequests(), 0u);
  EXPECT_EQ(NeedReboot(), 0);
  EXPECT_TRUE(MarkerExists());
}

TEST_F(Installation, TheServiceStopSwitchStopsOnlyTheService) {
  g_serviceStopSwitch = 1;
  DWORD service = CeSimAddRunningProcess(u"VantorIMSSvc.exe");
  DWORD other = CeSimAddRunningProcess(u"tmail.exe");
  EXPECT_EQ(Run(u"/silent"), kExitInstalled);
  DWORD code = 0;
  EXPECT_TRUE(CeSimProcessExitCode(service, &code));
  EXPECT_EQ(code, STILL_ACTIVE);   // ended with the exit code it reported while running
  EXPECT_FALSE(CeSimProcessExitCode(other, &code));
}

TEST_F(Installation, TheShippedProgramLeavesTheServiceAlone) {
  DWORD service = CeSimAddRunningProcess(u"VantorIMSSvc.exe");
  EXPECT_EQ(Run(u"/silent"), kExitInstalled);
  EXPECT_FALSE(CeSimProcessExitCode(service, nullptr));
}

}  // namespace
}  // namespace hotfix_test
