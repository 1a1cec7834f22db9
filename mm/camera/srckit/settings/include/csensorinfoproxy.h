// CSensorInfoProxy: the engine's cached view of the sensor service: what the
// sensor can do and is, how it is timed, and the focus state and lens moves.
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "cpvlptr.h"
#include "icamerasensorservice.h"

class CSensorInfoProxy {
 public:
  CSensorInfoProxy();

  // Keeps the service and reads its capabilities; null gives 14 and keeps the previous one.
  PvlResult SetSensorService(ICameraSensorService* service);
  // Lets the service go (the engine's Uninitialize): every query then answers
  // 13 until a service is set again. The cached capabilities go with it.
  void Unbind();

  // Frame rates: 1,000,000 over a frame time in microseconds, Q8; a zero time gives 14.
  PvlResult GetFrameRateA(CFixedPoint* out);
  PvlResult GetFrameRateB(CFixedPoint* out);
  PvlResult GetPixelClock(uint32_t* out);
  PvlResult GetLineLength(uint32_t* out);
  PvlResult GetGainInfoWord4(uint32_t* out);
  PvlResult GetBaseGain(CFixedPoint* out);
  PvlResult GetModeFrameRateA(const CameraOutputDescription& output, CFixedPoint* out);
  PvlResult GetModeFrameRateB(const CameraOutputDescription& output, CFixedPoint* out);
  PvlResult GetModeTimingWord(const CameraOutputDescription& output, uint32_t word, uint32_t* out);
  PvlResult GetSensorFormat(SensorOutputFormat* out);
  PvlResult GetSensorTiming(SensorTiming* out);
  PvlResult GetSensorGeometry(SensorGeometry* out);
  PvlResult GetSensorModeInfo(SensorModeInfo* out);
  // 1 for a YUV sensor; 0 otherwise, also without a service or when the read fails.
  uint8_t IsYuvSensor();
  PvlResult IsOnSensorAutoExposure(uint8_t* out);
  PvlResult IsOnSensorAntibanding(uint8_t* out);
  PvlResult IsOnSensorAutoFocus(uint8_t* out);
  PvlResult IsFixedFocus(uint8_t* out);
  PvlResult IsOnSensorWhiteBalance(uint8_t* out);
  // The caller's text request: no buffer gives the needed length (with the NUL)
  // in its length word; a capacity below it gives 14.
  PvlResult GetSensorMake(SensorIdentityText* request);
  PvlResult GetSensorModel(SensorIdentityText* request);
  PvlResult GetFNumber(CFixedPoint* out);
  PvlResult GetMaxApertureValue(CFixedPoint* out);
  PvlResult GetOnSensorFocusResult(uint32_t* out);

  PvlResult SetAFSearchMode(uint32_t mode);
  PvlResult GetAFSearchMode(uint32_t* out) const;
  PvlResult SetFocusState(uint32_t state);
  PvlResult GetFocusState(uint32_t* out) const;
  void SetFocusListener(ICameraSettingsListener* listener) { m_focusListener = listener; }
  // Direction 0 toward near, 1 toward far; reset puts the lens at the far end.
  PvlResult SetLensMove(uint32_t direction, uint32_t steps, uint8_t reset);
  PvlResult GetLensPosition(uint32_t* out) const;
  PvlResult GetLensMoveDirection(uint32_t* out) const;
  PvlResult GetLensMoveSteps(uint32_t* out) const;
  PvlResult GetLensReset(uint8_t* out) const;

 private:
  PvlResult PutCapability(uint8_t* out, bool value) const;
  PvlResult ReadTiming(SensorTiming* timing);
  PvlResult FrameTiming(const CameraOutputDescription& output, SensorFrameTimingAnswer* answer);
  PvlResult TimingFrameRate(uint32_t word, CFixedPoint* out);
  PvlResult ModeFrameRate(const CameraOutputDescription& output, uint32_t word, CFixedPoint* out);
  PvlResult OpticsQ10(float SensorOptics::*field, CFixedPoint* out);
  PvlResult RunConfiguration(uint32_t configuration);
  PvlResult IdentityText(SensorIdentityText* request, bool model);
  bool FocusOnSensor() const { return m_capabilities.Words[4] == 2; }

  CPvlPtr<ICameraSensorService> m_service;
  CPvlPtr<ICameraSettingsListener> m_focusListener;
  SensorCapabilities m_capabilities;
  uint32_t m_afSearchMode;
  uint32_t m_focusState;
  uint32_t m_lensDirection;
  uint32_t m_lensSteps;
  uint8_t m_lensReset;
  int32_t m_lensPosition;
};
