// Engine settings, sensor-information proxy, user data, the user-data
// aggregate and its six settings views, over the host's property store.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "ccameratuningdata.h"
#include "camerapropertyids.h"
#include "cuserdataaggregate.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "ipropertystore.h"
#include "orbhost_test.h"
#include "cpvlptr.h"
#include "settingsdoubles.h"
#include "tuningdoubles.h"
#include "tuningpattern.h"

using namespace tuningtest;

namespace {

PvlValueRecord Int(int32_t v) {
  PvlValueRecord r{};
  r.type = PVL_VT_SINT32;
  r.payload.i32 = v;
  return r;
}
PvlValueRecord Float(float v) {
  PvlValueRecord r{};
  r.type = PVL_VT_FLOAT;
  r.payload.f = v;
  return r;
}
PvlValueRecord Typed(uint32_t type, int32_t a, int32_t b) {
  PvlValueRecord r{};
  r.type = type;
  r.payload.pair = CPvlPair{a, b};
  return r;
}
CFixedPoint Q(uint32_t q, int32_t raw) {
  CFixedPoint f(q, 0);
  f.SetRawValue(raw);
  return f;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    CPvlPtr<IPvlBase> object;
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, object.Out()));
    ASSERT_EQ(PVL_OK, object->QueryInterface(ZUEUID_IFACE_PROPERTY_STORE, store.Out()));
    // The engine's properties that the user data reads, with the engine's defaults.
    Define(ZUEUID_PROPERTY_ANTIBANDING_MODE, Int(60), 1);
    Define(ZUEUID_PROPERTY_APERTURE, Float(4.0f), 3);
    Define(ZUEUID_PROPERTY_BEST_SHOT_MODE, Int(0), 0);
    Define(ZUEUID_PROPERTY_BRIGHTNESS, Int(5), 0, Int(0), Int(10), Int(5), Int(1));
    Define(ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, Typed(15, 0, 6), 0);
    Define(ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, Int(0), 0);
    Define(ZUEUID_PROPERTY_FOCUS_MODE, Int(0), 0);
    Define(ZUEUID_PROPERTY_FOCUS_RECT_GRID, Typed(13, 1, 1), 0);
    Define(ZUEUID_PROPERTY_FOCUS_RECT_MODE, Int(0), 0);
    Define(ZUEUID_PROPERTY_FOCUS_STEP, Int(0), 0);
    Define(ZUEUID_PROPERTY_ISO_MODE, Int(100), 0, Int(100), Int(800), Int(100), Int(100));
    Define(ZUEUID_PROPERTY_LAMP_MODE, Int(0), 0);
    Define(ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE, Int(0), 0);
    Define(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, Int(5000), 3);
    Define(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, Float(1.0f), 0, Float(1.0f), Float(1.0f), Float(1.0f), Float(0.1f));
    formats.enabled = {Format(640, 480, 33333, 0)};
    ud.SetSources(store.Get(), &formats);
    ASSERT_EQ(PVL_OK, sip.SetSensorService(&sensor));
    ASSERT_EQ(PVL_OK, CUserDataAggregate::New(env, &ud, &es, &sip, &aggregate));
  }
  void TearDown() override {
    if (aggregate) {
      EXPECT_EQ(aggregate->Release(), 0);
    }
    OrbhostTest_UnregisterAllClasses();
  }

  void Define(uint32_t id, PvlValueRecord value, uint32_t mode, PvlValueRecord min = {}, PvlValueRecord max = {},
              PvlValueRecord def = {}, PvlValueRecord step = {}) {
    if (min.type == 0) {
      min = max = def = step = value;
    }
    CPvlPropertyDesc d(id, "p", "d", &value, &min, &max, &def, &step, mode, 0, PVL_DESC_COPY_DEEP);
    ASSERT_EQ(PVL_OK, store->AddProperty(&d, 0, PVL_PROPERTY_ADD_REPLACE));
  }
  void Set(uint32_t id, PvlValueRecord value, uint32_t mode) {
    PvlPropertyValueRecord r{};
    r.id = id;
    r.value = value;
    r.mode = mode;
    ASSERT_EQ(PVL_OK, store->SetProperties(&r, 1));
  }
  int32_t IntProperty(uint32_t id) {
    PvlValueRecord v{};
    v.type = PVL_VT_SINT32;
    EXPECT_EQ(PVL_OK, store->GetProperty(id, &v));
    return v.payload.i32;
  }
  template <class T>
  CPvlPtr<T> View(ZUEUID iid) {
    CPvlPtr<T> v;
    EXPECT_EQ(PVL_OK, aggregate->QueryInterface(iid, v.Out()));
    return v;
  }

  CPvlPtr<IEnv> env;
  CPvlPtr<IPropertyStore> store;
  PortFormatsDouble formats;
  SensorServiceDouble sensor;
  CUserData ud;
  CEngineSettings es;
  CSensorInfoProxy sip;
  CUserDataAggregate* aggregate = nullptr;
};

}  // namespace

// --- Engine settings --------------------------------------------------------

TEST(EngineSettings, ChangeFlags) {
  CEngineSettings s;
  EXPECT_TRUE(s.IsExposureChanged());
  EXPECT_TRUE(s.IsVfeChanged());
  s.ClearExposureChanged();
  s.ClearVfeChanged();
  EXPECT_EQ(PVL_OK, s.SetExposureLineCount(900));  // the default: no change
  EXPECT_FALSE(s.IsExposureChanged());
  s.SetExposureGain(Q(8, 768));
  EXPECT_FALSE(s.IsExposureChanged());
  s.SetExposureGain(Q(0, 3));  // the same value at another Q counts as a change
  EXPECT_TRUE(s.IsExposureChanged());
  s.ClearExposureChanged();
  s.SetAecIndex(0);
  EXPECT_FALSE(s.IsVfeChanged());
  s.SetAecIndex(7);
  EXPECT_TRUE(s.IsVfeChanged());
  EXPECT_TRUE(s.IsExposureChanged());
  s.ClearVfeChanged();
  s.SetWhiteBalanceGains(Q(8, 343), Q(8, 256), Q(8, 486));  // always marks
  EXPECT_TRUE(s.IsVfeChanged());
  s.ClearVfeChanged();
  s.SetAwbWordA(5);
  s.SetAwbFlagB(0);
  s.SetAecWordB(0);
  s.SetAecPair(1, 1);
  s.SetFlashNeeded(1);
  EXPECT_FALSE(s.IsVfeChanged());
  CFixedPoint r, g, b;
  ASSERT_EQ(PVL_OK, s.GetGainTripleB(&r, &g, &b));
  EXPECT_EQ(b.GetRawValue(), 256);
  EXPECT_EQ(PVL_E_NULLPTR, s.GetGainTripleB(&r, nullptr, &b));
}

TEST(EngineSettings, PreSnapshotStates) {
  CEngineSettings s;
  ListenerDouble listener;
  s.SetPreSnapshotListener(&listener);
  struct { uint32_t given, stored; int notified; } cases[] = {{5, 10, 1}, {6, 6, 0}, {7, 8, 0}, {9, 4, 0}, {10, 10, 0}};
  for (auto c : cases) {
    listener.notified = 0;
    s.SetPreSnapshotState(c.given);
    uint32_t state = 0;
    s.GetPreSnapshotState(&state);
    EXPECT_EQ(state, c.stored) << c.given;
    EXPECT_EQ(listener.notified, c.notified) << c.given;
  }
  s.SetPreSnapshotListener(nullptr);
  EXPECT_EQ(listener.refs, 0);
}

TEST(EngineSettings, VfeBlockSizes) {
  CEngineSettings s;
  uint8_t block[256];
  for (int i = 0; i < 256; ++i) block[i] = uint8_t(i);
  EXPECT_EQ(PVL_E_BADARG, s.SetVfeBlock(block, 255));
  ASSERT_EQ(PVL_OK, s.SetVfeBlock(block, 256));
  uint32_t size = 0;
  ASSERT_EQ(PVL_OK, s.GetVfeBlock(nullptr, 0, &size));
  EXPECT_EQ(size, 256u);
  EXPECT_EQ(PVL_E_NULLPTR, s.GetVfeBlock(nullptr, 10, &size));
  // A buffer too small for the block is refused instead of overrun.
  uint8_t small[100] = {};
  EXPECT_EQ(PVL_E_BUFFERTOOSMALL, s.GetVfeBlock(small, sizeof small, &size));
  uint8_t out[256] = {};
  ASSERT_EQ(PVL_OK, s.GetVfeBlock(out, sizeof out, &size));
  EXPECT_EQ(std::memcmp(out, block, 256), 0);
}

// --- Sensor-information proxy -------------------------------------------------

TEST(SensorInfoProxy, RecordsAndRates) {
  SensorServiceDouble sensor;  // outlives the proxy, which holds it
  CSensorInfoProxy p;
  CFixedPoint rate;
  EXPECT_EQ(PVL_E_NOTREADY, p.GetFrameRateA(&rate));
  EXPECT_EQ(0, p.IsYuvSensor());
  EXPECT_EQ(PVL_E_BADARG, p.SetSensorService(nullptr));
  ASSERT_EQ(PVL_OK, p.SetSensorService(&sensor));
  EXPECT_EQ(PVL_E_BADARG, p.SetSensorService(nullptr));  // keeps the service
  ASSERT_EQ(PVL_OK, p.GetFrameRateA(&rate));
  EXPECT_EQ(rate.GetQ(), 8u);
  EXPECT_EQ(rate.GetRawValue(), 7680);
  uint32_t w = 0;
  ASSERT_EQ(PVL_OK, p.GetPixelClock(&w));
  EXPECT_EQ(w, 80000000u);
  ASSERT_EQ(PVL_OK, p.GetLineLength(&w));
  EXPECT_EQ(w, 2732u);
  ASSERT_EQ(PVL_OK, p.GetGainInfoWord4(&w));
  EXPECT_EQ(w, 77u);
  CameraOutputDescription d{640, 480, 33333, 1, {}};
  ASSERT_EQ(PVL_OK, p.GetModeTimingWord(d, 1, &w));
  EXPECT_EQ(w, 994u);
  EXPECT_EQ(sensor.lastRequest.Width, 640u);
  EXPECT_EQ(sensor.lastRequest.Flag, 1u);
  EXPECT_EQ(sensor.lastRequest.FrameInterval, 33333u);
  CFixedPoint fnumber;
  ASSERT_EQ(PVL_OK, p.GetFNumber(&fnumber));
  EXPECT_EQ(fnumber.GetQ(), 10u);
  EXPECT_EQ(fnumber.GetRawValue(), 3276);
  // Values beyond the Q10 range saturate; NaN reads as 0.
  struct { float value; int32_t raw; } optics[] = {
      {1e12f, INT32_MAX}, {-1e12f, INT32_MIN}, {std::numeric_limits<float>::quiet_NaN(), 0}, {-2.5f, -2560}};
  for (auto o : optics) {
    SCOPED_TRACE(testing::Message() << "optics value " << o.value);
    sensor.optics.FNumber = o.value;
    sensor.optics.MaxApertureValue = o.value;
    ASSERT_EQ(PVL_OK, p.GetFNumber(&fnumber));
    EXPECT_EQ(fnumber.GetRawValue(), o.raw) << o.value;
    ASSERT_EQ(PVL_OK, p.GetMaxApertureValue(&fnumber));
    EXPECT_EQ(fnumber.GetRawValue(), o.raw) << o.value;
  }
  uint8_t flag = 9;
  ASSERT_EQ(PVL_OK, p.IsOnSensorAutoFocus(&flag));
  EXPECT_EQ(flag, 0);
  ASSERT_EQ(PVL_OK, p.IsFixedFocus(&flag));
  EXPECT_EQ(flag, 0);  // a host-driven actuator
  EXPECT_EQ(0, p.IsYuvSensor());
  sensor.format.Words[0] = 6;
  EXPECT_EQ(1, p.IsYuvSensor());
  // A sensor that reports no frame time has no frame rate.
  sensor.timing.Words[1] = 0;
  EXPECT_EQ(PVL_E_BADARG, p.GetFrameRateB(&rate));
  uint32_t result = 5;
  sensor.optics.FocusStatus = 3;
  EXPECT_EQ(PVL_E_FAIL, p.GetOnSensorFocusResult(&result));
  EXPECT_EQ(result, 5u);
}

TEST(SensorInfoProxy, IdentityTexts) {
  SensorServiceDouble sensor;
  CSensorInfoProxy p;
  ASSERT_EQ(PVL_OK, p.SetSensorService(&sensor));
  SensorIdentityText request{0, 0, 0};
  ASSERT_EQ(PVL_OK, p.GetSensorMake(&request));
  EXPECT_EQ(request.Length, 8u);
  char small[4];
  request = SensorIdentityText{reinterpret_cast<uintptr_t>(small), sizeof small, 0};
  EXPECT_EQ(PVL_E_BADARG, p.GetSensorModel(&request));
  char text[32] = {};
  request = SensorIdentityText{reinterpret_cast<uintptr_t>(text), sizeof text, 0};
  ASSERT_EQ(PVL_OK, p.GetSensorModel(&request));
  EXPECT_STREQ(text, "S5K3E2FX 5MP BAYER)");
  EXPECT_EQ(request.Length, 20u);
}

TEST(SensorInfoProxy, FocusAndLens) {
  SensorServiceDouble sensor;
  CSensorInfoProxy p;
  sensor.capabilities.Words[4] = 2;  // focus runs on the sensor
  ASSERT_EQ(PVL_OK, p.SetSensorService(&sensor));
  ListenerDouble listener;
  p.SetFocusListener(&listener);  // dropped again at the end
  ASSERT_EQ(PVL_OK, p.SetFocusState(2));
  EXPECT_EQ(sensor.configured, std::vector<uint32_t>{ZUEUID_SENSOR_CONFIG_FOCUS_STATE});
  ASSERT_EQ(PVL_OK, p.SetFocusState(3));
  EXPECT_EQ(listener.notified, 1);
  ASSERT_EQ(PVL_OK, p.SetFocusState(4));
  EXPECT_EQ(listener.notified, 1);
  EXPECT_EQ(sensor.configured.size(), 1u);  // states 3 and 4 need no configuration
  // A failing focus configuration forces the failed state.
  sensor.configureResult = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, p.SetFocusState(1));
  uint32_t state = 0;
  p.GetFocusState(&state);
  EXPECT_EQ(state, 4u);
  sensor.configureResult = PVL_OK;

  sensor.configured.clear();
  ASSERT_EQ(PVL_OK, p.SetAFSearchMode(1));
  ASSERT_EQ(PVL_OK, p.SetAFSearchMode(1));  // unchanged: no configuration
  EXPECT_EQ(sensor.configured, std::vector<uint32_t>{ZUEUID_SENSOR_CONFIG_AF_SEARCH_MODE});

  sensor.configured.clear();
  EXPECT_EQ(PVL_E_BADARG, p.SetLensMove(2, 5, 0));
  EXPECT_TRUE(sensor.configured.empty());
  // Positions count from the far end (0) toward near, as the actuator's codes.
  ASSERT_EQ(PVL_OK, p.SetLensMove(0, 3, 0));
  ASSERT_EQ(PVL_OK, p.SetLensMove(1, 10, 0));
  uint32_t position = 0;
  p.GetLensPosition(&position);
  EXPECT_EQ(static_cast<int32_t>(position), -7);  // not clamped
  EXPECT_EQ(sensor.configured.size(), 2u);
  p.SetFocusListener(nullptr);
}

// --- User data ------------------------------------------------------------------

TEST_F(SettingsTest, ModeWordsMapped) {
  struct { uint32_t word, mapped; } cases[] = {{0, 0}, {1, 1}, {2, 3}, {3, 2}, {7, 0}};
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << "antibanding mode word " << c.word);
    Set(ZUEUID_PROPERTY_ANTIBANDING_MODE, Int(60), c.word);
    uint32_t v = 99;
    ASSERT_EQ(PVL_OK, ud.GetAntibandingMode(&v));
    EXPECT_EQ(v, c.mapped) << c.word;
  }
  struct { uint32_t word; uint32_t mode; } wb[] = {{2, 1}, {3, 0}, {4, 2}, {5, 3}, {6, 4}, {1, 77}, {7, 77}};
  for (auto c : wb) {
    SCOPED_TRACE(testing::Message() << "white-balance mode word " << c.word);
    Set(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, Int(5000), c.word);
    uint32_t v = 77;
    ASSERT_EQ(PVL_OK, ud.GetWhiteBalanceMode(&v));
    EXPECT_EQ(v, c.mode) << c.word;
  }
}

TEST_F(SettingsTest, BestShotModes) {
  uint32_t mode = 99;
  ASSERT_EQ(PVL_OK, ud.GetBestShotMode(&mode));  // mode word 0: off, the value is not read
  EXPECT_EQ(mode, 0u);
  const uint32_t expected[11] = {9, 7, 3, 11, 10, 1, 5, 6, 2, 8, 4};
  for (int32_t v = 0; v <= 10; ++v) {
    Set(ZUEUID_PROPERTY_BEST_SHOT_MODE, Int(v), 1);
    ASSERT_EQ(PVL_OK, ud.GetBestShotMode(&mode));
    EXPECT_EQ(mode, expected[v]) << v;
  }
  for (int32_t v : {11, -1, -100}) {
    Set(ZUEUID_PROPERTY_BEST_SHOT_MODE, Int(v), 1);
    mode = 55;
    EXPECT_EQ(PVL_E_NOTFOUND, ud.GetBestShotMode(&mode)) << v;
    EXPECT_EQ(mode, 55u);
  }
}

TEST_F(SettingsTest, ValuesRangesAndFailures) {
  CameraRange range{};
  ASSERT_EQ(PVL_OK, ud.GetBrightness(&range));
  EXPECT_EQ(range.Maximum, 10);
  EXPECT_EQ(range.Step, 1);
  EXPECT_EQ(range.Value, 5);
  CameraFraction ev{};
  ASSERT_EQ(PVL_OK, ud.GetExposureCompensation(&ev));
  EXPECT_EQ(ev.Denominator, 6);
  float aperture = 0;
  ASSERT_EQ(PVL_OK, ud.GetAperture(&aperture));
  EXPECT_EQ(aperture, 4.0f);
  uint32_t v = 42;
  Set(ZUEUID_PROPERTY_FOCUS_MODE, Int(1), 0);
  ASSERT_EQ(PVL_OK, ud.GetFocusMode(&v));
  EXPECT_EQ(v, 0u);
  Set(ZUEUID_PROPERTY_FOCUS_MODE, Int(2), 0);
  v = 42;
  EXPECT_EQ(PVL_E_FAIL, ud.GetFocusMode(&v));
  EXPECT_EQ(v, 42u);
  // A property the store does not know: its code, nothing written.
  EXPECT_EQ(PVL_E_BADARG, ud.GetLampIntensity(&range));
  CUserData empty;
  EXPECT_EQ(PVL_E_NOTREADY, empty.GetAntibanding(&v));
}

// Getters that pass only a set of values: the edges of each set, and values
// outside it (result 1, nothing written).
TEST_F(SettingsTest, ValuesOutsideTheAcceptedSets) {
  Define(ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2, Int(0), 0);
  Define(ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, Int(0), 0);
  using Getter = PvlResult (CUserData::*)(uint32_t*);
  struct {
    uint32_t id;
    Getter get;
    int32_t last;  // the set is 0..last
  } sets[] = {{ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, &CUserData::GetExposureMeteringMode, 12},
              {ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2, &CUserData::GetRedEyeReductionMode, 2},
              {ZUEUID_PROPERTY_FOCUS_RECT_MODE, &CUserData::GetFocusRectangleMode, 2},
              {ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, &CUserData::GetImageEffect, 4}};
  for (auto c : sets) {
    for (int32_t v : {0, c.last}) {
      Set(c.id, Int(v), 0);
      uint32_t out = 99;
      ASSERT_EQ(PVL_OK, (ud.*c.get)(&out)) << std::hex << c.id << std::dec << " " << v;
      EXPECT_EQ(out, uint32_t(v)) << std::hex << c.id;
    }
    for (int32_t v : {c.last + 1, -1, INT32_MIN}) {
      Set(c.id, Int(v), 0);
      uint32_t out = 99;
      EXPECT_EQ(PVL_E_FAIL, (ud.*c.get)(&out)) << std::hex << c.id << std::dec << " " << v;
      EXPECT_EQ(out, 99u) << std::hex << c.id;
    }
  }
}

TEST_F(SettingsTest, EnabledOutputFormats) {
  formats.enabled = {Format(640, 480, 66666, 1), Format(1280, 960, 33333, 1), Format(4000, 3000, 10, 0)};
  CameraPortFormat largest{};
  ASSERT_EQ(PVL_OK, ud.GetLargestOutputFormat(&largest));
  EXPECT_EQ(largest.Width, 1280u);  // the third is not looked at
  uint32_t interval = 0;
  ASSERT_EQ(PVL_OK, ud.GetMinFrameInterval(&interval));
  EXPECT_EQ(interval, 33333u);
  uint8_t all = 0;
  ASSERT_EQ(PVL_OK, ud.AreAllOutputsFlagged(&all));
  EXPECT_EQ(all, 1);
  CFixedPoint rate;
  ASSERT_EQ(PVL_OK, ud.GetMaxFrameRate(&rate));
  EXPECT_EQ(rate.GetRawValue(), 7680);
  formats.enabled.clear();
  EXPECT_EQ(PVL_E_NOTREADY, ud.GetMaxFrameRate(&rate));
  ASSERT_EQ(PVL_OK, ud.AreAllOutputsFlagged(&all));
  EXPECT_EQ(all, 1);
}

TEST_F(SettingsTest, FocusCells) {
  CPvlRect r{2, 1, 4, 3};
  PvlValueRecord rect{};
  rect.type = PVL_VT_RECT;
  rect.payload.rect = r;
  PvlValueRecord array{};
  array.type = PVL_VT_ARRAY;
  array.payload.array.data = &rect;
  array.payload.array.capacity = 1;
  array.payload.array.filled = 1;
  Define(ZUEUID_PROPERTY_FOCUS_RECTS, array, 0);
  Set(ZUEUID_PROPERTY_FOCUS_RECT_MODE, Int(1), 0);
  ASSERT_EQ(PVL_OK, ud.UpdateFocusRectangleGrid());
  uint8_t cells[8] = {};
  int32_t count = 0;
  ASSERT_EQ(PVL_OK, ud.GetFocusCells(cells, 8, &count));
  ASSERT_EQ(count, 4);
  EXPECT_EQ(std::vector<uint8_t>(cells, cells + 4), (std::vector<uint8_t>{18, 19, 34, 35}));
  // A full buffer still counts every match.
  ASSERT_EQ(PVL_OK, ud.GetFocusCells(cells, 2, &count));
  EXPECT_EQ(count, 4);
  EXPECT_EQ(PVL_E_NULLPTR, ud.GetFocusCells(nullptr, 1, &count));

  // A grid of more cells than a byte can name is refused rather than walked;
  // an empty one has no cells.
  struct { int32_t columns, rows; PvlResult result; int32_t count; } grids[] = {
      {100000, 100000, PVL_E_BADARG, 77}, {257, 1, PVL_E_BADARG, 77}, {16, 16, PVL_OK, 4}, {0, 16, PVL_OK, 0},
      {-5, 3, PVL_OK, 0}};
  for (auto g : grids) {
    PvlValueRecord pair{};
    pair.type = 13;
    pair.payload.pair = CPvlPair{g.columns, g.rows};
    Set(ZUEUID_PROPERTY_FOCUS_RECT_GRID, pair, 0);
    count = 77;
    EXPECT_EQ(g.result, ud.GetFocusCells(cells, 8, &count)) << g.columns << "x" << g.rows;
    EXPECT_EQ(count, g.count) << g.columns << "x" << g.rows;
  }
}

TEST_F(SettingsTest, MaxCropFactor) {
  ASSERT_EQ(PVL_OK, ud.SetMaxCropFactor(CFixedPoint(8u, 0.5)));
  CameraFloatRange zoom;
  PvlValueRecord v{};
  CFixedPoint crop;
  ASSERT_EQ(PVL_OK, ud.GetCropFactor(&crop));
  EXPECT_EQ(crop.GetRawValue(), 256);
  CPvlPropertyDesc d(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, "", "", nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 1);
  *d.GetValue() = *d.GetMinimum() = *d.GetMaximum() = *d.GetDefault() = *d.GetStep() = Float(0);
  ASSERT_EQ(PVL_OK, store->GetProperties(&d, 1, nullptr));
  EXPECT_EQ(d.GetMaximum()->payload.f, 1.0f);
  ASSERT_EQ(PVL_OK, ud.SetMaxCropFactor(CFixedPoint(8u, 4.0)));
  v = Float(4.0f);
  ASSERT_EQ(PVL_OK, store->SetProperty(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, &v));
  ASSERT_EQ(PVL_OK, ud.SetMaxCropFactor(CFixedPoint(8u, 2.0)));
  ASSERT_EQ(PVL_OK, ud.GetCropFactor(&crop));
  EXPECT_EQ(crop.GetRawValue(), 512);
  (void)zoom;
}

// --- Aggregate and views --------------------------------------------------------

TEST_F(SettingsTest, ViewsCountOnTheAggregate) {
  aggregate->AddRef();
  int32_t base = aggregate->Release();
  CPvlPtr<IFlashSettings> flash = View<IFlashSettings>(ZUEUID_FLASH_SETTINGS);
  aggregate->AddRef();
  EXPECT_EQ(aggregate->Release(), base + 1);
  // From any view to any other, through the aggregate.
  CPvlPtr<IAecSettings> aec;
  ASSERT_EQ(PVL_OK, flash->QueryInterface(ZUEUID_AEC_SETTINGS, aec.Out()));
  CPvlPtr<IVfeSettings> vfe;
  ASSERT_EQ(PVL_OK, aec->QueryInterface(ZUEUID_VFE_SETTINGS, vfe.Out()));
  flash.Reset();
  aec.Reset();
  vfe.Reset();
  aggregate->AddRef();
  EXPECT_EQ(aggregate->Release(), base);
  CPvlPtr<IPvlBase> none;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, aggregate->QueryInterface(0x01234567, none.Out()));
  EXPECT_EQ(PVL_E_NULLPTR, aggregate->QueryInterface(ZUEUID_AF_SETTINGS, nullptr));
}

TEST_F(SettingsTest, NullOutputsAndUnsupportedSlots) {
  auto vfe = View<IVfeSettings>(ZUEUID_VFE_SETTINGS);
  auto sen = View<ISensorSettings>(ZUEUID_SENSOR_SETTINGS);
  auto fl = View<IFlashSettings>(ZUEUID_FLASH_SETTINGS);
  auto awb = View<IAwbSettings>(ZUEUID_AWB_SETTINGS);
  auto af = View<IAfSettings>(ZUEUID_AF_SETTINGS);
  auto aec = View<IAecSettings>(ZUEUID_AEC_SETTINGS);
  CFixedPoint fp;
  uint32_t word = 0;
  uint8_t byte = 0;
  // Every slot that hands something out, with each of its out-pointers null in turn.
  // Each call by its own text, so that a failure names it.
  struct NamedCall {
    const char* name;
    std::function<PvlResult()> call;
  };
#define NULL_CASE(call) NamedCall{#call, [&] { return call; }}
  std::vector<NamedCall> nulls = {
      // IVfeSettings
      NULL_CASE(vfe->GetContrast(nullptr)), NULL_CASE(vfe->GetBrightness(nullptr)),
      NULL_CASE(vfe->GetGammaCurve(nullptr)), NULL_CASE(vfe->GetImageEffectMode(nullptr)),
      NULL_CASE(vfe->GetImageEffect(nullptr)), NULL_CASE(vfe->GetFixedCbOffset(nullptr)),
      NULL_CASE(vfe->GetFixedCrOffset(nullptr)), NULL_CASE(vfe->GetSaturation(nullptr)),
      NULL_CASE(vfe->GetHueAngle(nullptr)), NULL_CASE(vfe->GetSharpness(nullptr)),
      NULL_CASE(vfe->GetDigitalGain(nullptr)), NULL_CASE(vfe->GetCropFactor(nullptr)),
      NULL_CASE(vfe->SetMaxCropFactor(nullptr)), NULL_CASE(vfe->GetReservedFlag(nullptr)),
      NULL_CASE(vfe->GetSensorFormat(nullptr)), NULL_CASE(vfe->GetSensorTiming(nullptr)),
      NULL_CASE(vfe->GetSensorGeometry(nullptr)), NULL_CASE(vfe->GetSensorModeInfo(nullptr)),
      NULL_CASE(vfe->GetWhiteBalanceGains(nullptr, nullptr, nullptr)),
      NULL_CASE(vfe->GetWhiteBalanceGains(&fp, nullptr, &fp)),
      NULL_CASE(vfe->GetWhiteBalanceGains(&fp, &fp, nullptr)),
      NULL_CASE(vfe->GetWhiteBalanceIlluminant(nullptr)), NULL_CASE(vfe->GetAwbFlagB(nullptr)),
      NULL_CASE(vfe->GetAecIndex(nullptr)), NULL_CASE(vfe->GetAecFlagA(nullptr)),
      NULL_CASE(vfe->GetAecPair(nullptr, nullptr)), NULL_CASE(vfe->GetAecPair(&word, nullptr)),
      NULL_CASE(vfe->GetAecPair(nullptr, &byte)), NULL_CASE(vfe->GetFlashNeeded(nullptr)),
      NULL_CASE(vfe->GetFocusState(nullptr)), NULL_CASE(vfe->GetExposureGain(nullptr)),
      NULL_CASE(vfe->GetAecWordB(nullptr)), NULL_CASE(vfe->GetVfeBlock(nullptr, 256, nullptr)),
      NULL_CASE(vfe->GetVfeBlock(nullptr, 256, &word)), NULL_CASE(vfe->SetVfeBlock(nullptr, 256)),
      NULL_CASE(vfe->GetLumaAdaptationMode(nullptr)), NULL_CASE(vfe->GetOutputDescription(nullptr)),
      NULL_CASE(vfe->GetModeTimingWord0(nullptr)),
      // ISensorSettings
      NULL_CASE(sen->GetAntibandingMode(nullptr)), NULL_CASE(sen->GetAntibanding(nullptr)),
      NULL_CASE(sen->GetBrightness(nullptr)), NULL_CASE(sen->GetContrast(nullptr)),
      NULL_CASE(sen->GetExposureGain(nullptr)), NULL_CASE(sen->GetExposureLineCount(nullptr)),
      NULL_CASE(sen->GetExposureCompensation(nullptr)), NULL_CASE(sen->GetExposureMeteringMode(nullptr)),
      NULL_CASE(sen->GetUnsupportedA(nullptr)), NULL_CASE(sen->GetUnsupportedB(nullptr)),
      NULL_CASE(sen->GetLensMoveDirection(nullptr)), NULL_CASE(sen->GetLensMoveSteps(nullptr)),
      NULL_CASE(sen->GetLensReset(nullptr)), NULL_CASE(sen->GetAFSearchMode(nullptr)),
      NULL_CASE(sen->GetFocusState(nullptr)), NULL_CASE(sen->AreAllOutputsFlagged(nullptr)),
      NULL_CASE(sen->GetFrameInterval(nullptr)), NULL_CASE(sen->GetGammaCurve(nullptr)),
      NULL_CASE(sen->GetHueAngle(nullptr)), NULL_CASE(sen->GetImageEffectMode(nullptr)),
      NULL_CASE(sen->GetImageEffect(nullptr)), NULL_CASE(sen->GetFixedCbOffset(nullptr)),
      NULL_CASE(sen->GetFixedCrOffset(nullptr)), NULL_CASE(sen->GetISOMode(nullptr)),
      NULL_CASE(sen->GetISO(nullptr)), NULL_CASE(sen->GetAperture(nullptr)),
      NULL_CASE(sen->GetSnapshotShutterSpeed(nullptr)), NULL_CASE(sen->GetUnsupportedC(nullptr)),
      NULL_CASE(sen->GetOutputSize(nullptr)), NULL_CASE(sen->GetSaturation(nullptr)),
      NULL_CASE(sen->GetSharpness(nullptr)), NULL_CASE(sen->GetWhiteBalanceMode(nullptr)),
      NULL_CASE(sen->GetWhiteBalanceValue(nullptr)),
      // IFlashSettings
      NULL_CASE(fl->GetLampIntensity(nullptr)), NULL_CASE(fl->GetSnapshotFlashIntensity(nullptr)),
      NULL_CASE(fl->GetRedEyeReductionMode(nullptr)), NULL_CASE(fl->GetUnsupportedD(nullptr)),
      NULL_CASE(fl->GetUnsupportedE(nullptr)), NULL_CASE(fl->GetLampMode(nullptr)),
      NULL_CASE(fl->GetSnapshotFlashMode(nullptr)), NULL_CASE(fl->GetCurrentFlashDeviceId(nullptr)),
      NULL_CASE(fl->IsFlashRequired(nullptr)), NULL_CASE(fl->GetFlashNeeded(nullptr)),
      NULL_CASE(fl->GetPreSnapshotState(nullptr)),
      // IAwbSettings
      NULL_CASE(awb->GetWhiteBalanceMode(nullptr)), NULL_CASE(awb->GetAecIndex(nullptr)),
      NULL_CASE(awb->SetWhiteBalanceGains(nullptr, nullptr, nullptr)),
      NULL_CASE(awb->SetWhiteBalanceGains(&fp, &fp, nullptr)), NULL_CASE(awb->GetAecFlagC(nullptr)),
      NULL_CASE(awb->GetFlashWord(nullptr)), NULL_CASE(awb->GetGainTripleB(nullptr, nullptr, nullptr)),
      NULL_CASE(awb->GetGainTripleB(&fp, nullptr, &fp)), NULL_CASE(awb->GetPreSnapshotState(nullptr)),
      NULL_CASE(awb->IsAwbSupported(nullptr)),
      // IAfSettings
      NULL_CASE(af->GetFocusMode(nullptr)), NULL_CASE(af->GetFocusState(nullptr)),
      NULL_CASE(af->GetLensPosition(nullptr)), NULL_CASE(af->GetLensReset(nullptr)),
      NULL_CASE(af->GetOnSensorFocusResult(nullptr)), NULL_CASE(af->GetFrameRateA(nullptr)),
      NULL_CASE(af->GetAecFlagA(nullptr)), NULL_CASE(af->GetAecPair(nullptr, nullptr)),
      NULL_CASE(af->GetAecPair(&word, nullptr)), NULL_CASE(af->GetPreSnapshotState(nullptr)),
      NULL_CASE(af->GetSensorGeometry(nullptr)), NULL_CASE(af->GetAecIndex(nullptr)),
      // IAecSettings
      NULL_CASE(aec->GetAntibandingMode(nullptr)), NULL_CASE(aec->GetAntibanding(nullptr)),
      NULL_CASE(aec->GetExposureMeteringMode(nullptr)), NULL_CASE(aec->GetExposureCompensation(nullptr)),
      NULL_CASE(aec->AreAllOutputsFlagged(nullptr)), NULL_CASE(aec->GetUnityFactor(nullptr)),
      NULL_CASE(aec->GetMaxFrameRate(nullptr)), NULL_CASE(aec->GetFrameRateB(nullptr)),
      NULL_CASE(aec->GetISOMode(nullptr)), NULL_CASE(aec->GetISO(nullptr)),
      NULL_CASE(aec->GetSnapshotHJRMode(nullptr)), NULL_CASE(aec->GetFrameRateA(nullptr)),
      NULL_CASE(aec->GetPixelClock(nullptr)), NULL_CASE(aec->GetLineLength(nullptr)),
      NULL_CASE(aec->GetGainInfoWord4(nullptr)), NULL_CASE(aec->GetModeFrameRateA(nullptr)),
      NULL_CASE(aec->GetModeFrameRateB(nullptr)), NULL_CASE(aec->GetModeTimingWord5(nullptr)),
      NULL_CASE(aec->GetModeTimingWord2(nullptr)), NULL_CASE(aec->GetModeTimingWord1(nullptr)),
      NULL_CASE(aec->GetOutputDescription(nullptr)), NULL_CASE(aec->GetFixedCount(nullptr)),
      NULL_CASE(aec->SetExposureGain(nullptr)), NULL_CASE(aec->SetExposureValueB(nullptr)),
      NULL_CASE(aec->GetAecWordB(nullptr)), NULL_CASE(aec->GetHJRFrameCount(nullptr)),
      NULL_CASE(aec->GetAecFlagC(nullptr)), NULL_CASE(aec->IsBurstWithoutHJR(nullptr)),
      NULL_CASE(aec->SetGainTripleB(nullptr, nullptr, nullptr)),
      NULL_CASE(aec->SetGainTripleB(&fp, nullptr, &fp)), NULL_CASE(aec->GetFlashWord(nullptr)),
      NULL_CASE(aec->GetPreSnapshotState(nullptr)), NULL_CASE(aec->IsAwbSupported(nullptr)),
      NULL_CASE(aec->GetLampMode(nullptr)), NULL_CASE(aec->GetLensPosition(nullptr))};
#undef NULL_CASE
  for (const NamedCall& c : nulls) EXPECT_EQ(c.call(), PVL_E_NULLPTR) << c.name;
  uint32_t w;
  EXPECT_EQ(PVL_E_UNSUPPORTED, sen->GetUnsupportedA(&w));
  EXPECT_EQ(PVL_E_UNSUPPORTED, sen->GetUnsupportedC(&w));
  EXPECT_EQ(PVL_E_UNSUPPORTED, fl->GetUnsupportedE(&w));
  EXPECT_EQ(PVL_E_UNSUPPORTED, aec->GetUnsupportedF(nullptr));
  EXPECT_EQ(PVL_E_BADARG, vfe->GetAFWindowConfig(nullptr, nullptr, 0, nullptr));
}

TEST_F(SettingsTest, StatisticsViewsWriteWhatTheOthersRead) {
  auto aec = View<IAecSettings>(ZUEUID_AEC_SETTINGS);
  auto awb = View<IAwbSettings>(ZUEUID_AWB_SETTINGS);
  auto af = View<IAfSettings>(ZUEUID_AF_SETTINGS);
  auto vfe = View<IVfeSettings>(ZUEUID_VFE_SETTINGS);
  auto sen = View<ISensorSettings>(ZUEUID_SENSOR_SETTINGS);
  auto fl = View<IFlashSettings>(ZUEUID_FLASH_SETTINGS);
  ASSERT_EQ(PVL_OK, aec->SetExposureLineCount(1234));
  ASSERT_EQ(PVL_OK, aec->SetAecIndex(250));
  ASSERT_EQ(PVL_OK, aec->SetAecPair(7, 8));
  ASSERT_EQ(PVL_OK, aec->SetFlashNeeded(1));
  ASSERT_EQ(PVL_OK, fl->SetFlashWord(2));
  uint32_t w = 0;
  uint8_t b = 0;
  ASSERT_EQ(PVL_OK, sen->GetExposureLineCount(&w));
  EXPECT_EQ(w, 1234u);
  ASSERT_EQ(PVL_OK, vfe->GetAecIndex(&w));
  EXPECT_EQ(w, 250u);
  ASSERT_EQ(PVL_OK, af->GetAecPair(&w, &b));
  EXPECT_EQ(w, 7u);
  EXPECT_EQ(b, 8);
  ASSERT_EQ(PVL_OK, awb->GetFlashWord(&w));
  EXPECT_EQ(w, 2u);
  ASSERT_EQ(PVL_OK, fl->IsFlashRequired(&b));
  EXPECT_EQ(b, 1);
  ASSERT_EQ(PVL_OK, aec->GetFixedCount(&w));
  EXPECT_EQ(w, 256u);
  CFixedPoint unity;
  ASSERT_EQ(PVL_OK, aec->GetUnityFactor(&unity));
  EXPECT_EQ(unity.GetRawValue(), 256);
  ASSERT_EQ(PVL_OK, awb->SetPreSnapshotState(9));
  ASSERT_EQ(PVL_OK, fl->GetPreSnapshotState(&w));
  EXPECT_EQ(w, 4u);
}

TEST_F(SettingsTest, FlashRequired) {
  auto fl = View<IFlashSettings>(ZUEUID_FLASH_SETTINGS);
  struct { uint32_t lampWord; uint8_t needed; uint8_t required; } cases[] = {{1, 0, 1}, {2, 0, 0}, {0, 1, 1}, {0, 0, 0}};
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << "lamp word " << c.lampWord << ", flash needed " << int(c.needed));
    Set(ZUEUID_PROPERTY_LAMP_MODE, Int(0), c.lampWord);
    es.SetFlashNeeded(c.needed);
    uint8_t r = 9;
    ASSERT_EQ(PVL_OK, fl->IsFlashRequired(&r));
    EXPECT_EQ(r, c.required) << c.lampWord << " " << int(c.needed);
  }
}

TEST_F(SettingsTest, AfViewMovesTheLensAndRecordsTheStep) {
  auto af = View<IAfSettings>(ZUEUID_AF_SETTINGS);
  auto sen = View<ISensorSettings>(ZUEUID_SENSOR_SETTINGS);
  Set(ZUEUID_PROPERTY_FOCUS_STEP, Int(11), 0);
  EXPECT_EQ(PVL_E_BADARG, af->MoveLens(2, 5, 0));
  EXPECT_EQ(IntProperty(ZUEUID_PROPERTY_FOCUS_STEP), 11);
  ASSERT_EQ(PVL_OK, af->MoveLens(0, 5, 0));  // toward near
  EXPECT_EQ(IntProperty(ZUEUID_PROPERTY_FOCUS_STEP), 5);
  ASSERT_EQ(PVL_OK, af->MoveLens(1, 5, 0));  // back toward far
  uint32_t w = 9;
  ASSERT_EQ(PVL_OK, sen->GetLensMoveDirection(&w));
  EXPECT_EQ(w, 1u);
  ASSERT_EQ(PVL_OK, sen->GetLensMoveSteps(&w));
  EXPECT_EQ(w, 5u);
  EXPECT_EQ(IntProperty(ZUEUID_PROPERTY_FOCUS_STEP), 0);
}

TEST_F(SettingsTest, SensorViewFrameInterval) {
  auto sen = View<ISensorSettings>(ZUEUID_SENSOR_SETTINGS);
  auto aec = View<IAecSettings>(ZUEUID_AEC_SETTINGS);
  uint32_t interval = 0;
  // An output that fixes its frame rate: the outputs' smallest interval.
  formats.enabled = {Format(640, 480, 33333, 0), Format(320, 240, 66666, 1)};
  ASSERT_EQ(PVL_OK, sen->GetFrameInterval(&interval));
  EXPECT_EQ(interval, 33333u);
  // Every output on automatic frame rate: the rate the AEC plug-in asks for.
  formats.enabled = {Format(640, 480, 66666, 1)};
  CFixedPoint fps(8u, 30.0);
  ASSERT_EQ(PVL_OK, aec->SetExposureValueB(&fps));
  ASSERT_EQ(PVL_OK, sen->GetFrameInterval(&interval));
  EXPECT_EQ(interval, 33333u);
  CFixedPoint fifteen(0u, 15);
  ASSERT_EQ(PVL_OK, aec->SetExposureValueB(&fifteen));
  ASSERT_EQ(PVL_OK, sen->GetFrameInterval(&interval));
  EXPECT_EQ(interval, 66667u);
  // No rate asked for yet: the outputs decide.
  CFixedPoint none(0u, 0);
  ASSERT_EQ(PVL_OK, aec->SetExposureValueB(&none));
  ASSERT_EQ(PVL_OK, sen->GetFrameInterval(&interval));
  EXPECT_EQ(interval, 66666u);
  // A sensor that runs its own exposure: the outputs decide, whatever the plug-in asks.
  sensor.capabilities.Words[0] = 1;
  ASSERT_EQ(PVL_OK, sip.SetSensorService(&sensor));
  ASSERT_EQ(PVL_OK, aec->SetExposureValueB(&fps));
  ASSERT_EQ(PVL_OK, sen->GetFrameInterval(&interval));
  EXPECT_EQ(interval, 66666u);
}

TEST_F(SettingsTest, SensorViewModesAndSizes) {
  auto sen = View<ISensorSettings>(ZUEUID_SENSOR_SETTINGS);
  uint32_t w = 0;
  Set(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, Int(5000), 4);
  ASSERT_EQ(PVL_OK, sen->GetWhiteBalanceMode(&w));
  EXPECT_EQ(w, 2u);
  Set(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, Int(5000), 2);
  ASSERT_EQ(PVL_OK, sen->GetWhiteBalanceMode(&w));
  EXPECT_EQ(w, 3u);
  ASSERT_EQ(PVL_OK, sen->GetISO(&w));
  EXPECT_EQ(w, 100u);
  CameraSize size{};
  ASSERT_EQ(PVL_OK, sen->GetOutputSize(&size));
  EXPECT_EQ(size.Width, 652u);  // YUV output from a Bayer sensor: margins added
  EXPECT_EQ(size.Height, 486u);
}

TEST_F(SettingsTest, VfeViewComputedSlots) {
  auto vfe = View<IVfeSettings>(ZUEUID_VFE_SETTINGS);
  CameraOutputDescription d{};
  ASSERT_EQ(PVL_OK, vfe->GetOutputDescription(&d));
  EXPECT_EQ(d.Width, 652u);
  EXPECT_EQ(d.Height, 486u);
  sensor.format.Words[0] = 5;  // a YUV sensor delivers the size itself
  ASSERT_EQ(PVL_OK, vfe->GetOutputDescription(&d));
  EXPECT_EQ(d.Width, 640u);
  uint32_t word0 = 0;
  ASSERT_EQ(PVL_OK, vfe->GetModeTimingWord0(&word0));
  EXPECT_EQ(word0, 1u);
  EXPECT_EQ(sensor.lastRequest.Width, 640u);

  // Digital gain: exposure gain over the base gain, unity while there is none.
  CFixedPoint gain;
  ASSERT_EQ(PVL_OK, vfe->GetDigitalGain(&gain));
  EXPECT_EQ(gain.GetRawValue(), 768);
  sensor.gainInfo.Words[1] = 0;
  ASSERT_EQ(PVL_OK, vfe->GetDigitalGain(&gain));
  EXPECT_EQ(gain.GetRawValue(), 256);

  uint8_t block[256] = {1};
  EXPECT_EQ(PVL_E_BADARG, vfe->SetVfeBlock(block, 255));
  ASSERT_EQ(PVL_OK, vfe->SetVfeBlock(block, 256));
  uint8_t small[16];
  uint32_t size = 0;
  EXPECT_EQ(PVL_E_BUFFERTOOSMALL, vfe->GetVfeBlock(small, sizeof small, &size));
  uint8_t out[256] = {};
  ASSERT_EQ(PVL_OK, vfe->GetVfeBlock(out, sizeof out, &size));
  EXPECT_EQ(out[0], 1);

  uint8_t whole = 9;
  ASSERT_EQ(PVL_OK, vfe->GetAFWindowConfig(&whole, nullptr, 0, nullptr));
  EXPECT_EQ(whole, 1);
  uint8_t reserved = 9;
  ASSERT_EQ(PVL_OK, vfe->GetReservedFlag(&reserved));
  EXPECT_EQ(reserved, 0);
  SensorGeometry g{};
  ASSERT_EQ(PVL_OK, vfe->GetSensorGeometry(&g));
  EXPECT_EQ(g.Words[9], 2608u);
}

TEST_F(SettingsTest, VfeViewWhiteBalance) {
  OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNING_DATA, &CCameraTuningData::ClassEntry);
  OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNINGSERVER, &RefusingServerFactory);
  OrbhostTest_RegisterClass(kProviderClass, &ProviderFactory);
  ProviderTable() = TuningDataTable{};
  // A red gain of its own for every record, so that the record chosen shows.
  ProviderTable().Block.MWB[MWB_FLUORESCENT] = {2.0f, 1.0f, 1.5f};
  ProviderTable().Block.MWB[MWB_SUNNY] = {2.5f, 1.0f, 1.0f};
  ProviderTable().Block.MWB[MWB_TUNGSTEN] = {1.25f, 1.0f, 1.0f};
  ProviderTable().Block.MWB[MWB_CLOUDY] = {3.0f, 1.0f, 0.5f};
  ProviderTable().Block.MWB[MWB_STROBE] = {3.5f, 1.0f, 1.0f};
  ProviderTable().Block.MWB[MWB_LED] = {1.75f, 1.0f, 1.0f};
  ProviderTable().Block.AWBSnowBlueGainAdj = 1.25f;
  CPvlPtr<ITuningData> tuning;
  ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, tuning.Out()));
  ASSERT_EQ(PVL_OK, tuning->SelectTuningData(kProviderClass));
  auto vfe = View<IVfeSettings>(ZUEUID_VFE_SETTINGS);
  CFixedPoint r, g, b;
  uint32_t illuminant = 0;

  // Automatic: the AWB plug-in's last gains.
  ASSERT_EQ(PVL_OK, vfe->GetWhiteBalanceGains(&r, &g, &b));
  EXPECT_EQ(r.GetRawValue(), 343);
  EXPECT_EQ(b.GetRawValue(), 486);
  ASSERT_EQ(PVL_OK, vfe->GetWhiteBalanceIlluminant(&illuminant));
  EXPECT_EQ(illuminant, 5u);

  // Manual by colour temperature: a manual white-balance record, Q7.
  // Red at Q7: Fluorescent 256, Sunny 320, Tungsten 160, Cloudy 384, LED 224.
  struct { int32_t kelvin; int32_t red; uint32_t illuminant; } cases[] = {
      {2350, 320, 7}, {2800, 160, 6}, {3000, 256, 5}, {4000, 256, 5}, {4200, 256, 4}, {5000, 320, 3},
      {5500, 224, 4}, {6500, 384, 1}, {7500, 384, 0}, {4100, 256, 5}, {0, 256, 5}};
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << c.kelvin << " K");
    Set(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, Int(c.kelvin), 2);
    ASSERT_EQ(PVL_OK, vfe->GetWhiteBalanceGains(&r, &g, &b));
    EXPECT_EQ(r.GetQ(), 7u);
    EXPECT_EQ(r.GetRawValue(), c.red) << c.kelvin;
    ASSERT_EQ(PVL_OK, vfe->GetWhiteBalanceIlluminant(&illuminant));
    EXPECT_EQ(illuminant, c.illuminant) << c.kelvin;
  }

  // The best-shot blue factor scales blue.
  CPvlPtr<IBestShotTuning> bestShot;
  ASSERT_EQ(PVL_OK, tuning->QueryInterface(ZUEUID_IFACE_BESTSHOT_TUNING, bestShot.Out()));
  ASSERT_EQ(PVL_OK, bestShot->SetBestShotOverride(1, BestShotRecordForMode(CAMERA_BESTSHOT_SNOW)));
  Set(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, Int(4000), 2);
  ASSERT_EQ(PVL_OK, vfe->GetWhiteBalanceGains(&r, &g, &b));
  EXPECT_EQ(b.GetRawValue(), 240);  // 1.5 x 1.25 at Q7
  EXPECT_EQ(g.GetRawValue(), 128);
}

TEST_F(SettingsTest, AecViewBurstAndModeTiming) {
  auto aec = View<IAecSettings>(ZUEUID_AEC_SETTINGS);
  uint8_t burst = 9;
  ASSERT_EQ(PVL_OK, aec->IsBurstWithoutHJR(&burst));
  EXPECT_EQ(burst, 0);
  ud.SetSnapshotCount(3);
  ASSERT_EQ(PVL_OK, aec->IsBurstWithoutHJR(&burst));
  EXPECT_EQ(burst, 1);
  Set(ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE, Int(0), 1);
  ASSERT_EQ(PVL_OK, aec->IsBurstWithoutHJR(&burst));
  EXPECT_EQ(burst, 0);
  CFixedPoint rate;
  ASSERT_EQ(PVL_OK, aec->GetModeFrameRateA(&rate));
  EXPECT_EQ(rate.GetRawValue(), 7542);  // 1,000,000 / 33945 at Q8, rounded
  uint32_t w = 0;
  ASSERT_EQ(PVL_OK, aec->GetModeTimingWord5(&w));
  EXPECT_EQ(w, 80000000u);
  ASSERT_EQ(PVL_OK, aec->GetModeTimingWord2(&w));
  EXPECT_EQ(w, 2732u);
  ASSERT_EQ(PVL_OK, aec->SetExposureCompensationRange(6, 1, uint32_t(-12), 12));
}

// --- Sensor information record ----------------------------------------------------

TEST_F(SettingsTest, SensorInfoRecord) {
  CSensorInfo info;
  EXPECT_FALSE(info.IsBayer());
  EXPECT_FALSE(info.IsYUV());
  EXPECT_EQ(info.GetInputWidth(), 0);
  EXPECT_EQ(info.GetInputHeight(), 0);
  auto vfe = View<IVfeSettings>(ZUEUID_VFE_SETTINGS);
  ASSERT_EQ(PVL_OK, info.Fill(vfe.Get()));
  EXPECT_TRUE(info.IsBayer());
  EXPECT_EQ(info.GetInputWidth(), 2608);
  EXPECT_EQ(info.GetInputHeight(), 1960);
  int32_t w = 0, h = 0;
  info.GetActiveSize(&w, &h);
  EXPECT_EQ(w, 1296);  // end words are one past the last pixel and line
  EXPECT_EQ(h, 972);
  EXPECT_TRUE(IsOneOrTwo(info.ModeInfo().Words[2]));
  EXPECT_FALSE(IsOneOrTwo(0));
  EXPECT_FALSE(IsOneOrTwo(3));

  struct { uint32_t kind; bool bayer, yuv; } kinds[] = {{1, true, false}, {4, true, false}, {5, false, true},
                                                        {8, false, true}, {9, false, false}, {0, false, false}};
  for (auto k : kinds) {
    SCOPED_TRACE(testing::Message() << "output kind " << k.kind);
    sensor.format.Words[0] = k.kind;
    ASSERT_EQ(PVL_OK, info.Fill(vfe.Get()));
    EXPECT_EQ(info.IsBayer(), k.bayer) << k.kind;
    EXPECT_EQ(info.IsYUV(), k.yuv) << k.kind;
  }

  // A failing geometry read: the parts before it are new, the parts after it old.
  info.Reset();
  sensor.format.Words[0] = 3;
  sensor.geometryResult = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, info.Fill(vfe.Get()));
  EXPECT_TRUE(info.IsBayer());
  EXPECT_EQ(info.Timing().Words[0], 33333u);
  EXPECT_EQ(info.GetInputWidth(), 0);
  EXPECT_EQ(info.ModeInfo().Words[0], 0u);
  EXPECT_EQ(PVL_E_NULLPTR, info.Fill(nullptr));
}

TEST_F(SettingsTest, AggregateConstructionFailuresLeaveNothingBehind) {
  uint32_t before = OrbhostTest_LiveBlocks(nullptr);
  for (uint32_t n = 1; n <= 7; ++n) {
    OrbhostTest_FailAllocation(n);
    CUserDataAggregate* other = nullptr;
    SCOPED_TRACE(testing::Message() << "allocation " << n << " failing");
    EXPECT_EQ(PVL_E_OUTOFMEMORY, CUserDataAggregate::New(env, &ud, &es, &sip, &other));
    EXPECT_EQ(other, nullptr);
    OrbhostTest_FailAllocation(0);
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), before);
  }
  CUserDataAggregate* other = nullptr;
  ASSERT_EQ(PVL_OK, CUserDataAggregate::New(env, &ud, &es, &sip, &other));
  EXPECT_EQ(other->Release(), 0);
  EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), before);
}
