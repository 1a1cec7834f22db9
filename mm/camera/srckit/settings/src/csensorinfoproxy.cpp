// The engine's cached view of the sensor service.
#include "csensorinfoproxy.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "copyout.h"
#include "tuningdata.h"

namespace {

PvlResult FrameRate(uint32_t microseconds, CFixedPoint* out) {
  // A sensor reporting no frame time has no frame rate (rather than an infinite one).
  if (microseconds == 0) return PVL_E_BADARG;
  *out = CFixedPoint(8u, 1000000.0 / microseconds);
  return PVL_OK;
}

// A float of the sensor's optics record as Q10, truncated; a value beyond the
// 32-bit range saturates (NaN gives 0) instead of converting undefined.
CFixedPoint Q10Truncated(float v) {
  double scaled = std::trunc(static_cast<double>(v) * 1024.0);
  int32_t raw = 0;
  if (scaled >= 2147483647.0) raw = INT32_MAX;
  else if (scaled <= -2147483648.0) raw = INT32_MIN;
  else if (scaled == scaled) raw = static_cast<int32_t>(scaled);
  CFixedPoint f(10u, 0);
  f.SetRawValue(raw);
  return f;
}

}  // namespace

CSensorInfoProxy::CSensorInfoProxy()
    : m_capabilities{},
      m_afSearchMode(0),
      m_focusState(0),
      m_lensDirection(1),
      m_lensSteps(0),
      m_lensReset(0),
      m_lensPosition(0) {}

PvlResult CSensorInfoProxy::SetSensorService(ICameraSensorService* service) {
  if (!service) return PVL_E_BADARG;
  m_service = service;
  return m_service->GetCapabilities(&m_capabilities);
}

void CSensorInfoProxy::Unbind() {
  m_service.Reset();
  m_capabilities = SensorCapabilities{};
}

PvlResult CSensorInfoProxy::ReadTiming(SensorTiming* timing) {
  if (!m_service) return PVL_E_NOTREADY;
  return m_service->GetTiming(timing, 0);
}

// The frame rate of a frame time in the sensor's timing record.
PvlResult CSensorInfoProxy::TimingFrameRate(uint32_t word, CFixedPoint* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  SensorTiming t{};
  PvlResult r = ReadTiming(&t);
  return r != PVL_OK ? r : FrameRate(t.Words[word], out);
}

PvlResult CSensorInfoProxy::GetFrameRateA(CFixedPoint* out) { return TimingFrameRate(0, out); }
PvlResult CSensorInfoProxy::GetFrameRateB(CFixedPoint* out) { return TimingFrameRate(1, out); }

PvlResult CSensorInfoProxy::GetPixelClock(uint32_t* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  SensorTiming t{};
  PvlResult r = ReadTiming(&t);
  if (r == PVL_OK) *out = t.Words[2];
  return r;
}

PvlResult CSensorInfoProxy::GetLineLength(uint32_t* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  SensorGeometry g{};
  PvlResult r = m_service->GetGeometry(&g);
  if (r == PVL_OK) *out = g.Words[0];
  return r;
}

PvlResult CSensorInfoProxy::GetGainInfoWord4(uint32_t* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  SensorGainInfo g{};
  PvlResult r = m_service->GetGainInfo(&g);
  if (r == PVL_OK) *out = g.Words[4];
  return r;
}

PvlResult CSensorInfoProxy::GetBaseGain(CFixedPoint* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  SensorGainInfo g{};
  PvlResult r = m_service->GetGainInfo(&g);
  if (r != PVL_OK) return r;
  CFixedPoint base(8u, 0);
  base.SetRawValue(static_cast<int32_t>(g.Words[1]));
  *out = base;
  return PVL_OK;
}

PvlResult CSensorInfoProxy::FrameTiming(const CameraOutputDescription& output, SensorFrameTimingAnswer* answer) {
  if (!m_service) return PVL_E_NOTREADY;
  SensorFrameTimingRequest request{output.Width, output.Height, output.Flag, output.FrameInterval};
  return m_service->GetFrameTiming(&request, answer);
}

// The frame rate of a frame time in the sensor's answer for an output.
PvlResult CSensorInfoProxy::ModeFrameRate(const CameraOutputDescription& output, uint32_t word, CFixedPoint* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  SensorFrameTimingAnswer a{};
  PvlResult r = FrameTiming(output, &a);
  return r != PVL_OK ? r : FrameRate(a.Words[word], out);
}

PvlResult CSensorInfoProxy::GetModeFrameRateA(const CameraOutputDescription& output, CFixedPoint* out) {
  return ModeFrameRate(output, 6, out);
}
PvlResult CSensorInfoProxy::GetModeFrameRateB(const CameraOutputDescription& output, CFixedPoint* out) {
  return ModeFrameRate(output, 7, out);
}

PvlResult CSensorInfoProxy::GetModeTimingWord(const CameraOutputDescription& output, uint32_t word, uint32_t* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  if (word >= 8) return PVL_E_BADARG;
  SensorFrameTimingAnswer a{};
  PvlResult r = FrameTiming(output, &a);
  if (r == PVL_OK) *out = a.Words[word];
  return r;
}

PvlResult CSensorInfoProxy::GetSensorFormat(SensorOutputFormat* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  return m_service->GetOutputFormat(out);
}

PvlResult CSensorInfoProxy::GetSensorTiming(SensorTiming* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  return m_service->GetTiming(out, 0);
}

PvlResult CSensorInfoProxy::GetSensorGeometry(SensorGeometry* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  return m_service->GetGeometry(out);
}

PvlResult CSensorInfoProxy::GetSensorModeInfo(SensorModeInfo* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  return m_service->GetModeInfo(out);
}

uint8_t CSensorInfoProxy::IsYuvSensor() {
  if (!m_service) return 0;
  SensorOutputFormat f{};
  if (m_service->GetOutputFormat(&f) != PVL_OK) return 0;
  return f.Words[0] >= 5 && f.Words[0] <= 8 ? 1 : 0;
}

// A capability flag of the sensor, once a sensor service is there.
PvlResult CSensorInfoProxy::PutCapability(uint8_t* out, bool value) const {
  if (!m_service) return PVL_E_NOTREADY;
  return CopyOut(out, static_cast<uint8_t>(value));
}

PvlResult CSensorInfoProxy::IsOnSensorAutoExposure(uint8_t* out) {
  return PutCapability(out, m_capabilities.Words[0] == 1);
}

PvlResult CSensorInfoProxy::IsOnSensorAntibanding(uint8_t* out) {
  return PutCapability(out, m_capabilities.Words[2] == 1);
}

PvlResult CSensorInfoProxy::IsOnSensorAutoFocus(uint8_t* out) {
  return PutCapability(out, m_capabilities.Words[4] == 2);
}

PvlResult CSensorInfoProxy::IsFixedFocus(uint8_t* out) {
  return PutCapability(out, m_capabilities.Words[4] != 2 && m_capabilities.Words[4] != 4);
}

PvlResult CSensorInfoProxy::IsOnSensorWhiteBalance(uint8_t* out) {
  return PutCapability(out, m_capabilities.Words[6] == 1);
}

PvlResult CSensorInfoProxy::IdentityText(SensorIdentityText* request, bool model) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!request) return PVL_E_NULLPTR;
  SensorIdentity identity{};
  SensorIdentityText& slot = model ? identity.Model : identity.Maker;
  slot = *request;
  PvlResult r = m_service->GetIdentity(&identity);
  if (r != PVL_OK) return r;
  request->Length = slot.Length;
  if (request->Buffer == 0) return PVL_OK;
  if (request->Capacity < slot.Length) return PVL_E_BADARG;
  return PVL_OK;
}

PvlResult CSensorInfoProxy::GetSensorMake(SensorIdentityText* request) { return IdentityText(request, false); }
PvlResult CSensorInfoProxy::GetSensorModel(SensorIdentityText* request) { return IdentityText(request, true); }

// A float of the sensor's optics record, as Q10.
PvlResult CSensorInfoProxy::OpticsQ10(float SensorOptics::*field, CFixedPoint* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  SensorOptics o{};
  PvlResult r = m_service->GetOptics(&o);
  if (r != PVL_OK) return r;
  *out = Q10Truncated(o.*field);
  return PVL_OK;
}

PvlResult CSensorInfoProxy::GetFNumber(CFixedPoint* out) { return OpticsQ10(&SensorOptics::FNumber, out); }
PvlResult CSensorInfoProxy::GetMaxApertureValue(CFixedPoint* out) {
  return OpticsQ10(&SensorOptics::MaxApertureValue, out);
}

PvlResult CSensorInfoProxy::GetOnSensorFocusResult(uint32_t* out) {
  if (!m_service) return PVL_E_NOTREADY;
  if (!out) return PVL_E_NULLPTR;
  SensorOptics o{};
  PvlResult r = m_service->GetOptics(&o);
  if (r != PVL_OK) return r;
  if (o.FocusStatus != 1 && o.FocusStatus != 2) return PVL_E_FAIL;
  *out = o.FocusStatus;
  return PVL_OK;
}

PvlResult CSensorInfoProxy::RunConfiguration(uint32_t configuration) {
  if (!m_service) return PVL_E_NOTREADY;
  CPvlPtr<IConfigCommand> command;
  PvlResult r = m_service->GetConfigurer(configuration, &command);
  if (r != PVL_OK) return r;
  if (!command) return PVL_E_FAIL;
  return command->Configure();
}

PvlResult CSensorInfoProxy::SetAFSearchMode(uint32_t mode) {
  uint32_t old = m_afSearchMode;
  m_afSearchMode = mode;
  if (FocusOnSensor() && mode != old) return RunConfiguration(ZUEUID_SENSOR_CONFIG_AF_SEARCH_MODE);
  return PVL_OK;
}

PvlResult CSensorInfoProxy::GetAFSearchMode(uint32_t* out) const { return CopyOut(out, m_afSearchMode); }

PvlResult CSensorInfoProxy::SetFocusState(uint32_t state) {
  uint32_t old = m_focusState;
  m_focusState = state;
  bool running = old == 1 || old == 2;
  bool runEnded = running && state != 1 && state != 2;
  if (FocusOnSensor() && state != old && state != 3 && state != 4) {
    PvlResult r = RunConfiguration(ZUEUID_SENSOR_CONFIG_FOCUS_STATE);
    if (r != PVL_OK) {
      m_focusState = 4;
      return r;
    }
  }
  if (runEnded && m_focusListener) m_focusListener->Notify();
  return PVL_OK;
}

PvlResult CSensorInfoProxy::GetFocusState(uint32_t* out) const { return CopyOut(out, m_focusState); }

PvlResult CSensorInfoProxy::SetLensMove(uint32_t direction, uint32_t steps, uint8_t reset) {
  m_lensDirection = direction;
  m_lensSteps = steps;
  m_lensReset = reset;
  if (reset) {
    int32_t farEnd = 0;
    PvlResult r = TuningData_GetIntParam(TUNING_ID_AF_POSITION_FAR_END, &farEnd);
    if (r != PVL_OK) return r;
    m_lensPosition = farEnd;
  } else if (direction == 0) {
    // Positions count in the tuning's focus steps, from the far end (0) up
    // toward the near end, as the actuator's codes do.
    m_lensPosition += static_cast<int32_t>(steps);
  } else if (direction == 1) {
    m_lensPosition -= static_cast<int32_t>(steps);
  } else {
    return PVL_E_BADARG;
  }
  return RunConfiguration(ZUEUID_SENSOR_CONFIG_LENS_MOVE);
}

PvlResult CSensorInfoProxy::GetLensPosition(uint32_t* out) const {
  return CopyOut(out, static_cast<uint32_t>(m_lensPosition));
}
PvlResult CSensorInfoProxy::GetLensMoveDirection(uint32_t* out) const { return CopyOut(out, m_lensDirection); }
PvlResult CSensorInfoProxy::GetLensMoveSteps(uint32_t* out) const { return CopyOut(out, m_lensSteps); }
PvlResult CSensorInfoProxy::GetLensReset(uint8_t* out) const { return CopyOut(out, m_lensReset); }
