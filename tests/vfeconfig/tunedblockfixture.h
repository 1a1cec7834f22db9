// The fixture of the tuned blocks' golden tables: the recording service and
// settings double of the block tests, with a tuning double in place of the
// sensor's table so that each case sets exactly the values it needs; and
// readers of little-endian payload fields by byte offset.
#pragma once

#include <cstring>
#include <vector>

#include "blocktuningdouble.h"
#include "vfeconfigfixture.h"

namespace vfeconfigtest {

inline uint16_t U16At(const void* payload, size_t offset) {
  const uint8_t* p = static_cast<const uint8_t*>(payload) + offset;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline int16_t S16At(const void* payload, size_t offset) { return static_cast<int16_t>(U16At(payload, offset)); }
inline uint8_t U8At(const void* payload, size_t offset) { return static_cast<const uint8_t*>(payload)[offset]; }
inline int8_t S8At(const void* payload, size_t offset) { return static_cast<int8_t>(U8At(payload, offset)); }

class TunedBlockFixture : public VfeBlockFixture {
 protected:
  void SetUpTuned() {
    SetUpBlocks();
    tuning_double_.Install();
  }
  void TearDownTuned() {
    tuning_double_.Uninstall();
    TearDownBlocks();
  }
  const SentCommand* Sent(int32_t command) const {
    for (const SentCommand& c : service_->sent)
      if (c.command == command) return &c;
    return nullptr;
  }
  BlockTuningDouble tuning_double_;
};

class TunedBlockTest : public ::testing::Test, public TunedBlockFixture {
 protected:
  void SetUp() override { SetUpTuned(); }
  void TearDown() override { TearDownTuned(); }
};

template <class Case>
class TunedBlockTableTest : public ::testing::TestWithParam<Case>, public TunedBlockFixture {
 protected:
  void SetUp() override { this->SetUpTuned(); }
  void TearDown() override { this->TearDownTuned(); }
};

}  // namespace vfeconfigtest
