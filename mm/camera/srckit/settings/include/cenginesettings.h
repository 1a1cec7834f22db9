// CEngineSettings: the engine's record of the current 3A state, written by the
// statistics plug-ins through their views and read by the VFE, sensor and
// flash views and the engine.
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "cpvlptr.h"

class CEngineSettings {
 public:
  CEngineSettings();

  PvlResult SetExposureLineCount(uint32_t lines);  // marks exposure changed when different
  PvlResult GetExposureLineCount(uint32_t* out) const;
  PvlResult SetAecIndex(uint32_t index);  // marks exposure and VFE changed when different
  PvlResult GetAecIndex(uint32_t* out) const;
  PvlResult SetAecFlagA(uint8_t flag);  // marks VFE changed
  PvlResult GetAecFlagA(uint8_t* out) const;
  PvlResult SetAecPair(uint32_t word, uint8_t byte);
  PvlResult GetAecPair(uint32_t* word, uint8_t* byte) const;
  PvlResult SetFlashNeeded(uint8_t needed);
  PvlResult GetFlashNeeded(uint8_t* out) const;
  PvlResult SetAwbWordA(uint32_t word);  // marks VFE changed when different
  PvlResult GetAwbWordA(uint32_t* out) const;
  PvlResult SetAwbFlagB(uint8_t flag);  // marks VFE changed when different
  PvlResult GetAwbFlagB(uint8_t* out) const;
  PvlResult SetExposureGain(const CFixedPoint& gain);  // marks exposure changed unless same Q and value
  PvlResult GetExposureGain(CFixedPoint* out) const;
  PvlResult SetExposureValueB(const CFixedPoint& value);  // marks exposure changed
  PvlResult GetExposureValueB(CFixedPoint* out) const;
  PvlResult SetWhiteBalanceGains(const CFixedPoint& r, const CFixedPoint& g, const CFixedPoint& b);  // marks VFE changed
  PvlResult GetWhiteBalanceGains(CFixedPoint* r, CFixedPoint* g, CFixedPoint* b) const;
  PvlResult SetHJRFrameCount(uint32_t count);
  PvlResult GetHJRFrameCount(uint32_t* out) const;
  PvlResult SetAecWordB(uint32_t word);  // marks VFE changed when different
  PvlResult GetAecWordB(uint32_t* out) const;
  PvlResult SetAecFlagC(uint8_t flag);
  PvlResult GetAecFlagC(uint8_t* out) const;
  // A size other than 256 gives 14.
  PvlResult SetVfeBlock(const void* buffer, uint32_t size);
  // sizeOut receives 256; the block is copied when a buffer is given, which
  // must hold 256 bytes (38 otherwise). No buffer with a positive size: 29.
  PvlResult GetVfeBlock(void* buffer, int32_t size, uint32_t* sizeOut) const;
  PvlResult SetGainTripleB(const CFixedPoint& a, const CFixedPoint& b, const CFixedPoint& c);
  PvlResult GetGainTripleB(CFixedPoint* a, CFixedPoint* b, CFixedPoint* c) const;
  PvlResult SetFlashWord(uint32_t word);
  PvlResult GetFlashWord(uint32_t* out) const;

  // 5, 7 and 9 advance at once to 10 (notifying the listener), 8 and 4.
  PvlResult SetPreSnapshotState(uint32_t state);
  PvlResult GetPreSnapshotState(uint32_t* out) const;
  void SetPreSnapshotListener(ICameraSettingsListener* listener) { m_listener = listener; }

  bool IsExposureChanged() const { return m_exposureChanged != 0; }
  void ClearExposureChanged() { m_exposureChanged = 0; }
  bool IsVfeChanged() const { return m_vfeChanged != 0; }
  void ClearVfeChanged() { m_vfeChanged = 0; }

 private:
  uint32_t m_lineCount;
  uint32_t m_aecIndex;
  uint8_t m_aecFlagA;
  uint32_t m_aecPairWord;
  uint8_t m_aecPairByte;
  uint8_t m_flashNeeded;
  uint32_t m_awbWordA;
  uint8_t m_awbFlagB;
  CFixedPoint m_exposureGain;
  CFixedPoint m_exposureValueB;
  CFixedPoint m_wbGains[3];
  uint32_t m_hjrFrameCount;
  uint32_t m_aecWordB;
  uint8_t m_exposureChanged;
  uint8_t m_vfeChanged;
  uint8_t m_aecFlagC;
  uint8_t m_vfeBlock[CAMERA_VFE_BLOCK_SIZE];
  CFixedPoint m_gainTripleB[3];
  uint32_t m_flashWord;
  uint32_t m_preSnapshotState;
  CPvlPtr<ICameraSettingsListener> m_listener;
};
