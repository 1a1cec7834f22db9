// The installer program as the user meets it: silent and interactive runs, the window
// and its menu bar, and the single-instance rule.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "hotfix_fixture.h"
#include "hotfix_package.h"

namespace hotfix_test {
namespace {

using Program = HotfixTest;

std::string FileBytes(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  std::fclose(f);
  return out;
}

TEST_F(Program, SilentRunInstallsWithoutWindowBoxesOrRestart) {
  EXPECT_EQ(Run(u"/silent"), kExitInstalled);
  EXPECT_TRUE(CeSimMessageBoxes().empty());
  EXPECT_TRUE(CeSimDrawnTexts().empty());   // never shown, so never painted
  ASSERT_EQ(CeSimStartedProcesses().size(), 1u);
  EXPECT_EQ(Utf8(CeSimStartedProcesses()[0].application), "\\Windows\\wceload.exe");
  EXPECT_EQ(Utf8(CeSimStartedProcesses()[0].commandLine), "/noui \\Install.cab");
  std::string cabinet;
  ASSERT_TRUE(camera::test::ReadImageFile("Install.cab", &cabinet));
  EXPECT_TRUE(cabinet == FileBytes(kHotfixCabinetPath)) << "\\Install.cab is not the carried cabinet";
  EXPECT_EQ(NeedReboot(), 1);
  EXPECT_TRUE(MarkerExists());
  EXPECT_EQ(Utf8(PackageVersion()), "20091208-00");
  EXPECT_EQ(RebootRequests(), 0u);
  EXPECT_TRUE(CeSimWindows().empty());
}

TEST_F(Program, SilentInsideALongerArgumentStillCounts) {
  EXPECT_EQ(Run(u"-q x/silentx"), kExitInstalled);
  EXPECT_TRUE(CeSimMessageBoxes().empty());
  EXPECT_TRUE(MarkerExists());
}

TEST_F(Program, InteractiveSetupShowsItsStepsAndEndsWithTheRestartRequest) {
  std::vector<CeSimWindowInfo> windowsAtConfirm;
  std::vector<CeSimMenuButton> buttonsAtConfirm;
  size_t rebootsBeforeLastBox = 99;
  CeSimSetMessageBoxAnswer([&](const CeSimMessageBox& box) {
    if (box.caption == u"Installation") {
      windowsAtConfirm = CeSimWindows();
      buttonsAtConfirm = CeSimMenuBarButtons(box.owner);
    }
    if (box.caption == u"Installation Complete") rebootsBeforeLastBox = RebootRequests();
    return IDOK;
  });
  CeSimTapMenuBarButton(IDM_SETUP);
  EXPECT_EQ(Run(u""), kExitInstalled);

  ASSERT_EQ(windowsAtConfirm.size(), 1u);
  EXPECT_EQ(Utf8(windowsAtConfirm[0].className), "HelloApp");
  EXPECT_EQ(Utf8(windowsAtConfirm[0].title), "HotFix Installation");
  EXPECT_TRUE(windowsAtConfirm[0].visible);
  ASSERT_EQ(buttonsAtConfirm.size(), 2u);
  EXPECT_EQ(Utf8(buttonsAtConfirm[0].label), "Setup");
  EXPECT_EQ(Utf8(buttonsAtConfirm[1].label), "Cancel");
  EXPECT_TRUE(buttonsAtConfirm[0].hidden && buttonsAtConfirm[1].hidden) << "buttons stay tappable while installing";

  EXPECT_EQ(Texts(), (std::vector<std::u16string>{u"The installation will now start. Press OK to continue.",
                                                  u"Please tap the OK button to restart your device!"}));
  EXPECT_EQ(Captions(), (std::vector<std::u16string>{u"Installation", u"Installation Complete"}));
  // The window text, with the 31-character progress text whole.
  std::vector<std::u16string> drawn = CeSimDrawnTexts();
  ASSERT_FALSE(drawn.empty());
  EXPECT_EQ(Utf8(drawn.front()), "Tap Setup button to install");
  EXPECT_NE(std::find(drawn.begin(), drawn.end(), u"Installing Hotfix. Please wait."), drawn.end());
  EXPECT_EQ(Utf8(drawn.back()), "Installation Complete");
  EXPECT_EQ(rebootsBeforeLastBox, 0u);
  EXPECT_EQ(RebootRequests(), 1u);
  EXPECT_EQ(NeedReboot(), 1);
  EXPECT_TRUE(MarkerExists());
}

TEST_F(Program, CancelEndsWithoutInstallingAnything) {
  CeSimTapMenuBarButton(IDM_CANCEL);
  EXPECT_EQ(Run(u""), kExitInstalled);
  EXPECT_TRUE(CeSimStartedProcesses().empty());
  EXPECT_FALSE(CabinetWritten());
  EXPECT_FALSE(MarkerExists());
  EXPECT_EQ(NeedReboot(), 0);
  EXPECT_TRUE(CeSimWindows().empty());
}

TEST_F(Program, APendingRestartSurvivesALaterStart) {
  EXPECT_EQ(Run(u"/silent"), kExitInstalled);
  ASSERT_EQ(NeedReboot(), 1);
  CeSimResetShell();
  CeSimTapMenuBarButton(IDM_CANCEL);
  EXPECT_EQ(Run(u""), kExitInstalled);
  EXPECT_EQ(NeedReboot(), 1) << "a start wiped the restart that the silent installation still needs";
}

TEST_F(Program, AFirstStartRecordsThatNoRestartIsNeeded) {
  CeSimTapMenuBarButton(IDM_CANCEL);
  Run(u"");
  EXPECT_EQ(NeedReboot(), 0);
}

// ---- the window cannot be made ---------------------------------------------------------

struct BrokenResourceCase {
  const char* name;
  LPCWSTR type;
  WORD id;
  const char16_t* commandLine;
  int exitCode;
};
void PrintTo(const BrokenResourceCase& c, std::ostream* os) { *os << c.name; }

class BrokenResource : public HotfixTest, public ::testing::WithParamInterface<BrokenResourceCase> {};

TEST_P(BrokenResource, EndsTheProgramBeforeAnythingIsInstalled) {
  const BrokenResourceCase& c = GetParam();
  CeSimRemoveResource(c.type, c.id);
  CeSimTapMenuBarButton(IDM_SETUP);
  EXPECT_EQ(Run(c.commandLine), c.exitCode);
  if (c.exitCode == kExitNotStarted) {
    EXPECT_TRUE(CeSimStartedProcesses().empty());
    EXPECT_FALSE(MarkerExists());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Resources, BrokenResource,
    ::testing::Values(BrokenResourceCase{"NoMenuBar", RT_RCDATA, IDR_MENUBAR, u"", kExitNotStarted},
                      BrokenResourceCase{"NoButtonLabel", RT_STRING, IDS_CANCEL, u"", kExitNotStarted},
                      BrokenResourceCase{"NoWindowText", RT_STRING, IDS_TAP_SETUP, u"", kExitNotStarted},
                      BrokenResourceCase{"NoWindowTextSilent", RT_STRING, IDS_TAP_SETUP, u"/silent",
                                         kExitNotStarted},
                      BrokenResourceCase{"SilentNeedsNoMenuBar", RT_RCDATA, IDR_MENUBAR, u"/silent",
                                         kExitInstalled}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- one instance at a time -------------------------------------------------------------

TEST_F(Program, ASecondStartBringsTheFirstToTheFront) {
  HWND first = CeSimStartOtherInstance(u"HelloApp", u"HelloApp", u"HotFix Installation", 0);
  EXPECT_EQ(Run(u""), kExitNotStarted);
  ASSERT_EQ(CeSimForegroundRequests().size(), 1u);
  EXPECT_EQ(CeSimForegroundRequests()[0].window, first);
  EXPECT_TRUE(CeSimForegroundRequests()[0].withOwnedWindows);
  ASSERT_EQ(CeSimWindows().size(), 1u) << "only the first instance's window may exist";
  EXPECT_TRUE(CeSimWindows()[0].otherProcess);
  EXPECT_TRUE(CeSimStartedProcesses().empty());
}

TEST_F(Program, ASecondSilentStartInstallsNothing) {
  CeSimStartOtherInstance(u"HelloApp", u"HelloApp", u"HotFix Installation", 0);
  EXPECT_EQ(Run(u"/silent"), kExitNotStarted);
  EXPECT_TRUE(CeSimStartedProcesses().empty());
  EXPECT_FALSE(MarkerExists());
}

TEST_F(Program, ASecondStartWaitsForTheFirstWindowToAppear) {
  HWND first = CeSimStartOtherInstance(u"HelloApp", u"HelloApp", u"HotFix Installation", 1);
  EXPECT_EQ(Run(u""), kExitNotStarted);
  ASSERT_EQ(CeSimForegroundRequests().size(), 1u);
  EXPECT_EQ(CeSimForegroundRequests()[0].window, first);
}

TEST_F(Program, ASecondStartGivesUpWhenTheFirstShowsNoWindow) {
  CeSimStartOtherInstance(u"HelloApp", u"HelloApp", u"HotFix Installation", 0xFFFFFFFFu);
  EXPECT_EQ(Run(u""), kExitNotStarted);
  EXPECT_TRUE(CeSimForegroundRequests().empty());
  EXPECT_EQ(CeSimWindows().size(), 1u);
}

TEST_F(Program, TheNextStartRunsOnceTheFirstHasEnded) {
  CeSimStartOtherInstance(u"HelloApp", u"HelloApp", u"HotFix Installation", 0);
  EXPECT_EQ(Run(u"/silent"), kExitNotStarted);
  CeSimEndOtherInstance();
  EXPECT_EQ(Run(u"/silent"), kExitInstalled);
}

}  // namespace
}  // namespace hotfix_test
