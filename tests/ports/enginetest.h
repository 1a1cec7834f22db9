// Common set-up of the frame-plumbing tests: a fresh framework environment,
// the platform library's buffer list, and the leak check that every test ends
// with as many heap blocks, host objects and contiguous blocks as it began.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_sim.h"
#include "chipset_sim.h"
#include "cpvlptr.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "plindor.h"

namespace enginetest {

class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(VantorInitBufferManager(), 1); }
  void SetUp() override {
    BoardSetCameraTestMode(false);
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
    hostObjects_ = OrbhostTest_LiveHostObjects();
    pmemBlocks_ = ChipSimPmemBlocks().size();
    breaks_ = OrbhostTest_BreakCount();
  }
  void TearDown() override {
    // Whatever the test made is gone by now (fixture members are released in
    // the test's own scope or by Drop()).
    Drop();
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework heap blocks left behind";
    EXPECT_EQ(OrbhostTest_LiveHostObjects(), hostObjects_) << "host objects left behind";
    EXPECT_EQ(ChipSimPmemBlocks().size(), pmemBlocks_) << "contiguous memory left behind";
    // A buffer released once too often, among other faults, breaks.
    EXPECT_EQ(NewBreaks(), expectedBreaks_) << "assertion breaks";
    BoardSetCameraTestMode(false);
  }
  // Releases what a derived fixture holds, before the leak check.
  virtual void Drop() {}

  uint32_t NewBreaks() const { return OrbhostTest_BreakCount() - breaks_; }
  // A test that provokes assertion breaks on purpose says how many.
  void ExpectBreaks(uint32_t n) { expectedBreaks_ += n; }

  static void CaptureBegin() { OrbhostTest_MessageCaptureBegin(); }
  static std::vector<std::string> CaptureEnd() {
    std::vector<std::string> lines;
    for (const OrbhostTestMessage& m : OrbhostTest_MessageCaptureEnd()) lines.push_back(m.text);
    return lines;
  }
  static bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& l : lines)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }

  CPvlPtr<IEnv> env;

 private:
  uint32_t blocks_ = 0;
  int32_t hostObjects_ = 0;
  size_t pmemBlocks_ = 0;
  uint32_t breaks_ = 0;
  uint32_t expectedBreaks_ = 0;
};

}  // namespace enginetest
