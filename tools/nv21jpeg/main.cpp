// nv21jpeg: encodes a raw NV21 frame into a JPEG file through the host's JPEG encoder
// service, the way the camera engine does: settings and EXIF tags in a property store,
// the frames delivered to the service, the image taken from the listener.
//
//   nv21jpeg --size 2592x1944 [--quality 90] [--crop 0,0,1295,971] [--thumbnail 320x240]
//            [--thumbnail-quality 75] [--exif 0x010F=ascii:Samsung ...] [--tuning file]
//            input.nv21 output.jpg
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "cameraportformat.h"
#include "cpvlmediabuffer.h"
#include "cpvlptr.h"
#include "exifargs.h"
#include "ienv.h"
#include "ijpegservice.h"
#include "ipropertystore.h"
#include "jpegencoder.h"
#include "orbhost.h"

using namespace orbhost::services;

namespace {

const char kUsage[] =
    "usage: nv21jpeg --size WxH [options] input.nv21 output.jpg\n"
    "  -s, --size WxH              frame size (even numbers); the input holds W*H*3/2 bytes\n"
    "  -q, --quality N             JPEG quality 1..100 (default 75)\n"
    "  -c, --crop L,T,R,B          encode only this inclusive rectangle of the frame\n"
    "  -t, --thumbnail WxH         embed a thumbnail of this size (scaled from the encoded area)\n"
    "      --thumbnail-quality N   thumbnail quality 1..100 (default 75)\n"
    "  -e, --exif TAG=TYPE:VALUE   add an EXIF tag; TYPE is byte, ascii, short, long, rational,\n"
    "                              undefined (hex bytes), slong or srational; several values\n"
    "                              are separated by commas, rationals are N/D\n"
    "      --tuning FILE           write FILE's bytes as the tuning text (maker note)\n"
    "  -h, --help                  this text\n"
    "The device image comes from CAMERA_IMAGE_ROOT (default: the build's image).\n";


int Usage(const std::string& why) {
  std::fprintf(stderr, "nv21jpeg: %s\n%s", why.c_str(), kUsage);
  return 2;
}

bool ParseSize(const std::string& s, uint32_t& w, uint32_t& h) {
  unsigned a, b;
  char x, extra;
  if (std::sscanf(s.c_str(), "%u%c%u%c", &a, &x, &b, &extra) != 3 || (x != 'x' && x != 'X')) return false;
  w = a;
  h = b;
  return true;
}

bool ParseCrop(const std::string& s, CropRect& c) {
  char extra;
  return std::sscanf(s.c_str(), "%d,%d,%d,%d%c", &c.left, &c.top, &c.right, &c.bottom, &extra) == 4;
}

bool ParseQuality(const std::string& s, int& q) {
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != 0 || v < 1 || v > 100) return false;
  q = static_cast<int>(v);
  return true;
}

bool ReadAll(const std::string& path, std::vector<uint8_t>& data) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  data.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return !f.bad();
}

// A frame or output buffer in the tool's memory.
class MemoryBuffer final : public IPvlMediaBuffer {
 public:
  explicit MemoryBuffer(std::vector<uint8_t> data) : mem_(std::move(data)) {}
  int32_t AddRef() override { return ++refs_; }
  int32_t Release() override { return --refs_; }  // the tool owns it
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    *out = nullptr;
    if (iid != ZUEUID_IFACE_BASE && iid != ZUEUID_IFACE_MEDIA_BUFFER) return PVL_E_NOTSUPPORTED;
    AddRef();
    *out = this;
    return PVL_OK;
  }
  PvlResult GetVirtualAddress(uint64_t* a) override { return Put(a, reinterpret_cast<uintptr_t>(mem_.data())); }
  PvlResult GetPhysicalAddress(uint64_t*) override { return PVL_E_VALUENOTPRESENT; }
  PvlResult GetCapacity(uint32_t* c) override { return Put(c, static_cast<uint32_t>(mem_.size())); }
  PvlResult GetActualSize(uint32_t* s) override { return Put(s, actual_); }
  PvlResult SetActualSize(uint32_t s) override {
    if (s > mem_.size()) return PVL_E_BADARG;
    actual_ = s;
    return PVL_OK;
  }
  PvlResult GetOffset(uint32_t* o) override { return Put(o, 0u); }
  PvlResult SetOffset(uint32_t o) override { return o == 0 ? PVL_OK : PVL_E_BADARG; }
  PvlResult GetTime1(uint64_t*) override { return PVL_E_VALUENOTPRESENT; }
  PvlResult SetTime1(uint64_t) override { return PVL_OK; }
  PvlResult GetTime2(uint64_t*) override { return PVL_E_VALUENOTPRESENT; }
  PvlResult SetTime2(uint64_t) override { return PVL_OK; }
  PvlResult GetTime3(uint64_t*) override { return PVL_E_VALUENOTPRESENT; }
  PvlResult SetTime3(uint64_t) override { return PVL_OK; }
  PvlResult GetFlags(uint32_t* f) override { return Put(f, 0u); }
  PvlResult SetFlags(uint32_t) override { return PVL_OK; }
  PvlResult GetInfo(CPvlMediaBufferInfo*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetInfo(const CPvlMediaBufferInfo*) override { return PVL_E_UNSUPPORTED; }
  PvlResult ClearTimes() override { return PVL_OK; }

  const uint8_t* Data() const { return mem_.data(); }
  uint32_t Actual() const { return actual_; }

 private:
  template <class T, class V>
  static PvlResult Put(T* p, V v) {
    if (!p) return PVL_E_NULLPTR;
    *p = static_cast<T>(v);
    return PVL_OK;
  }
  std::vector<uint8_t> mem_;
  uint32_t actual_ = 0;
  int32_t refs_ = 1;
};

// Hands the service its one output buffer and waits for the image's event.
class Listener final : public IJpegServiceListener {
 public:
  explicit Listener(MemoryBuffer* out) : out_(out) {}
  int32_t AddRef() override { return 2; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult GetDeliveryBuffer(void*, uint32_t, IPvlMediaBuffer** buffer) override {
    if (!buffer) return PVL_E_NULLPTR;
    std::lock_guard<std::mutex> lock(m_);
    if (given_) return 516;  // one image, one buffer
    given_ = true;
    out_->AddRef();
    *buffer = out_;
    return PVL_OK;
  }
  PvlResult OnEvent(void*, uint32_t event) override {
    std::lock_guard<std::mutex> lock(m_);
    event_ = event;
    cv_.notify_all();
    return PVL_OK;
  }
  PvlResult OutputProducedHandler(void*, IPvlMediaBuffer*) override {
    std::lock_guard<std::mutex> lock(m_);
    produced_ = true;
    return PVL_OK;
  }
  // The event that ended the image (0 if none came in time).
  uint32_t Wait(std::chrono::seconds limit, bool* produced) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait_for(lock, limit, [&] { return event_ != 0; });
    *produced = produced_;
    return event_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  MemoryBuffer* out_;
  bool given_ = false;
  bool produced_ = false;
  uint32_t event_ = 0;
};

using Format = CameraPortFormat;

Format Nv21(uint32_t w, uint32_t h) {
  Format f{};
  f.idColorSpace = ZUEUID_COLORSPACE_YUV;
  f.FourCC = CAMERA_FOURCC_NV21;
  f.Depth = 12;
  f.Width = w;
  f.Height = h;
  f.HorizontalSampling = f.VerticalSampling = 2;
  f.Stride = w * 12 / 8;
  f.ClipRight = static_cast<int32_t>(w);
  f.ClipBottom = static_cast<int32_t>(h);
  return f;
}

PvlResult AddToExifGroup(IPropertyStore* store, uint32_t id, const PvlValueRecord& value) {
  PvlPropertyDescHead d{};
  d.id = id;
  d.name = PvlDescText("exif");
  d.description = PvlDescText("");
  d.values[0] = value;
  return store->AddProperty(PvlPropertyDescOf(&d), ZUEUID_PROPERTY_GROUP_EXIF, 1);
}

// The tag as the engine stores it: one value record, or an array of them.
PvlResult AddExifTag(IPropertyStore* store, const ExifEntry& e) {
  PvlValueRecord v{};
  if (e.type == kExifAscii || e.type == kExifUndefined) {
    std::vector<uint8_t> bytes = e.data;
    if (e.type == kExifAscii && (bytes.empty() || bytes.back() != 0)) bytes.push_back(0);
    v.type = e.type == kExifAscii ? PVL_VT_STRING : PVL_VT_BLOCK;
    v.payload.array.data = bytes.data();
    v.payload.array.capacity = v.payload.array.filled = static_cast<int32_t>(bytes.size());
    return AddToExifGroup(store, e.tag, v);  // the store copies
  }
  std::vector<PvlValueRecord> items(e.count);
  const uint8_t* p = e.data.data();
  auto word = [](const uint8_t* q) { return uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 | uint32_t(q[3]) << 24; };
  for (uint32_t i = 0; i < e.count; ++i) {
    PvlValueRecord& r = items[i];
    switch (e.type) {
      case kExifByte:
        r.type = PVL_VT_UINT8;
        r.payload.bytes[0] = p[i];
        break;
      case kExifShort:
        r.type = PVL_VT_UINT16;
        r.payload.u16 = static_cast<uint16_t>(p[2 * i] | p[2 * i + 1] << 8);
        break;
      case kExifLong:
        r.type = PVL_VT_UINT32;
        r.payload.u32 = word(p + 4 * i);
        break;
      case kExifSLong:
        r.type = PVL_VT_SINT32;
        r.payload.u32 = word(p + 4 * i);
        break;
      case kExifRational:
        r.type = PVL_VT_URATIONAL;
        r.payload.rational = {word(p + 8 * i), word(p + 8 * i + 4)};
        break;
      case kExifSRational:
        r.type = PVL_VT_PAIR;
        r.payload.pair = {static_cast<int32_t>(word(p + 8 * i)), static_cast<int32_t>(word(p + 8 * i + 4))};
        break;
      default:
        return PVL_E_BADARG;
    }
  }
  if (items.size() == 1) return AddToExifGroup(store, e.tag, items[0]);
  v.type = PVL_VT_ARRAY;
  v.payload.array.data = items.data();
  v.payload.array.capacity = v.payload.array.filled = static_cast<int32_t>(items.size());
  return AddToExifGroup(store, e.tag, v);
}

PvlResult SetUInt(IPropertyStore* store, uint32_t id, uint32_t value) {
  PvlValueRecord r{};
  r.type = PVL_VT_UINT32;
  r.payload.u32 = value;
  return store->SetProperty(id, &r);
}

struct Request {
  uint32_t width = 0, height = 0, thumbW = 0, thumbH = 0;
  int quality = JpegEncoder::kDefaultQuality, thumbQuality = JpegEncoder::kDefaultQuality;
  CropRect crop;
  std::vector<ExifEntry> tags;
  std::vector<uint8_t> tuning;
  bool hasTuning = false;
};

// Runs one image through the host's service; the JPEG lands in `jpeg`.
int EncodeThroughHost(const Request& rq, std::vector<uint8_t> frame, std::vector<uint8_t> thumb,
                      std::vector<uint8_t>& jpeg) {
  OrbhostSession host;
  PvlResult r = host.Start();
  if (r != PVL_OK) {
    std::fprintf(stderr, "nv21jpeg: the host does not start (%d); is CAMERA_IMAGE_ROOT a device image?\n", r);
    return 1;
  }
  const uint32_t outW = rq.crop.IsEmpty() ? rq.width : static_cast<uint32_t>(rq.crop.right - rq.crop.left + 1);
  const uint32_t outH = rq.crop.IsEmpty() ? rq.height : static_cast<uint32_t>(rq.crop.bottom - rq.crop.top + 1);
  MemoryBuffer main(std::move(frame));
  MemoryBuffer thumbBuf(std::move(thumb));
  // As large as the still port's JPEG buffer: 12 bits per pixel and a full EXIF segment.
  MemoryBuffer out(std::vector<uint8_t>(static_cast<size_t>(outW) * outH * 3 / 2 +
                                        static_cast<size_t>(rq.thumbW) * rq.thumbH * 3 / 2 + 65535));
  Listener listener(&out);
  // Released before the buffers and the listener they were given, and before the host stops.
  CPvlPtr<IJpegService> service;
  CPvlPtr<IPropertyStore> store;
  auto step = [&](PvlResult res, const char* what) {
    if (res != PVL_OK) std::fprintf(stderr, "nv21jpeg: %s failed (%d)\n", what, res);
    return res == PVL_OK;
  };
  IEnv* env = host.env();
  if (!step(env->CreateInstance(ZUEUID_CLASS_JPEGSERVICE, service.Out()), "creating the JPEG service") ||
      !step(env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, store.Out()), "creating a property store") ||
      !step(service->SetListener(&listener), "SetListener") || !step(service->SetProperties(store), "SetProperties") ||
      !step(SetUInt(store, ZUEUID_PROPERTY_JPEG_QUALITY, static_cast<uint32_t>(rq.quality)), "setting the quality") ||
      !step(SetUInt(store, ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY, static_cast<uint32_t>(rq.thumbQuality)),
            "setting the thumbnail quality")) {
    return 1;
  }
  PvlValueRecord crop{};
  crop.type = PVL_VT_RECT;
  crop.payload.rect = {rq.crop.left, rq.crop.top, rq.crop.right, rq.crop.bottom};
  if (!step(store->SetProperty(ZUEUID_PROPERTY_JPEG_MAIN_CROP, &crop), "setting the crop")) return 1;
  for (const ExifEntry& e : rq.tags) {
    char what[48];
    std::snprintf(what, sizeof what, "adding EXIF tag 0x%04x", e.tag);
    if (!step(AddExifTag(store, e), what)) return 1;
  }
  if (rq.hasTuning) {
    PvlValueRecord t{};
    t.type = PVL_VT_BLOCK;
    t.payload.array.data = const_cast<uint8_t*>(rq.tuning.data());
    t.payload.array.capacity = t.payload.array.filled = static_cast<int32_t>(rq.tuning.size());
    if (!step(AddToExifGroup(store, ZUEUID_PROPERTY_EXIF_TUNING_DATA, t), "adding the tuning text")) return 1;
  }
  Format mainFormat = Nv21(rq.width, rq.height);
  Format thumbFormat = rq.thumbW ? Nv21(rq.thumbW, rq.thumbH) : Format{};
  if (!step(service->SetMainFormat(&mainFormat), "SetMainFormat") ||
      !step(service->SetThumbnailFormat(&thumbFormat), "SetThumbnailFormat") ||
      !step(service->StartEncode(store), "StartEncode") || !step(service->DeliverMainFrame(&main), "DeliverMainFrame") ||
      (rq.thumbW && !step(service->DeliverThumbnailFrame(&thumbBuf), "DeliverThumbnailFrame"))) {
    return 1;
  }
  bool produced = false;
  uint32_t event = listener.Wait(std::chrono::seconds(60), &produced);
  if (event == EVENT_ENCODE_DONE && produced) {
    jpeg.assign(out.Data(), out.Data() + out.Actual());
    return 0;
  }
  if (event == 0) {
    std::fprintf(stderr, "nv21jpeg: the service did not finish the image\n");
    service->Abort();
    listener.Wait(std::chrono::seconds(10), &produced);
  } else {
    std::fprintf(stderr, "nv21jpeg: the service ended the image with event 0x%08x (see its log lines)\n", event);
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Request rq;
  std::string tuningPath;
  std::vector<std::string> files;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-s" || a == "--size") {
      if (!value(v) || !ParseSize(v, rq.width, rq.height)) return Usage("bad --size (expected WxH)");
    } else if (a == "-q" || a == "--quality") {
      if (!value(v) || !ParseQuality(v, rq.quality)) return Usage("bad --quality (expected 1..100)");
    } else if (a == "-c" || a == "--crop") {
      if (!value(v) || !ParseCrop(v, rq.crop)) return Usage("bad --crop (expected L,T,R,B)");
    } else if (a == "-t" || a == "--thumbnail") {
      if (!value(v) || !ParseSize(v, rq.thumbW, rq.thumbH)) return Usage("bad --thumbnail (expected WxH)");
    } else if (a == "--thumbnail-quality") {
      if (!value(v) || !ParseQuality(v, rq.thumbQuality)) return Usage("bad --thumbnail-quality (expected 1..100)");
    } else if (a == "-e" || a == "--exif") {
      ExifEntry e;
      std::string why;
      if (!value(v)) return Usage("--exif needs a value");
      if (!nv21jpeg::ParseExifArg(v, e, &why)) return Usage(why);
      ExifBuilder check;
      if (!check.Set(e, &why)) return Usage("tag " + v + ": " + why);
      rq.tags.push_back(std::move(e));
    } else if (a == "--tuning") {
      if (!value(tuningPath)) return Usage("--tuning needs a file");
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return Usage("expected an input and an output file");
  if (rq.width == 0 || rq.height == 0) return Usage("--size is required");

  std::vector<uint8_t> frame;
  if (!ReadAll(files[0], frame)) {
    std::fprintf(stderr, "nv21jpeg: cannot read %s\n", files[0].c_str());
    return 1;
  }
  if ((rq.width & 1) || (rq.height & 1)) {
    std::fprintf(stderr, "nv21jpeg: NV21 frame size %ux%u is odd\n", rq.width, rq.height);
    return 1;
  }
  if (frame.size() != Nv21Frame::PackedSize(rq.width, rq.height)) {
    std::fprintf(stderr, "nv21jpeg: %s holds %zu bytes; a %ux%u NV21 frame is %llu bytes\n", files[0].c_str(),
                 frame.size(), rq.width, rq.height,
                 static_cast<unsigned long long>(Nv21Frame::PackedSize(rq.width, rq.height)));
    return 1;
  }
  std::string why;
  JpegEncoder::Options check;
  check.quality = rq.quality;
  check.crop = rq.crop;
  if (JpegEncoder::Validate(Nv21Frame::Packed(frame.data(), rq.width, rq.height), check, &why) != JpegStatus::kOk) {
    std::fprintf(stderr, "nv21jpeg: %s\n", why.c_str());
    return 1;
  }
  std::vector<uint8_t> thumb;
  if (rq.thumbW || rq.thumbH) {
    if (!ScaleNv21(Nv21Frame::Packed(frame.data(), rq.width, rq.height), rq.crop, rq.thumbW, rq.thumbH, thumb)) {
      std::fprintf(stderr, "nv21jpeg: cannot make a %ux%u thumbnail (sizes must be even, at least 2)\n", rq.thumbW,
                   rq.thumbH);
      return 1;
    }
  }
  if (!tuningPath.empty()) {
    if (!ReadAll(tuningPath, rq.tuning)) {
      std::fprintf(stderr, "nv21jpeg: cannot read %s\n", tuningPath.c_str());
      return 1;
    }
    rq.hasTuning = true;
  }

  std::vector<uint8_t> jpeg;
  if (EncodeThroughHost(rq, std::move(frame), std::move(thumb), jpeg) != 0) return 1;
  std::ofstream out(files[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  out.close();  // a failed flush shows here, not in a destructor
  if (!out) {
    std::fprintf(stderr, "nv21jpeg: cannot write %s\n", files[1].c_str());
    return 1;
  }
  std::printf("%s: %ux%u, %zu bytes\n", files[1].c_str(),
              rq.crop.IsEmpty() ? rq.width : static_cast<uint32_t>(rq.crop.right - rq.crop.left + 1),
              rq.crop.IsEmpty() ? rq.height : static_cast<uint32_t>(rq.crop.bottom - rq.crop.top + 1), jpeg.size());
  return 0;
}
