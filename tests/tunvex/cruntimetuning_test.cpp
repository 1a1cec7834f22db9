// CRuntimeTuning: registration, the text face and aggregation into an owner.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cruntimetuning.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "orbhost_test.h"

namespace {

IEnv* Env() { return env_env_GetCurrent(); }

// An owner that aggregates a registry, as the tuning-data and VFE services do.
struct Owner final : IPvlBase {
  int32_t refs = 1;
  CRuntimeTuning* registry = nullptr;
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid == ZUEUID_RUNTIME_TUNING) return registry->QueryInterface(iid, out);
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
};

class RuntimeTuningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CRuntimeTuning::New(Env(), &reg), PVL_OK);
    ASSERT_NE(reg, nullptr);
    owner.registry = reg;
    ASSERT_EQ(reg->SetOuter(&owner), PVL_OK);
    face = reg->Face();
  }
  void TearDown() override {
    if (reg) reg->Release();  // the owner's reference on its registry
  }
  std::string Value(uint16_t item, uint16_t element, PvlResult* r = nullptr) {
    char text[64] = "";
    PvlResult res = face->GetValue(item, element, text, sizeof text, nullptr);
    if (r) *r = res;
    return text;
  }

  Owner owner;
  CRuntimeTuning* reg = nullptr;
  IRuntimeTuning* face = nullptr;
};

}  // namespace

TEST(RuntimeTuningNew, NeedsAnEnvironmentAndMemory) {
  CRuntimeTuning* r = reinterpret_cast<CRuntimeTuning*>(1);
  EXPECT_EQ(CRuntimeTuning::New(nullptr, &r), PVL_E_NULLPTR);
  EXPECT_EQ(r, nullptr);
  OrbhostTest_FailAllocation(1);
  EXPECT_EQ(CRuntimeTuning::New(Env(), &r), PVL_E_OUTOFMEMORY);
  OrbhostTest_FailAllocation(0);
  EXPECT_EQ(r, nullptr);
}

TEST_F(RuntimeTuningTest, TypeFromSize) {
  struct Case {
    uint32_t size;
    uint8_t isSigned;
    TuningValueType type;
  } cases[] = {{1, 1, TUNING_TYPE_S8},  {1, 0, TUNING_TYPE_U8},  {2, 1, TUNING_TYPE_S16},
               {2, 0, TUNING_TYPE_U16}, {4, 1, TUNING_TYPE_S32}, {4, 0, TUNING_TYPE_U32},
               {8, 1, TUNING_TYPE_S64}, {8, 0, TUNING_TYPE_U64}, {3, 1, TUNING_TYPE_UNKNOWN},
               {0, 0, TUNING_TYPE_UNKNOWN}, {16, 0, TUNING_TYPE_UNKNOWN}};
  for (const Case& c : cases) EXPECT_EQ(reg->TypeFromSize(c.size, c.isSigned), c.type) << c.size;
}

TEST_F(RuntimeTuningTest, FirstRegistrationOfANameWins) {
  uint16_t a = 1, b = 2;
  ASSERT_EQ(reg->Register("AF-TotalSteps", &a, TUNING_TYPE_U16, 1, 0x80), PVL_OK);
  ASSERT_EQ(reg->Register("AF-TotalSteps", &b, TUNING_TYPE_U16, 1, 0), PVL_OK);
  uint16_t n = 0;
  ASSERT_EQ(face->GetNumItems(&n), PVL_OK);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(Value(0, 0), "1");
  EXPECT_EQ(face->GetNumItems(nullptr), PVL_E_BADARG);
  EXPECT_EQ(reg->Register(nullptr, &a, TUNING_TYPE_U16, 1, 0), PVL_E_BADARG);
}

TEST_F(RuntimeTuningTest, ItemInfoCutsTheNameToTheBuffer) {
  uint16_t steps = 40;
  ASSERT_EQ(reg->Register("AF-TotalSteps", &steps, TUNING_TYPE_U16, 3, 0x81), PVL_OK);
  char name[4] = {'x', 'x', 'x', 'x'};
  uint32_t len = 0;
  uint16_t count = 0;
  uint32_t flags = 0;
  ASSERT_EQ(face->GetItemInfo(0, name, sizeof name, &len, &count, &flags), PVL_OK);
  EXPECT_STREQ(name, "AF-");
  EXPECT_EQ(len, 14u);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(flags, 0x81u);
  // No name buffer: only the length; no pointers at all is fine too.
  len = 0;
  ASSERT_EQ(face->GetItemInfo(0, nullptr, 100, &len, nullptr, nullptr), PVL_OK);
  EXPECT_EQ(len, 14u);
  EXPECT_EQ(face->GetItemInfo(1, name, sizeof name, &len, &count, &flags), PVL_E_BADARG);
}

TEST_F(RuntimeTuningTest, LongNamesAreCutTo59Characters) {
  std::string longName(80, 'N');
  uint8_t a = 1, b = 2;
  ASSERT_EQ(reg->Register(longName.c_str(), &a, TUNING_TYPE_U8, 1, 0), PVL_OK);
  ASSERT_EQ(reg->Register((longName + "tail").c_str(), &b, TUNING_TYPE_U8, 1, 0), PVL_OK);  // same stored name
  uint16_t n = 0;
  face->GetNumItems(&n);
  EXPECT_EQ(n, 1);
  char name[100];
  uint32_t len = 0;
  ASSERT_EQ(face->GetItemInfo(0, name, sizeof name, &len, nullptr, nullptr), PVL_OK);
  EXPECT_EQ(std::string(name), std::string(59, 'N'));
  EXPECT_EQ(len, 60u);
}

TEST_F(RuntimeTuningTest, ValuesThroughTheFace) {
  int8_t s8 = int8_t(0xFF);
  int32_t q10 = 0;
  int64_t wide = 9;
  uint8_t u8[2] = {0, 0};
  ASSERT_EQ(reg->Register("S8", &s8, TUNING_TYPE_S8, 1, 0), PVL_OK);
  ASSERT_EQ(reg->Register("Q10", &q10, TUNING_TYPE_Q10, 1, 0), PVL_OK);
  ASSERT_EQ(reg->Register("Wide", &wide, TUNING_TYPE_S64, 1, 0), PVL_OK);
  ASSERT_EQ(reg->Register("U8", u8, TUNING_TYPE_U8, 2, 0), PVL_OK);
  EXPECT_EQ(Value(0, 0), "-1");
  ASSERT_EQ(face->SetValue(1, 0, "1.5"), PVL_OK);
  EXPECT_EQ(q10, 1536);
  PvlResult r = 0;
  Value(2, 0, &r);
  EXPECT_EQ(r, TUNING_RESULT_NO_TEXT);  // listed, but no text form
  EXPECT_EQ(face->SetValue(2, 0, "1"), TUNING_RESULT_NO_TEXT);
  EXPECT_EQ(wide, 9);
  ASSERT_EQ(face->SetValue(3, 1, "300"), PVL_OK);
  EXPECT_EQ(u8[1], 44);
  Value(3, 2, &r);
  EXPECT_EQ(r, PVL_E_BADARG);
  EXPECT_EQ(face->SetValue(3, 2, "1"), PVL_E_BADARG);
  Value(4, 0, &r);
  EXPECT_EQ(r, PVL_E_BADARG);
  EXPECT_EQ(face->SetValue(4, 0, "1"), PVL_E_BADARG);
}

namespace {
int32_t ToTextUpper(const RuntimeTuningItem* item, uint16_t, char* text, uint32_t size, uint32_t* length) {
  uint32_t len = RuntimeTuningCopyText(text, size, item->name);
  if (length) *length = len + 1;
  return 0;
}
int32_t FromTextRefuse(const RuntimeTuningItem*, uint16_t, const char*) { return 39; }
}  // namespace

TEST_F(RuntimeTuningTest, OwnConvertersAreCalledWithTheItem) {
  uint32_t v = 0;
  ASSERT_EQ(reg->RegisterWithConverters("Custom", &v, TUNING_TYPE_U32, 1, 0, ToTextUpper, FromTextRefuse), PVL_OK);
  EXPECT_EQ(Value(0, 0), "Custom");
  EXPECT_EQ(face->SetValue(0, 0, "5"), 39);
}

TEST_F(RuntimeTuningTest, ManyItemsKeepTheirIndices) {
  std::vector<uint32_t> values(1000);
  for (uint32_t i = 0; i < values.size(); ++i) {
    values[i] = i * 3;
    ASSERT_EQ(reg->Register(("Key-" + std::to_string(i)).c_str(), &values[i], TUNING_TYPE_U32, 1, 0), PVL_OK);
  }
  uint16_t n = 0;
  face->GetNumItems(&n);
  EXPECT_EQ(n, 1000);
  for (uint16_t i : {0, 1, 63, 64, 500, 999}) EXPECT_EQ(Value(i, 0), std::to_string(i * 3));
}

TEST_F(RuntimeTuningTest, FaceCountsOnTheOwner) {
  void* out = nullptr;
  int32_t before = owner.refs;
  ASSERT_EQ(owner.QueryInterface(ZUEUID_RUNTIME_TUNING, &out), PVL_OK);
  EXPECT_EQ(out, static_cast<void*>(face));
  EXPECT_EQ(owner.refs, before + 1);
  static_cast<IRuntimeTuning*>(out)->Release();
  EXPECT_EQ(owner.refs, before);
  face->AddRef();
  EXPECT_EQ(owner.refs, before + 1);
  face->Release();
  // The face's QueryInterface is the owner's.
  ASSERT_EQ(face->QueryInterface(ZUEUID_RUNTIME_TUNING, &out), PVL_OK);
  static_cast<IRuntimeTuning*>(out)->Release();
  EXPECT_EQ(face->QueryInterface(0x12345678, &out), PVL_E_NOTSUPPORTED);
  // Other identifiers on the registry itself go to the base object.
  ASSERT_EQ(reg->QueryInterface(ZUEUID_IFACE_OBJECT, &out), PVL_OK);
  static_cast<IPvlBase*>(out)->Release();
}
