// CVideoBufferManager: sizes, plane layout and addresses of one output mode's frames.
#include "cvideobuffermanager.h"

#include <string.h>

#include "pvllog.h"

namespace {

constexpr uint32_t kFourccBayerBGGR = 0x42474752u;
constexpr uint32_t kFourccBayerGBRG = 0x47425247u;
constexpr uint32_t kFourccBayerGRBG = 0x47524247u;
constexpr uint32_t kFourccBayerRGGB = 0x52474742u;

bool IsRawCode(uint32_t fourcc) {
  return fourcc == 0 || fourcc == kFourccBayerBGGR || fourcc == kFourccBayerGBRG || fourcc == kFourccBayerGRBG ||
         fourcc == kFourccBayerRGGB;
}

// The data start of a buffer: physical when it has one (the VFE writes there),
// else virtual.
PvlResult BufferStart(IPvlMediaBuffer* buffer, bool physical, uint64_t* start) {
  if (physical) return buffer->GetPhysicalAddress(start);
  return buffer->GetVirtualAddress(start);
}

}  // namespace

CVideoBufferManager::CVideoBufferManager(IEnv* env)
    : CPvlObject(env), m_format(), m_request(), m_lumaSize(0), m_chromaSize(0) {}

PvlResult CVideoBufferManager::Create(IEnv* env, CVideoBufferManager** out) {
  if (!out) return PVL_E_BADARG;
  if (!env) return PVL_E_BADARG;
  CVideoBufferManager* self = new CVideoBufferManager(env);
  self->AddRef();
  *out = self;
  return PVL_OK;
}

void CVideoBufferManager::SetAllocator(ICameraBufferManager* allocator) {
  m_registration.Reset();
  m_allocator = allocator;
}

PvlResult CVideoBufferManager::SetFormat(const CameraPortFormat& format, uint32_t count) {
  if (format.HorizontalSampling == 0 || format.VerticalSampling == 0) return PVL_E_BADARG;
  uint32_t luma = 0;
  uint32_t chroma = 0;
  const uint32_t sampled = (format.Width / format.HorizontalSampling) * (format.Height / format.VerticalSampling);
  if (format.FourCC == CAMERA_FOURCC_NV21) {
    luma = format.Width * format.Height;
    chroma = sampled * 2;
    if (luma % 8 != 0) return PVL_E_BADARG;
  } else if (IsRawCode(format.FourCC)) {
    chroma = sampled;
    if (chroma % 8 != 0) return PVL_E_BADARG;
  } else {
    return PVL_E_BADARG;
  }
  const uint32_t bufferSize = (luma + chroma + 7) & ~7u;
  if (count == 0) return PVL_E_BADARG;
  BufferRequest request{};
  request.count = count;
  request.size = bufferSize;
  request.source = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;
  request.alignment = 8;
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "SetFormat Width = %d, Height = %d, FourCC %X, bufferSize=%d",
                   static_cast<int>(format.Width), static_cast<int>(format.Height), format.FourCC,
                   static_cast<int>(bufferSize));
  m_request = request;
  m_format = format;
  m_lumaSize = luma;
  m_chromaSize = chroma;
  return PVL_OK;
}

PvlResult CVideoBufferManager::GetBuffer(IPvlMediaBuffer** buffer, uint8_t wait) {
  if (!buffer) return PVL_E_BADARG;
  if (!m_allocator) return PVL_E_NOTREADY;
  CPvlPtr<IPvlMediaBuffer> taken;
  PvlResult r = m_allocator->GetBuffer(wait ? 0 : 1, &taken);
  if (r != PVL_OK) return r;
  r = PrepareBuffer(taken);
  if (r != PVL_OK) return r;  // the holder gives the buffer back
  *buffer = taken.Detach();
  return PVL_OK;
}

// Data offset to the next 8-byte boundary; the chroma plane right after the
// luma plane. Every buffer of the mode has the same layout, so the address
// pair is computed from it rather than kept per buffer.
PvlResult CVideoBufferManager::PrepareBuffer(IPvlMediaBuffer* buffer) {
  uint64_t start = 0;
  PvlResult r = buffer->GetPhysicalAddress(&start);
  if (r != PVL_OK) r = buffer->GetVirtualAddress(&start);
  if (r != PVL_OK) return r;
  const uint32_t offset = static_cast<uint32_t>(((start + 7) & ~uint64_t{7}) - start);
  r = buffer->SetOffset(offset);
  if (r != PVL_OK) return r;
  // A buffer too small for the offset and both planes is refused here rather
  // than written past its end by the VFE.
  return buffer->SetActualSize(m_lumaSize + m_chromaSize);
}

PvlResult CVideoBufferManager::GetBufferAddressPair(IPvlMediaBuffer* buffer, BufferAddressPair* pair, bool physical) {
  if (!buffer || !pair) return PVL_E_BADARG;
  uint64_t start = 0;
  PvlResult r = BufferStart(buffer, physical, &start);
  if (r != PVL_OK) return r;
  uint32_t offset = 0;
  r = buffer->GetOffset(&offset);
  if (r != PVL_OK) return r;
  pair->luma = static_cast<uint32_t>(start) + offset;
  pair->chroma = pair->luma + m_lumaSize;  // Bayer: one plane, both at its start
  return PVL_OK;
}

PvlResult CVideoBufferManager::BindReadySignal(ISignalControl* signal) {
  if (!m_allocator) return PVL_E_NOTREADY;
  m_registration.Reset();
  return m_allocator->Attach(signal, &m_registration);
}
