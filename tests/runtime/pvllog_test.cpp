// CameraDebugLog, the assertion break and the exception type.
#include <gtest/gtest.h>

#include <string>

#include "fakehost.h"
#include "pvllog.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { runtime_test::ResetHost(); }
};

TEST_F(LogTest, LongMessagesAreCutTo127Characters) {
  const std::string text(200, 'm');
  const CameraLogRecord record = {CAMERA_LOG_NOTABLE, "mm\\camera\\x.cpp", 12};
  CameraDebugLog(&record, "%s", text.c_str());
  const auto debug = runtime_test::DebugLines();
  const auto diag = runtime_test::DiagLines();
  ASSERT_EQ(debug.size(), 1u);
  ASSERT_EQ(diag.size(), 1u);
  EXPECT_EQ(debug[0].text, std::string(127, 'm'));
  EXPECT_EQ(diag[0].text, std::string(127, 'm'));
}

TEST_F(LogTest, NamesLevelsAndLines) {
  struct Case {
    const char* path;
    const char* debugName;
    const char* diagName;
  } cases[] = {
      {"mm\\camera\\srckit\\engine\\src\\ccameraengine", "ccameraengine", "mm\\camera\\srckit\\engine\\src\\ccameraengine"},
      {"core/sdk\\pvl/x.cpp", "pvl/x.cpp", "x.cpp"},
      {"plain.cpp", "plain.cpp", "plain.cpp"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "path \"" << c.path << "\"");
    runtime_test::ResetHost();
    const CameraLogRecord record = {CAMERA_LOG_ERROR, c.path, 321};
    CameraDebugLog(&record, "value %d", 5);
    const auto debug = runtime_test::DebugLines();
    const auto diag = runtime_test::DiagLines();
    ASSERT_EQ(debug.size(), 1u) << c.path;
    ASSERT_EQ(diag.size(), 1u) << c.path;
    EXPECT_EQ(debug[0].text, "value 5");
    EXPECT_EQ(debug[0].level, CAMERA_LOG_ERROR);
    EXPECT_EQ(debug[0].file, c.debugName);
    EXPECT_EQ(debug[0].line, 321);
    EXPECT_EQ(diag[0].name, c.diagName);
    EXPECT_EQ(diag[0].line, 321u);
    EXPECT_EQ(diag[0].mask, 4u);  // whatever the level
  }
}

TEST_F(LogTest, NothingWithoutAFormatOrRecord) {
  const CameraLogRecord record = {CAMERA_LOG_INFO, "a.cpp", 1};
  CameraDebugLog(&record, nullptr);
  CameraDebugLog(nullptr, "text");
  EXPECT_TRUE(runtime_test::DebugLines().empty());
  EXPECT_TRUE(runtime_test::DiagLines().empty());
}

TEST_F(LogTest, TheMacroNamesThisSourceFile) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "at %s", "here");
  const auto diag = runtime_test::DiagLines();
  ASSERT_EQ(diag.size(), 1u);
  EXPECT_EQ(diag[0].name, "pvllog_test.cpp");
  EXPECT_EQ(diag[0].text, "at here");
}

TEST_F(LogTest, AssertionBreakReturns) {
  PvlAssertBreak(0x1234);
  EXPECT_EQ(runtime_test::BreakCount(), 1u);
  EXPECT_EQ(runtime_test::LastBreakValue(), 0x1234u);
}

TEST_F(LogTest, ExceptionCarriesItsResult) {
  try {
    throw Camera::CZUEException(PVL_E_BADARG);
  } catch (const Camera::CZUEException& e) {
    EXPECT_EQ(e.GetResult(), PVL_E_BADARG);
  }
}

}  // namespace
