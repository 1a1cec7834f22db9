// The engine's 3A state record.
#include "cenginesettings.h"

#include <cstdio>
#include <cstring>

#include "copyout.h"

namespace {
bool Same(const CFixedPoint& a, const CFixedPoint& b) {
  return a.GetQ() == b.GetQ() && a.GetRawValue() == b.GetRawValue();
}
// Stores the value; true when it differs from the one before.
template <class T>
bool Change(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}
PvlResult CopyOut(const CFixedPoint (&gains)[3], CFixedPoint* a, CFixedPoint* b, CFixedPoint* c) {
  if (!a || !b || !c) return PVL_E_NULLPTR;
  *a = gains[0];
  *b = gains[1];
  *c = gains[2];
  return PVL_OK;
}
CFixedPoint Q8(int32_t raw) {
  CFixedPoint f(8u, 0);
  f.SetRawValue(raw);
  return f;
}
}  // namespace

CEngineSettings::CEngineSettings()
    : m_lineCount(900),
      m_aecIndex(0),
      m_aecFlagA(0),
      m_aecPairWord(100),
      m_aecPairByte(0),
      m_flashNeeded(0),
      m_awbWordA(5),
      m_awbFlagB(0),
      m_exposureGain(Q8(768)),
      m_exposureValueB(0u, 0),
      m_wbGains{Q8(343), Q8(256), Q8(486)},
      m_hjrFrameCount(1),
      m_aecWordB(0),
      m_exposureChanged(1),
      m_vfeChanged(1),
      m_aecFlagC(0),
      m_vfeBlock{},
      m_gainTripleB{Q8(256), Q8(256), Q8(256)},
      m_flashWord(0),
      m_preSnapshotState(0) {}

PvlResult CEngineSettings::SetExposureLineCount(uint32_t lines) {
  if (Change(m_lineCount, lines)) m_exposureChanged = 1;
  return PVL_OK;
}
PvlResult CEngineSettings::GetExposureLineCount(uint32_t* out) const { return CopyOut(out, m_lineCount); }
PvlResult CEngineSettings::SetAecIndex(uint32_t index) {
  if (Change(m_aecIndex, index)) {
    m_exposureChanged = 1;
    m_vfeChanged = 1;
  }
  return PVL_OK;
}
PvlResult CEngineSettings::GetAecIndex(uint32_t* out) const { return CopyOut(out, m_aecIndex); }
PvlResult CEngineSettings::SetAecFlagA(uint8_t flag) {
  m_aecFlagA = flag;
  m_vfeChanged = 1;
  return PVL_OK;
}
PvlResult CEngineSettings::GetAecFlagA(uint8_t* out) const { return CopyOut(out, m_aecFlagA); }
PvlResult CEngineSettings::SetAecPair(uint32_t word, uint8_t byte) {
  m_aecPairWord = word;
  m_aecPairByte = byte;
  return PVL_OK;
}
PvlResult CEngineSettings::GetAecPair(uint32_t* word, uint8_t* byte) const {
  if (!word || !byte) return PVL_E_NULLPTR;
  *word = m_aecPairWord;
  *byte = m_aecPairByte;
  return PVL_OK;
}
PvlResult CEngineSettings::SetFlashNeeded(uint8_t needed) {
  m_flashNeeded = needed;
  return PVL_OK;
}
PvlResult CEngineSettings::GetFlashNeeded(uint8_t* out) const { return CopyOut(out, m_flashNeeded); }
PvlResult CEngineSettings::SetAwbWordA(uint32_t word) {
  if (Change(m_awbWordA, word)) m_vfeChanged = 1;
  return PVL_OK;
}
PvlResult CEngineSettings::GetAwbWordA(uint32_t* out) const { return CopyOut(out, m_awbWordA); }
PvlResult CEngineSettings::SetAwbFlagB(uint8_t flag) {
  if (Change(m_awbFlagB, flag)) m_vfeChanged = 1;
  return PVL_OK;
}
PvlResult CEngineSettings::GetAwbFlagB(uint8_t* out) const { return CopyOut(out, m_awbFlagB); }
PvlResult CEngineSettings::SetExposureGain(const CFixedPoint& gain) {
  if (!Same(gain, m_exposureGain)) {
    m_exposureGain = gain;
    m_exposureChanged = 1;
  }
  return PVL_OK;
}
PvlResult CEngineSettings::GetExposureGain(CFixedPoint* out) const { return CopyOut(out, m_exposureGain); }
PvlResult CEngineSettings::SetExposureValueB(const CFixedPoint& value) {
  m_exposureValueB = value;
  m_exposureChanged = 1;
  return PVL_OK;
}
PvlResult CEngineSettings::GetExposureValueB(CFixedPoint* out) const { return CopyOut(out, m_exposureValueB); }
PvlResult CEngineSettings::SetWhiteBalanceGains(const CFixedPoint& r, const CFixedPoint& g, const CFixedPoint& b) {
  m_wbGains[0] = r;
  m_wbGains[1] = g;
  m_wbGains[2] = b;
  m_vfeChanged = 1;
  return PVL_OK;
}
PvlResult CEngineSettings::GetWhiteBalanceGains(CFixedPoint* r, CFixedPoint* g, CFixedPoint* b) const {
  return CopyOut(m_wbGains, r, g, b);
}
PvlResult CEngineSettings::SetHJRFrameCount(uint32_t count) {
  m_hjrFrameCount = count;
  return PVL_OK;
}
PvlResult CEngineSettings::GetHJRFrameCount(uint32_t* out) const { return CopyOut(out, m_hjrFrameCount); }
PvlResult CEngineSettings::SetAecWordB(uint32_t word) {
  if (Change(m_aecWordB, word)) m_vfeChanged = 1;
  return PVL_OK;
}
PvlResult CEngineSettings::GetAecWordB(uint32_t* out) const { return CopyOut(out, m_aecWordB); }
PvlResult CEngineSettings::SetAecFlagC(uint8_t flag) {
  m_aecFlagC = flag;
  return PVL_OK;
}
PvlResult CEngineSettings::GetAecFlagC(uint8_t* out) const { return CopyOut(out, m_aecFlagC); }
PvlResult CEngineSettings::SetVfeBlock(const void* buffer, uint32_t size) {
  if (size != CAMERA_VFE_BLOCK_SIZE) return PVL_E_BADARG;
  if (!buffer) return PVL_E_NULLPTR;
  std::memcpy(m_vfeBlock, buffer, sizeof m_vfeBlock);
  return PVL_OK;
}
PvlResult CEngineSettings::GetVfeBlock(void* buffer, int32_t size, uint32_t* sizeOut) const {
  if (!buffer && size > 0) return PVL_E_NULLPTR;
  if (buffer && size < static_cast<int32_t>(CAMERA_VFE_BLOCK_SIZE)) return PVL_E_BUFFERTOOSMALL;
  if (sizeOut) *sizeOut = CAMERA_VFE_BLOCK_SIZE;
  if (buffer) std::memcpy(buffer, m_vfeBlock, sizeof m_vfeBlock);
  return PVL_OK;
}
PvlResult CEngineSettings::SetGainTripleB(const CFixedPoint& a, const CFixedPoint& b, const CFixedPoint& c) {
  m_gainTripleB[0] = a;
  m_gainTripleB[1] = b;
  m_gainTripleB[2] = c;
  return PVL_OK;
}
PvlResult CEngineSettings::GetGainTripleB(CFixedPoint* a, CFixedPoint* b, CFixedPoint* c) const {
  return CopyOut(m_gainTripleB, a, b, c);
}
PvlResult CEngineSettings::SetFlashWord(uint32_t word) {
  m_flashWord = word;
  return PVL_OK;
}
PvlResult CEngineSettings::GetFlashWord(uint32_t* out) const { return CopyOut(out, m_flashWord); }
PvlResult CEngineSettings::SetPreSnapshotState(uint32_t state) {
  m_preSnapshotState = state;
  switch (state) {
    case 5:
      std::printf("PRESNAPSHOT_STATE_LED_OFF_AEC_STATS_RECEIVED\n");
      m_preSnapshotState = 10;
      if (m_listener) m_listener->Notify();
      break;
    case 7:
      std::printf("PRESNAPSHOT_STATE_LED_ON_AEC_STATS_RECEIVED\n");
      m_preSnapshotState = 8;
      break;
    case 9:
      std::printf("PRESNAPSHOT_STATE_LED_ON_AWB_DECISION_RECEIVED\n");
      m_preSnapshotState = 4;
      break;
    default:
      break;
  }
  return PVL_OK;
}
PvlResult CEngineSettings::GetPreSnapshotState(uint32_t* out) const { return CopyOut(out, m_preSnapshotState); }
