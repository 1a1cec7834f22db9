// Doubles for the settings' neighbours: the sensor service with its
// configurations, the engine's enabled output formats and a listener.
#pragma once

#include <atomic>
#include <vector>

#include "icameraportformatsource.h"
#include "camerasettings.h"
#include "icamerasensorservice.h"

namespace tuningtest {

template <class Iface>
class CountedDouble : public Iface {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  std::atomic<int32_t> refs{0};
};

class SensorServiceDouble final : public CountedDouble<ICameraSensorService> {
 public:
  class Command final : public CountedDouble<IConfigCommand> {
   public:
    PvlResult Configure() override {
      owner->configured.push_back(id);
      return owner->configureResult;
    }
    SensorServiceDouble* owner = nullptr;
    uint32_t id = 0;
  };

  SensorServiceDouble();
  PvlResult Initialize(uint32_t, IPvlBase*) override { return PVL_OK; }
  PvlResult Uninitialize() override { return PVL_OK; }
  PvlResult Start() override { return PVL_OK; }
  PvlResult Stop() override { return PVL_OK; }
  PvlResult Reset() override { return PVL_OK; }
  PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) override;
  PvlResult Suspend() override { return PVL_OK; }
  PvlResult Resume() override { return PVL_OK; }
  PvlResult GetSensors(CameraSensorDescriptor*, uint32_t, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetCapabilities(SensorCapabilities* out) override { ++reads; *out = capabilities; return readResult; }
  PvlResult GetIdentity(SensorIdentity* record) override;
  PvlResult GetOptics(SensorOptics* out) override { ++reads; *out = optics; return readResult; }
  PvlResult GetExtraInfo(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetOutputFormat(SensorOutputFormat* out) override { ++reads; *out = format; return readResult; }
  PvlResult GetTiming(SensorTiming* out, uint32_t) override { ++reads; *out = timing; return readResult; }
  PvlResult GetGeometry(SensorGeometry* out) override {
    ++reads;
    if (geometryResult == PVL_OK) *out = geometry;
    return geometryResult;
  }
  PvlResult GetModeInfo(SensorModeInfo* out) override { ++reads; *out = modeInfo; return readResult; }
  PvlResult GetGainInfo(SensorGainInfo* out) override { ++reads; *out = gainInfo; return readResult; }
  PvlResult GetFrameTiming(const SensorFrameTimingRequest* request, SensorFrameTimingAnswer* out) override {
    ++reads;
    lastRequest = *request;
    *out = frameTiming;
    return readResult;
  }
  PvlResult CheckPresence() override { return PVL_OK; }

  SensorCapabilities capabilities{};
  SensorOptics optics{};
  SensorOutputFormat format{};
  SensorTiming timing{};
  SensorGeometry geometry{};
  SensorModeInfo modeInfo{};
  SensorGainInfo gainInfo{};
  SensorFrameTimingAnswer frameTiming{};
  SensorFrameTimingRequest lastRequest{};
  PvlResult readResult = PVL_OK;
  PvlResult geometryResult = PVL_OK;
  PvlResult configureResult = PVL_OK;
  std::vector<uint32_t> configured;
  int reads = 0;
  Command command;
};

class PortFormatsDouble final : public CountedDouble<ICameraPortFormatSource> {
 public:
  PvlResult GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override {
    for (uint32_t i = 0; i < capacity && i < enabled.size(); ++i) formats[i] = enabled[i];
    *count = static_cast<uint32_t>(enabled.size());
    return PVL_OK;
  }
  std::vector<CameraPortFormat> enabled;
};

class ListenerDouble final : public CountedDouble<ICameraSettingsListener> {
 public:
  PvlResult Notify() override {
    ++notified;
    return PVL_OK;
  }
  int notified = 0;
};

CameraPortFormat Format(uint32_t width, uint32_t height, uint32_t interval, uint8_t autoFrameRate,
                        uint32_t colorSpace = ZUEUID_COLORSPACE_YUV);

}  // namespace tuningtest
