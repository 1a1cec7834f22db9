// The JPEG service's arguments as its engine takes them: frame geometry (sizes, strides,
// NV21 or NV12), crops, qualities, thumbnail, client EXIF tags and tuning text, all from
// the input; the pixels are the input's bytes over and over. Every encoder path this
// processor has must give the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "exifwriter.h"
#include "fuzzinput.h"
#include "jpegencoder.h"
#include "stillencoder.h"

using namespace orbhost::services;
using camera::fuzz::Input;

namespace {

struct Frame {
  std::vector<uint8_t> bytes;
  Nv21Frame f;
};

// Sizes up to 80x80 (odd and zero ones too, now and then), strides a little wider.
Frame TakeFrame(Input& in, const uint8_t* data, size_t size) {
  Frame fr;
  uint8_t w = in.Take<uint8_t>(), h = in.Take<uint8_t>(), pad = in.Take<uint8_t>();
  fr.f.width = (w & 0x80) ? w % 81 : 2 * (1 + w % 40);
  fr.f.height = (h & 0x80) ? h % 81 : 2 * (1 + h % 40);
  fr.f.yStride = fr.f.width + (pad & 15);
  fr.f.vuStride = fr.f.width + (pad >> 4);
  fr.f.uFirst = (pad & 1) != 0;
  size_t lumaBytes = static_cast<size_t>(fr.f.yStride) * fr.f.height;
  size_t total = lumaBytes + static_cast<size_t>(fr.f.vuStride) * (fr.f.height / 2);
  fr.bytes.resize(total);
  for (size_t i = 0; i < total; ++i) fr.bytes[i] = size ? data[i % size] : 0;
  fr.f.y = fr.bytes.data();
  fr.f.vu = fr.bytes.data() + lumaBytes;
  return fr;
}

CropRect TakeCrop(Input& in, const Nv21Frame& f) {
  CropRect c;
  switch (in.Take<uint8_t>() % 3) {
    case 0:
      break;  // the whole frame
    case 1:  // anything
      c.left = in.Take<int32_t>();
      c.top = in.Take<int32_t>();
      c.right = in.Take<int32_t>();
      c.bottom = in.Take<int32_t>();
      break;
    case 2: {  // near the frame's edges
      auto near = [&](uint32_t n) { return static_cast<int32_t>(in.Take<uint8_t>() % (n + 3)) - 1; };
      c.left = near(f.width);
      c.top = near(f.height);
      c.right = near(f.width);
      c.bottom = near(f.height);
      break;
    }
  }
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  uint8_t flags = in.Take<uint8_t>();
  Frame main = TakeFrame(in, data, size);
  Frame thumb = TakeFrame(in, data + size / 2, size - size / 2);

  StillRequest req;
  req.main = main.f;
  req.mainCrop = TakeCrop(in, main.f);
  req.mainQuality = in.Take<int8_t>();
  if (flags & 1) {
    req.thumbnail = &thumb.f;
    req.thumbnailCrop = TakeCrop(in, thumb.f);
    req.thumbnailQuality = in.Take<int8_t>();
  }
  ExifBuilder exif;
  if (flags & 2) {
    int n = in.Take<uint8_t>() % 6;
    for (int i = 0; i < n; ++i) {
      ExifEntry e;
      e.tag = in.Take<uint16_t>();
      e.type = in.Take<uint8_t>() % 14;
      e.count = in.Take<uint16_t>() % 300;
      std::string_view bytes = in.Bytes(in.Take<uint16_t>() % 2400);
      e.data.assign(bytes.begin(), bytes.end());
      exif.Set(std::move(e));
    }
    req.exif = &exif;
  }
  if (flags & 4) {
    std::string_view text = in.Bytes(in.Take<uint16_t>());
    req.tuningText.assign(text.begin(), text.end());
  }

  StillEncoder still;
  std::vector<uint8_t> out;
  std::vector<std::string> notes;
  std::string why;
  JpegStatus st = still.Encode(req, out, notes, &why);
  if (st == JpegStatus::kOk && (out.size() < 4 || out[0] != 0xFF || out[1] != 0xD8)) __builtin_trap();
  if (st != JpegStatus::kOk && (!out.empty() || why.empty())) __builtin_trap();

  // The plain encoder on the same arguments, by every path.
  JpegEncoder enc;
  JpegEncoder::Options opt;
  opt.quality = req.mainQuality;
  opt.crop = req.mainCrop;
  opt.kernels = JpegKernels::kScalar;
  std::vector<uint8_t> reference, other;
  JpegStatus ref = enc.Encode(main.f, opt, reference);
  for (JpegKernels k : {JpegKernels::kSse2, JpegKernels::kAvx2}) {
    if (!JpegEncoder::KernelsAvailable(k)) continue;
    opt.kernels = k;
    if (enc.Encode(main.f, opt, other) != ref || other != reference) __builtin_trap();
  }

  // The thumbnail scaler on the same frame and crop.
  std::vector<uint8_t> scaled;
  ScaleNv21(main.f, req.mainCrop, 2 * (1 + in.Take<uint8_t>() % 64), 2 * (1 + in.Take<uint8_t>() % 64), scaled);
  return 0;
}
