// The camera's standard property sets through the client: the pin set (types,
// categories, names, data ranges, intersection), version, video control, and the
// defaults the driver pushed to the engine when the camera opened.
#include <cmath>
#include <cstring>

#include "formattranslation.h"
#include "ostrel_fixture.h"

namespace ostrel_test {
namespace {

class PropertiesTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    LoadAndOpen();
  }
};

TEST_F(PropertiesTest, VersionNeedsFourBytes) {
  CSPROPERTY header{};
  uint8_t out[4] = {};
  DWORD returned = 99;
  EXPECT_EQ(camera_.Property(CSPROPSETID_VERSION, 0, CSPROPERTY_TYPE_GET, &header, sizeof header, out, 3, &returned),
            DWORD(ERROR_INSUFFICIENT_BUFFER));
  uint32_t version = 0;
  EXPECT_EQ(camera_.Version(&version), ERROR_SUCCESS);
  EXPECT_EQ(version, 1u);
}

TEST_F(PropertiesTest, PinsAreTheEnginesPortsInTheirFixedPlaces) {
  uint32_t types = 0;
  ASSERT_EQ(camera_.PinTypeCount(&types), ERROR_SUCCESS);
  EXPECT_EQ(types, 3u) << "the thumbnail pin is never offered";
  struct Expect {
    uint32_t pin;
    const CsGuid* category;
    const char16_t* name;
  } pins[] = {{CS_PIN_CAPTURE, &PINNAME_VIDEO_CAPTURE, u"Capture"},
              {CS_PIN_STILL, &PINNAME_VIDEO_STILL, u"Still"},
              {CS_PIN_PREVIEW, &PINNAME_VIDEO_PREVIEW, u"Preview"}};
  for (const Expect& e : pins) {
    CsGuid category{};
    ASSERT_EQ(camera_.PinCategory(e.pin, &category), ERROR_SUCCESS) << e.pin;
    EXPECT_TRUE(CsGuidEqual(category, *e.category)) << e.pin;
    std::u16string name;
    ASSERT_EQ(camera_.PinName(e.pin, &name), ERROR_SUCCESS);
    EXPECT_EQ(name, e.name);
    CSPIN_CINSTANCES instances{};
    ASSERT_EQ(camera_.PinInstances(e.pin, &instances), ERROR_SUCCESS);
    EXPECT_EQ(instances.PossibleCount, 1u);
    EXPECT_EQ(instances.CurrentCount, 0u);
  }
  std::u16string device;
  ASSERT_EQ(camera_.PinDeviceName(&device), ERROR_SUCCESS);
  EXPECT_EQ(device, u"PIN1:") << "the pin device this camera activated";
  CSPIN_CINSTANCES instances{};
  EXPECT_EQ(camera_.PinInstances(CS_PIN_NONE, &instances), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(PropertiesTest, PinRequestsOtherThanGetAreRefused) {
  CSP_PIN request{};
  uint32_t out = 0;
  DWORD returned = 0;
  EXPECT_EQ(camera_.Property(CSPROPSETID_Pin, CSPROPERTY_PIN_CTYPES, CSPROPERTY_TYPE_SET, &request, sizeof request, &out,
                             sizeof out, &returned),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(camera_.Property(CSPROPSETID_Pin, 7, CSPROPERTY_TYPE_GET, &request, sizeof request, &out, sizeof out,
                             &returned),
            DWORD(ERROR_INVALID_PARAMETER));
  // A pin request one word short of naming its pin.
  EXPECT_EQ(camera_.Property(CSPROPSETID_Pin, CSPROPERTY_PIN_CATEGORY, CSPROPERTY_TYPE_GET, &request,
                             sizeof request - 8, &out, sizeof out, &returned),
            DWORD(ERROR_MORE_DATA));
}

TEST_F(PropertiesTest, PreviewRangesStopAtTheMaximumVideoSize) {
  std::vector<CS_DATARANGE_VIDEO> ranges;
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_PREVIEW, &ranges), ERROR_SUCCESS);
  ASSERT_EQ(ranges.size(), 2u) << "1280x960 is above 800x480";
  EXPECT_EQ(ranges[0].VideoInfoHeader.bmiHeader.biWidth, 640);
  EXPECT_EQ(ranges[0].VideoInfoHeader.bmiHeader.biHeight, 480);
  EXPECT_EQ(ranges[0].VideoInfoHeader.bmiHeader.biCompression, kFourccYV12);
  EXPECT_EQ(ranges[0].DataRange.SampleSize, 460800u);
  EXPECT_TRUE(CsGuidEqual(ranges[0].DataRange.SubFormat, CsSubtypeOfFourcc(kFourccYV12)));
  EXPECT_EQ(ranges[1].VideoInfoHeader.bmiHeader.biWidth, 320);

  std::vector<CS_DATARANGE_VIDEO> still;
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_STILL, &still), ERROR_SUCCESS);
  ASSERT_EQ(still.size(), 1u) << "RAW is offered only with StillPinRAWSupport";
  EXPECT_EQ(still[0].VideoInfoHeader.bmiHeader.biWidth, 2592) << "the still port is not bound by the video maximum";
  EXPECT_EQ(still[0].VideoInfoHeader.bmiHeader.biCompression, kFourccIJPG);

  // One byte short: the size needed comes back with ERROR_MORE_DATA.
  CSP_PIN request{};
  request.PinId = CS_PIN_PREVIEW;
  std::vector<uint8_t> out(8 + 2 * sizeof(CS_DATARANGE_VIDEO) - 1);
  DWORD returned = 0;
  EXPECT_EQ(camera_.Property(CSPROPSETID_Pin, CSPROPERTY_PIN_DATARANGES, CSPROPERTY_TYPE_GET, &request, sizeof request,
                             out.data(), DWORD(out.size()), &returned),
            DWORD(ERROR_MORE_DATA));
  EXPECT_EQ(returned, out.size() + 1);
}

TEST_F(PropertiesTest, RawAndLargerVideoAppearWhenTheRegistryAllowsThem) {
  camera_.Close();
  WriteDword(OSTREL_PIN_KEY, u"StillPinRAWSupport", 1);
  WriteDword(OSTREL_PIN_KEY, u"MaximumCaptureAndPreviewWidth", 1280);
  WriteDword(OSTREL_PIN_KEY, u"MaximumCaptureAndPreviewHeight", 960);
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  std::vector<CS_DATARANGE_VIDEO> preview, still;
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_PREVIEW, &preview), ERROR_SUCCESS);
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_STILL, &still), ERROR_SUCCESS);
  EXPECT_EQ(preview.size(), 3u);
  EXPECT_EQ(still.size(), 2u);
}

TEST_F(PropertiesTest, IntersectionAnswersTheMatchingFormat) {
  std::vector<CS_DATARANGE_VIDEO> ranges;
  ASSERT_EQ(camera_.PinDataRanges(CS_PIN_PREVIEW, &ranges), ERROR_SUCCESS);
  ASSERT_EQ(ranges.size(), 2u);
  CS_DATAFORMAT_VIDEOINFOHEADER format{};
  ASSERT_EQ(camera_.PinDataIntersection(CS_PIN_PREVIEW, {ranges[1]}, &format), ERROR_SUCCESS);
  EXPECT_EQ(format.DataFormat.FormatSize, sizeof format);
  EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biSize, 40u);
  EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biWidth, 320);

  CS_DATARANGE_VIDEO foreign = ranges[0];
  foreign.VideoInfoHeader.bmiHeader.biWidth = 176;
  DWORD returned = 0;
  CSP_PIN request{};
  request.PinId = CS_PIN_PREVIEW;
  std::vector<uint8_t> in(sizeof request + 8 + sizeof foreign);
  CSMULTIPLE_ITEM item{sizeof foreign, 1};
  std::memcpy(in.data(), &request, sizeof request);
  std::memcpy(in.data() + sizeof request, &item, sizeof item);
  std::memcpy(in.data() + sizeof request + sizeof item, &foreign, sizeof foreign);
  EXPECT_EQ(camera_.Property(CSPROPSETID_Pin, CSPROPERTY_PIN_DATAINTERSECTION, CSPROPERTY_TYPE_GET, in.data(),
                             DWORD(in.size()), &format, sizeof format, &returned),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(returned, sizeof format) << "the answer's size even when nothing matched";
}

// Offered lists the driver must not walk: short items, counts past the input.
TEST_F(PropertiesTest, IntersectionNeverReadsPastTheOfferedList) {
  struct Case {
    const char* name;
    uint32_t itemSize;
    uint32_t count;
    size_t bytes;  // offered bytes actually sent
    DWORD result;
  } cases[] = {
      {"ItemsShorterThanARange", 64, 1, 64, ERROR_INVALID_PARAMETER},
      {"CountBeyondTheInput", sizeof(CS_DATARANGE_VIDEO), 2, sizeof(CS_DATARANGE_VIDEO), ERROR_MORE_DATA},
      {"CountThatWrapsAround", sizeof(CS_DATARANGE_VIDEO), 0x80000000u / 1336 * 4, sizeof(CS_DATARANGE_VIDEO),
       ERROR_MORE_DATA},
      {"NoListHeader", 0, 0, 0, ERROR_MORE_DATA},
  };
  for (const Case& c : cases) {
    CSP_PIN request{};
    request.PinId = CS_PIN_PREVIEW;
    std::vector<uint8_t> in(sizeof request + (c.itemSize ? 8 : 4) + c.bytes);
    std::memcpy(in.data(), &request, sizeof request);
    if (c.itemSize) {
      CSMULTIPLE_ITEM item{c.itemSize, c.count};
      std::memcpy(in.data() + sizeof request, &item, sizeof item);
    }
    CS_DATAFORMAT_VIDEOINFOHEADER format{};
    DWORD returned = 0;
    EXPECT_EQ(camera_.Property(CSPROPSETID_Pin, CSPROPERTY_PIN_DATAINTERSECTION, CSPROPERTY_TYPE_GET, in.data(),
                               DWORD(in.size()), &format, sizeof format, &returned),
              c.result)
        << c.name;
  }
}

TEST_F(PropertiesTest, VideoControlCapabilitiesAndTheTrigger) {
  auto caps = [&](uint32_t pin, uint32_t flags, uint32_t value, DWORD* result) {
    CSPROPERTY_VIDEOCONTROL_S record{};
    record.StreamIndex = pin;
    record.Value = value;
    CSPROPERTY_VIDEOCONTROL_S out{};
    DWORD returned = 0;
    *result = camera_.Property(PROPSETID_VIDCAP_VIDEOCONTROL, CSPROPERTY_VIDEOCONTROL_CAPS, flags, &record,
                               sizeof record, &out, sizeof out, &returned);
    return out.Value;
  };
  DWORD r = 0;
  EXPECT_EQ(caps(CS_PIN_CAPTURE, CSPROPERTY_TYPE_GET, 0, &r), 4u);
  EXPECT_EQ(caps(CS_PIN_STILL, CSPROPERTY_TYPE_GET, 0, &r), 12u);
  EXPECT_EQ(caps(CS_PIN_PREVIEW, CSPROPERTY_TYPE_GET, 0, &r), 0u);
  caps(CS_PIN_PREVIEW, CSPROPERTY_TYPE_SET, 0x10, &r);
  EXPECT_EQ(r, DWORD(ERROR_INVALID_PARAMETER));
  caps(CS_PIN_PREVIEW, CSPROPERTY_TYPE_SET, 0xF, &r);
  EXPECT_EQ(r, DWORD(ERROR_SUCCESS));
  EXPECT_EQ(caps(CS_PIN_PREVIEW, CSPROPERTY_TYPE_GET, 0, &r), 0xFu);
  caps(9, CSPROPERTY_TYPE_GET, 0, &r);
  EXPECT_EQ(r, DWORD(ERROR_INVALID_PARAMETER)) << "no such pin";

  // Trigger: only an instantiated capture or still pin.
  CSPROPERTY_VIDEOCONTROL_S mode{};
  mode.Value = CS_VIDEOCONTROL_FLAG_TRIGGER;
  for (uint32_t pin : {uint32_t(CS_PIN_PREVIEW), uint32_t(CS_PIN_STILL)}) {
    mode.StreamIndex = pin;
    EXPECT_EQ(camera_.Set(PROPSETID_VIDCAP_VIDEOCONTROL, CSPROPERTY_VIDEOCONTROL_MODE, &mode, sizeof mode),
              DWORD(ERROR_INVALID_PARAMETER))
        << pin;
  }
  EXPECT_EQ(FakeCameraEngine::CallCount("StartStill"), 0);

  // Set-support leaves the output as it was.
  CSPROPERTY_VIDEOCONTROL_S record{}, out{};
  std::memset(&out, 0x5A, sizeof out);
  DWORD returned = 0;
  EXPECT_EQ(camera_.Property(PROPSETID_VIDCAP_VIDEOCONTROL, 0, CSPROPERTY_TYPE_SETSUPPORT, &record, sizeof record, &out,
                             sizeof out, &returned),
            ERROR_SUCCESS);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(&out)[0], 0x5A);
}

int32_t EngineInt(uint32_t id, uint32_t* mode = nullptr) {
  PvlValueRecord v{};
  EXPECT_TRUE(FakeCameraEngine::PropertyValue(id, &v, mode)) << std::hex << id;
  return v.payload.i32;
}

float EngineFloat(uint32_t id) {
  PvlValueRecord v{};
  EXPECT_TRUE(FakeCameraEngine::PropertyValue(id, &v)) << std::hex << id;
  return v.payload.f;
}

TEST_F(PropertiesTest, OpeningPushesThePublishedDefaultsToTheEngine) {
  uint32_t mode = 0;
  EXPECT_EQ(EngineInt(ZUEUID_PROPERTY_BRIGHTNESS, &mode), 50) << "0 on -10000..10000 is 50 on 0..100";
  EXPECT_EQ(mode, 2u) << "manual";
  EXPECT_EQ(EngineInt(ZUEUID_PROPERTY_CONTRAST), 1) << "100 on 0..10000";
  EXPECT_EQ(EngineInt(ZUEUID_PROPERTY_SHARPNESS), 50) << "equal ranges pass unchanged";
  EXPECT_EQ(EngineInt(ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED, &mode), 62500) << "2^-4 s";
  EXPECT_EQ(mode, 3u) << "automatic";
  EXPECT_FLOAT_EQ(EngineFloat(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION), 1.0f);
  EXPECT_FLOAT_EQ(EngineFloat(ZUEUID_PROPERTY_APERTURE), 2.0f);
  EXPECT_EQ(EngineInt(ZUEUID_PROPERTY_ANTIBANDING_MODE, &mode), 60);
  EXPECT_EQ(mode, 0u) << "selector 4";
  EXPECT_EQ(uint32_t(EngineInt(ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID)), FakeEngineConfig().flashClass)
      << "the engine's first flash device is selected";
  uint32_t quality = 0;
  ASSERT_TRUE(FakeCameraEngine::StillPortValue(ZUEUID_PROPERTY_JPEG_QUALITY, &quality));
  EXPECT_EQ(quality, 75u) << "7475 of 10000 on 1..100";
  ASSERT_TRUE(FakeCameraEngine::StillPortValue(ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY, &quality));
  EXPECT_EQ(quality, 75u) << "the thumbnail quality follows";
}

TEST_F(PropertiesTest, ADefaultTheEngineCannotTakeMarksThePropertyUnsupported) {
  camera_.Close();
  FakeCameraEngine::SetPropertyResult(ZUEUID_PROPERTY_HIGH_DYNAMIC_RANGE_MODE, PVL_E_UNSUPPORTED);
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  EXPECT_EQ(Device()->CameraControlRecord(CSPROPERTY_CAMERACONTROL_HIGH_DYNAMIC_RANGE - 248).supported, 0u);
  EXPECT_EQ(Device()->CameraControlRecord(CSPROPERTY_CAMERACONTROL_HAND_JITTER_REDUCTION - 248).supported, 1u) << "only the refused row";
}

}  // namespace
}  // namespace ostrel_test
