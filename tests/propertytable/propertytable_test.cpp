// The engine's property table as a client sees it after registration: the two
// groups and their order, each property's type, range and attribute, the
// identifiers that carry nothing, and a registration that runs out of memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camerapropertyids.h"
#include "ccameraenginepropertytable.h"
#include "cpvlptr.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "orbhost_test.h"

namespace {

class PropertyTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, store.Out()));
  }
  void TearDown() override {
    store.Reset();
    OrbhostTest_FailAllocation(0);
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework heap blocks left behind";
  }
  std::vector<uint32_t> Members(uint32_t group) {
    uint32_t count = 0;
    EXPECT_EQ(PVL_OK, store->GetGroupMembers(group, nullptr, 0, &count));
    std::vector<uint32_t> ids(count);
    EXPECT_EQ(PVL_OK, store->GetGroupMembers(group, ids.data(), count, &count));
    return ids;
  }
  // The descriptor the store holds for `id`: 0 and *desc filled, or its failure.
  PvlResult Read(uint32_t id, CPvlPropertyDesc* desc) {
    PvlValueRecord empty{};
    PvlResult r = desc->Set(id, "", "", &empty, 0, 0, 0);
    if (r != PVL_OK) return r;
    return store->GetProperties(desc, 1, nullptr);
  }

  CPvlPtr<IEnv> env;
  CPvlPtr<IPropertyStore> store;

 private:
  uint32_t blocks_ = 0;
};

TEST_F(PropertyTableTest, TwoGroupsInTableOrder) {
  ASSERT_EQ(PVL_OK, CCameraEnginePropertyTable::Register(store));
  std::vector<uint32_t> first;
  for (uint32_t id = 0x0103f4de; id <= 0x0103f4fc; ++id)
    if (id != 0x0103f4e3 && id != ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID) first.push_back(id);
  EXPECT_EQ(first, Members(ZUEUID_PROPERTY_GROUP_CAMERA_ENGINE));
  EXPECT_EQ(29u, first.size());
  EXPECT_EQ((std::vector<uint32_t>{ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID, ZUEUID_PROPERTY_SNAPSHOT_FLASH_INTENSITY,
                                   ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE,
                                   ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED, ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2,
                                   ZUEUID_PROPERTY_SNAPSHOT_FLASH_STATE}),
            Members(ZUEUID_PROPERTY_GROUP_CAMERA_SNAPSHOT));
}

TEST_F(PropertyTableTest, IdentifiersWithoutAPropertyAreUnknown) {
  ASSERT_EQ(PVL_OK, CCameraEnginePropertyTable::Register(store));
  for (uint32_t id : {0x0103f4e3u, 0x0103f4ddu, 0x0103f4fdu, 0x0103f50fu, 0x0103f516u}) {
    CPvlPropertyDesc desc;
    EXPECT_EQ(PVL_E_BADARG, Read(id, &desc)) << std::hex << id;
  }
}

// Integer properties: value, minimum, maximum, default, step and attribute.
TEST_F(PropertyTableTest, IntegerRangesAndAttributes) {
  struct Case {
    const char* name;
    uint32_t id;
    int32_t values[5];
    uint32_t attribute;
  };
  const Case cases[] = {
      {"Brightness", ZUEUID_PROPERTY_BRIGHTNESS, {750, -10000, 10000, 750, 1}, 0},
      {"Antibanding", ZUEUID_PROPERTY_ANTIBANDING_MODE, {60, 1, 60, 60, 1}, 0},
      {"Best shot: default 5 with mode word 0", ZUEUID_PROPERTY_BEST_SHOT_MODE, {5, 0, 10, 5, 1}, 0},
      {"ISO", ZUEUID_PROPERTY_ISO_MODE, {80, 0, 12800, 80, 1}, 3},
      {"Lamp intensity", ZUEUID_PROPERTY_LAMP_INTENSITY, {0, 0, 10000, 0, 1}, 2},
      {"Lamp mode takes only 0", ZUEUID_PROPERTY_LAMP_MODE, {0, 0, 0, 0, 0}, 0},
      {"White balance", ZUEUID_PROPERTY_WHITE_BALANCE_MODE, {5000, 0, 10000, 5000, 1}, 3},
      {"Snapshot flash mode 0x0103F511: 0 to 2", ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2, {0, 0, 2, 0, 1}, 0},
      {"Snapshot flash mode 0x0103F513: only 0", ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, {0, 0, 0, 0, 0}, 3},
      {"Snapshot flash state", ZUEUID_PROPERTY_SNAPSHOT_FLASH_STATE, {0, 0, 12, 0, 1}, 0},
      {"Shutter speed", ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED, {0, 0, 100000000, 0, 1}, 3},
      {"Hand-jitter reduction: only 0", ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE, {0, 0, 0, 0, 0}, 0},
  };
  ASSERT_EQ(PVL_OK, CCameraEnginePropertyTable::Register(store));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPvlPropertyDesc desc;
    ASSERT_EQ(PVL_OK, Read(c.id, &desc));
    const PvlValueRecord* v[5] = {desc.GetValue(), desc.GetMinimum(), desc.GetMaximum(), desc.GetDefault(),
                                  desc.GetStep()};
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(uint32_t(PVL_VT_SINT32), v[i]->type) << "value " << i;
      EXPECT_EQ(c.values[i], v[i]->payload.i32) << "value " << i;
    }
    EXPECT_EQ(c.attribute, desc.GetAttribute());
  }
}

// The other value types: floats, the sixths of exposure compensation, the
// (1, 1) grids, the one-element arrays and the flash device's unchecked word.
TEST_F(PropertyTableTest, OtherTypes) {
  ASSERT_EQ(PVL_OK, CCameraEnginePropertyTable::Register(store));
  struct Case {
    const char* name;
    uint32_t id;
    uint32_t type;
    uint32_t attribute;
  };
  const Case cases[] = {
      {"Aperture", ZUEUID_PROPERTY_APERTURE, PVL_VT_FLOAT, 3},
      {"Gamma", ZUEUID_PROPERTY_GAMMA_CURVE, PVL_VT_FLOAT, 0},
      {"Hue", ZUEUID_PROPERTY_HUE_ANGLE, PVL_VT_FLOAT, 0},
      {"Zoom", ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, PVL_VT_FLOAT, 0},
      {"Exposure compensation", ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, PVL_VT_PAIR, 0},
      {"Metering grid", ZUEUID_PROPERTY_EXPOSURE_METERING_RECT_GRID, PVL_VT_8BYTES, 0},
      {"Focus grid", ZUEUID_PROPERTY_FOCUS_RECT_GRID, PVL_VT_8BYTES, 0},
      {"Exposure rectangles", ZUEUID_PROPERTY_EXPOSURE_RECTS, PVL_VT_ARRAY, 0},
      {"Exposure weightings", ZUEUID_PROPERTY_EXPOSURE_RECT_WEIGHTINGS, PVL_VT_ARRAY, 0},
      {"Focus rectangles", ZUEUID_PROPERTY_FOCUS_RECTS, PVL_VT_ARRAY, 0},
      {"Current flash device", ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID, PVL_VT_UINT32, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPvlPropertyDesc desc;
    ASSERT_EQ(PVL_OK, Read(c.id, &desc));
    EXPECT_EQ(c.type, desc.GetMinimum()->type);
    EXPECT_EQ(c.type, desc.GetMaximum()->type);
    EXPECT_EQ(c.attribute, desc.GetAttribute());
  }
  CPvlPropertyDesc desc;
  ASSERT_EQ(PVL_OK, Read(ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, &desc));
  EXPECT_EQ(-600, desc.GetMinimum()->payload.pair.first);
  EXPECT_EQ(6, desc.GetMinimum()->payload.pair.second);
  EXPECT_EQ(600, desc.GetMaximum()->payload.pair.first);
  EXPECT_EQ(1, desc.GetStep()->payload.pair.first);
  ASSERT_EQ(PVL_OK, Read(ZUEUID_PROPERTY_FOCUS_RECT_GRID, &desc));
  EXPECT_EQ(1, desc.GetMinimum()->payload.pair.first);
  EXPECT_EQ(1, desc.GetMaximum()->payload.pair.second);
  ASSERT_EQ(PVL_OK, Read(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, &desc));
  EXPECT_EQ(1.0f, desc.GetMinimum()->payload.f);
  EXPECT_EQ(1.0f, desc.GetMaximum()->payload.f);
  ASSERT_EQ(PVL_OK, Read(ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID, &desc));
  EXPECT_EQ(0xffffffffu, desc.GetMaximum()->payload.u32);
  // The arrays hold one element; the value itself comes out through GetProperty.
  PvlValueRecord rects{};
  ASSERT_EQ(PVL_OK, store->GetProperty(ZUEUID_PROPERTY_FOCUS_RECTS, &rects));
  ASSERT_EQ(1, rects.payload.array.filled);
  const auto* rect = static_cast<const PvlValueRecord*>(rects.payload.array.data);
  EXPECT_EQ(uint32_t(PVL_VT_RECT), rect->type);
  EXPECT_EQ(1, rect->payload.rect.right);
  EXPECT_EQ(1, rect->payload.rect.bottom);
  PvlValue_Clear(&rects);
}

TEST_F(PropertyTableTest, RegistrationStopsWhenMemoryRunsOut) {
  // The first descriptor's copy fails: nothing is registered.
  OrbhostTest_FailAllocation(1);
  EXPECT_EQ(PVL_E_OUTOFMEMORY, CCameraEnginePropertyTable::Register(store));
  OrbhostTest_FailAllocation(0);
  EXPECT_TRUE(Members(ZUEUID_PROPERTY_GROUP_CAMERA_ENGINE).empty());
  EXPECT_TRUE(Members(ZUEUID_PROPERTY_GROUP_CAMERA_SNAPSHOT).empty());
  EXPECT_EQ(PVL_E_NULLPTR, CCameraEnginePropertyTable::Register(nullptr));
}

}  // namespace
