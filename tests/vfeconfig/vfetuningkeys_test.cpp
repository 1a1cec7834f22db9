// The "VFE" tuning keys: all 86 registered in the blocks' order over their
// payloads and switches, each key reaching the payload byte it names, the
// switches taking value and changed marker from one 16-bit write, and the
// flag words the tool sees.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cruntimetuning.h"
#include "vfeconfigfixture.h"
#include "vfetuningkeys.h"

namespace vfeconfigtest {
namespace {

// Every block with keys, over scratch payload records.
struct Payloads {
  VfeAsfCmd asf{};
  VfeBlackLevelCmd blackLevel{};
  VfeChannelGainCmd channelGain{};
  VfeChromaSuppCmd chromaSupp{};
  VfeColorConvCmd colorConv{};
  VfeColorCorrCmd colorCorr{};
  VfeDemosaicCmd demosaic{};
  VfeGammaCmd gamma{};
  VfeRolloffCmd rolloff{};
  VfeAfStatsCmd afStats{};
  VfeAwbExtStatsCmd awbExt{};
  VfeWhiteBalanceCmd whiteBalance{};
  VfeLumaAdaptationCmd luma{};
  CTuningFlag enable[13];
  CTuningFlag control[13];
};

class VfeTuningKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    ASSERT_EQ(PVL_OK, CRuntimeTuning::New(env_.Get(), &registry_));
    p_ = new Payloads();
    struct Block {
      VfeKeyBlock block;
      void* payload;
      uint32_t size;
    } blocks[] = {
        {VfeKeyBlock::ASF, &p_->asf, sizeof p_->asf},
        {VfeKeyBlock::BlackLevel, &p_->blackLevel, sizeof p_->blackLevel},
        {VfeKeyBlock::ChannelGain, &p_->channelGain, sizeof p_->channelGain},
        {VfeKeyBlock::ChromaSupp, &p_->chromaSupp, sizeof p_->chromaSupp},
        {VfeKeyBlock::ColorConv, &p_->colorConv, sizeof p_->colorConv},
        {VfeKeyBlock::ColorCorr, &p_->colorCorr, sizeof p_->colorCorr},
        {VfeKeyBlock::Demosaic, &p_->demosaic, sizeof p_->demosaic},
        {VfeKeyBlock::Gamma, &p_->gamma, sizeof p_->gamma},
        {VfeKeyBlock::Rolloff, &p_->rolloff, sizeof p_->rolloff},
        {VfeKeyBlock::AFStats, &p_->afStats, sizeof p_->afStats},
        {VfeKeyBlock::AWBExtStats, &p_->awbExt, sizeof p_->awbExt},
        {VfeKeyBlock::WhiteBalance, &p_->whiteBalance, sizeof p_->whiteBalance},
        {VfeKeyBlock::LumaAdaptation, &p_->luma, sizeof p_->luma},
    };
    int i = 0;
    for (const Block& b : blocks) {
      VfeTuningKeys_Register(registry_, b.block, b.payload, b.size, &p_->enable[i], &p_->control[i]);
      ++i;
    }
  }
  void TearDown() override {
    registry_->Release();
    delete p_;
    env_.Reset();
  }
  uint16_t IndexOf(const std::string& name) {
    for (uint16_t i = 0; i < registry_->ItemCount(); ++i)
      if (Name(i) == name) return i;
    ADD_FAILURE() << name << " not registered";
    return 0xFFFF;
  }
  std::string Name(uint16_t item) {
    char name[64] = {};
    uint32_t length = 0, flags = 0;
    uint16_t count = 0;
    EXPECT_EQ(PVL_OK, registry_->Face()->GetItemInfo(item, name, sizeof name, &length, &count, &flags));
    return name;
  }
  PvlResult Write(const std::string& name, uint16_t element, const char* text) {
    return registry_->Face()->SetValue(IndexOf(name), element, text);
  }

  CPvlPtr<IEnv> env_;
  CRuntimeTuning* registry_ = nullptr;
  Payloads* p_ = nullptr;
};

TEST_F(VfeTuningKeysTest, AllEightySixAreListedInTheBlocksOrder) {
  ASSERT_EQ(86, registry_->ItemCount());
  EXPECT_EQ("ASF-Enable", Name(0));
  EXPECT_EQ("LumaAdaptation-ControlEnable", Name(85));
  for (uint16_t i = 0; i < 86; ++i) EXPECT_EQ(kVfeTuningKeys[i].name, Name(i)) << "item " << i;
}

struct WriteCase {
  const char* name;
  const char* key;
  uint16_t element;
  const char* text;
  size_t (*where)(const Payloads&);  // the byte the write must reach, from the payloads' start
  std::vector<uint8_t> bytes;
};
class VfeTuningKeyWriteTest : public VfeTuningKeysTest, public ::testing::WithParamInterface<WriteCase> {};

template <class Record>
size_t At(const Payloads& p, const Record& record, size_t offset) {
  return static_cast<size_t>(reinterpret_cast<const uint8_t*>(&record) - reinterpret_cast<const uint8_t*>(&p)) +
         offset;
}

TEST_P(VfeTuningKeyWriteTest, ReachesItsPayloadBytes) {
  const WriteCase& c = GetParam();
  Payloads before;
  memcpy(&before, p_, sizeof before);
  ASSERT_EQ(PVL_OK, Write(c.key, c.element, c.text));
  const uint8_t* now = reinterpret_cast<const uint8_t*>(p_);
  const uint8_t* then = reinterpret_cast<const uint8_t*>(&before);
  const size_t first = c.where(*p_);
  for (size_t i = 0; i < c.bytes.size(); ++i) EXPECT_EQ(c.bytes[i], now[first + i]) << "byte " << i;
  for (size_t i = 0; i < sizeof(Payloads); ++i) {
    if (i < first || i >= first + c.bytes.size()) {
      ASSERT_EQ(then[i], now[i]) << "stray write at " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, VfeTuningKeyWriteTest,
    ::testing::Values(
        WriteCase{"ChromaMm1IsByte6", "ChromaSupp-mm1", 0, "33",
                  [](const Payloads& p) { return At(p, p.chromaSupp, 6); }, {33}},
        WriteCase{"ChromaNn1IsByte5", "ChromaSupp-nn1", 0, "44",
                  [](const Payloads& p) { return At(p, p.chromaSupp, 5); }, {44}},
        WriteCase{"AsfFilter1Element8IsByte21", "ASF-SettingCurrentFilter1Coefficients", 8, "-3",
                  [](const Payloads& p) { return At(p, p.asf, 21); }, {0xFD}},
        WriteCase{"AsfFilter2Element0IsByte22", "ASF-SettingCurrentFilter2Coefficients", 0, "7",
                  [](const Payloads& p) { return At(p, p.asf, 22); }, {7}},
        WriteCase{"AsfSurroundIsByte4", "ASF-SettingCurrentSmoothCoefSurr", 0, "5",
                  [](const Payloads& p) { return At(p, p.asf, 4); }, {5}},
        WriteCase{"AwbGreenIsTheLastWord", "AWB-gGain", 0, "300",
                  [](const Payloads& p) { return At(p, p.whiteBalance, 6); }, {0x2C, 0x01}},
        WriteCase{"AwbBlueIsTheWordBefore", "AWB-bGain", 0, "258",
                  [](const Payloads& p) { return At(p, p.whiteBalance, 4); }, {0x02, 0x01}},
        WriteCase{"AbfLowPassThresholdIsWord6", "ABF-lpThreshold", 0, "1000",
                  [](const Payloads& p) { return At(p, p.demosaic, 6); }, {0xE8, 0x03}},
        WriteCase{"AbfRatioIsByte12", "ABF-ratio", 0, "9", [](const Payloads& p) { return At(p, p.demosaic, 12); },
                  {9}},
        WriteCase{"ColorConvYOffsetIsByte28", "ColorConv-Current-Yoffset", 0, "16",
                  [](const Payloads& p) { return At(p, p.colorConv, 28); }, {16}},
        WriteCase{"GammaEnable257TurnsOnAndMarks", "Gamma-Enable", 0, "257",
                  [](const Payloads& p) {
                    return static_cast<size_t>(reinterpret_cast<const uint8_t*>(&p.enable[7]) -
                                               reinterpret_cast<const uint8_t*>(&p));
                  },
                  {1, 1}},
        WriteCase{"RolloffControl256TurnsOffAndMarks", "Rolloff-ControlEnable", 0, "256",
                  [](const Payloads& p) {
                    return static_cast<size_t>(reinterpret_cast<const uint8_t*>(&p.control[8]) -
                                               reinterpret_cast<const uint8_t*>(&p));
                  },
                  {0, 1}}),
    CaseName<WriteCase>);

TEST_F(VfeTuningKeysTest, AWriteOf1SetsTheValueWithoutAMark) {
  p_->enable[7] = CTuningFlag(0);
  ASSERT_EQ(PVL_OK, Write("Gamma-Enable", 0, "1"));
  EXPECT_EQ(1, p_->enable[7].value);
  EXPECT_EQ(0, p_->enable[7].changed);
}

TEST_F(VfeTuningKeysTest, FlagWordsCountsAndTypes) {
  for (uint16_t i = 0; i < 86; ++i) {
    char name[64];
    uint32_t length = 0, flags = 0;
    uint16_t count = 0;
    ASSERT_EQ(PVL_OK, registry_->Face()->GetItemInfo(i, name, sizeof name, &length, &count, &flags));
    const VfeTuningKey& key = kVfeTuningKeys[i];
    const bool isSwitch = key.field != VfeKeyField::Payload;
    // Switches say 0 except the filter's; payload fields 1.
    EXPECT_EQ(isSwitch && key.block != VfeKeyBlock::ASF ? 0u : 1u, flags) << name;
    EXPECT_EQ(std::string(name).find("Coefficients") != std::string::npos ? 9 : 1, count) << name;
    EXPECT_EQ(isSwitch ? TUNING_TYPE_U16 : key.type, registry_->Item(i)->type) << name;
  }
}

TEST_F(VfeTuningKeysTest, NoRegistryNoKeysAndNoCrash) {
  VfeTuningKeys_Register(nullptr, VfeKeyBlock::ASF, &p_->asf, sizeof p_->asf, &p_->enable[0], &p_->control[0]);
  EXPECT_EQ(86, registry_->ItemCount());
}

}  // namespace
}  // namespace vfeconfigtest
