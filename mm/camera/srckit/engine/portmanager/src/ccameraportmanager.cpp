// The port manager (see the header).
#include "ccameraportmanager.h"

#include <string.h>

#include <new>
#include <vector>

#include "plindor.h"
#include "pvllog.h"

namespace {

constexpr uint32_t kSensorFullWidth = 2592;
constexpr uint32_t kSensorFullHeight = 1944;

CameraPortFormat FirstFormat(IVideoOutput* output) {
  if (!output) throw Camera::CZUEException(PVL_E_NULLPTR);
  CameraPortFormat f{};
  int32_t n = 0;
  PvlResult r = output->GetFormats(&f, 1, &n);
  if (r == PVL_OK && n < 1) r = PVL_E_FAIL;
  if (r != PVL_OK) throw Camera::CZUEException(r);
  return f;
}

inline int32_t Y601(int r, int g, int b) { return ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16; }
inline int32_t Cb601(int r, int g, int b) { return ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128; }
inline int32_t Cr601(int r, int g, int b) { return ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128; }

}  // namespace

PvlResult CCameraPortManager::Create(IEnv* env, ICameraStateMachine* machine, IVfeService* vfe,
                                     ICameraSensorService* sensor, CCameraPortManager** manager) {
  if (!env || !vfe || !manager) return PVL_E_NULLPTR;
  *manager = nullptr;
  CCameraPortManager* self = new (std::nothrow) CCameraPortManager(env, machine, vfe, sensor);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->AddRef();
  PvlResult r;
  try {
    r = self->Construct();
  } catch (const Camera::CZUEException& e) {
    r = e.GetResult();
  } catch (const std::bad_alloc&) {
    r = PVL_E_OUTOFMEMORY;
  }
  if (r != PVL_OK) {
    self->Release();
    return r;
  }
  *manager = self;
  return PVL_OK;
}

CCameraPortManager::CCameraPortManager(IEnv* env, ICameraStateMachine* machine, IVfeService* vfe,
                                       ICameraSensorService* sensor)
    : CPvlObject(env),
      m_machine(machine),
      m_vfe(vfe),
      m_sensor(sensor),
      m_mainOutputId(0),
      m_thumbnailOutputId(0),
      m_snapshotCount(0),
      m_mainDelivered(0),
      m_thumbnailDelivered(0) {}

CCameraPortManager::~CCameraPortManager() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CCameraPortManager Destructor!");
  m_ports.clear();
  m_thumbnailPort.Reset();
  m_mainImagePort.Reset();
}

uint64_t CCameraPortManager::Area(IVideoOutput* output) {
  CameraPortFormat f = FirstFormat(output);
  return uint64_t(f.Width) * f.Height;
}

PvlResult CCameraPortManager::Construct() {
  uint32_t count = 0;
  PvlResult r = m_vfe->GetOutputs(nullptr, 0, &count);
  if (r != PVL_OK) return r;
  std::vector<IVideoOutput*> outputs(count, nullptr);
  r = m_vfe->GetOutputs(outputs.data(), int32_t(count), &count);
  if (count > outputs.size()) count = uint32_t(outputs.size());
  // Every handed-out output is held by a record or released here.
  struct Holder {
    std::vector<IVideoOutput*>& v;
    ~Holder() {
      for (IVideoOutput* o : v)
        if (o) o->Release();
    }
  } holder{outputs};
  if (r != PVL_OK) return r;

  Record* best = nullptr;
  Record* second = nullptr;
  Record* raw = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    IVideoOutput* output = outputs[i];
    if (!output) return PVL_E_NULLPTR;
    uint32_t id = 0;
    r = output->GetOutputId(&id);
    if (r != PVL_OK) return r;
    Record& record = m_ports[id];
    record.output = output;
    const CameraPortFormat first = FirstFormat(output);
    if (first.idColorSpace == ZUEUID_COLORSPACE_YUV) {
      r = CCameraVideoPort::Create(GetEnv(), &record.video);
      if (r == PVL_OK) r = record.video->Attach(output, m_sensor);
      if (r != PVL_OK) return r;
      if (!best) {
        best = &record;
        m_mainOutputId = id;
      } else if (Area(output) >= Area(best->output)) {
        second = best;
        m_thumbnailOutputId = m_mainOutputId;
        best = &record;
        m_mainOutputId = id;
      } else {
        second = &record;
        m_thumbnailOutputId = id;
      }
    } else if (first.idColorSpace == ZUEUID_COLORSPACE_RAW) {
      raw = &record;
    } else {
      return PVL_E_FAIL;
    }
  }

  if (best) {
    r = CCameraMainImagePort::Create(GetEnv(), &m_mainImagePort);
    if (r == PVL_OK) r = m_mainImagePort->Attach(best->output, m_sensor);
    if (r == PVL_OK && raw) {
      r = m_mainImagePort->SetRawOutput(raw->output);
      raw->still = m_mainImagePort.Get();
    }
    if (r != PVL_OK) return r;
    best->still = m_mainImagePort.Get();
  }
  if (second) {
    r = CCameraThumbnailPort::Create(GetEnv(), &m_thumbnailPort);
    if (r == PVL_OK) r = m_thumbnailPort->Attach(second->output, m_sensor);
    if (r != PVL_OK) return r;
    second->still = m_thumbnailPort.Get();
    if (m_mainImagePort) m_mainImagePort->SetThumbnailPort(m_thumbnailPort);
  }
  return PVL_OK;
}

PvlResult CCameraPortManager::GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) {
  if (!ports || !count) return PVL_E_NULLPTR;
  *count = 0;
  auto add = [&](ICameraPort* port) {
    if (*count < capacity) {
      port->AddRef();
      ports[*count] = port;
    }
    ++*count;
  };
  for (auto& entry : m_ports)
    if (entry.second.video) add(entry.second.video);
  if (m_mainImagePort) add(m_mainImagePort.Get());
  if (m_thumbnailPort) add(m_thumbnailPort.Get());
  return PVL_OK;
}

PvlResult CCameraPortManager::GetMainVideoOutput(uint32_t* outputId, CameraPortFormat* format) {
  if (!outputId || !format) return PVL_E_NULLPTR;
  const Record* chosen = nullptr;
  uint32_t chosenId = 0;
  uint64_t largest = 0;
  for (auto& entry : m_ports) {
    const Record& record = entry.second;
    if (!record.video || !record.video->IsStarted()) continue;
    uint64_t area = 0;
    try {
      area = Area(record.output);
    } catch (const Camera::CZUEException& e) {
      return e.GetResult();
    }
    if (!chosen || area >= largest) {
      chosen = &record;
      chosenId = entry.first;
      largest = area;
    }
  }
  if (!chosen) return PVL_E_FAIL;
  *outputId = chosenId;
  return chosen->output->GetFormat(VIDEO_OUTPUT_MODE_VIDEO, format);
}

PvlResult CCameraPortManager::GetSnapshotMainFormat(uint32_t* outputId, CameraPortFormat* format) {
  if (!outputId || !format) return PVL_E_NULLPTR;
  if (!m_mainImagePort) return PVL_E_FAIL;
  IVideoOutput* output = m_ports[m_mainOutputId].output;
  if (!output) return PVL_E_FAIL;
  *outputId = m_mainOutputId;
  return output->GetFormat(VIDEO_OUTPUT_MODE_STILL, format);
}

PvlResult CCameraPortManager::GetSnapshotThumbnailFormat(uint32_t* outputId, CameraPortFormat* format) {
  if (!outputId || !format) return PVL_E_NULLPTR;
  if (!m_thumbnailPort) return PVL_E_FAIL;
  *outputId = m_thumbnailOutputId;
  return m_thumbnailPort->GetFormat(format);
}

PvlResult CCameraPortManager::SetSnapshotCount(uint32_t count) {
  if (!m_mainImagePort) return PVL_E_NULLPTR;
  m_snapshotCount = count;
  m_mainDelivered = 0;
  m_thumbnailDelivered = 0;
  return PVL_OK;
}

PvlResult CCameraPortManager::GetJpegProperties(IPropertyStore** store) {
  if (!store) return PVL_E_NULLPTR;
  *store = nullptr;
  if (!m_mainImagePort || !m_mainImagePort->IsJpegAvailable()) return PVL_E_UNSUPPORTED;
  return m_mainImagePort->GetJpegProperties(store);
}

bool CCameraPortManager::IsJpegOutput() { return m_mainImagePort && m_mainImagePort->IsJpegOutput(); }

PvlResult CCameraPortManager::SetPortMode(uint8_t mode) {
  for (auto& entry : m_ports)
    if (entry.second.video) entry.second.video->SetMode(mode);
  if (m_thumbnailPort) m_thumbnailPort->SetMode(mode);
  return m_mainImagePort ? m_mainImagePort->SetMode(mode) : PVL_OK;
}

PvlResult CCameraPortManager::GetEnabledVideoFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) {
  if (!count) return PVL_E_NULLPTR;
  *count = 0;
  for (auto& entry : m_ports) {
    ICameraPort* port = entry.second.video;
    if (!port || !port->IsStarted()) continue;
    if (formats && *count < capacity) {
      PvlResult r = port->GetFormat(&formats[*count]);
      if (r != PVL_OK) return r;
    }
    ++*count;
  }
  return PVL_OK;
}

PvlResult CCameraPortManager::GetEnabledSnapshotFormats(CameraPortFormat* formats, uint32_t capacity,
                                                        uint32_t* count) {
  if (!count) return PVL_E_NULLPTR;
  *count = 0;
  if (m_mainImagePort && m_mainImagePort->IsStarted()) {
    if (formats && *count < capacity) {
      PvlResult r = m_mainImagePort->GetFormat(&formats[*count]);
      if (r != PVL_OK) return r;
      // The sensor's full size: the main image is taken from the whole frame.
      formats[*count].Width = kSensorFullWidth;
      formats[*count].Height = kSensorFullHeight;
    }
    ++*count;
  }
  if (m_thumbnailPort && m_thumbnailPort->IsStarted()) {
    if (formats && *count < capacity) {
      PvlResult r = m_thumbnailPort->GetFormat(&formats[*count]);
      if (r != PVL_OK) return r;
    }
    ++*count;
  }
  return PVL_OK;
}

PvlResult CCameraPortManager::QueueVideoFrame(uint32_t outputId, IPvlMediaBuffer* buffer) {
  auto it = m_ports.find(outputId);
  PvlResult r;
  if (it == m_ports.end() || !it->second.video) {
    // No video port here (unknown output, or the raw output).
    r = PVL_E_NOTFOUND;
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "ERROR queing frame to invalid camera port %d", int(outputId));
  } else {
    r = it->second.video->QueueFrame(buffer);
  }
  if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "ERROR queing frame to camera port");
  return r;
}

PvlResult CCameraPortManager::VideoFrameLost(uint32_t outputId) {
  auto it = m_ports.find(outputId);
  if (it == m_ports.end() || !it->second.video) return PVL_E_NOTFOUND;
  // The manager's video ports are its own CCameraVideoPort objects.
  static_cast<CCameraPort*>(it->second.video.Get())->NoteLostFrame();
  return PVL_OK;
}

void CCameraPortManager::VideoDeviceLost() {
  for (auto& [output, record] : m_ports)
    if (record.video) static_cast<CCameraPort*>(record.video.Get())->NoteDeviceLost();
}

PvlResult CCameraPortManager::QueueSnapshotFrame(uint32_t outputId, IPvlMediaBuffer* buffer) {
  if (m_mainImagePort && outputId == m_mainOutputId) {
    if (m_mainDelivered == m_snapshotCount) return PVL_OK;
    ++m_mainDelivered;
  } else if (m_thumbnailPort && outputId == m_thumbnailOutputId) {
    if (m_thumbnailDelivered == m_snapshotCount) return PVL_OK;
    ++m_thumbnailDelivered;
  }
  PvlResult r = RouteSnapshotFrame(outputId, buffer);
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "ERROR queing frame to camera port");
    if (m_machine) m_machine->RaiseStop();
  }
  return r;
}

PvlResult CCameraPortManager::RouteSnapshotFrame(uint32_t outputId, IPvlMediaBuffer* buffer) {
  if (!buffer) return PVL_E_NULLPTR;
  if (!IsJpegOutput()) {
    auto it = m_ports.find(outputId);
    if (it == m_ports.end() || !it->second.still) {
      CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "ERROR queing frame to invalid camera port %d", int(outputId));
      return PVL_E_NOTFOUND;
    }
    return it->second.still->QueueFrame(buffer);
  }
  if (outputId == m_mainOutputId) {
    StampMainFrame(buffer);
    return m_mainImagePort->OnMainFrame(buffer);
  }
  if (m_thumbnailPort && outputId == m_thumbnailOutputId) return m_mainImagePort->OnThumbnailFrame(buffer);
  return PVL_E_FAIL;
}

void CCameraPortManager::StampMainFrame(IPvlMediaBuffer* buffer) {
  uint64_t va = 0;
  if (buffer->GetVirtualAddress(&va) != PVL_OK) return;
  CameraTimeStampInfo stamp{};
  if (!VantorGetTimeStamp(&stamp)) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "call VantorGetTimeStamp failed \n");
    return;
  }
  stamp.dwFormat = CAMERA_STAMP_SEMIPLANAR_420;
  // The frame's own size and layout, never the mailbox's (a client writes that).
  CameraPortFormat format{};
  uint32_t offset = 0, capacity = 0;
  IVideoOutput* output = m_ports[m_mainOutputId].output;
  if (!output || output->GetFormat(VIDEO_OUTPUT_MODE_STILL, &format) != PVL_OK) return;
  if (buffer->GetOffset(&offset) != PVL_OK || buffer->GetCapacity(&capacity) != PVL_OK || offset > capacity) return;
  uint8_t* frame = reinterpret_cast<uint8_t*>(uintptr_t(va)) + offset;
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL,
                   "VantorGetTimeStamp: pbsrc=0x%x, pbdst=0x%x, ampW=%d, ampH=%d, ImgW=%d, ImgH=%d, cx=%d, cy=%d, dwFormat=%x\n",
                   unsigned(uintptr_t(stamp.pb)), unsigned(uintptr_t(frame)), int(stamp.aW), int(stamp.aH),
                   int(format.Width), int(format.Height), int(stamp.cx), int(stamp.cy), unsigned(stamp.dwFormat));
  OverlayTimeStamp(static_cast<const uint8_t*>(stamp.pb), frame, capacity - offset, stamp.aW, stamp.aH, format.Width,
                   format.Height, stamp.cx, stamp.cy, stamp.dwFormat, format.FourCC == CAMERA_FOURCC_NV21);
}

uint32_t CCameraPortManager::OverlayTimeStamp(const uint8_t* source, uint8_t* destination, uint32_t frameSize,
                                              uint32_t stampWidth, uint32_t stampHeight, uint32_t imageWidth,
                                              uint32_t imageHeight, uint32_t x, uint32_t y, uint32_t format,
                                              bool crFirst) {
  if (!source || !destination || !stampWidth || !stampHeight || !imageWidth || !imageHeight) return 0;
  const bool packed = format == CAMERA_STAMP_PACKED_422;
  if (!packed && format != CAMERA_STAMP_SEMIPLANAR_420 && format != CAMERA_STAMP_PLANAR_420 &&
      format != CAMERA_STAMP_PLANAR_420_CRCB)
    return 0;
  const uint64_t pixels = uint64_t(imageWidth) * imageHeight;
  if ((packed ? pixels * 2 : pixels * 3 / 2) > frameSize) return 0;
  // Chroma covers pixel pairs (4:2:2) or 2 x 2 blocks (4:2:0): the frame has
  // even sizes and the stamp sits on even coordinates.
  if ((imageWidth & 1) || (!packed && (imageHeight & 1))) return 0;
  x &= ~1u;
  if (!packed) y &= ~1u;
  if (x >= imageWidth || y >= imageHeight) return 0;
  // Clip the stamp to the frame.
  const uint32_t width = stampWidth < imageWidth - x ? stampWidth : imageWidth - x;
  const uint32_t height = stampHeight < imageHeight - y ? stampHeight : imageHeight - y;
  auto pixel = [&](uint32_t row, uint32_t col) { return source + (size_t(row) * stampWidth + col) * 3; };

  if (packed) {
    for (uint32_t row = 0; row < height; ++row) {
      uint8_t* line = destination + size_t(y + row) * imageWidth * 2;
      for (uint32_t col = 0; col < width; col += 2) {
        uint8_t* pair = line + size_t(x + col) * 2;  // Y0 Cr Y1 Cb
        const uint8_t* p0 = pixel(row, col);
        const uint8_t* p1 = col + 1 < width ? pixel(row, col + 1) : nullptr;
        const bool o0 = p0[0] && p0[1] && p0[2];
        const bool o1 = p1 && p1[0] && p1[1] && p1[2];
        if (o0) pair[0] = uint8_t(Y601(p0[0], p0[1], p0[2]));
        if (o1) pair[2] = uint8_t(Y601(p1[0], p1[1], p1[2]));
        if (o0 && o1) {
          pair[1] = uint8_t((Cr601(p0[0], p0[1], p0[2]) + Cr601(p1[0], p1[1], p1[2])) >> 1);
          pair[3] = uint8_t((Cb601(p0[0], p0[1], p0[2]) + Cb601(p1[0], p1[1], p1[2])) >> 1);
        }
        // One opaque pixel of a pair: the pair keeps the frame's chroma.
      }
    }
    return 1;
  }

  uint8_t* chroma = destination + pixels;
  for (uint32_t by = 0; by < height; by += 2) {
    for (uint32_t bx = 0; bx < width; bx += 2) {
      const uint32_t fy = y + by, fx = x + bx;
      uint8_t *cb = nullptr, *cr = nullptr;
      if (format == CAMERA_STAMP_SEMIPLANAR_420) {
        uint8_t* pair = chroma + size_t(fy / 2) * imageWidth + fx;
        cb = crFirst ? pair + 1 : pair;
        cr = crFirst ? pair : pair + 1;
      } else {
        const size_t quarter = pixels / 4;
        const size_t at = size_t(fy / 2) * (imageWidth / 2) + fx / 2;
        uint8_t* first = chroma + at;
        uint8_t* second = chroma + quarter + at;
        cb = format == CAMERA_STAMP_PLANAR_420 ? first : second;
        cr = format == CAMERA_STAMP_PLANAR_420 ? second : first;
      }
      int sumCb = 0, sumCr = 0;
      for (uint32_t i = 0; i < 2; ++i) {
        for (uint32_t j = 0; j < 2; ++j) {
          const uint32_t row = by + i, col = bx + j;
          const uint8_t* p = row < height && col < width ? pixel(row, col) : nullptr;
          if (p && p[0]) {
            destination[size_t(fy + i) * imageWidth + fx + j] = uint8_t(Y601(p[0], p[1], p[2]));
            sumCb += Cb601(p[0], p[1], p[2]);
            sumCr += Cr601(p[0], p[1], p[2]);
          } else {
            sumCb += *cb;
            sumCr += *cr;
          }
        }
      }
      *cb = uint8_t(sumCb >> 2);
      *cr = uint8_t(sumCr >> 2);
    }
  }
  return 1;
}

PvlResult CCameraPortManager::StartSnapshot() {
  if (!m_mainImagePort) return PVL_E_FAIL;
  return m_mainImagePort->StartCapture(m_snapshotCount);
}

PvlResult CCameraPortManager::StopSnapshot() {
  if (!m_mainImagePort) return PVL_E_FAIL;
  // Images the hardware lost (the capture ended without them) reach the reader as
  // failures, so that a trigger is never answered by silence.
  for (uint32_t i = m_mainDelivered; i < m_snapshotCount; ++i) m_mainImagePort->QueueFailedCapture();
  m_mainDelivered = m_snapshotCount;
  return m_mainImagePort->StopCapture();
}
