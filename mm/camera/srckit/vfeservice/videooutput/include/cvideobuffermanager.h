// CVideoBufferManager: the buffer side of one mode of one VFE video output.
// It turns the mode's format into a buffer size and the request the engine's
// buffer manager allocates by, takes free frames from that allocator without
// waiting, lays the luma and chroma planes out in each, and tells the VFE where
// they are. It allocates no memory itself.
#pragma once

#include <stdint.h>

#include "bufferrequest.h"
#include "cameraportformat.h"
#include "cpvlmediabuffer.h"
#include "cpvlobject.h"
#include "icamerabuffermanager.h"
#include "isignalqueue.h"

// A frame buffer as the VFE sees it: its two plane addresses.
struct BufferAddressPair {
  uint32_t luma;
  uint32_t chroma;
};
static_assert(sizeof(BufferAddressPair) == 8, "two words");

class CVideoBufferManager final : public CPvlObject {
 public:
  static PvlResult Create(IEnv* env, CVideoBufferManager** out);

  // Drops the ready-signal registration, then holds this allocator (null: none).
  void SetAllocator(ICameraBufferManager* allocator);
  ICameraBufferManager* GetAllocator() const { return m_allocator.Get(); }
  // 14 for a zero sampling factor, a code other than NV21, 0 or a Bayer code,
  // planes not a multiple of 8, or a zero count; nothing changes then.
  PvlResult SetFormat(const CameraPortFormat& format, uint32_t count);
  void GetBufferRequest(BufferRequest* request) const { *request = m_request; }
  uint32_t GetLumaSize() const { return m_lumaSize; }
  uint32_t GetChromaSize() const { return m_chromaSize; }
  // 13 without an allocator; the allocator's result (516: none free) unchanged.
  PvlResult GetBuffer(IPvlMediaBuffer** buffer, uint8_t wait);
  PvlResult BindReadySignal(ISignalControl* signal);
  void UnbindReadySignal() { m_registration.Reset(); }
  // The plane addresses of a buffer this manager prepared.
  PvlResult GetBufferAddressPair(IPvlMediaBuffer* buffer, BufferAddressPair* pair, bool physical);

 private:
  explicit CVideoBufferManager(IEnv* env);
  ~CVideoBufferManager() override = default;
  PvlResult PrepareBuffer(IPvlMediaBuffer* buffer);

  CPvlPtr<ICameraBufferManager> m_allocator;
  CPvlPtr<IPvlBase> m_registration;
  CameraPortFormat m_format;
  BufferRequest m_request;
  uint32_t m_lumaSize;
  uint32_t m_chromaSize;
};
