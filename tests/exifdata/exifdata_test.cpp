// The EXIF collectors: each tag's value rule, the flash bits, the light source
// and scene mappings, and how tags land in the JPEG settings store.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cexifdata.h"
#include "enginetest.h"
#include "ipropertystore.h"

using enginetest::EngineTest;

namespace {

// The settings as the collectors see them; every read can be made to fail.
class SettingsDouble final : public CExifData::Sources {
 public:
  PvlResult Text(const std::string& text, SensorIdentityText* r) {
    r->Length = uint32_t(text.size() + 1);
    if (r->Buffer) {
      if (r->Capacity < r->Length) return PVL_E_BADARG;
      std::memcpy(reinterpret_cast<char*>(uintptr_t(r->Buffer)), text.c_str(), text.size() + 1);
    }
    return PVL_OK;
  }
  PvlResult Read(const char* name) { return failing == name ? PVL_E_NOTREADY : PVL_OK; }
  template <class T>
  PvlResult Put(const char* name, T* out, const T& value) {
    ++reads[name];
    *out = value;
    return Read(name);
  }
  PvlResult GetSensorMake(SensorIdentityText* r) override { return Read("make") ?: Text(make, r); }
  PvlResult GetSensorModel(SensorIdentityText* r) override { return Read("model") ?: Text(model, r); }
  PvlResult GetExposureMeteringMode(uint32_t* o) override { return Put("metering", o, metering); }
  PvlResult GetContrast(CameraRange* o) override { return Put("contrast", o, contrast); }
  PvlResult GetImageEffectMode(uint32_t* o) override { return Put("effect", o, effect); }
  PvlResult GetSharpness(CameraRange* o) override { return Put("sharpness", o, sharpness); }
  PvlResult GetSaturation(CameraRange* o) override { return Put("saturation", o, saturation); }
  PvlResult GetWhiteBalanceMode(uint32_t* o) override { return Put("wbmode", o, wbMode); }
  PvlResult GetBestShotMode(uint32_t* o) override { return Put("bestshot", o, bestShot); }
  uint8_t IsYuvSensor() override { return yuv; }
  PvlResult GetPixelClock(uint32_t* o) override { return Put("clock", o, pixelClock); }
  PvlResult GetLineLength(uint32_t* o) override { return Put("linelength", o, lineLength); }
  PvlResult GetExposureLineCount(uint32_t* o) override { return Put("lines", o, lines); }
  PvlResult GetFNumber(CFixedPoint* o) override {
    CFixedPoint f(10u, 0);
    f.SetRawValue(fNumberQ10);
    return Put("fnumber", o, f);
  }
  PvlResult GetMaxApertureValue(CFixedPoint* o) override {
    CFixedPoint f(10u, 0);
    f.SetRawValue(maxApertureQ10);
    return Put("aperture", o, f);
  }
  PvlResult GetSensorFormat(SensorOutputFormat* o) override { return Put("format", o, format); }
  PvlResult GetSnapshotFlashMode(uint32_t* o) override { return Put("flashmode", o, flashMode); }
  PvlResult GetFlashNeeded(uint8_t* o) override { return Put("flashneeded", o, flashNeeded); }
  PvlResult GetCurrentFlashDeviceId(uint32_t* o) override { return Put("flashdevice", o, flashDevice); }
  PvlResult GetRedEyeReductionMode(uint32_t* o) override { return Put("redeye", o, redEye); }
  PvlResult GetWhiteBalanceValue(uint32_t* o) override { return Put("kelvin", o, kelvin); }
  PvlResult IsFixedFocus(uint8_t* o) override { return Put("fixedfocus", o, fixedFocus); }
  PvlResult IsOnSensorAutoFocus(uint8_t* o) override { return Put("onsensoraf", o, onSensorAf); }
  PvlResult GetFocusMode(uint32_t* o) override { return Put("focusmode", o, focusMode); }

  std::string make = "Vantor", model = "S5K3E2FX";
  uint32_t metering = 1, effect = 0, wbMode = 0, bestShot = 0;
  CameraRange contrast{0, 10, 1, 5, 5}, sharpness{0, 10, 1, 5, 5}, saturation{0, 10, 1, 5, 5};
  uint8_t yuv = 0;
  uint32_t pixelClock = 96000000, lineLength = 2800, lines = 900;
  int32_t fNumberQ10 = 2867, maxApertureQ10 = 2970;  // f/2.8, 2.9
  SensorOutputFormat format{{1, 1, 0}};
  uint32_t flashMode = 0;
  uint8_t flashNeeded = 0;
  uint32_t flashDevice = 1, redEye = 0;
  uint32_t kelvin = 5000;
  uint8_t fixedFocus = 0, onSensorAf = 0;
  uint32_t focusMode = 0;
  std::string failing;
  std::map<std::string, int> reads;
};

class ExifTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    CPvlPtr<IPvlBase> object;
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, object.Out()));
    ASSERT_EQ(PVL_OK, object->QueryInterface(ZUEUID_IFACE_PROPERTY_STORE, store.Out()));
  }
  void Drop() override { store.Reset(); }
  // A tag's value as stored; type 0 when absent.
  PvlValueRecord Tag(uint32_t tag) {
    PvlValueRecord v{};
    if (store->GetProperty(tag, &v) != PVL_OK) return PvlValueRecord{};
    return v;
  }
  bool Has(uint32_t tag) { return Tag(tag).type != 0; }
  uint16_t Short(uint32_t tag) {
    PvlValueRecord v = Tag(tag);
    EXPECT_EQ(v.type, uint32_t(PVL_VT_UINT16)) << std::hex << tag;
    return v.payload.u16;
  }
  std::pair<uint32_t, uint32_t> Rational(uint32_t tag) {
    PvlValueRecord v = Tag(tag);
    EXPECT_EQ(v.type, uint32_t(PVL_VT_URATIONAL)) << std::hex << tag;
    return {v.payload.rational.numerator, v.payload.rational.denominator};
  }
  std::string String(uint32_t tag) {
    PvlValueRecord v = Tag(tag);
    std::string s = v.type == PVL_VT_STRING && v.payload.array.data ? static_cast<char*>(v.payload.array.data) : "";
    PvlValue_Clear(&v);
    return s;
  }
  uint32_t GroupSize() {
    uint32_t count = 0;
    store->GetGroupMembers(ZUEUID_PROPERTY_GROUP_EXIF, nullptr, 0, &count);
    return count;
  }
  PvlResult Collect() {
    CExifData exif(env, &settings);
    return exif.CollectCaptureExif(store);
  }
  void Fresh() {
    store.Reset();
    CPvlPtr<IPvlBase> object;
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, object.Out()));
    ASSERT_EQ(PVL_OK, object->QueryInterface(ZUEUID_IFACE_PROPERTY_STORE, store.Out()));
  }

  SettingsDouble settings;
  CPvlPtr<IPropertyStore> store;
};

TEST_F(ExifTest, CaptureSettingsMapToTheirTags) {
  struct Case {
    const char* name;
    void (*set)(SettingsDouble&);
    uint32_t tag;
    int expected;  // -1: not written
  } cases[] = {
      {"metering average", [](SettingsDouble& s) { s.metering = 0; }, 0x9207, 1},
      {"metering centre-weighted", [](SettingsDouble& s) { s.metering = 1; }, 0x9207, 2},
      {"metering spot", [](SettingsDouble& s) { s.metering = 2; }, 0x9207, 3},
      {"metering unknown", [](SettingsDouble& s) { s.metering = 3; }, 0x9207, -1},
      {"effect mode 1", [](SettingsDouble& s) { s.effect = 1; }, 0xA401, 1},
      {"no effect", [](SettingsDouble& s) { s.effect = 0; }, 0xA401, -1},
      {"exposure mode", [](SettingsDouble&) {}, 0xA402, 0},
      {"manual white balance", [](SettingsDouble& s) { s.wbMode = 1; }, 0xA403, 1},
      {"auto white balance", [](SettingsDouble& s) { s.wbMode = 2; }, 0xA403, 0},
      {"best shot 1 landscape", [](SettingsDouble& s) { s.bestShot = 1; }, 0xA406, 1},
      {"best shot 3 landscape", [](SettingsDouble& s) { s.bestShot = 3; }, 0xA406, 1},
      {"best shot 4 landscape", [](SettingsDouble& s) { s.bestShot = 4; }, 0xA406, 1},
      {"best shot 6 portrait", [](SettingsDouble& s) { s.bestShot = 6; }, 0xA406, 2},
      {"best shot 5 night", [](SettingsDouble& s) { s.bestShot = 5; }, 0xA406, 3},
      {"best shot 2 standard", [](SettingsDouble& s) { s.bestShot = 2; }, 0xA406, 0},
      {"contrast at default", [](SettingsDouble& s) { s.contrast.Value = 5; }, 0xA408, 0},
      {"contrast below", [](SettingsDouble& s) { s.contrast.Value = 2; }, 0xA408, 1},
      {"contrast above", [](SettingsDouble& s) { s.contrast.Value = 9; }, 0xA408, 2},
      {"saturation below", [](SettingsDouble& s) { s.saturation.Value = 0; }, 0xA409, 1},
      {"sharpness above", [](SettingsDouble& s) { s.sharpness.Value = 6; }, 0xA40A, 2},
  };
  for (const Case& c : cases) {
    Fresh();
    settings = SettingsDouble{};
    c.set(settings);
    ASSERT_EQ(Collect(), PVL_OK) << c.name;
    if (c.expected < 0)
      EXPECT_FALSE(Has(c.tag)) << c.name;
    else
      EXPECT_EQ(Short(c.tag), c.expected) << c.name;
  }
}

TEST_F(ExifTest, FlashBitsSayWhatTheFlashDid) {
  struct Case {
    const char* name;
    uint32_t mode;
    uint8_t needed;
    uint32_t redEye;
    uint16_t value;
    bool deviceRead;
  } cases[] = {
      {"off", 0, 0, 1, 0x10, false},
      {"auto, not needed", 2, 0, 1, 0x18, false},
      {"on", 1, 0, 0, 0x09, true},
      {"auto, needed", 2, 1, 0, 0x19, true},
      {"on with red-eye reduction", 1, 0, 1, 0x49, true},
      {"auto, needed, red-eye reduction", 2, 1, 1, 0x59, true},
  };
  for (const Case& c : cases) {
    Fresh();
    settings = SettingsDouble{};
    settings.flashMode = c.mode;
    settings.flashNeeded = c.needed;
    settings.redEye = c.redEye;
    CaptureBegin();
    ASSERT_EQ(Collect(), PVL_OK) << c.name;
    char line[32];
    std::snprintf(line, sizeof line, "Exif flash value = 0x%x", c.value);
    EXPECT_TRUE(Contains(CaptureEnd(), line)) << c.name;
    EXPECT_EQ(Short(0x9209), c.value) << c.name;
    EXPECT_EQ(settings.reads.count("flashdevice") == 1, c.deviceRead) << c.name;
  }
  // A failing device read ends the collection.
  Fresh();
  settings = SettingsDouble{};
  settings.flashMode = 1;
  settings.failing = "flashdevice";
  EXPECT_EQ(Collect(), PVL_E_NOTREADY);
  EXPECT_FALSE(Has(0x9209));
  EXPECT_TRUE(Has(0x829D)) << "tags written before stay";
}

TEST_F(ExifTest, ExposureTagsFollowTheSensor) {
  struct Case {
    const char* name;
    uint8_t yuv;
    uint32_t clock;
    bool exposure;
  } cases[] = {{"Bayer sensor", 0, 96000000, true}, {"YUV sensor", 1, 96000000, false}, {"no pixel clock", 0, 0, false}};
  for (const Case& c : cases) {
    Fresh();
    settings = SettingsDouble{};
    settings.yuv = c.yuv;
    settings.pixelClock = c.clock;
    ASSERT_EQ(Collect(), PVL_OK) << c.name;
    EXPECT_EQ(Has(0x829A), c.exposure) << c.name;
    if (c.exposure) {
      EXPECT_EQ(Rational(0x829A), (std::pair<uint32_t, uint32_t>{26, 1024})) << c.name;
    }
  }
  EXPECT_EQ(Rational(0x829D), (std::pair<uint32_t, uint32_t>{2867, 1024}));
  EXPECT_EQ(Rational(0x9205), (std::pair<uint32_t, uint32_t>{2970, 1024}));
  EXPECT_EQ(Short(0x5039), 2);
  Fresh();
  settings = SettingsDouble{};
  settings.format.Words[1] = 0;
  settings.fNumberQ10 = -100;
  ASSERT_EQ(Collect(), PVL_OK);
  EXPECT_EQ(Short(0x5039), 1);
  EXPECT_EQ(Rational(0x829D).first, 0u) << "a negative F-number reads as unknown";
}

TEST_F(ExifTest, LightSourceAndSubjectDistanceMapTheSettings) {
  struct Light {
    uint32_t kelvin;
    uint16_t value;
  } lights[] = {{2350, 1}, {5000, 1}, {2800, 3}, {3000, 2}, {4000, 2}, {4200, 2},
                {5500, 4}, {6500, 10}, {7500, 11}, {6000, 255}, {0, 255}};
  for (const Light& l : lights) {
    Fresh();
    settings = SettingsDouble{};
    settings.kelvin = l.kelvin;
    ASSERT_EQ(Collect(), PVL_OK);
    EXPECT_EQ(Short(0x9208), l.value) << l.kelvin << " K";
  }
  struct Distance {
    const char* name;
    uint8_t fixed, onSensor;
    uint32_t focus;
    uint16_t value;
  } distances[] = {{"fixed focus", 1, 0, 1, 0},  {"focus on the sensor", 0, 1, 1, 0}, {"macro", 0, 0, 1, 1},
                   {"distant view", 0, 0, 0, 3}, {"other focus mode", 0, 0, 2, 0}};
  for (const Distance& d : distances) {
    Fresh();
    settings = SettingsDouble{};
    settings.fixedFocus = d.fixed;
    settings.onSensorAf = d.onSensor;
    settings.focusMode = d.focus;
    ASSERT_EQ(Collect(), PVL_OK) << d.name;
    EXPECT_EQ(Short(0xA40C), d.value) << d.name;
  }
}

TEST_F(ExifTest, AFailingReadEndsTheCollection) {
  for (const char* read : {"metering", "bestshot", "clock", "fnumber", "flashmode", "kelvin", "focusmode"}) {
    Fresh();
    settings = SettingsDouble{};
    settings.failing = read;
    EXPECT_EQ(Collect(), PVL_E_NOTREADY) << read;
  }
}

TEST_F(ExifTest, SensorMakeAndModelAreTexts) {
  CExifData exif(env, &settings);
  ASSERT_EQ(exif.GetSensorExifTags(store), PVL_OK);
  EXPECT_EQ(String(0x010F), "Vantor");
  EXPECT_EQ(String(0x0110), "S5K3E2FX");
  EXPECT_EQ(exif.GetSensorExifTags(nullptr), PVL_E_NULLPTR);
  Fresh();
  settings.failing = "model";
  EXPECT_EQ(exif.GetSensorExifTags(store), PVL_E_NOTREADY);
  EXPECT_FALSE(Has(0x010F)) << "nothing is written when a read failed";
}

TEST_F(ExifTest, TheModelTagIsTheSensorsTextAsItIs) {
  struct Case {
    const char* name;
    const char* sensor;
    const char* tag;
  } cases[] = {
      {"stray closing bracket", "S5K3E2FX 5MP BAYER)", "S5K3E2FX 5MP BAYER)"},
      {"matched brackets", "S5K3E2FX (5MP BAYER)", "S5K3E2FX (5MP BAYER)"},
      {"no bracket", "S5K3E2FX", "S5K3E2FX"},
      {"only a bracket", ")", ")"},
      {"stray bracket not at the end", "S5K) 5MP", "S5K) 5MP"},
  };
  for (const Case& c : cases) {
    Fresh();
    settings = SettingsDouble{};
    settings.model = c.sensor;
    CExifData exif(env, &settings);
    ASSERT_EQ(exif.GetSensorExifTags(store), PVL_OK) << c.name;
    EXPECT_EQ(String(0x0110), c.tag) << c.name;
  }
}

TEST_F(ExifTest, ATagIsAddedOnceAndUpdatedAfterwards) {
  PvlValueRecord v{};
  v.type = PVL_VT_UINT16;
  v.payload.u16 = 3;
  ASSERT_EQ(CExifData::SetTag(store, 0x9207, &v), PVL_OK);
  EXPECT_EQ(GroupSize(), 1u);
  v.payload.u16 = 2;
  ASSERT_EQ(CExifData::SetTag(store, 0x9207, &v), PVL_OK);
  EXPECT_EQ(GroupSize(), 1u) << "no second property";
  EXPECT_EQ(Short(0x9207), 2);
  EXPECT_EQ(CExifData::SetTag(nullptr, 0x9207, &v), PVL_E_NULLPTR);
  EXPECT_EQ(CExifData::SetTag(store, 0x9207, nullptr), PVL_E_NULLPTR);
}

class TunerDouble final : public ITunvex {
 public:
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult Register(IRuntimeTuning*, const char*) override { return PVL_OK; }
  PvlResult Start() override { return PVL_OK; }
  PvlResult SendDataToJPEG(char* buffer, uint32_t size, uint32_t* needed, uint32_t* written) override {
    *needed = uint32_t(text.size() + 1);
    if (buffer) {
      std::memcpy(buffer, text.c_str(), std::min<size_t>(size, text.size() + 1));
      *written = std::min<uint32_t>(size, *needed);
    }
    return PVL_OK;
  }
  PvlResult Unregister(IRuntimeTuning*) override { return PVL_OK; }
  std::string text = "AEC=1,2\nAWB=3\n";
};

TEST_F(ExifTest, TheTuningTextGoesIntoTheStore) {
  CExifData exif(env, &settings);
  CaptureBegin();
  EXPECT_EQ(exif.AddTuningData(store, nullptr), PVL_OK);
  EXPECT_TRUE(Contains(CaptureEnd(), "piTunvex is NULL"));
  EXPECT_FALSE(Has(ZUEUID_PROPERTY_EXIF_TUNING_DATA));
  TunerDouble tuner;
  OrbhostTest_FailAllocation(1);
  CaptureBegin();
  EXPECT_EQ(exif.AddTuningData(store, &tuner), PVL_E_OUTOFMEMORY);
  OrbhostTest_FailAllocation(0);
  EXPECT_TRUE(Contains(CaptureEnd(), "Heap Alloc Failed. Out of Memory!!! 15"));
  EXPECT_FALSE(Has(ZUEUID_PROPERTY_EXIF_TUNING_DATA)) << "no property without its data";
  ASSERT_EQ(exif.AddTuningData(store, &tuner), PVL_OK);
  PvlValueRecord v = Tag(ZUEUID_PROPERTY_EXIF_TUNING_DATA);
  EXPECT_EQ(v.type, uint32_t(PVL_VT_BLOCK));
  ASSERT_EQ(v.payload.array.filled, 15);
  EXPECT_EQ(std::memcmp(v.payload.array.data, "AEC=1,2\nAWB=3\n", 15), 0);
  PvlValue_Clear(&v);
  EXPECT_EQ(GroupSize(), 1u);
}

}  // namespace
