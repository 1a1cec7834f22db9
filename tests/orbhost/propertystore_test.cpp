// The property store: registration, values, descriptors, ranges, groups, faces.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "ienv.h"
#include "ijpegservice.h"
#include "ipropertystore.h"
#include "orbhost_test.h"
#include "propertydesc.h"
#include "pvlheap.h"

namespace {

const char kStoreTag[] = "orbhost/propertystore";
const uint32_t kBrightness = 0x0103f4e1u;
const uint32_t kExposureComp = 0x0103f4e5u;
const uint32_t kGroupA = 0x010451bau;
const uint32_t kGroupExif = ZUEUID_PROPERTY_GROUP_EXIF;

using camera::test::Describe;
using camera::test::IntValue;
using camera::test::kDescValueNames;
using camera::test::PairValue;
using camera::test::PropertyDescImage;
using camera::test::TypedValue;

// What a module's pvlheap_Free does with a block the store allocated for it.
void HeapFree(void* user) {
  if (!user) return;
  auto* header = static_cast<pvlheap_BlockHeaderRecord*>(user) - 1;
  void* block = header;
  ASSERT_EQ(PVL_OK, header->env->ReallocTagged(0, &block, "test:free"));
}

class PropertyStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    live = OrbhostTest_LiveHostObjects();
    void* out = nullptr;
    ASSERT_EQ(PVL_OK, env_env_GetCurrent()->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, &out));
    store = static_cast<IPropertyStore*>(out);
  }
  void TearDown() override {
    if (store) store->Release();
    EXPECT_EQ(0u, OrbhostTest_LiveBlocks(kStoreTag));
    EXPECT_EQ(live, OrbhostTest_LiveHostObjects());
  }
  void RegisterBrightness() {
    PropertyDescImage d = Describe(kBrightness, "Brightness", IntValue(750), IntValue(-10000), IntValue(10000),
                                   IntValue(750), IntValue(1));
    PropertyDescImage e = Describe(kExposureComp, "Exposure compensation", PairValue(0, 6), PairValue(-600, 6),
                                   PairValue(600, 6), PairValue(0, 6), PairValue(1, 6), 3);
    CPvlPropertyDesc* list[] = {d.Ptr(), e.Ptr()};
    ASSERT_EQ(PVL_OK, store->RegisterGroup(list, 2, kGroupA));
  }
  int32_t live = 0;
  IPropertyStore* store = nullptr;
};

TEST_F(PropertyStoreTest, RegisteredDescriptorsComeBackFilled) {
  RegisterBrightness();
  PropertyDescImage q;
  q.id = kBrightness;
  for (auto& v : q.values) v.type = PVL_VT_SINT32;
  ASSERT_EQ(PVL_OK, store->GetProperties(q.Ptr(), 1, nullptr));
  const int32_t want[5] = {750, -10000, 10000, 750, 1};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(want[i], q.values[i].payload.i32) << kDescValueNames[i];
  EXPECT_EQ(nullptr, q.name.text);  // the caller's name stays

  // Per-entry results; an unknown identifier or a wrong type leaves its descriptor alone.
  PropertyDescImage many[3];
  many[0].id = kExposureComp;
  many[1].id = 0x0103f4e3u;  // belongs to no property
  many[2].id = kBrightness;
  many[2].values[0].type = PVL_VT_FLOAT;
  PvlResult results[3] = {-1, -1, -1};
  EXPECT_EQ(PVL_E_BADARG, store->GetProperties(many[0].Ptr(), 3, results));
  EXPECT_EQ(PVL_OK, results[0]);
  EXPECT_EQ(PVL_E_BADARG, results[1]);
  EXPECT_EQ(PVL_E_BADARG, results[2]);
  EXPECT_EQ(PVL_VT_PAIR, many[0].values[1].type);
  EXPECT_EQ(-600, many[0].values[1].payload.pair.first);
  EXPECT_EQ(3u, many[0].attribute);
  EXPECT_EQ(0u, many[1].values[0].type);
  EXPECT_EQ(0, many[2].values[1].payload.i32);
  EXPECT_EQ(PVL_E_NULLPTR, store->GetProperties(nullptr, 1, nullptr));
  EXPECT_EQ(PVL_OK, store->GetProperties(nullptr, 0, nullptr));
}

TEST_F(PropertyStoreTest, SetAndGetOneValue) {
  RegisterBrightness();
  PvlValueRecord v = IntValue(1);
  EXPECT_EQ(PVL_E_BADARG, store->SetProperty(0x0103f4e3u, &v));  // unknown: nothing added
  v = IntValue(-20);
  ASSERT_EQ(PVL_OK, store->SetProperty(kBrightness, &v));
  PvlValueRecord out = TypedValue(PVL_VT_SINT32);
  ASSERT_EQ(PVL_OK, store->GetProperty(kBrightness, &out));
  EXPECT_EQ(-20, out.payload.i32);
  out = TypedValue(PVL_VT_UINT32);  // the 32-bit integer kinds stand in for one another
  ASSERT_EQ(PVL_OK, store->GetProperty(kBrightness, &out));
  EXPECT_EQ(PVL_VT_UINT32, out.type);
  out = TypedValue(PVL_VT_EMPTY);
  ASSERT_EQ(PVL_OK, store->GetProperty(kBrightness, &out));
  EXPECT_EQ(PVL_VT_SINT32, out.type);
  out = TypedValue(PVL_VT_PAIR);
  EXPECT_EQ(PVL_E_BADARG, store->GetProperty(kBrightness, &out));
  EXPECT_EQ(PVL_E_BADARG, store->GetProperty(0x0103f4e3u, &out));
  EXPECT_EQ(PVL_E_NULLPTR, store->GetProperty(kBrightness, nullptr));
  EXPECT_EQ(PVL_E_NULLPTR, store->SetProperty(kBrightness, nullptr));
}

TEST_F(PropertyStoreTest, StringsAndArraysRoundTrip) {
  char text[] = "Vantor camera";
  PropertyDescImage tag;
  tag.id = 0x010f0001u;
  tag.values[0].type = PVL_VT_STRING;
  tag.values[0].payload.array = {text, sizeof text, sizeof text, 0};
  ASSERT_EQ(PVL_OK, store->AddProperty(tag.Ptr(), kGroupExif, PVL_PROPERTY_ADD_REPLACE));
  text[0] = 'X';  // the store kept a copy

  // No buffer: allocated for the caller from the environment's heap.
  PvlValueRecord out = TypedValue(PVL_VT_STRING);
  ASSERT_EQ(PVL_OK, store->GetProperty(tag.id, &out));
  EXPECT_STREQ("Vantor camera", static_cast<char*>(out.payload.array.data));
  EXPECT_EQ(14, out.payload.array.filled);
  HeapFree(out.payload.array.data);

  // A short buffer: cut and terminated.
  char small[7];
  out = TypedValue(PVL_VT_STRING);
  out.payload.array = {small, sizeof small, 0, 0};
  ASSERT_EQ(PVL_OK, store->GetProperty(tag.id, &out));
  EXPECT_STREQ("Vantor", small);
  EXPECT_EQ(7, out.payload.array.filled);

  // An array of rectangles, replaced by SetProperty.
  PvlValueRecord rects[2] = {};
  for (int i = 0; i < 2; ++i) {
    rects[i].type = PVL_VT_RECT;
    rects[i].payload.rect = {i, i, i + 1, i + 1};
  }
  PvlValueRecord array{};
  array.type = PVL_VT_ARRAY;
  array.payload.array = {rects, 2, 2, 0};
  ASSERT_EQ(PVL_OK, store->SetProperty(tag.id, &array));
  out = TypedValue(PVL_VT_ARRAY);
  ASSERT_EQ(PVL_OK, store->GetProperty(tag.id, &out));
  ASSERT_EQ(2, out.payload.array.filled);
  auto* got = static_cast<PvlValueRecord*>(out.payload.array.data);
  EXPECT_EQ(1, got[1].payload.rect.left);
  EXPECT_EQ(2, got[1].payload.rect.bottom);
  HeapFree(got);

  // Malformed arrays are refused and change nothing.
  array.payload.array = {nullptr, 4, 4, 0};
  EXPECT_EQ(PVL_E_BADARG, store->SetProperty(tag.id, &array));
  array.payload.array = {rects, 1, 2, 0};  // more filled than its capacity
  EXPECT_EQ(PVL_E_BADARG, store->SetProperty(tag.id, &array));
  out = TypedValue(PVL_VT_ARRAY);
  PvlValueRecord two[2] = {};
  out.payload.array = {two, 2, 0, 0};
  ASSERT_EQ(PVL_OK, store->GetProperty(tag.id, &out));
  EXPECT_EQ(2, out.payload.array.filled);
}

TEST_F(PropertyStoreTest, OutOfMemoryKeepsTheOldValue) {
  char text[] = "kept";
  PropertyDescImage tag;
  tag.id = 0x010f0002u;
  tag.values[0].type = PVL_VT_STRING;
  tag.values[0].payload.array = {text, 5, 5, 0};
  ASSERT_EQ(PVL_OK, store->AddProperty(tag.Ptr(), 0, 0));
  char other[] = "lost";
  PvlValueRecord v = TypedValue(PVL_VT_STRING);
  v.payload.array = {other, 5, 5, 0};
  OrbhostTest_FailAllocation(1);
  EXPECT_EQ(PVL_E_OUTOFMEMORY, store->SetProperty(tag.id, &v));
  char buffer[8] = {};
  PvlValueRecord out = TypedValue(PVL_VT_STRING);
  out.payload.array = {buffer, sizeof buffer, 0, 0};
  ASSERT_EQ(PVL_OK, store->GetProperty(tag.id, &out));
  EXPECT_STREQ("kept", buffer);
}

// An array of strings copied in: whichever allocation fails, what was copied before it
// is given back (TearDown counts the store's blocks) and the old value stays.
TEST_F(PropertyStoreTest, AnArrayCopyRunningOutOfMemoryGivesBackWhatItCopied) {
  char a[] = "one", b[] = "two", c[] = "three";
  PvlValueRecord strings[3] = {TypedValue(PVL_VT_STRING), TypedValue(PVL_VT_STRING), TypedValue(PVL_VT_STRING)};
  strings[0].payload.array = {a, 4, 4, 0};
  strings[1].payload.array = {b, 4, 4, 0};
  strings[2].payload.array = {c, 6, 6, 0};
  PvlValueRecord array = TypedValue(PVL_VT_ARRAY);
  array.payload.array = {strings, 3, 3, 0};
  PropertyDescImage tag = Describe(0x010f0003u, "tags", IntValue(7));
  ASSERT_EQ(PVL_OK, store->AddProperty(tag.Ptr(), 0, 0));
  const uint32_t kept = OrbhostTest_LiveBlocks(kStoreTag);
  const char* const kFailing[] = {"the array", "the first string", "the second string", "the last string"};
  for (uint32_t n = 1; n <= 4; ++n) {
    SCOPED_TRACE(kFailing[n - 1]);
    OrbhostTest_FailAllocation(n);
    EXPECT_EQ(PVL_E_OUTOFMEMORY, store->SetProperty(tag.id, &array));
    OrbhostTest_FailAllocation(0);
    EXPECT_EQ(kept, OrbhostTest_LiveBlocks(kStoreTag));
    PvlValueRecord out = TypedValue(PVL_VT_SINT32);
    ASSERT_EQ(PVL_OK, store->GetProperty(tag.id, &out));
    EXPECT_EQ(7, out.payload.i32);
  }
  ASSERT_EQ(PVL_OK, store->SetProperty(tag.id, &array));
}

TEST_F(PropertyStoreTest, SetPropertiesIsAllOrNothingAndKeepsTheModeWord) {
  RegisterBrightness();
  PvlPropertyValueRecord records[2] = {};
  records[0].id = kBrightness;
  records[0].value = IntValue(5);
  records[0].mode = 2;
  records[1].id = 0x0103f4e3u;  // unknown
  records[1].value = IntValue(6);
  EXPECT_EQ(PVL_E_BADARG, store->SetProperties(records, 2));
  PvlValueRecord out = TypedValue(PVL_VT_SINT32);
  store->GetProperty(kBrightness, &out);
  EXPECT_EQ(750, out.payload.i32);

  ASSERT_EQ(PVL_OK, store->SetProperties(records, 1));
  PropertyDescImage q;
  q.id = kBrightness;
  ASSERT_EQ(PVL_OK, store->GetProperties(q.Ptr(), 1, nullptr));
  EXPECT_EQ(5, q.values[0].payload.i32);
  EXPECT_EQ(2u, q.attribute);
  EXPECT_EQ(PVL_E_NULLPTR, store->SetProperties(nullptr, 1));
}

// The driver's record: the descriptor's head and the status word, 160 bytes in
// all, filled in place; the control mode is the attribute at 152 and the status
// word at 156 is left alone. Allocated at its exact size, so that the sanitized
// build catches any access past it.
TEST_F(PropertyStoreTest, DriverRecordIsFilledWithinItsBounds) {
  RegisterBrightness();
  PvlPropertyValueRecord set{};
  set.id = kBrightness;
  set.value = IntValue(-20);
  set.mode = 3;
  ASSERT_EQ(PVL_OK, store->SetProperties(&set, 1));

  std::unique_ptr<uint8_t[]> raw(new uint8_t[PVL_PROPERTY_RECORD_SIZE]);
  memset(raw.get(), 0, PVL_PROPERTY_RECORD_SIZE);
  auto* record = reinterpret_cast<PvlPropertyDescHead*>(raw.get());
  record->id = kBrightness;
  for (auto& v : record->values) v.type = PVL_VT_SINT32;
  const uint32_t status = 0xA5A5A5A5u;
  constexpr size_t kStatus = sizeof(PvlPropertyDescHead);  // 156 on the phone
  memcpy(raw.get() + kStatus, &status, 4);
  PvlResult result = -1;
  ASSERT_EQ(PVL_OK, store->GetProperties(PvlPropertyDescOf(record), 1, &result));
  EXPECT_EQ(PVL_OK, result);
  const int32_t want[5] = {-20, -10000, 10000, 750, 1};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(want[i], record->values[i].payload.i32) << kDescValueNames[i];
  uint32_t mode = 0, after = 0;
  memcpy(&mode, raw.get() + offsetof(PvlPropertyDescHead, attribute), 4);  // 152 on the phone
  memcpy(&after, raw.get() + kStatus, 4);
  EXPECT_EQ(3u, mode);
  EXPECT_EQ(status, after);

  // Such a record also declares a property (no name, no description).
  record->id = 0x0103f4fdu;
  record->values[0].payload.i32 = 7;
  ASSERT_EQ(PVL_OK, store->AddProperty(PvlPropertyDescOf(record), 0, 0));
  PvlValueRecord out = TypedValue(PVL_VT_SINT32);
  ASSERT_EQ(PVL_OK, store->GetProperty(0x0103f4fdu, &out));
  EXPECT_EQ(7, out.payload.i32);
  memcpy(&after, raw.get() + kStatus, 4);
  EXPECT_EQ(status, after);
}

TEST_F(PropertyStoreTest, SetRangesReplacesTheFourBounds) {
  RegisterBrightness();
  PvlPropertyRangeRecord range{};
  range.id = kExposureComp;
  range.minimum = PairValue(-12, 6);
  range.maximum = PairValue(12, 6);
  range.def = PairValue(0, 6);
  range.step = PairValue(1, 6);
  ASSERT_EQ(PVL_OK, store->SetRanges(&range, 1));
  PropertyDescImage q;
  q.id = kExposureComp;
  ASSERT_EQ(PVL_OK, store->GetProperties(q.Ptr(), 1, nullptr));
  EXPECT_EQ(-12, q.values[1].payload.pair.first);
  EXPECT_EQ(12, q.values[2].payload.pair.first);
  EXPECT_EQ(0, q.values[0].payload.pair.first);  // the value itself stays
  range.id = 0x0103f4e3u;
  EXPECT_EQ(PVL_E_BADARG, store->SetRanges(&range, 1));
}

TEST_F(PropertyStoreTest, GroupsListTheirMembersInOrder) {
  RegisterBrightness();
  uint32_t ids[4] = {};
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, store->GetGroupMembers(kGroupA, ids, 4, &count));
  ASSERT_EQ(2u, count);
  EXPECT_EQ(kBrightness, ids[0]);
  EXPECT_EQ(kExposureComp, ids[1]);
  // An existing property joins another group and keeps its value unless told.
  PropertyDescImage again =
      Describe(kBrightness, "Brightness", IntValue(1), IntValue(0), IntValue(0), IntValue(0), IntValue(0));
  ASSERT_EQ(PVL_OK, store->AddProperty(again.Ptr(), kGroupExif, 0));
  PvlValueRecord out = TypedValue(PVL_VT_SINT32);
  store->GetProperty(kBrightness, &out);
  EXPECT_EQ(750, out.payload.i32);
  ASSERT_EQ(PVL_OK, store->AddProperty(again.Ptr(), kGroupExif, PVL_PROPERTY_ADD_REPLACE));
  store->GetProperty(kBrightness, &out);
  EXPECT_EQ(1, out.payload.i32);
  ASSERT_EQ(PVL_OK, store->GetGroupMembers(kGroupExif, nullptr, 0, &count));
  EXPECT_EQ(1u, count);
  ASSERT_EQ(PVL_OK, store->GetGroupMembers(0x7777u, ids, 4, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(PVL_E_NULLPTR, store->GetGroupMembers(kGroupA, ids, 4, nullptr));
  EXPECT_EQ(PVL_E_BADARG, store->AddProperty(again.Ptr(), 0, 4));
  EXPECT_EQ(PVL_E_NULLPTR, store->AddProperty(nullptr, 0, 0));
  CPvlPropertyDesc* holes[] = {again.Ptr(), nullptr};
  EXPECT_EQ(PVL_E_NULLPTR, store->RegisterGroup(holes, 2, kGroupA));
}

// An owner in the manner of a media buffer: its last Release hands it back.
struct Owner final : IPvlBase {
  int32_t count = 1;
  int returned = 0;
  int32_t AddRef() override { return ++count; }
  int32_t Release() override {
    if (--count == 0) returned++;
    return count;
  }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
};

TEST_F(PropertyStoreTest, BoundFaceSharesThePropertiesWithoutHoldingItsOwner) {
  RegisterBrightness();
  Owner owner;
  IProperties* face = nullptr;
  ASSERT_EQ(PVL_OK, store->CreateBoundFace(&owner, &face));
  EXPECT_EQ(1, owner.count);  // no counted reference on the owner
  void* out = nullptr;
  for (ZUEUID iid : {ZUEUID_IFACE_BASE, ZUEUID_IFACE_PROPERTIES, ZUEUID_IFACE_PROPERTIES_ALT}) {
    ASSERT_EQ(PVL_OK, face->QueryInterface(iid, &out));
    EXPECT_EQ(face, out);
    face->Release();
  }
  EXPECT_EQ(PVL_E_NOTSUPPORTED, face->QueryInterface(ZUEUID_IFACE_PROPERTY_STORE, &out));

  // The chroma offset in the way the video buffer manager adds it.
  PropertyDescImage chroma;
  chroma.id = 0x010620f5u;
  chroma.values[0] = IntValue(4096, PVL_VT_UINT32);
  EXPECT_EQ(PVL_E_BADARG, face->SetProperty(chroma.id, &chroma.values[0]));
  ASSERT_EQ(PVL_OK, face->AddProperty(chroma.Ptr(), 0, 0));
  store->Release();  // the face keeps the properties
  store = nullptr;
  PvlValueRecord v = TypedValue(PVL_VT_UINT32);
  ASSERT_EQ(PVL_OK, face->GetProperty(chroma.id, &v));
  EXPECT_EQ(4096u, v.payload.u32);
  owner.Release();
  EXPECT_EQ(1, owner.returned);  // the owner's last release still happened
  face->Release();
}

TEST_F(PropertyStoreTest, StoreAnswersItsIdentifiersAndRefusesBadFaces) {
  void* out = nullptr;
  for (ZUEUID iid : {ZUEUID_IFACE_BASE, ZUEUID_IFACE_PROPERTIES, ZUEUID_IFACE_PROPERTIES_ALT,
                     ZUEUID_IFACE_PROPERTY_STORE}) {
    ASSERT_EQ(PVL_OK, store->QueryInterface(iid, &out));
    EXPECT_EQ(static_cast<IPvlBase*>(store), out);
    store->Release();
  }
  IProperties* face = nullptr;
  Owner owner;
  EXPECT_EQ(PVL_E_NULLPTR, store->CreateBoundFace(nullptr, &face));
  EXPECT_EQ(PVL_E_NULLPTR, store->CreateBoundFace(&owner, nullptr));
  EXPECT_EQ(PVL_E_UNSUPPORTED, store->Reserved3(0, 0));
  EXPECT_EQ(PVL_E_UNSUPPORTED, store->Reserved20());
}

}  // namespace
