// Value records, CPvlVariant and CPvlPropertyDesc.
#include <gtest/gtest.h>

#include <cstring>

#include "cpvlvariant.h"
#include "fakehost.h"

using runtime_test::Env;

namespace {

class Counted : public IPvlBase {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  int32_t refs = 1;
};

PvlValueRecord ArrayRecord(uint32_t type, void* data, int32_t capacity, int32_t filled) {
  PvlValueRecord r = {};
  r.type = type;
  r.payload.array.data = data;
  r.payload.array.capacity = capacity;
  r.payload.array.filled = filled;
  return r;
}

class VariantTest : public ::testing::Test {
 protected:
  void SetUp() override { runtime_test::ResetHost(); }
  void TearDown() override { EXPECT_EQ(Env().LiveBlocks(), 0u) << "leaked blocks"; }
};

TEST_F(VariantTest, ACutCopyCountsWhatWasCopied) {
  int32_t source[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  int32_t target[4] = {-1, -1, -1, -1};
  const PvlValueRecord src = ArrayRecord(PVL_VT_ARRAY32, source, 10, 10);
  PvlValueRecord dst = ArrayRecord(PVL_VT_ARRAY32, target, 4, 0);
  EXPECT_EQ(PvlValue_Copy(&dst, &src, false), PVL_OK);
  EXPECT_EQ(target[3], 3);
  EXPECT_EQ(dst.payload.array.filled, 4);  // never more than the capacity
  EXPECT_EQ(dst.payload.array.data, target);

  char text[4];
  const char* long_text = "camera";
  const PvlValueRecord s16 = ArrayRecord(PVL_VT_STRING, const_cast<char*>(long_text), 7, 7);
  PvlValueRecord d16 = ArrayRecord(PVL_VT_STRING, text, 4, 0);
  EXPECT_EQ(PvlValue_Copy(&d16, &s16, false), PVL_OK);
  EXPECT_STREQ(text, "cam");
  EXPECT_EQ(d16.payload.array.filled, 4);
}

TEST_F(VariantTest, DeepCopiesOwnTheirData) {
  int32_t source[3] = {7, 8, 9};
  const PvlValueRecord src = ArrayRecord(PVL_VT_ARRAY32, source, 3, 3);
  PvlValueRecord dst = {};
  ASSERT_EQ(PvlValue_Copy(&dst, &src, true), PVL_OK);
  EXPECT_EQ(dst.type, static_cast<uint32_t>(PVL_VT_ARRAY32));
  EXPECT_NE(dst.payload.array.data, source);
  EXPECT_EQ(dst.payload.array.capacity, 3);
  EXPECT_EQ(dst.payload.array.filled, 3);
  EXPECT_EQ(static_cast<int32_t*>(dst.payload.array.data)[2], 9);
  EXPECT_EQ(Env().LiveBlocks(), 1u);
  PvlValue_Clear(&dst);
  EXPECT_EQ(dst.payload.array.data, nullptr);

  // Strings keep their last character whether or not the count has the NUL.
  const char* name = "Contrast";
  for (int32_t count : {8, 9}) {
    const PvlValueRecord s = ArrayRecord(PVL_VT_STRING, const_cast<char*>(name), 9, count);
    PvlValueRecord d = {};
    ASSERT_EQ(PvlValue_Copy(&d, &s, true), PVL_OK);
    EXPECT_STREQ(static_cast<char*>(d.payload.array.data), "Contrast");
    PvlValue_Clear(&d);
  }
  const char16_t* wide = u"Hue";
  const PvlValueRecord w = ArrayRecord(PVL_VT_WSTRING, const_cast<char16_t*>(wide), 4, 4);
  PvlValueRecord dw = {};
  ASSERT_EQ(PvlValue_Copy(&dw, &w, true), PVL_OK);
  EXPECT_EQ(std::u16string(static_cast<char16_t*>(dw.payload.array.data)), u"Hue");
  PvlValue_Clear(&dw);
}

TEST_F(VariantTest, BadCopiesChangeNothing) {
  char buffer[8] = "abc";
  int32_t numbers[2] = {1, 2};
  struct Case {
    const char* name;
    PvlValueRecord dst;
    PvlValueRecord src;
    bool deep;
    PvlResult result;
  } cases[] = {
      {"8-bit into 16-bit string", ArrayRecord(PVL_VT_WSTRING, nullptr, 0, 0),
       ArrayRecord(PVL_VT_STRING, buffer, 8, 4), false, PVL_E_BADARG},
      {"null data with a count", ArrayRecord(PVL_VT_ARRAY32, numbers, 2, 0),
       ArrayRecord(PVL_VT_ARRAY32, nullptr, 0, 2), false, PVL_E_BADARG},
      {"negative count", ArrayRecord(PVL_VT_ARRAY32, numbers, 2, 0),
       ArrayRecord(PVL_VT_ARRAY32, numbers, 2, -1), true, PVL_E_BADARG},
      {"count over the source capacity", ArrayRecord(PVL_VT_ARRAY32, nullptr, 0, 0),
       ArrayRecord(PVL_VT_ARRAY32, numbers, 2, 5), true, PVL_E_BADARG},
      {"destination without a buffer", ArrayRecord(PVL_VT_ARRAY32, nullptr, 4, 0),
       ArrayRecord(PVL_VT_ARRAY32, numbers, 2, 2), false, PVL_E_BADARG},
      {"negative destination capacity", ArrayRecord(PVL_VT_ARRAY32, numbers, -1, 0),
       ArrayRecord(PVL_VT_ARRAY32, numbers, 2, 2), false, PVL_E_BADARG},
  };
  for (Case& c : cases) {
    const PvlValueRecord before = c.dst;
    EXPECT_EQ(PvlValue_Copy(&c.dst, &c.src, c.deep), c.result) << c.name;
    EXPECT_EQ(std::memcmp(&before, &c.dst, sizeof before), 0) << c.name;
  }
  EXPECT_EQ(PvlValue_Copy(nullptr, &cases[0].src, true), PVL_E_NULLPTR);
  EXPECT_EQ(PvlValue_Copy(&cases[0].dst, nullptr, true), PVL_E_NULLPTR);
  EXPECT_EQ(PvlValue_Copy(&cases[0].dst, &cases[0].dst, true), PVL_OK);

  // An empty source empties the destination.
  PvlValueRecord d = ArrayRecord(PVL_VT_ARRAY32, numbers, 2, 2);
  const PvlValueRecord empty = ArrayRecord(PVL_VT_ARRAY32, nullptr, 0, 0);
  EXPECT_EQ(PvlValue_Copy(&d, &empty, false), PVL_OK);
  EXPECT_EQ(d.payload.array.filled, 0);
  EXPECT_EQ(d.payload.array.data, numbers);
}

TEST_F(VariantTest, InterfaceValuesHoldAReference) {
  Counted object;
  PvlValueRecord src = {};
  src.type = PVL_VT_INTERFACE;
  src.payload.iface = &object;
  PvlValueRecord dst = {};
  dst.type = PVL_VT_INTERFACE;
  EXPECT_EQ(PvlValue_Copy(&dst, &src, false), PVL_OK);
  EXPECT_EQ(object.refs, 2);
  EXPECT_EQ(PvlValue_Copy(&dst, &src, true), PVL_OK);  // replaces its own reference
  EXPECT_EQ(object.refs, 2);
  PvlValue_Clear(&dst);
  EXPECT_EQ(object.refs, 1);
}

TEST_F(VariantTest, DeepArraysOfRecordsCopyRecursivelyAndUndoOnFailure) {
  CPvlRect rect = {1, 2, 3, 4};
  PvlValueRecord inner[2] = {};
  inner[0].type = PVL_VT_RECT;
  inner[0].payload.rect = rect;
  const char* text = "ab";
  inner[1] = ArrayRecord(PVL_VT_STRING, const_cast<char*>(text), 3, 3);
  const PvlValueRecord src = ArrayRecord(PVL_VT_ARRAY, inner, 2, 2);
  PvlValueRecord dst = {};
  ASSERT_EQ(PvlValue_Copy(&dst, &src, true), PVL_OK);
  const PvlValueRecord* copied = static_cast<const PvlValueRecord*>(dst.payload.array.data);
  EXPECT_EQ(copied[0].payload.rect.bottom, 4);
  EXPECT_STREQ(static_cast<const char*>(copied[1].payload.array.data), "ab");
  EXPECT_EQ(Env().LiveBlocks(), 2u);
  PvlValue_Clear(&dst);
  EXPECT_EQ(Env().LiveBlocks(), 0u);

  Env().FailNth(2);  // the array comes, the string inside it does not
  PvlValueRecord failed = {};
  EXPECT_EQ(PvlValue_Copy(&failed, &src, true), PVL_E_OUTOFMEMORY);
  EXPECT_EQ(failed.payload.array.data, nullptr);
  EXPECT_EQ(failed.payload.array.filled, 0);
  EXPECT_EQ(Env().LiveBlocks(), 0u);
}

TEST_F(VariantTest, VariantConstructorsAndSetters) {
  EXPECT_EQ(CPvlVariant(1.5f).type, static_cast<uint32_t>(PVL_VT_FLOAT));
  EXPECT_EQ(CPvlVariant(-3).type, static_cast<uint32_t>(PVL_VT_SINT32));
  EXPECT_EQ(CPvlVariant(-3).payload.i32, -3);
  EXPECT_EQ(CPvlVariant(5, PVL_VT_INT32).type, static_cast<uint32_t>(PVL_VT_INT32));
  EXPECT_EQ(CPvlVariant(static_cast<int64_t>(0x100000002LL)).type, static_cast<uint32_t>(PVL_VT_8BYTES));
  EXPECT_EQ(CPvlVariant(7u).type, static_cast<uint32_t>(PVL_VT_UINT32));
  EXPECT_EQ(CPvlVariant(CPvlRect{1, 2, 3, 4}).payload.rect.right, 3);
  EXPECT_EQ(CPvlVariant(CPvlPair{5, 6}).payload.pair.second, 6);

  CPvlVariant bad(5, 11u);  // integers are 8 or 9 only
  EXPECT_EQ(bad.type, static_cast<uint32_t>(PVL_VT_EMPTY));
  EXPECT_EQ(bad.GetStatus(), PVL_E_NOTREADY);
  EXPECT_EQ(runtime_test::BreakCount(), 1u);

  CPvlVariant v(3);
  v.SetFloat(2.0f);
  EXPECT_EQ(v.type, static_cast<uint32_t>(PVL_VT_FLOAT));
  EXPECT_EQ(v.GetStatus(), PVL_OK);
}

TEST_F(VariantTest, VariantArrays) {
  PvlValueRecord items[1] = {};
  items[0].type = PVL_VT_RECT;
  items[0].payload.rect = CPvlRect{0, 0, 640, 480};
  {
    CPvlVariant deep(items, 1, true);
    EXPECT_EQ(deep.GetStatus(), PVL_OK);
    EXPECT_TRUE(deep.OwnsPayload());
    EXPECT_EQ(deep.payload.array.capacity, 1);
    EXPECT_EQ(deep.payload.array.filled, 1);  // holds its one record
    // A copy of it keeps the element.
    PvlValueRecord copy = {};
    ASSERT_EQ(PvlValue_Copy(&copy, &deep, true), PVL_OK);
    EXPECT_EQ(copy.payload.array.filled, 1);
    EXPECT_EQ(static_cast<PvlValueRecord*>(copy.payload.array.data)[0].payload.rect.right, 640);
    PvlValue_Clear(&copy);
  }
  CPvlVariant shallow(items, 1, false);
  EXPECT_EQ(shallow.type, static_cast<uint32_t>(PVL_VT_ARRAY));
  EXPECT_EQ(shallow.payload.array.data, nullptr);
  EXPECT_FALSE(shallow.OwnsPayload());

  CPvlVariant v;
  EXPECT_EQ(v.SetArray(nullptr, 2, true), PVL_E_BADARG);
  EXPECT_EQ(v.SetArray(items, -1, true), PVL_E_BADARG);
  Env().FailNth(1);
  EXPECT_EQ(v.SetArray(items, 1, true), PVL_E_OUTOFMEMORY);
  EXPECT_EQ(v.GetStatus(), PVL_E_OUTOFMEMORY);
}

TEST_F(VariantTest, DescriptorShallowAndDeep) {
  CPvlVariant value(750), minimum(-10000), maximum(10000), def(750), step(1);
  const char* name = "Brightness";
  {
    CPvlPropertyDesc shallow(0x0103F4E1u, name, "desc", &value, &minimum, &maximum, &def, &step, 3, 1, 0);
    EXPECT_EQ(shallow.GetStatus(), PVL_OK);
    EXPECT_EQ(shallow.GetName(), name);  // the caller's text
    EXPECT_FALSE(shallow.OwnsData());
    EXPECT_EQ(shallow.GetMinimum()->payload.i32, -10000);
    EXPECT_EQ(shallow.GetMaximum()->payload.i32, 10000);
    EXPECT_EQ(shallow.GetStep()->payload.i32, 1);
    EXPECT_EQ(shallow.GetAttribute(), 3u);
    EXPECT_EQ(shallow.GetByteAttribute(), 1);
  }
  EXPECT_EQ(Env().ReallocCalls(), 0u);  // a shallow descriptor frees nothing

  const char* text = "abc";
  const PvlValueRecord str = ArrayRecord(PVL_VT_STRING, const_cast<char*>(text), 4, 4);
  {
    CPvlPropertyDesc deep(7, name, "desc", &str, nullptr, nullptr, nullptr, nullptr, 0, 0, PVL_DESC_COPY_DEEP);
    EXPECT_EQ(deep.GetStatus(), PVL_OK);
    EXPECT_NE(deep.GetName(), name);
    EXPECT_STREQ(deep.GetName(), "Brightness");
    EXPECT_TRUE(deep.OwnsData());
    EXPECT_NE(deep.GetValue()->payload.array.data, text);
    EXPECT_EQ(Env().LiveBlocks(), 3u);
  }
  EXPECT_EQ(Env().LiveBlocks(), 0u);
}

TEST_F(VariantTest, DescriptorSetAndFailures) {
  CPvlVariant value(5);
  CPvlPropertyDesc d;
  EXPECT_EQ(d.Set(9, "n", "d", &value, 0, 0, PVL_DESC_COPY_DEEP), PVL_OK);
  for (const PvlValueRecord* r : {d.GetMinimum(), d.GetMaximum(), d.GetDefault(), d.GetStep()}) {
    EXPECT_EQ(r->type, static_cast<uint32_t>(PVL_VT_SINT32));
    EXPECT_EQ(r->payload.i32, 0);
  }
  EXPECT_EQ(d.Set(9, "n", nullptr, &value, 0, 0, PVL_DESC_COPY_DEEP), PVL_E_BADARG);
  EXPECT_EQ(d.GetName(), nullptr);
  EXPECT_EQ(d.GetValue()->type, 0u);

  // A deep Set from the descriptor's own data.
  const char* text = "abc";
  const PvlValueRecord str = ArrayRecord(PVL_VT_STRING, const_cast<char*>(text), 4, 4);
  EXPECT_EQ(d.Set(3, "own", "data", &str, 0, 0, PVL_DESC_COPY_DEEP), PVL_OK);
  EXPECT_EQ(d.Set(4, d.GetName(), d.GetDescription(), d.GetValue(), d.GetMinimum(), d.GetMaximum(),
                  d.GetDefault(), d.GetStep(), 0, 0, PVL_DESC_COPY_DEEP),
            PVL_OK);
  EXPECT_STREQ(d.GetName(), "own");
  EXPECT_STREQ(static_cast<const char*>(d.GetValue()->payload.array.data), "abc");
  EXPECT_EQ(Env().LiveBlocks(), 3u);
  d.Clear();

  CPvlPropertyDesc nullName(1, nullptr, "d", &value, nullptr, nullptr, nullptr, nullptr, 0, 0, 0);
  EXPECT_EQ(nullName.GetStatus(), PVL_E_BADARG);

  Env().FailNth(1);
  CPvlPropertyDesc noMemory(1, "name", "d", &value, nullptr, nullptr, nullptr, nullptr, 0, 0, PVL_DESC_COPY_DEEP);
  EXPECT_EQ(noMemory.GetStatus(), PVL_E_OUTOFMEMORY);
  EXPECT_EQ(noMemory.GetName(), nullptr);
}

}  // namespace
