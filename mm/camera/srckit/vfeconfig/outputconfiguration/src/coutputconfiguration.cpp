#include "coutputconfiguration.h"

#include <algorithm>

#include "icamerabuffermanager.h"

namespace {
constexpr PvlResult kNoFreeBuffer = 516;
constexpr uint32_t kFixedWord = 4;
}  // namespace

void COutputConfiguration::FillRecord(VfeOutputPathRecord* record, VfeSize size, bool raw) {
  uint16_t w = static_cast<uint16_t>(size.width);
  uint16_t h = static_cast<uint16_t>(size.height);
  if (!raw) {
    record->lumaWidth = record->lumaWidth2 = w;
    record->lumaHeight = record->lumaHeight2 = h;
    // 4:2:0: half the lines at full byte width.
    h = static_cast<uint16_t>(size.height / 2);
  }
  record->chromaWidth = record->chromaWidth2 = w;
  record->chromaHeight = record->chromaHeight2 = h;
}

PvlResult COutputConfiguration::PreQueue(IVideoOutputControl* output, VfeOutputPathRecord* record,
                                         uint32_t minimum) {
  record->fragmentCount = 1;
  IVideoOutput* face = output->GetInterface();
  if (!face) return PVL_E_NULLPTR;
  uint32_t handed = 0;
  PvlResult r = PVL_OK;
  for (;;) {
    IPvlMediaBuffer* buffer = nullptr;
    r = output->QueueNewBuffer(&buffer);
    if (r != PVL_OK) break;
    r = face->AckBuffer(buffer);
    if (r != PVL_OK) break;
    ++handed;
  }
  if (r == kNoFreeBuffer && handed >= minimum) return PVL_OK;
  return r;
}

PvlResult COutputConfiguration::Configure() {
  memset(&m_payload, 0, sizeof m_payload);
  m_payload.fixedWord = kFixedWord;
  if (!m_service) return PVL_E_NULLPTR;
  IVideoOutputControl* raw = m_service->GetRawOutput();
  IVideoOutputControl* out1 = m_service->GetCurrentOutput1();
  IVideoOutputControl* out2 = m_service->GetCurrentOutput2();
  bool rawOn = raw && raw->IsCurrentModeEnabled();
  bool on1 = out1 && out1->IsCurrentModeEnabled();
  bool on2 = out2 && out2->IsCurrentModeEnabled();

  auto minimumOf = [](IVideoOutputControl* output, uint32_t cap) {
    int32_t count = output->GetCurrentBufferCount();
    return std::min(count > 0 ? static_cast<uint32_t>(count) : 0u, cap);
  };

  if (rawOn) {
    m_payload.outputMode = 3;
    FillRecord(&m_payload.output2, raw->GetOutputSize(), true);
    return PreQueue(raw, &m_payload.output2, minimumOf(raw, 3));
  }
  if (!on1 && !on2) return PVL_E_FAIL;
  m_payload.outputMode = on1 && on2 ? 2 : (on1 ? 0 : 1);
  if (on1) {
    FillRecord(&m_payload.output1, out1->GetOutputSize(), false);
    PvlResult r = PreQueue(out1, &m_payload.output1, minimumOf(out1, 2));
    if (r != PVL_OK) return r;
  }
  if (on2) {
    FillRecord(&m_payload.output2, out2->GetOutputSize(), false);
    return PreQueue(out2, &m_payload.output2, minimumOf(out2, 2));
  }
  return PVL_OK;
}
