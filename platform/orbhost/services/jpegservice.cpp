// The host's JPEG encoder service (ZUEUID_CLASS_JPEGSERVICE).
//
// One image at a time: StartEncode takes the settings from the property store (quality,
// crops, the EXIF group with the tuning text), the main frame and, when a thumbnail
// format is set, the thumbnail frame follow in either order; a worker thread of the
// service encodes, asks the listener for an output buffer, hands the image over and ends
// it with exactly one event. Abort ends a started image and always answers one abort
// event. The listener is not referenced: its owner owns the service and waits for the
// abort event before it lets go of it.
#include <pthread.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "bufferrequest.h"
#include "cameraportformat.h"
#include "cpvlmediabuffer.h"
#include "ijpegservice.h"
#include "ipropertystore.h"
#include "servicesinternal.h"
#include "stillencoder.h"

namespace orbhost::services {
namespace {

// Property identifiers of the JPEG settings and the EXIF data.
constexpr uint32_t kPropMainQuality = ZUEUID_PROPERTY_JPEG_QUALITY;
constexpr uint32_t kPropThumbnailQuality = ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY;
constexpr uint32_t kPropRotation = ZUEUID_PROPERTY_JPEG_ROTATION;
constexpr uint32_t kPropJpegFlag = ZUEUID_PROPERTY_JPEG_OPTION;
constexpr uint32_t kPropMainCrop = ZUEUID_PROPERTY_JPEG_MAIN_CROP;
constexpr uint32_t kPropThumbnailCrop = ZUEUID_PROPERTY_JPEG_THUMBNAIL_CROP;
constexpr uint32_t kGroupExif = ZUEUID_PROPERTY_GROUP_EXIF;
constexpr uint32_t kPropTuningData = ZUEUID_PROPERTY_EXIF_TUNING_DATA;

constexpr uint32_t kVtByte = PVL_VT_UINT8;
constexpr uint32_t kBufferKind = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;
constexpr uint32_t kBufferNoWait = 1;  // GetDeliveryBuffer flag: answer at once
constexpr PvlResult kNoFreeBuffer = 516;
// After this long without an output buffer the worker says so (and keeps asking).
constexpr auto kDeliveryBufferWait = std::chrono::seconds(5);

constexpr uint32_t kFourCcNv21 = CAMERA_FOURCC_NV21;
constexpr uint32_t kFourCcNv12 = CAMERA_FOURCC_NV12;
constexpr uint32_t kFourCcIjpg = CAMERA_FOURCC_IJPG;

// The ports' format record.
using PortFormat = CameraPortFormat;

struct Frame {
  IPvlMediaBuffer* buffer = nullptr;  // one reference while held
  Frame() = default;
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  ~Frame() { Reset(); }
  void Reset() {
    if (buffer) buffer->Release();
    buffer = nullptr;
  }
};

// One started image with the settings read at StartEncode.
struct Job {
  PortFormat main{};
  PortFormat thumb{};
  bool wantThumb = false;
  int mainQuality = JpegEncoder::kDefaultQuality;
  int thumbQuality = JpegEncoder::kDefaultQuality;
  CropRect mainCrop, thumbCrop;
  ExifBuilder exif;
  std::vector<uint8_t> tuning;
  Frame mainFrame, thumbFrame;
  bool Ready() const { return mainFrame.buffer && (!wantThumb || thumbFrame.buffer); }
};

uint64_t FrameBytes(const PortFormat& f) { return Nv21Frame::PackedSize(f.Width, f.Height); }

bool IsEmptyFormat(const PortFormat& f) {
  static const PortFormat zero{};
  return std::memcmp(&f, &zero, sizeof f) == 0;
}

// Checks a format the service can encode; why says what is wrong.
bool UsableFormat(const PortFormat& f, std::string* why) {
  if (f.FourCC != kFourCcNv21 && f.FourCC != kFourCcNv12) {
    char code[5] = {};
    for (int i = 0; i < 4; ++i) {
      char ch = static_cast<char>(f.FourCC >> (8 * i));
      code[i] = (ch >= 0x20 && ch < 0x7F) ? ch : '?';
    }
    *why = std::string("FourCC \"") + code + "\" is neither NV21 nor NV12";
    return false;
  }
  if (f.Width == 0 || f.Height == 0 || (f.Width & 1) || (f.Height & 1) || f.Width > JpegEncoder::kMaxDimension ||
      f.Height > JpegEncoder::kMaxDimension || FrameBytes(f) > JpegEncoder::kMaxFrameBytes) {
    *why = "size " + std::to_string(f.Width) + "x" + std::to_string(f.Height) +
           " is not an even size up to 65535 of at most 2 GB";
    return false;
  }
  return true;
}

bool CropFits(const CropRect& c, const PortFormat& f) {
  if (c.IsEmpty()) return true;
  return c.left >= 0 && c.top >= 0 && c.right >= c.left && c.bottom >= c.top &&
         static_cast<uint32_t>(c.right) < f.Width && static_cast<uint32_t>(c.bottom) < f.Height;
}

std::string CropText(const CropRect& c) {
  return "(" + std::to_string(c.left) + "," + std::to_string(c.top) + "," + std::to_string(c.right) + "," +
         std::to_string(c.bottom) + ")";
}

// ---- Reading the store ----

PvlResult ReadUInt(IPropertyStore* store, uint32_t id, uint32_t* v) {
  PvlValueRecord r{};
  r.type = PVL_VT_UINT32;
  PvlResult res = store->GetProperty(id, &r);
  if (res == PVL_OK) *v = r.payload.u32;
  return res;
}

PvlResult ReadRect(IPropertyStore* store, uint32_t id, CropRect* c) {
  PvlValueRecord r{};
  r.type = PVL_VT_RECT;
  PvlResult res = store->GetProperty(id, &r);
  if (res == PVL_OK) *c = {r.payload.rect.left, r.payload.rect.top, r.payload.rect.right, r.payload.rect.bottom};
  return res;
}

void Le(std::vector<uint8_t>& d, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) d.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Appends one scalar value record as EXIF data; returns its EXIF type (0: not a type
// EXIF can carry).
uint16_t ScalarToExif(const PvlValueRecord& r, std::vector<uint8_t>& d) {
  switch (r.type) {
    case kVtByte:
      d.push_back(r.payload.bytes[0]);
      return kExifByte;
    case PVL_VT_UINT16:
      Le(d, r.payload.u16, 2);
      return kExifShort;
    case PVL_VT_UINT32:
      Le(d, r.payload.u32, 4);
      return kExifLong;
    case PVL_VT_INT32:
    case PVL_VT_SINT32:
      Le(d, r.payload.u32, 4);
      return kExifSLong;
    case PVL_VT_URATIONAL:
      Le(d, r.payload.rational.numerator, 4);
      Le(d, r.payload.rational.denominator, 4);
      return kExifRational;
    case PVL_VT_PAIR:
      Le(d, static_cast<uint32_t>(r.payload.pair.first), 4);
      Le(d, static_cast<uint32_t>(r.payload.pair.second), 4);
      return kExifSRational;
    case PVL_VT_FLOAT: {
      uint32_t bits;
      std::memcpy(&bits, &r.payload.f, 4);
      Le(d, bits, 4);
      return kExifFloat;
    }
    default:
      return 0;
  }
}

// A value the store copied out for the service, freed at the end of the scope.
struct HandedValue {
  PvlValueRecord v{};
  HandedValue() = default;
  HandedValue(const HandedValue&) = delete;
  HandedValue& operator=(const HandedValue&) = delete;
  ~HandedValue() { PvlValue_Clear(&v); }
  const uint8_t* Bytes() const { return static_cast<const uint8_t*>(v.payload.array.data); }
  size_t Filled() const {
    return v.payload.array.data ? static_cast<size_t>(std::max<int32_t>(0, v.payload.array.filled)) : 0;
  }
};

// Reads the EXIF group into the builder and the tuning text. Tags that cannot be
// written are left out with a log line; only a failing store ends the reading.
PvlResult ReadExif(IPropertyStore* store, ExifBuilder& exif, std::vector<uint8_t>& tuning) {
  uint32_t count = 0;
  PvlResult r = store->GetGroupMembers(kGroupExif, nullptr, 0, &count);
  if (r != PVL_OK) return r;
  std::vector<uint32_t> ids(count);
  if (count) {
    r = store->GetGroupMembers(kGroupExif, ids.data(), count, &count);
    if (r != PVL_OK) return r;
    ids.resize(std::min<size_t>(ids.size(), count));
  }
  for (uint32_t id : ids) {
    // Without a buffer of ours the store hands over a copy of the whole value, whatever
    // its size and type (a buffer's capacity would count elements, not bytes, for arrays).
    HandedValue hv;
    PvlValueRecord& v = hv.v;
    if (id == kPropTuningData) v.type = PVL_VT_BLOCK;
    r = store->GetProperty(id, &v);
    if (r != PVL_OK) {
      Log("JPEG: EXIF property 0x%08x cannot be read (%d); left out", id, r);
      continue;
    }
    if (id == kPropTuningData) {
      tuning.assign(hv.Bytes(), hv.Bytes() + hv.Filled());
      continue;
    }
    if (id > 0xFFFF) {
      Log("JPEG: EXIF property 0x%08x is not a tag number; left out", id);
      continue;
    }
    ExifEntry e;
    e.tag = static_cast<uint16_t>(id);
    if (v.type == PVL_VT_STRING) {
      e.type = kExifAscii;
      e.data.assign(hv.Bytes(), hv.Bytes() + hv.Filled());
      // Up to the first NUL; the writer terminates it.
      auto nul = std::find(e.data.begin(), e.data.end(), 0);
      e.data.erase(nul, e.data.end());
      e.count = static_cast<uint32_t>(e.data.size());
    } else if (v.type == PVL_VT_BLOCK) {
      e.type = kExifUndefined;
      e.data.assign(hv.Bytes(), hv.Bytes() + hv.Filled());
      e.count = static_cast<uint32_t>(e.data.size());
    } else if (v.type == PVL_VT_ARRAY) {
      const auto* elements = reinterpret_cast<const PvlValueRecord*>(hv.Bytes());
      for (size_t i = 0; i < hv.Filled(); ++i) {
        uint16_t t = ScalarToExif(elements[i], e.data);
        if (t == 0 || (e.type && t != e.type)) {
          e.type = 0;
          break;
        }
        e.type = t;
        ++e.count;
      }
    } else {
      e.type = ScalarToExif(v, e.data);
      e.count = 1;
    }
    std::string why;
    if (e.type == 0) {
      Log("JPEG: EXIF tag 0x%04x has a value of type %u that EXIF cannot carry; left out", id, v.type);
    } else if (!exif.Set(std::move(e), &why)) {
      Log("JPEG: EXIF tag 0x%04x left out: %s", id, why.c_str());
    }
  }
  return PVL_OK;
}

std::string ExifNow() {
  time_t t = ::time(nullptr);
  struct tm tmv;
  ::localtime_r(&t, &tmv);
  char text[32];
  std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &tmv);
  return text;
}

// ---- The worker ----

struct Core {
  std::mutex m;
  std::condition_variable cv;
  IJpegServiceListener* listener = nullptr;
  void* context = nullptr;  // the service, as the listener's context
  bool stop = false;
  uint32_t abortsPending = 0;
  std::unique_ptr<Job> job;   // started, frames still arriving or ready
  bool encoding = false;      // the worker holds an image
  bool cancel = false;        // ... and an Abort ended it
  std::thread::id workerId;
};

class Worker {
 public:
  explicit Worker(std::shared_ptr<Core> core) : c_(std::move(core)) {}

  void Run() {
    pthread_setname_np(pthread_self(), "JpegService");
    std::unique_lock<std::mutex> lock(c_->m);
    for (;;) {
      c_->cv.wait(lock, [&] { return c_->stop || c_->abortsPending || (c_->job && c_->job->Ready()); });
      if (c_->stop) return;
      if (c_->abortsPending) {
        uint32_t n = c_->abortsPending;
        c_->abortsPending = 0;
        IJpegServiceListener* l = c_->listener;
        void* ctx = c_->context;
        lock.unlock();
        for (uint32_t i = 0; i < n; ++i) {
          if (l) l->OnEvent(ctx, EVENT_ENCODE_ABORT);
        }
        lock.lock();
        continue;
      }
      std::unique_ptr<Job> job = std::move(c_->job);
      c_->encoding = true;
      c_->cancel = false;
      lock.unlock();
      IPvlMediaBuffer* out = nullptr;
      bool ok = Encode(*job, &out);
      job.reset();  // the frames go back to their owners before the event
      // An Abort wins over a finished image up to the moment its event goes out: the
      // image then ends with the abort event alone.
      lock.lock();
      bool cancelled = c_->cancel || c_->stop;
      IJpegServiceListener* l = c_->listener;
      void* ctx = c_->context;
      lock.unlock();
      if (out && ok && !cancelled && l) l->OutputProducedHandler(ctx, out);
      if (out) out->Release();  // the listener's queue holds its own reference
      lock.lock();
      cancelled = cancelled || c_->cancel || c_->stop;
      c_->encoding = false;
      c_->cancel = false;
      l = c_->listener;
      lock.unlock();
      if (!cancelled && l) {
        l->OnEvent(ctx, ok ? EVENT_ENCODE_DONE : EVENT_ENCODE_ERROR);
      } else if (!cancelled) {
        Log("JPEG: image finished without a listener; dropped");
      }
      lock.lock();
    }
  }

 private:
  bool Cancelled() {
    std::lock_guard<std::mutex> lock(c_->m);
    return c_->cancel || c_->stop;
  }

  // Maps a frame's memory as an NV21/NV12 frame of the given format.
  static bool MapFrame(IPvlMediaBuffer* b, const PortFormat& f, const char* which, Nv21Frame* frame) {
    uint64_t va = 0;
    uint32_t capacity = 0, offset = 0;
    PvlResult r = b->GetVirtualAddress(&va);
    if (r == PVL_OK) r = b->GetCapacity(&capacity);
    if (r == PVL_OK) r = b->GetOffset(&offset);
    if (r != PVL_OK || va == 0) {
      Log("JPEG: %s frame has no memory (0x%x)", which, static_cast<unsigned>(r));
      return false;
    }
    const uint64_t need = FrameBytes(f);
    if (offset > capacity || capacity - offset < need) {
      Log("JPEG: %s frame holds %u bytes; a %ux%u frame needs %llu", which, capacity - std::min(offset, capacity),
          f.Width, f.Height, static_cast<unsigned long long>(need));
      return false;
    }
    *frame = Nv21Frame::Packed(reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(va)) + offset, f.Width, f.Height);
    frame->uFirst = f.FourCC == kFourCcNv12;
    return true;
  }

  // Encodes the job into a delivery buffer; false (with a log line) on any failure.
  bool Encode(Job& job, IPvlMediaBuffer** out) {
    Nv21Frame mainFrame, thumbFrame;
    if (!MapFrame(job.mainFrame.buffer, job.main, "main", &mainFrame)) return false;
    StillRequest req;
    req.main = mainFrame;
    req.mainCrop = job.mainCrop;
    req.mainQuality = job.mainQuality;
    req.exif = &job.exif;
    req.tuningText = std::move(job.tuning);
    if (job.wantThumb) {
      if (MapFrame(job.thumbFrame.buffer, job.thumb, "thumbnail", &thumbFrame)) {
        req.thumbnail = &thumbFrame;
        req.thumbnailCrop = job.thumbCrop;
        req.thumbnailQuality = job.thumbQuality;
      } else {
        Log("JPEG: the image goes without its thumbnail");
      }
    }
    std::vector<uint8_t> jpeg;
    std::vector<std::string> notes;
    std::string why;
    JpegStatus st;
    try {
      st = encoder_.Encode(req, jpeg, notes, &why);
    } catch (const std::bad_alloc&) {
      st = JpegStatus::kNoMemory;
      why = "out of memory";
    }
    for (const std::string& n : notes) Log("JPEG: %s", n.c_str());
    if (st != JpegStatus::kOk) {
      Log("JPEG: encoding failed: %s", why.c_str());
      return false;
    }
    if (Cancelled()) return false;

    // An output buffer from the listener: asked without waiting, so that an Abort (or the
    // service's release) is seen while the client has none free. The picture is kept
    // until a buffer comes; a log line says when that takes long.
    IPvlMediaBuffer* buf = nullptr;
    auto start = std::chrono::steady_clock::now();
    bool told = false;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
      IJpegServiceListener* l;
      {
        std::lock_guard<std::mutex> lock(c_->m);
        l = c_->listener;
      }
      if (!l) {
        Log("JPEG: no listener to take the image");
        return false;
      }
      PvlResult r = l->GetDeliveryBuffer(c_->context, kBufferNoWait, &buf);
      if (r == PVL_OK && buf) break;
      buf = nullptr;
      if (r != kNoFreeBuffer) {
        Log("JPEG: no delivery buffer (%d)", r);
        return false;
      }
      if (!told && std::chrono::steady_clock::now() - start > kDeliveryBufferWait) {
        Log("JPEG: still waiting for a delivery buffer after %lld s", static_cast<long long>(kDeliveryBufferWait.count()));
        told = true;
      }
      std::unique_lock<std::mutex> lock(c_->m);
      if (c_->cv.wait_for(lock, pause, [&] { return c_->cancel || c_->stop; })) return false;
      pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    *out = buf;
    uint64_t va = 0;
    uint32_t capacity = 0;
    PvlResult r = buf->GetVirtualAddress(&va);
    if (r == PVL_OK) r = buf->GetCapacity(&capacity);
    if (r != PVL_OK || va == 0) {
      Log("JPEG: delivery buffer has no memory (0x%x)", static_cast<unsigned>(r));
      return false;
    }
    // Too big for the buffer: encode again at lower qualities rather than lose the picture.
    int q = req.mainQuality;
    while (jpeg.size() > capacity && q > 10) {
      q = std::max(10, q * 3 / 4);
      req.mainQuality = q;
      notes.clear();
      if (encoder_.Encode(req, jpeg, notes, &why) != JpegStatus::kOk) {
        Log("JPEG: encoding failed: %s", why.c_str());
        return false;
      }
    }
    if (q != job.mainQuality && jpeg.size() <= capacity)
      Log("JPEG: image re-encoded at quality %d to fit the %u-byte delivery buffer", q, capacity);
    if (jpeg.size() > capacity) {
      Log("JPEG: image of %zu bytes does not fit the %u-byte delivery buffer", jpeg.size(), capacity);
      return false;
    }
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(va)), jpeg.data(), jpeg.size());
    buf->SetOffset(0);
    r = buf->SetActualSize(static_cast<uint32_t>(jpeg.size()));
    if (r != PVL_OK) {
      Log("JPEG: setting the image size failed (%d)", r);
      return false;
    }
    return true;
  }

  std::shared_ptr<Core> c_;
  StillEncoder encoder_;
};

// ---- The service object ----

class JpegService final : public HostObject<IJpegService> {
 public:
  JpegService() : core_(std::make_shared<Core>()) { core_->context = static_cast<IJpegService*>(this); }

  PvlResult Start() {
    try {
      auto core = core_;
      thread_ = std::thread([core] {
        Worker w(core);
        w.Run();
      });
    } catch (const std::exception&) {
      return PVL_E_FAIL;
    }
    return PVL_OK;
  }

  ~JpegService() override {
    std::unique_ptr<Job> job;
    {
      std::lock_guard<std::mutex> lock(core_->m);
      core_->stop = true;
      core_->listener = nullptr;
      job = std::move(core_->job);
    }
    core_->cv.notify_all();
    if (thread_.joinable()) {
      if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // released from a callback: the worker ends on its own
      } else {
        thread_.join();
      }
    }
    if (store_) store_->Release();
  }

  PvlResult QueryInterface(ZUEUID iid, void** out) override { return AnswerQuery(iid, out, ZUEUID_IFACE_JPEGSERVICE); }
  PvlResult Reserved3() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved4() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved8() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved11() override { return PVL_E_UNSUPPORTED; }

  PvlResult SetListener(IJpegServiceListener* listener) override {
    std::lock_guard<std::mutex> lock(core_->m);
    core_->listener = listener;
    return PVL_OK;
  }

  PvlResult QueryBufferInfo(void* requirements) override {
    if (!requirements) return PVL_E_NULLPTR;
    std::lock_guard<std::mutex> lock(m_);
    BufferRequest r{};
    r.count = 1;
    r.size = static_cast<uint32_t>(FrameBytes(main_));  // the frames the service reads
    r.source = kBufferKind;
    std::memcpy(requirements, &r, sizeof r);
    return PVL_OK;
  }

  PvlResult GetOutputBufferRequirements(void* requirements) override {
    if (!requirements) return PVL_E_NULLPTR;
    std::lock_guard<std::mutex> lock(m_);
    BufferRequest r{};
    r.count = 1;
    // Room for an image at 12 bits per pixel plus a full EXIF segment.
    r.size = static_cast<uint32_t>(
        std::min<uint64_t>(FrameBytes(main_) + (hasThumb_ ? FrameBytes(thumb_) : 0) + 65535, UINT32_MAX));
    r.source = kBufferKind;
    std::memcpy(requirements, &r, sizeof r);
    return PVL_OK;
  }

  PvlResult SetThumbnailFormat(const CameraPortFormat* format) override {
    if (!format) return PVL_E_NULLPTR;
    PortFormat f;
    std::memcpy(&f, format, sizeof f);
    std::lock_guard<std::mutex> lock(m_);
    if (IsEmptyFormat(f)) {
      hasThumb_ = false;
      thumb_ = f;
      return PVL_OK;
    }
    // A main format below the thumbnail size comes back as the thumbnail format, still
    // named "IJPG": its frames are the still output's NV21 frames, as the main image's.
    if (f.FourCC == kFourCcIjpg) f.FourCC = kFourCcNv21;
    std::string why;
    if (!UsableFormat(f, &why)) {
      Log("JPEG: thumbnail format refused: %s", why.c_str());
      return PVL_E_BADARG;
    }
    thumb_ = f;
    hasThumb_ = true;
    return PVL_OK;
  }

  PvlResult SetMainFormat(const CameraPortFormat* format) override {
    if (!format) return PVL_E_NULLPTR;
    PortFormat f;
    std::memcpy(&f, format, sizeof f);
    std::string why;
    if (!UsableFormat(f, &why)) {
      Log("JPEG: main format refused: %s", why.c_str());
      return PVL_E_BADARG;
    }
    std::lock_guard<std::mutex> lock(m_);
    main_ = f;
    hasMain_ = true;
    return PVL_OK;
  }

  // Takes the store and registers the JPEG settings in it; values already there stay.
  PvlResult SetProperties(IPropertyStore* store) override {
    if (!store) return PVL_E_NULLPTR;
    struct Row {
      uint32_t id;
      const char* name;
      uint32_t type;
      int32_t def, min, max;
    } rows[] = {
        {kPropMainQuality, "JPEG quality", PVL_VT_UINT32, JpegEncoder::kDefaultQuality, 1, 100},
        {kPropThumbnailQuality, "JPEG thumbnail quality", PVL_VT_UINT32, JpegEncoder::kDefaultQuality, 1, 100},
        {kPropRotation, "JPEG rotation", PVL_VT_INT32, 0, 0, 360},
        {kPropJpegFlag, "JPEG option", kVtByte, 0, 0, 1},
        {kPropMainCrop, "JPEG main crop", PVL_VT_RECT, 0, 0, 0},
        {kPropThumbnailCrop, "JPEG thumbnail crop", PVL_VT_RECT, 0, 0, 0},
    };
    for (const Row& row : rows) {
      PvlPropertyDescHead d{};
      d.id = row.id;
      d.name = PvlDescText(row.name);
      d.description = PvlDescText("");
      const int32_t values[5] = {row.def, row.min, row.max, row.def, 1};
      for (int i = 0; i < 5; ++i) {
        d.values[i].type = row.type;
        if (row.type != PVL_VT_RECT) d.values[i].payload.i32 = values[i];
      }
      d.attribute = 2;  // manual: the clients' translations read the value as set
      PvlResult r = store->AddProperty(PvlPropertyDescOf(&d), 0, 0);
      if (r != PVL_OK) {
        Log("JPEG: registering property 0x%08x failed (%d)", row.id, r);
        return r;
      }
    }
    std::lock_guard<std::mutex> lock(m_);
    store->AddRef();
    if (store_) store_->Release();
    store_ = store;
    return PVL_OK;
  }

  PvlResult StartEncode(IPropertyStore* store) override {
    std::unique_lock<std::mutex> lock(m_);
    if (!store) store = store_;
    if (!store) return PVL_E_NULLPTR;
    if (!hasMain_) {
      Log("JPEG: StartEncode without a main format");
      return PVL_E_NOTREADY;
    }
    auto job = std::unique_ptr<Job>(new (std::nothrow) Job);
    if (!job) return PVL_E_OUTOFMEMORY;
    job->main = main_;
    job->thumb = thumb_;
    job->wantThumb = hasThumb_;
    lock.unlock();

    uint32_t q = JpegEncoder::kDefaultQuality;
    if (ReadUInt(store, kPropMainQuality, &q) == PVL_OK) job->mainQuality = static_cast<int>(std::clamp<uint32_t>(q, 1, 100));
    q = JpegEncoder::kDefaultQuality;
    if (ReadUInt(store, kPropThumbnailQuality, &q) == PVL_OK) job->thumbQuality = static_cast<int>(std::clamp<uint32_t>(q, 1, 100));
    ReadRect(store, kPropMainCrop, &job->mainCrop);
    ReadRect(store, kPropThumbnailCrop, &job->thumbCrop);
    if (!CropFits(job->mainCrop, job->main)) {
      Log("JPEG: main crop %s outside the %ux%u frame", CropText(job->mainCrop).c_str(), job->main.Width, job->main.Height);
      return PVL_E_BADARG;
    }
    if (job->wantThumb && !CropFits(job->thumbCrop, job->thumb)) {
      Log("JPEG: thumbnail crop %s outside the %ux%u thumbnail; the thumbnail is taken whole",
          CropText(job->thumbCrop).c_str(), job->thumb.Width, job->thumb.Height);
      job->thumbCrop = CropRect{};
    }
    PvlResult r;
    try {
      r = ReadExif(store, job->exif, job->tuning);
    } catch (const std::bad_alloc&) {
      r = PVL_E_OUTOFMEMORY;
    }
    if (r != PVL_OK) {
      Log("JPEG: reading the EXIF data failed (%d)", r);
      return r;
    }
    if (!job->exif.Has(0x0132) || !job->exif.Has(0x9003) || !job->exif.Has(0x9004)) {
      const std::string now = ExifNow();
      for (uint16_t tag : {0x0132, 0x9003, 0x9004})
        if (!job->exif.Has(tag)) job->exif.SetAscii(tag, now);
    }

    std::lock_guard<std::mutex> clock(core_->m);
    if (core_->job || core_->encoding) {
      Log("JPEG: StartEncode while an image is being made");
      return PVL_E_NOTREADY;
    }
    core_->job = std::move(job);
    return PVL_OK;
  }

  PvlResult Abort() override {
    std::unique_ptr<Job> dropped;
    {
      std::lock_guard<std::mutex> lock(core_->m);
      dropped = std::move(core_->job);
      if (core_->encoding) core_->cancel = true;
      ++core_->abortsPending;
    }
    core_->cv.notify_all();
    return PVL_OK;
  }

  PvlResult DeliverThumbnailFrame(IPvlMediaBuffer* frame) override { return Deliver(frame, true); }
  PvlResult DeliverMainFrame(IPvlMediaBuffer* frame) override { return Deliver(frame, false); }

 private:
  PvlResult Deliver(IPvlMediaBuffer* frame, bool thumb) {
    const char* which = thumb ? "thumbnail" : "main";
    if (!frame) {
      Log("JPEG: no %s frame given", which);
      return PVL_E_NULLPTR;
    }
    bool ready;
    {
      std::lock_guard<std::mutex> lock(core_->m);
      if (!core_->job) {
        Log("JPEG: %s frame without a started image", which);
        return PVL_E_NOTREADY;
      }
      Job& job = *core_->job;
      if (thumb && !job.wantThumb) return PVL_OK;  // no thumbnail in this image: not kept
      Frame& slot = thumb ? job.thumbFrame : job.mainFrame;
      if (slot.buffer) {
        Log("JPEG: second %s frame for one image", which);
        return PVL_E_NOTREADY;
      }
      frame->AddRef();
      slot.buffer = frame;
      ready = job.Ready();
    }
    if (ready) core_->cv.notify_all();
    return PVL_OK;
  }

  std::shared_ptr<Core> core_;
  std::thread thread_;
  std::mutex m_;  // formats and store
  PortFormat main_{}, thumb_{};
  bool hasMain_ = false, hasThumb_ = false;
  IPropertyStore* store_ = nullptr;
};

}  // namespace

PvlResult CreateJpegService(void** out) {
  JpegService* s = new (std::nothrow) JpegService;
  if (!s) return PVL_E_OUTOFMEMORY;
  PvlResult r = s->Start();
  if (r != PVL_OK) {
    s->Release();
    return r;
  }
  *out = static_cast<IJpegService*>(s);
  return PVL_OK;
}

}  // namespace orbhost::services
