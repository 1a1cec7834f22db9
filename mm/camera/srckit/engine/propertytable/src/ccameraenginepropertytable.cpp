#include "ccameraenginepropertytable.h"

#include <new>

#include "camerapropertyids.h"
#include "cpvlvariant.h"

namespace {

// How a row's five numbers become values.
enum Kind : uint8_t {
  kInt,         // signed 32-bit (9)
  kFloat,       // 32-bit float (7)
  kSixths,      // pair (n, 6) (15): compared as n / 6
  kOneByOne,    // two words (1, 1) (13)
  kRectArray,   // array of one rectangle (0, 0, 1, 1) (26)
  kFloatArray,  // array of one float 0.0 (26)
  kWord,        // 32-bit word (19), not range-checked
};

struct Row {
  uint32_t id;
  const char* name;
  const char* description;
  Kind kind;
  double values[5];  // value, minimum, maximum, default, step
  uint32_t attribute;
};

// Group 0x010451BA: rows 0..28; group 0x010451BB: rows 29..35.
const Row kRows[] = {
    {ZUEUID_PROPERTY_ANTIBANDING_MODE, "Antibanding Mode", "Antibanding mode of the camera", kInt, {60, 1, 60, 60, 1}, 0},
    {ZUEUID_PROPERTY_APERTURE, "Aperture", "Aperture F-stop number setting of the camera", kFloat,
     {4.0, 0.0, 128.0, 4.0, 0.1}, 3},
    {ZUEUID_PROPERTY_BEST_SHOT_MODE, "Best Shot Mode", "Best shot mode setting of the camera", kInt, {5, 0, 10, 5, 1}, 0},
    {ZUEUID_PROPERTY_BRIGHTNESS, "Brightness", "Brightness setting of the camera", kInt, {750, -10000, 10000, 750, 1}, 0},
    {ZUEUID_PROPERTY_CONTRAST, "Contrast", "Contrast setting of the camera", kInt, {100, 0, 10000, 100, 1}, 0},
    {ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, "Exposure Compensation", "Exposure compensation setting of the camera",
     kSixths, {0, -600, 600, 0, 1}, 0},
    {ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, "Exposure Metering Mode", "Exposure metering mode of the camera", kInt,
     {0, 0, 12, 0, 1}, 3},
    {ZUEUID_PROPERTY_EXPOSURE_METERING_RECT_GRID, "Exposure Metering Rectangle Grid",
     "Exposure metering grid specified in rectangles", kOneByOne, {}, 0},
    {ZUEUID_PROPERTY_EXPOSURE_RECTS, "Exposure Rectangles", "Exposure rectangles used by the camera", kRectArray, {}, 0},
    {ZUEUID_PROPERTY_EXPOSURE_RECT_WEIGHTINGS, "Exposure Rectangle Weightings",
     "Exposure rectangle weightings used by the camera", kFloatArray, {}, 0},
    {ZUEUID_PROPERTY_FIXED_CB_OFFSET, "Fixed Cb Offset", "Fixed Cb offset of the camera", kInt, {0, 0, 0, 0, 1}, 0},
    {ZUEUID_PROPERTY_FIXED_CR_OFFSET, "Fixed Cr Offset", "Fixed Cr offset of the camera", kInt, {0, 0, 0, 0, 1}, 0},
    {ZUEUID_PROPERTY_FOCUS_MODE, "Focus Mode", "Focus mode of the camera", kInt, {1, 0, 1, 1, 1}, 0},
    {ZUEUID_PROPERTY_FOCUS_RECT_GRID, "Focus Rectangle Grid", "Focus grid specified in rectangles", kOneByOne, {}, 0},
    {ZUEUID_PROPERTY_FOCUS_RECT_MODE, "Focus Rectangle Mode", "Focus rectangle mode of the camera", kInt,
     {0, 0, 2, 0, 1}, 0},
    {ZUEUID_PROPERTY_FOCUS_RECTS, "Focus Rectangles", "Focus rectangles of the camera", kRectArray, {}, 0},
    {ZUEUID_PROPERTY_FOCUS_STEP, "Focus Step", "Focus step setting of the camera", kInt, {0, 0, 10000, 0, 1}, 0},
    {ZUEUID_PROPERTY_GAMMA_CURVE, "Gamma Curve", "Gamma curve setting of the camera", kFloat,
     {1.0, 0.01, 100.0, 1.0, 0.01}, 0},
    {ZUEUID_PROPERTY_HIGH_DYNAMIC_RANGE_MODE, "High Dynamic Range Mode", "High dynamic range mode of the camera", kInt,
     {0, 0, 0, 0, 0}, 0},
    {ZUEUID_PROPERTY_HUE_ANGLE, "Hue Angle", "Hue angle setting of the camera", kFloat, {0.0, -180.0, 180.0, 0.0, 0.001},
     0},
    {ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, "Image Effect Mode", "Image effect mode of the camera", kInt, {0, 0, 4, 0, 1}, 0},
    {ZUEUID_PROPERTY_ISO_MODE, "ISO Mode", "ISO mode of the camera", kInt, {80, 0, 12800, 80, 1}, 3},
    {ZUEUID_PROPERTY_LAMP_INTENSITY, "Lamp Intensity", "Lamp intensity", kInt, {0, 0, 10000, 0, 1}, 2},
    {ZUEUID_PROPERTY_LAMP_MODE, "Lamp Mode", "Lamp mode", kInt, {0, 0, 0, 0, 0}, 0},
    {ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE, "Luma-adaptation Mode", "Luma-adaptation mode of the camera", kInt,
     {0, 0, 0, 0, 0}, 0},
    {ZUEUID_PROPERTY_SATURATION, "Saturation", "Saturation setting of the camera", kInt, {100, 0, 10000, 100, 1}, 0},
    {ZUEUID_PROPERTY_SHARPNESS, "Sharpness", "Sharpness setting of the camera", kInt, {0, -10000, 10000, 0, 1}, 0},
    {ZUEUID_PROPERTY_WHITE_BALANCE_MODE, "White Balance Mode", "White balance mode of the camera", kInt,
     {5000, 0, 10000, 5000, 1}, 3},
    {ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, "Zoom Magnification", "Zoom magnification of the camera", kFloat,
     {1.0, 1.0, 1.0, 1.0, 0.1}, 0},
    {ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID, "Current Flash Device ID", "ID of the currently selected flash device",
     kWord, {0, 0, 4294967295.0, 0, 0}, 0},
    {ZUEUID_PROPERTY_SNAPSHOT_FLASH_INTENSITY, "Snapshot Flash Intensity", "Snapshot flash intensity", kInt,
     {0, 0, 10000, 0, 1}, 3},
    {ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, "Snapshot Flash Mode", "Snapshot flash Mode", kInt, {0, 0, 0, 0, 0}, 3},
    {ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE, "Snapshot Hand-jitter Reduction Mode",
     "Hand-jitter reduction mode for snapshot", kInt, {0, 0, 0, 0, 0}, 0},
    {ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED, "Snapshot Shutter Speed", "Shutter speed setting for snapshot", kInt,
     {0, 0, 100000000, 0, 1}, 3},
    {ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2, "Snapshot Flash Mode", "Snapshot flash mode", kInt, {0, 0, 2, 0, 1}, 0},
    {ZUEUID_PROPERTY_SNAPSHOT_FLASH_STATE, "Snapshot Flash State", "Snapshot flash state", kInt, {0, 0, 12, 0, 1}, 0},
};
static_assert(sizeof(kRows) / sizeof(kRows[0]) ==
              CCameraEnginePropertyTable::kFirstGroupCount + CCameraEnginePropertyTable::kSecondGroupCount);

// The five value records of a row; arrays point at `element`, which the
// descriptor's deep copy duplicates.
void BuildValues(const Row& row, PvlValueRecord (&values)[5], PvlValueRecord& element) {
  element = PvlValueRecord{};
  for (int i = 0; i < 5; ++i) {
    PvlValueRecord& v = values[i];
    v = PvlValueRecord{};
    switch (row.kind) {
      case kInt:
        v.type = PVL_VT_SINT32;
        v.payload.i32 = int32_t(row.values[i]);
        break;
      case kFloat:
        v.type = PVL_VT_FLOAT;
        v.payload.f = float(row.values[i]);
        break;
      case kSixths:
        v.type = PVL_VT_PAIR;
        v.payload.pair = CPvlPair{int32_t(row.values[i]), 6};
        break;
      case kOneByOne:
        v.type = PVL_VT_8BYTES;
        v.payload.pair = CPvlPair{1, 1};
        break;
      case kRectArray:
        element.type = PVL_VT_RECT;
        element.payload.rect = CPvlRect{0, 0, 1, 1};
        v.type = PVL_VT_ARRAY;
        v.payload.array = PvlValueArray{&element, 1, 1, 0};
        break;
      case kFloatArray:
        element.type = PVL_VT_FLOAT;
        element.payload.f = 0.0f;
        v.type = PVL_VT_ARRAY;
        v.payload.array = PvlValueArray{&element, 1, 1, 0};
        break;
      case kWord:
        v.type = PVL_VT_UINT32;
        v.payload.u32 = uint32_t(row.values[i]);
        break;
    }
  }
}

PvlResult RegisterGroup(IProperties* store, const Row* rows, uint32_t count, uint32_t group) {
  // Temporary: the store keeps its own copies.
  auto* descs = new (std::nothrow) CPvlPropertyDesc[count];
  auto** pointers = new (std::nothrow) CPvlPropertyDesc*[count];
  struct Free {
    CPvlPropertyDesc* descs;
    CPvlPropertyDesc** pointers;
    ~Free() {
      delete[] descs;
      delete[] pointers;
    }
  } free{descs, pointers};
  if (!descs || !pointers) return PVL_E_OUTOFMEMORY;
  for (uint32_t i = 0; i < count; ++i) {
    PvlValueRecord values[5];
    PvlValueRecord element;
    BuildValues(rows[i], values, element);
    PvlResult r = descs[i].Set(rows[i].id, rows[i].name, rows[i].description, &values[0], &values[1], &values[2],
                               &values[3], &values[4], rows[i].attribute, 0, PVL_DESC_COPY_DEEP);
    if (r == PVL_OK) r = descs[i].GetStatus();
    if (r != PVL_OK) return r;
    pointers[i] = &descs[i];
  }
  return store->RegisterGroup(pointers, count, group);
}

}  // namespace

PvlResult CCameraEnginePropertyTable::Register(IProperties* store) {
  if (!store) return PVL_E_NULLPTR;
  PvlResult r = RegisterGroup(store, kRows, kFirstGroupCount, ZUEUID_PROPERTY_GROUP_CAMERA_ENGINE);
  if (r != PVL_OK) return r;
  return RegisterGroup(store, kRows + kFirstGroupCount, kSecondGroupCount, ZUEUID_PROPERTY_GROUP_CAMERA_SNAPSHOT);
}
