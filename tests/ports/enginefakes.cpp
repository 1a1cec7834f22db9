#include "enginefakes.h"

#include <cstring>

namespace enginetest {

CameraPortFormat BayerFormat(uint32_t width, uint32_t height) {
  CameraPortFormat f{};
  f.idColorSpace = ZUEUID_COLORSPACE_RAW;
  f.FourCC = CAMERA_FOURCC('G', 'R', 'B', 'G');
  f.Depth = 8;
  f.Width = width;
  f.Height = height;
  f.HorizontalSampling = 1;
  f.VerticalSampling = 1;
  f.Stride = width;
  f.ClipRight = int32_t(width);
  f.ClipBottom = int32_t(height);
  return f;
}

FakeVideoOutput::FakeVideoOutput(uint32_t id, const CameraPortFormat& supported, bool scalable)
    : id(id), supported(supported), scalable(scalable) {
  for (uint32_t m = 0; m < 2; ++m) SetFormat(m, &supported);
  calls.clear();
}

PvlResult FakeVideoOutput::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_BADARG;
  *out = nullptr;
  if (iid != ZUEUID_IFACE_VIDEO_OUTPUT) return PVL_E_NOTSUPPORTED;
  AddRef();
  *out = static_cast<IVideoOutput*>(this);
  return PVL_OK;
}

PvlResult FakeVideoOutput::GetFormats(CameraPortFormat* formats, int32_t capacity, int32_t* count) {
  if (!count || (!formats && capacity != 0) || capacity < 0) return PVL_E_BADARG;
  if (formatsResult != PVL_OK) return formatsResult;
  *count = 1;
  if (formats && capacity > 0) formats[0] = supported;
  return PVL_OK;
}

PvlResult FakeVideoOutput::GetOutputId(uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  *out = id;
  return PVL_OK;
}

PvlResult FakeVideoOutput::IsEnabled(uint32_t mode, uint8_t* enabled) {
  if (mode > 1 || !enabled) return PVL_E_BADARG;
  *enabled = modes[mode].enabled;
  return PVL_OK;
}

PvlResult FakeVideoOutput::Enable(uint32_t mode, uint8_t on) {
  if (mode > 1) return PVL_E_BADARG;
  modes[mode].enabled = on != 0;
  calls.push_back("Enable(" + std::to_string(mode) + "," + std::to_string(on != 0) + ")");
  return PVL_OK;
}

PvlResult FakeVideoOutput::IsFormatScalable(uint8_t* out, uint32_t) {
  if (!out) return PVL_E_BADARG;
  *out = scalable;
  return PVL_OK;
}

PvlResult FakeVideoOutput::GetBufferInfo(uint32_t mode, BufferRequest* records, int32_t capacity, uint32_t* count) {
  if (mode > 1 || !count || (!records && capacity != 0)) return PVL_E_BADARG;
  *count = 1;
  if (capacity > 0) records[0] = modes[mode].request;
  return PVL_OK;
}

PvlResult FakeVideoOutput::GetBufferAllocator(uint32_t mode, ICameraBufferManager** allocator) {
  if (mode > 1 || !allocator) return PVL_E_BADARG;
  *allocator = modes[mode].manager.Get();
  if (*allocator) (*allocator)->AddRef();
  return PVL_OK;
}

PvlResult FakeVideoOutput::SetBufferManager(uint32_t mode, ICameraBufferManager* manager) {
  if (mode > 1) return PVL_E_BADARG;
  modes[mode].manager = manager;
  calls.push_back("SetBufferManager(" + std::to_string(mode) + "," + (manager ? "set" : "null") + ")");
  return PVL_OK;
}

PvlResult FakeVideoOutput::GetFormat(uint32_t mode, CameraPortFormat* format) {
  if (mode > 1 || !format) return PVL_E_BADARG;
  *format = modes[mode].format;
  return PVL_OK;
}

// Like the VFE's outputs: the supported FourCC, colour space and sampling, a
// size within the supported one, and a clipping rectangle inside the frame.
PvlResult FakeVideoOutput::SetFormat(uint32_t mode, const CameraPortFormat* f) {
  if (mode > 1 || !f) return PVL_E_BADARG;
  if (f->FourCC != supported.FourCC || f->idColorSpace != supported.idColorSpace || f->Width < 1 ||
      f->Width > supported.Width || f->Height < 1 || f->Height > supported.Height ||
      f->HorizontalSampling != supported.HorizontalSampling || f->VerticalSampling != supported.VerticalSampling ||
      f->ClipLeft < 0 || f->ClipTop < 0 || f->ClipRight > int32_t(f->Width) || f->ClipBottom > int32_t(f->Height))
    return PVL_E_BADARG;
  modes[mode].format = *f;
  const uint32_t luma = f->idColorSpace == ZUEUID_COLORSPACE_YUV ? f->Width * f->Height : 0;
  const uint32_t chroma =
      f->idColorSpace == ZUEUID_COLORSPACE_YUV ? f->Width * f->Height / 2 : f->Width * f->Height;
  BufferRequest r{};
  r.count = mode == 0 ? stillCount : 4;
  r.size = (luma + chroma + 7) & ~7u;
  r.source = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;
  r.alignment = 8;
  modes[mode].request = r;
  calls.push_back("SetFormat(" + std::to_string(mode) + ")");
  return PVL_OK;
}

PvlResult FakeVideoOutput::QueryStatus(uint32_t* first, uint32_t* second) {
  if (!first || !second) return PVL_E_BADARG;
  *first = frameCounter;
  *second = status2;
  return PVL_OK;
}

PvlResult FakeVideoOutput::GetReadySignal(ISignalControl** signal) {
  if (!signal) return PVL_E_BADARG;
  *signal = nullptr;
  return PVL_OK;
}

IPvlMediaBuffer* FakeVideoOutput::Produce(uint32_t mode, const std::function<void(uint8_t*, uint32_t, uint32_t)>& fill) {
  Mode& m = modes[mode];
  if (!m.manager) return nullptr;
  IPvlMediaBuffer* b = nullptr;
  if (m.manager->GetBuffer(1, &b) != PVL_OK) return nullptr;
  uint64_t va = 0;
  b->GetVirtualAddress(&va);
  uint8_t* luma = reinterpret_cast<uint8_t*>(uintptr_t(va));
  const uint32_t w = m.format.Width, h = m.format.Height;
  if (fill) {
    fill(luma, w, h);
  } else {
    std::memset(luma, 0x80, m.request.size);
  }
  b->SetActualSize(m.request.size);
  ++frameCounter;
  return b;
}

PvlResult FakeVfeService::GetOutputs(IVideoOutput** out, int32_t capacity, uint32_t* count) {
  if (!count) return PVL_E_BADARG;
  *count = uint32_t(outputs.size());
  if (!out) return PVL_OK;
  for (int32_t i = 0; i < capacity && size_t(i) < outputs.size(); ++i) {
    outputs[i]->AddRef();
    out[i] = outputs[i];
  }
  return PVL_OK;
}

void DrawBars(uint8_t* luma, uint32_t width, uint32_t height) {
  // Eight vertical bars: white, yellow, cyan, green, magenta, red, blue, black.
  static const uint8_t Y[8] = {235, 210, 170, 145, 106, 81, 41, 16};
  static const uint8_t U[8] = {128, 16, 166, 54, 202, 90, 240, 128};
  static const uint8_t V[8] = {128, 146, 16, 34, 222, 240, 110, 128};
  uint8_t* vu = luma + size_t(width) * height;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t bar = x * 8 / width;
      luma[size_t(y) * width + x] = Y[bar];
      if ((y & 1) == 0 && (x & 1) == 0) {
        uint8_t* p = vu + size_t(y / 2) * width + x;
        p[0] = V[bar];
        p[1] = U[bar];
      }
    }
}

}  // namespace enginetest
