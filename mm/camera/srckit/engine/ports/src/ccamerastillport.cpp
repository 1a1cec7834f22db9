// The still, main-image and thumbnail ports (see the header).
#include "ccamerastillport.h"

#include <string.h>

#include <new>
#include <vector>

#include "cmcamerabuffermanager.h"
#include "ienv.h"
#include "pvlheap.h"
#include "pvllog.h"

namespace {

constexpr uint32_t kStill = VIDEO_OUTPUT_MODE_STILL;


constexpr CameraPortFormat MakeThumbnail(uint32_t width, uint32_t height) {
  CameraPortFormat f{};
  f.idColorSpace = ZUEUID_COLORSPACE_YUV;
  f.FourCC = CAMERA_FOURCC_NV21;  // the still outputs deliver NV21 only
  f.Depth = 12;
  f.Width = width;
  f.Height = height;
  f.HorizontalSampling = 2;
  f.VerticalSampling = 2;
  f.Stride = 480;
  f.ClipRight = int32_t(width);
  f.ClipBottom = int32_t(height);
  return f;
}

// The luma plane of a frame and whether width x height (4:2:0) fits in it.
PvlResult FramePlanes(IPvlMediaBuffer* frame, uint32_t width, uint32_t height, uint8_t** luma) {
  uint64_t va = 0;
  uint32_t offset = 0, capacity = 0;
  PvlResult r = frame->GetVirtualAddress(&va);
  if (r == PVL_OK) r = frame->GetOffset(&offset);
  if (r == PVL_OK) r = frame->GetCapacity(&capacity);
  if (r != PVL_OK) return r;
  const uint64_t needed = uint64_t(width) * height * 3 / 2;
  if (va == 0 || offset > capacity || needed > capacity - offset) return PVL_E_BADARG;
  *luma = reinterpret_cast<uint8_t*>(uintptr_t(va)) + offset;
  return PVL_OK;
}

}  // namespace

// ---- Still port ----

CCameraStillPort::CCameraStillPort(IEnv* env, uint32_t type, PvlResult* result) : CCameraPort(env, type, result) {}

CCameraStillPort::~CCameraStillPort() { CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CCameraStillPort Destructor!"); }

PvlResult CCameraStillPort::GetFormat(CameraPortFormat* format) {
  if (!format) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_NOTREADY;
  return Output()->GetFormat(kStill, format);
}

PvlResult CCameraStillPort::SetFormat(const CameraPortFormat* format) {
  if (!format) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_NOTREADY;
  return Output()->SetFormat(kStill, format);
}

PvlResult CCameraStillPort::GetBufferRequirements(BufferRequest* records, uint32_t capacity, uint32_t* count) {
  if (!count || (!records && capacity != 0)) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_NOTREADY;
  return Output()->GetBufferInfo(kStill, records, int32_t(capacity), count);
}

PvlResult CCameraStillPort::GetBufferAllocator(ICameraBufferManager** allocator) {
  if (!allocator) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_NOTREADY;
  return Output()->GetBufferAllocator(kStill, allocator);
}

PvlResult CCameraStillPort::SetBufferManager(ICameraBufferManager* manager) {
  if (!manager) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_NOTREADY;
  return Output()->SetBufferManager(kStill, manager);
}

PvlResult CCameraStillPort::Start() {
  PvlResult enabled = Output() ? Output()->Enable(kStill, 1) : PVL_E_NOTREADY;
  PvlResult base = CCameraPort::Start();
  return enabled == PVL_OK && base == PVL_OK ? PVL_OK : PVL_E_FAIL;
}

PvlResult CCameraStillPort::Stop() {
  PvlResult disabled = Output() ? Output()->Enable(kStill, 0) : PVL_OK;
  PvlResult base = CCameraPort::Stop();
  return disabled == PVL_OK && base == PVL_OK ? PVL_OK : PVL_E_FAIL;
}

PvlResult CCameraStillPort::GetBufferRequirement(BufferRequest* record, uint32_t kind) {
  if (!record) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_FAIL;
  uint32_t count = 0;
  if (Output()->GetBufferInfo(kStill, nullptr, 0, &count) != PVL_OK || count == 0) return PVL_E_FAIL;
  std::vector<BufferRequest> records;
  try {
    records.resize(count);
  } catch (const std::bad_alloc&) {
    return PVL_E_OUTOFMEMORY;
  }
  if (Output()->GetBufferInfo(kStill, records.data(), int32_t(count), &count) != PVL_OK || count == 0)
    return PVL_E_FAIL;
  if (count > records.size()) count = uint32_t(records.size());
  *record = records[0];
  if (kind != 0)
    for (uint32_t i = 0; i < count; ++i)
      if (records[i].source == kind) *record = records[i];
  return PVL_OK;
}

// ---- Thumbnail port ----

PvlResult CCameraThumbnailPort::Create(IEnv* env, CCameraThumbnailPort** port) {
  if (!env || !port) return PVL_E_NULLPTR;
  *port = nullptr;
  PvlResult r = PVL_OK;
  CCameraThumbnailPort* self = new (std::nothrow) CCameraThumbnailPort(env, &r);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->AddRef();
  if (r != PVL_OK) {
    self->Release();
    return r;
  }
  *port = self;
  return PVL_OK;
}

CCameraThumbnailPort::CCameraThumbnailPort(IEnv* env, PvlResult* result)
    : CCameraStillPort(env, ZUEUID_CAMERA_PORT_THUMBNAIL, result), m_mainNeedsOutput(0), m_clientStarted(0) {}

CCameraThumbnailPort::~CCameraThumbnailPort() { CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CCameraThumbnailPort Destructor!"); }

PvlResult CCameraThumbnailPort::Start() {
  m_clientStarted = 1;
  return CCameraStillPort::Start();
}

PvlResult CCameraThumbnailPort::Stop() {
  m_clientStarted = 0;
  // A JPEG still being made keeps the output running; the client's queue goes.
  if (m_mainNeedsOutput) return CCameraPort::Stop();
  return CCameraStillPort::Stop();
}

PvlResult CCameraThumbnailPort::SetActive(uint8_t needed) {
  m_mainNeedsOutput = needed;
  if (!m_mainNeedsOutput && !m_clientStarted) return CCameraStillPort::Stop();
  return CCameraStillPort::Start();
}

// ---- Main-image port ----

constinit const CameraPortFormat CCameraMainImagePort::kWideThumbnail = MakeThumbnail(320, 192);
constinit const CameraPortFormat CCameraMainImagePort::kNormalThumbnail = MakeThumbnail(320, 240);


PvlResult CCameraMainImagePort::Create(IEnv* env, CCameraMainImagePort** port) {
  if (!env || !port) return PVL_E_NULLPTR;
  *port = nullptr;
  PvlResult r = PVL_OK;
  CCameraMainImagePort* self = new (std::nothrow) CCameraMainImagePort(env, &r);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->AddRef();
  if (r == PVL_OK) r = self->Construct();
  if (r != PVL_OK) {
    self->Release();
    return r;
  }
  *port = self;
  return PVL_OK;
}

CCameraMainImagePort::CCameraMainImagePort(IEnv* env, PvlResult* result)
    : CCameraStillPort(env, ZUEUID_CAMERA_PORT_MAIN_IMAGE, result),
      m_currentFormat{},
      m_jpegThumbnailFormat{},
      m_thumbnailInJpeg(0),
      m_thumbnailResize(0),
      m_captureCount(1),
      m_secondCounter(0),
      m_jpegAvailable(1) {}

PvlResult CCameraMainImagePort::Construct() {
  CJpegManager* manager = nullptr;
  if (CJpegManager::Create(GetEnv(), this, &manager) != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "JPEG Service Not installed. IJPG out not supported!");
    m_jpegAvailable = 0;
    return PVL_OK;
  }
  m_jpegManager = manager;
  manager->Release();
  CPvlPtr<IPropertyStore> store;
  if (m_jpegManager->GetProperties(&store) == PVL_OK) Proxy().SetStore(store.Get());
  return PVL_OK;
}

CCameraMainImagePort::~CCameraMainImagePort() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CCameraMainImagePort Destructor!");
  // The JPEG manager calls back into this port until its encoder has stopped.
  m_jpegManager.Reset();
}

PvlResult CCameraMainImagePort::GetFormat(CameraPortFormat* format) {
  if (!format) return PVL_E_NULLPTR;
  *format = m_currentFormat;
  return PVL_OK;
}

bool CCameraMainImagePort::IsJpegOutput() { return m_currentFormat.FourCC == CAMERA_FOURCC_IJPG; }

bool CCameraMainImagePort::IsRawPath() { return m_rawOutput && m_currentFormat.idColorSpace == ZUEUID_COLORSPACE_RAW; }

PvlResult CCameraMainImagePort::SetRawOutput(IVideoOutput* output) {
  if (!output) return PVL_E_NULLPTR;
  m_rawOutput = output;
  return PVL_OK;
}

void CCameraMainImagePort::SetThumbnailPort(CCameraThumbnailPort* port) { m_thumbnailPort = port; }

PvlResult CCameraMainImagePort::GetJpegProperties(IPropertyStore** store) {
  if (!store) return PVL_E_NULLPTR;
  *store = nullptr;
  if (!m_jpegManager) return PVL_E_NOTREADY;
  return m_jpegManager->GetProperties(store);
}

PvlResult CCameraMainImagePort::SetFormat(const CameraPortFormat* format) {
  if (!format) return PVL_E_NULLPTR;
  const bool jpeg = format->FourCC == CAMERA_FOURCC_IJPG;
  if (jpeg && !m_jpegAvailable) return PVL_E_UNSUPPORTED;
  // A refused format leaves the port as it was.
  const CameraPortFormat previous = m_currentFormat;
  const uint8_t previousInJpeg = m_thumbnailInJpeg;
  m_currentFormat = *format;
  // What the output delivers for a JPEG: the same image in NV21.
  CameraPortFormat frames = *format;
  if (jpeg) frames.FourCC = CAMERA_FOURCC_NV21;

  PvlResult r = PVL_OK;
  if (jpeg) {
    static const CameraPortFormat none{};
    r = m_jpegManager->SetMainFormat(&frames);
    if (r == PVL_OK) r = m_jpegManager->SetThumbnailFormat(&none);
    m_thumbnailInJpeg = 0;
    if (r == PVL_OK && m_thumbnailPort) {
      r = m_thumbnailPort->SetActive(1);
      CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Setting Format for Thumbnail Port as Predefined s_thumbnailFormat.");
      const bool wide = format->Height != 0 && double(format->Width) / double(format->Height) >= 1.66;
      const CameraPortFormat& predefined = wide ? kWideThumbnail : kNormalThumbnail;
      if (format->Width >= predefined.Width && format->Height >= predefined.Height) {
        m_jpegThumbnailFormat = predefined;
        m_jpegThumbnailFormat.FrameInterval = format->FrameInterval;
        m_jpegThumbnailFormat.AutoFrameRate = format->AutoFrameRate;
      } else {
        m_jpegThumbnailFormat = frames;
      }
      // The thumbnail output scales the main image's whole view: at the
      // thumbnail's own aspect that view would be stretched. It runs at the
      // main image's aspect, just covering the thumbnail, whose centre is cut
      // out for the JPEG.
      CameraPortFormat cover = m_jpegThumbnailFormat;
      const uint64_t wide64 = uint64_t(format->Width) * m_jpegThumbnailFormat.Height;
      const uint64_t high64 = uint64_t(format->Height) * m_jpegThumbnailFormat.Width;
      if (m_jpegThumbnailFormat.Width != format->Width && wide64 > high64) {
        const uint64_t w = (wide64 + format->Height - 1) / format->Height;
        cover.Width = uint32_t((w + 1) & ~uint64_t(1));
      } else if (m_jpegThumbnailFormat.Width != format->Width && wide64 < high64) {
        const uint64_t h = (high64 + format->Width - 1) / format->Width;
        cover.Height = uint32_t((h + 1) & ~uint64_t(1));
      }
      if (cover.Width > format->Width) cover.Width = format->Width;
      if (cover.Height > format->Height) cover.Height = format->Height;
      cover.ClipRight = int32_t(cover.Width);
      cover.ClipBottom = int32_t(cover.Height);
      m_thumbnailCut = cover.Width != m_jpegThumbnailFormat.Width || cover.Height != m_jpegThumbnailFormat.Height;
      if (!m_thumbnailCut) cover = m_jpegThumbnailFormat;
      if (r == PVL_OK) r = m_thumbnailPort->SetFormat(&cover);
      if (r == PVL_OK) r = m_jpegManager->SetThumbnailFormat(&m_jpegThumbnailFormat);
      if (r == PVL_OK) {
        m_thumbnailInJpeg = 1;
        r = ComputeThumbnailCrop();
      }
    }
  } else if (m_thumbnailPort) {
    r = m_thumbnailPort->SetActive(0);
  }

  if (r == PVL_OK) {
    if (IsRawPath()) {
      CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Setting  RAW format for MainImage Port");
      r = m_rawOutput->Enable(kStill, 1);
      if (r == PVL_OK) r = m_rawOutput->SetFormat(kStill, format);
    } else {
      CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Setting format for MainImage Port");
      if (m_rawOutput) r = m_rawOutput->Enable(kStill, 0);
      if (r == PVL_OK) r = CCameraStillPort::SetFormat(&frames);
    }
  }
  if (r != PVL_OK) {
    m_currentFormat = previous;
    m_thumbnailInJpeg = previousInJpeg;
  }
  return r;
}

PvlResult CCameraMainImagePort::ComputeThumbnailCrop() {
  CPvlPtr<IPropertyStore> store;
  if (!m_jpegManager || m_jpegManager->GetProperties(&store) != PVL_OK) return PVL_E_FAIL;
  PvlValueRecord main{};
  main.type = PVL_VT_RECT;
  PvlResult r = store->GetProperty(ZUEUID_PROPERTY_JPEG_MAIN_CROP, &main);
  if (r != PVL_OK) return r;
  const CPvlRect c = main.payload.rect;
  PvlValueRecord thumb{};
  thumb.type = PVL_VT_RECT;
  if (c.left == 0 && c.top == 0 && c.right == 0 && c.bottom == 0)
    return store->SetProperty(ZUEUID_PROPERTY_JPEG_THUMBNAIL_CROP, &thumb);
  const uint32_t tw0 = m_jpegThumbnailFormat.Width, th0 = m_jpegThumbnailFormat.Height;
  if (tw0 == 0 || th0 == 0 || !m_thumbnailInJpeg) return PVL_OK;
  // The crop is client-written: an inverted or negative rectangle has no thumbnail part.
  if (c.right < c.left || c.bottom < c.top || c.left < 0 || c.top < 0) return PVL_E_BADARG;
  const double cropWidth = double(c.right) - c.left + 1, cropHeight = double(c.bottom) - c.top + 1;
  const double sx = m_currentFormat.Width / cropWidth, sy = m_currentFormat.Height / cropHeight;
  if (sx <= 0 || sy <= 0) return PVL_E_BADARG;
  const double tw = tw0 / sx, th = th0 / sy;
  const double left = (tw0 - tw) / 2, top = (th0 - th) / 2;
  thumb.payload.rect = CPvlRect{int32_t(left), int32_t(top), int32_t(tw + left - 1), int32_t(th + top - 1)};
  return store->SetProperty(ZUEUID_PROPERTY_JPEG_THUMBNAIL_CROP, &thumb);
}

PvlResult CCameraMainImagePort::GetBufferRequirements(BufferRequest* records, uint32_t capacity, uint32_t* count) {
  if (!count || (!records && capacity != 0)) return PVL_E_NULLPTR;
  if (IsJpegOutput()) {
    *count = 1;
    if (capacity < 1) return PVL_OK;
    BufferRequest r{};
    PvlResult q = m_jpegManager->GetOutputBufferRequirements(&r);
    const uint64_t thumb = m_thumbnailPort && q == PVL_OK
                               ? uint64_t(m_jpegThumbnailFormat.Width) * m_jpegThumbnailFormat.Height
                               : 0;
    const uint64_t size =
        ((uint64_t(m_currentFormat.Width) * m_currentFormat.Height + thumb) * m_currentFormat.Depth >> 3) + 65535;
    if (size > UINT32_MAX) return PVL_E_BADARG;
    r.count = 1;
    r.size = uint32_t(size);
    r.source = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;
    records[0] = r;
    return PVL_OK;
  }
  if (IsRawPath()) return m_rawOutput->GetBufferInfo(kStill, records, int32_t(capacity), count);
  return CCameraStillPort::GetBufferRequirements(records, capacity, count);
}

PvlResult CCameraMainImagePort::GetBufferAllocator(ICameraBufferManager** allocator) {
  if (!allocator) return PVL_E_NULLPTR;
  *allocator = m_clientBufferManager.Get();
  if (*allocator) (*allocator)->AddRef();
  return PVL_OK;
}

PvlResult CCameraMainImagePort::SetBufferManager(ICameraBufferManager* manager) {
  if (!manager) return PVL_E_NULLPTR;
  m_clientBufferManager = manager;
  return PVL_OK;
}

PvlResult CCameraMainImagePort::GetSupportedFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) {
  PvlResult r = CCameraPort::GetSupportedFormats(formats, capacity, count);
  if (r != PVL_OK) return r;
  const uint32_t n = *count;
  if (m_jpegAvailable) {
    for (uint32_t i = 0; i < n; ++i) {
      if (formats && n + i < capacity) {
        formats[n + i] = formats[i];
        formats[n + i].FourCC = CAMERA_FOURCC_IJPG;
      }
    }
    *count += n;
  }
  if (m_rawOutput) {
    int32_t rawCount = 0;
    CameraPortFormat raw{};
    if (m_rawOutput->GetFormats(&raw, 1, &rawCount) == PVL_OK && rawCount > 0) {
      SensorTiming timing{};
      if (Sensor() && Sensor()->GetTiming(&timing, 0) == PVL_OK) raw.FrameInterval = timing.Words[1];
      if (formats && *count + 1 <= capacity) formats[*count] = raw;
      *count += 1;
    }
  }
  return PVL_OK;
}

PvlResult CCameraMainImagePort::MakeBufferManager(const BufferRequest& request,
                                                  CPvlPtr<ICameraBufferManager>& manager) {
  manager.Reset();
  PvlResult r = CMCameraBufferManager::CreateInstance(GetEnv(), ZUEUID_CLASS_BUFFER_MANAGER, nullptr, manager.Out());
  if (r == PVL_OK) r = manager->SetRequirements(&request);
  if (r != PVL_OK) manager.Reset();
  return r;
}

PvlResult CCameraMainImagePort::StartCapture(uint32_t count) {
  m_captureCount = count;
  if (!m_clientBufferManager) return PVL_E_FAIL;
  if (IsJpegOutput()) return StartJpegCapture();
  if (IsRawPath()) return m_rawOutput->SetBufferManager(kStill, m_clientBufferManager);
  return CCameraStillPort::SetBufferManager(m_clientBufferManager);
}

PvlResult CCameraMainImagePort::StartJpegCapture() {
  BufferRequest request{};
  PvlResult r = m_jpegManager->QueryBufferInfo(&request);
  if (r == PVL_OK) r = GetBufferRequirement(&request, ZUEUID_BUFFER_SOURCE_CONTIGUOUS);
  request.count = m_captureCount;
  if (r == PVL_OK) r = MakeBufferManager(request, m_jpegBufferManager);
  if (r == PVL_OK) r = CCameraStillPort::SetBufferManager(m_jpegBufferManager);
  if (r != PVL_OK) return r;

  if (m_thumbnailPort && !m_thumbnailPort->IsClientStarted()) {
    BufferRequest thumb{};
    r = m_thumbnailPort->GetBufferRequirement(&thumb, ZUEUID_BUFFER_SOURCE_CONTIGUOUS);
    thumb.count = m_captureCount;
    if (r == PVL_OK) r = MakeBufferManager(thumb, m_thumbnailBufferManager);
    if (r == PVL_OK) r = m_thumbnailPort->SetBufferManager(m_thumbnailBufferManager);
    if (r == PVL_OK) r = m_thumbnailBufferManager->Allocate();
    if (r == PVL_OK && m_thumbnailCut) {
      BufferRequest cut{};
      cut.count = m_captureCount;
      cut.size = m_jpegThumbnailFormat.Width * m_jpegThumbnailFormat.Height * 3 / 2;
      cut.source = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;
      r = MakeBufferManager(cut, m_thumbnailCutManager);
      if (r == PVL_OK) r = m_thumbnailCutManager->Allocate();
    }
    m_thumbnailInJpeg = 1;
    m_thumbnailResize = 0;
  } else if (m_thumbnailPort && m_captureCount != 1) {
    static const CameraPortFormat none{};
    r = m_jpegManager->SetThumbnailFormat(&none);
    m_thumbnailInJpeg = 0;
  } else if (m_thumbnailPort) {
    CameraPortFormat client{};
    r = m_thumbnailPort->GetFormat(&client);
    if (r == PVL_OK) {
      if (client.Width >= m_jpegThumbnailFormat.Width && client.Height >= m_jpegThumbnailFormat.Height) {
        m_thumbnailResize = 1;
      } else {
        m_jpegThumbnailFormat = client;
        m_thumbnailResize = 0;
      }
      r = m_jpegManager->SetThumbnailFormat(&m_jpegThumbnailFormat);
    }
    if (r == PVL_OK) {
      m_thumbnailInJpeg = 1;
      r = ComputeThumbnailCrop();
    }
    if (r == PVL_OK && m_thumbnailResize) {
      BufferRequest thumb{};
      thumb.count = m_captureCount;
      thumb.size = m_jpegThumbnailFormat.Width * m_jpegThumbnailFormat.Height * m_jpegThumbnailFormat.Depth >> 3;
      thumb.source = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;
      r = MakeBufferManager(thumb, m_thumbnailBufferManager);
      if (r == PVL_OK) r = m_thumbnailBufferManager->Allocate();
    }
  }
  if (r != PVL_OK) return r;
  r = m_jpegBufferManager->Allocate();
  if (r != PVL_OK && m_thumbnailBufferManager) m_thumbnailBufferManager->Free();
  if (r != PVL_OK && m_thumbnailCutManager) m_thumbnailCutManager->Free();
  return r;
}

PvlResult CCameraMainImagePort::StopCapture() {
  PvlResult r = PVL_OK;
  if (m_jpegBufferManager) {
    // The output lets go of the pool too; a frame still held comes home later.
    if (Output()) Output()->SetBufferManager(kStill, nullptr);
    if (m_jpegBufferManager->Free() != PVL_OK) r = PVL_E_FAIL;
    m_jpegBufferManager.Reset();
  }
  if (m_thumbnailBufferManager) {
    IVideoOutput* thumbOutput = nullptr;
    if (m_thumbnailPort && !m_thumbnailPort->IsClientStarted() && m_thumbnailPort->GetOutput(&thumbOutput) == PVL_OK &&
        thumbOutput) {
      thumbOutput->SetBufferManager(kStill, nullptr);
      thumbOutput->Release();
    }
    if (m_thumbnailBufferManager->Free() != PVL_OK) r = PVL_E_FAIL;
    m_thumbnailBufferManager.Reset();
  }
  if (m_thumbnailCutManager) {
    if (m_thumbnailCutManager->Free() != PVL_OK) r = PVL_E_FAIL;
    m_thumbnailCutManager.Reset();
  }
  return r;
}

PvlResult CCameraMainImagePort::OnMainFrame(IPvlMediaBuffer* frame) {
  if (!m_jpegManager) return PVL_E_FAIL;
  return m_jpegManager->OnMainFrame(frame);
}

PvlResult CCameraMainImagePort::OnThumbnailFrame(IPvlMediaBuffer* frame) {
  if (!frame) return PVL_E_NULLPTR;
  const bool clientStarted = m_thumbnailPort && m_thumbnailPort->IsClientStarted();
  PvlResult r = PVL_OK;
  if (m_thumbnailInJpeg && m_jpegManager) {
    if (!clientStarted) {
      return m_thumbnailCut && m_thumbnailCutManager ? ResizeIntoThumbnail(frame, m_thumbnailCutManager.Get())
                                                     : m_jpegManager->OnThumbnailFrame(frame);
    }
    r = m_thumbnailResize ? ResizeIntoThumbnail(frame, m_thumbnailBufferManager.Get())
                          : m_jpegManager->OnThumbnailFrame(frame);
  }
  if (r == PVL_OK && m_thumbnailPort) r = m_thumbnailPort->QueueFrame(frame);
  return r;
}

PvlResult CCameraMainImagePort::ResizeIntoThumbnail(IPvlMediaBuffer* frame, ICameraBufferManager* targets) {
  CameraPortFormat client{};
  PvlResult r = m_thumbnailPort->GetFormat(&client);
  if (r != PVL_OK) return r;
  if (!targets) return PVL_E_FAIL;
  CPvlPtr<IPvlMediaBuffer> target;
  r = targets->GetBuffer(1, &target);
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Error getting buffer to resize image for preview result = %d", int(r));
    return r;
  }
  const uint32_t w = m_jpegThumbnailFormat.Width, h = m_jpegThumbnailFormat.Height;
  uint8_t* source = nullptr;
  uint8_t* destination = nullptr;
  r = FramePlanes(frame, client.Width, client.Height, &source);
  if (r == PVL_OK) r = FramePlanes(target, w, h, &destination);
  if (r == PVL_OK) r = Resize(source, client.Width, client.Height, destination, w, h);
  if (r == PVL_OK) r = target->SetActualSize(w * h * 3 / 2);
  if (r == PVL_OK) r = m_jpegManager->OnThumbnailFrame(target);
  return r;
}

PvlResult CCameraMainImagePort::GetDeliveryBuffer(uint32_t flag, IPvlMediaBuffer** buffer) {
  if (!buffer) return PVL_E_NULLPTR;
  *buffer = nullptr;
  if (!m_clientBufferManager) return PVL_E_NOTREADY;
  return m_clientBufferManager->GetBuffer(uint8_t(flag), buffer);
}

PvlResult CCameraMainImagePort::Resize(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight,
                                       uint8_t* destination, uint32_t width, uint32_t height) {
  if (!source || !destination) return PVL_E_NULLPTR;
  if (sourceWidth < 2 || sourceHeight < 2 || width < 2 || height < 2) return PVL_E_FAIL;
  // Only down: the index tables would read past a row on the way up.
  if (width > sourceWidth || height > sourceHeight) return PVL_E_FAIL;
  std::vector<uint32_t> columns, rows;
  try {
    columns.assign(width + 1, 0);
    rows.assign(height + 1, 0);
  } catch (const std::bad_alloc&) {
    return PVL_E_OUTOFMEMORY;
  }
  auto table = [](std::vector<uint32_t>& t, uint32_t from, uint32_t to) {
    uint32_t acc = 0, next = 1;
    for (uint32_t s = 0; s < from && next <= to; ++s) {
      acc += to;
      if (acc >= from) {
        t[next++] = s;
        acc -= from;
      }
    }
  };
  // The centre of the source at the target's aspect (even offsets keep the
  // chroma pairs whole).
  uint32_t usedWidth = sourceWidth, usedHeight = sourceHeight;
  const uint64_t wide = uint64_t(sourceWidth) * height, high = uint64_t(sourceHeight) * width;
  if (wide > high) usedWidth = uint32_t((high + height / 2) / height);
  if (wide < high) usedHeight = uint32_t((wide + width / 2) / width);
  if (usedWidth < width) usedWidth = width;
  if (usedHeight < height) usedHeight = height;
  const uint32_t left = ((sourceWidth - usedWidth) / 2) & ~1u, top = ((sourceHeight - usedHeight) / 2) & ~1u;
  table(columns, usedWidth, width);
  table(rows, usedHeight, height);
  const uint8_t* sourceChroma = source + size_t(sourceWidth) * sourceHeight;
  uint8_t* chroma = destination + size_t(width) * height;
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t sy = top + (rows[y] + 1 < usedHeight ? rows[y] + 1 : usedHeight - 1);
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t sx = left + (columns[x] + 1 < usedWidth ? columns[x] + 1 : usedWidth - 1);
      destination[size_t(y) * width + x] = source[size_t(sy) * sourceWidth + sx];
      if ((y & 1) == 0 && (x & 1) == 0) {
        const uint8_t* from = sourceChroma + size_t(sy / 2) * sourceWidth + (sx / 2) * 2;
        uint8_t* to = chroma + size_t(y / 2) * width + (x / 2) * 2;
        to[0] = from[0];
        if ((x / 2) * 2 + 1 < width) to[1] = from[1];
      }
    }
  }
  return PVL_OK;
}
