#include "jpegencoder.h"

#include "jpegencoder_simd.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace orbhost::services {

namespace {

// ---- Tables of the JPEG standard (ITU-T T.81, Annex K) ----

constexpr uint8_t kLumaQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

constexpr uint8_t kChromaQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Natural index of each zig-zag position.
constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr uint8_t kDcLumaBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcLumaVals[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kDcChromaBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChromaVals[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

constexpr uint8_t kAcLumaBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kAcLumaVals[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

constexpr uint8_t kAcChromaBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kAcChromaVals[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

constexpr int SumBits(const uint8_t (&bits)[16]) {
  int s = 0;
  for (uint8_t b : bits) s += b;
  return s;
}
static_assert(SumBits(kDcLumaBits) == 12 && SumBits(kDcChromaBits) == 12);
static_assert(SumBits(kAcLumaBits) == 162 && SumBits(kAcChromaBits) == 162);

// ---- Marker writing ----

void Put16(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(static_cast<uint8_t>(v >> 8));
  o.push_back(static_cast<uint8_t>(v));
}

void WriteDht(std::vector<uint8_t>& o, int cls, int id, const uint8_t bits[16], const uint8_t* vals, int n) {
  o.push_back(0xFF);
  o.push_back(0xC4);
  Put16(o, static_cast<uint32_t>(2 + 1 + 16 + n));
  o.push_back(static_cast<uint8_t>((cls << 4) | id));
  o.insert(o.end(), bits, bits + 16);
  o.insert(o.end(), vals, vals + n);
}

void BuildHuff(const uint8_t bits[16], const uint8_t* vals, jpegsimd::HuffCodes& t) {
  std::memset(&t, 0, sizeof t);
  uint32_t code = 0;
  int k = 0;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < bits[len - 1]; ++i, ++k) {
      uint32_t valueBits = vals[k] & 15;
      t.entry[vals[k]] = (code << (valueBits + 5)) | (len + valueBits);
      ++code;
    }
    code <<= 1;
  }
}

bool Fail(std::string* why, const std::string& what) {
  if (why) *why = what;
  return false;
}

}  // namespace

void JpegEncoder::QuantTable(int quality, int component, uint8_t out[64]) {
  quality = std::clamp(quality, 1, 100);
  int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
  const uint8_t* base = component == 0 ? kLumaQuant : kChromaQuant;
  for (int i = 0; i < 64; ++i) {
    int q = (base[i] * scale + 50) / 100;
    out[i] = static_cast<uint8_t>(std::clamp(q, 1, 255));
  }
}

bool JpegEncoder::KernelsAvailable(JpegKernels kernels) { return jpegsimd::EncoderFor(kernels) != nullptr; }

JpegStatus JpegEncoder::Validate(const Nv21Frame& f, const Options& opt, std::string* why) {
  auto bad = [&](const std::string& w) {
    Fail(why, w);
    return JpegStatus::kBadArgument;
  };
  if (!f.y || !f.vu) return bad("frame without pixel data");
  if (f.width == 0 || f.height == 0) return bad("frame size " + std::to_string(f.width) + "x" + std::to_string(f.height) + " is empty");
  if ((f.width & 1) || (f.height & 1)) return bad("NV21 frame size " + std::to_string(f.width) + "x" + std::to_string(f.height) + " is odd");
  if (f.width > kMaxDimension || f.height > kMaxDimension) return bad("frame larger than 65535 pixels on a side");
  if (f.yStride < f.width || f.vuStride < f.width) return bad("row stride shorter than the frame width");
  if (static_cast<uint64_t>(f.yStride) * f.height + static_cast<uint64_t>(f.vuStride) * (f.height / 2) > kMaxFrameBytes) {
    return bad("frame of " + std::to_string(f.width) + "x" + std::to_string(f.height) + " larger than 2 GB");
  }
  if (opt.quality < 1 || opt.quality > 100) return bad("quality " + std::to_string(opt.quality) + " outside 1..100");
  if (!opt.crop.IsEmpty()) {
    const CropRect& c = opt.crop;
    if (c.left < 0 || c.top < 0 || c.right < c.left || c.bottom < c.top ||
        static_cast<uint32_t>(c.right) >= f.width || static_cast<uint32_t>(c.bottom) >= f.height) {
      return bad("crop (" + std::to_string(c.left) + "," + std::to_string(c.top) + "," + std::to_string(c.right) +
                 "," + std::to_string(c.bottom) + ") outside the " + std::to_string(f.width) + "x" +
                 std::to_string(f.height) + " frame");
    }
  }
  if (opt.app1 && (opt.app1Size < 4 || opt.app1Size > 65537 || opt.app1[0] != 0xFF || opt.app1[1] != 0xE1)) {
    return bad("APP1 segment malformed");
  }
  return JpegStatus::kOk;
}

JpegStatus JpegEncoder::Encode(const Nv21Frame& f, const Options& opt, std::vector<uint8_t>& out, std::string* why) {
  out.clear();
  JpegStatus st = Validate(f, opt, why);
  if (st != JpegStatus::kOk) return st;

  const uint32_t x0 = opt.crop.IsEmpty() ? 0 : static_cast<uint32_t>(opt.crop.left);
  const uint32_t y0 = opt.crop.IsEmpty() ? 0 : static_cast<uint32_t>(opt.crop.top);
  const uint32_t w = opt.crop.IsEmpty() ? f.width : static_cast<uint32_t>(opt.crop.right - opt.crop.left + 1);
  const uint32_t h = opt.crop.IsEmpty() ? f.height : static_cast<uint32_t>(opt.crop.bottom - opt.crop.top + 1);
  const uint32_t cx0 = x0 / 2, cy0 = y0 / 2;
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;  // chroma samples that belong to the picture
  const uint32_t mcusX = (w + 15) / 16, mcusY = (h + 15) / 16;

  uint8_t qY[64], qC[64];
  QuantTable(opt.quality, 0, qY);
  QuantTable(opt.quality, 1, qC);
  jpegsimd::McuEncoder encodeMcu = jpegsimd::EncoderFor(opt.kernels);
  if (!encodeMcu) {
    Fail(why, "this processor cannot run the requested encoder path");
    return JpegStatus::kBadArgument;
  }
  jpegsimd::McuTables tables;
  jpegsimd::BuildQuantDivisors(qY, tables.quant[0]);
  jpegsimd::BuildQuantDivisors(qC, tables.quant[1]);
  BuildHuff(kDcLumaBits, kDcLumaVals, tables.dc[0]);
  BuildHuff(kDcChromaBits, kDcChromaVals, tables.dc[1]);
  BuildHuff(kAcLumaBits, kAcLumaVals, tables.ac[0]);
  BuildHuff(kAcChromaBits, kAcChromaVals, tables.ac[1]);

  try {
    // Headers.
    out.reserve(static_cast<size_t>(w) * h / 4 + 4096 + opt.app1Size);
    out.push_back(0xFF);
    out.push_back(0xD8);
    if (opt.app1) {
      out.insert(out.end(), opt.app1, opt.app1 + opt.app1Size);
    } else if (opt.jfifHeader) {
      static constexpr uint8_t kJfif[] = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01,
                                          0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
      out.insert(out.end(), kJfif, kJfif + sizeof kJfif);
    }
    out.push_back(0xFF);
    out.push_back(0xDB);
    Put16(out, 2 + 2 * 65);
    out.push_back(0x00);
    for (int k = 0; k < 64; ++k) out.push_back(qY[kZigzag[k]]);
    out.push_back(0x01);
    for (int k = 0; k < 64; ++k) out.push_back(qC[kZigzag[k]]);
    static constexpr uint8_t kSofTail[] = {3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
    out.push_back(0xFF);
    out.push_back(0xC0);
    Put16(out, 8 + 3 * 3);
    out.push_back(8);
    Put16(out, h);
    Put16(out, w);
    out.insert(out.end(), kSofTail, kSofTail + sizeof kSofTail);
    WriteDht(out, 0, 0, kDcLumaBits, kDcLumaVals, 12);
    WriteDht(out, 1, 0, kAcLumaBits, kAcLumaVals, 162);
    WriteDht(out, 0, 1, kDcChromaBits, kDcChromaVals, 12);
    WriteDht(out, 1, 1, kAcChromaBits, kAcChromaVals, 162);
    static constexpr uint8_t kSos[] = {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    out.insert(out.end(), kSos, kSos + sizeof kSos);

    // Worst case per MCU: 6 blocks of 64 codes of at most 26 bits, every byte stuffed.
    constexpr size_t kMcuWorst = 6 * (64 * 26 / 8 + 8) * 2;
    size_t headerEnd = out.size();
    size_t cap = headerEnd + std::max<size_t>(static_cast<size_t>(w) * h / 3, 64 * 1024);
    out.resize(cap);
    jpegsimd::BitState bits;
    bits.p = out.data() + headerEnd;

    alignas(16) uint8_t edgeY[16 * 16];
    alignas(16) uint8_t edgeC[8 * 16];
    int lastDc[3] = {0, 0, 0};
    const uint8_t* yRows[16];
    const uint8_t* cRows[8];
    const uint8_t* yEdgeRows[16];
    const uint8_t* cEdgeRows[8];
    for (int i = 0; i < 16; ++i) yEdgeRows[i] = edgeY + i * 16;
    for (int i = 0; i < 8; ++i) cEdgeRows[i] = edgeC + i * 16;
    // Full MCUs read 16 luma and 16 chroma bytes from the frame itself; a partial last one
    // (or one whose 16-byte chroma load would cross the frame's right edge) is copied out.
    const uint32_t directMcus = std::min<uint32_t>(w / 16, (f.width - x0) / 16);

    for (uint32_t my = 0; my < mcusY; ++my) {
      for (int i = 0; i < 16; ++i) {
        uint32_t r = std::min(my * 16 + i, h - 1);
        yRows[i] = f.y + static_cast<size_t>(y0 + r) * f.yStride + x0;
      }
      for (int i = 0; i < 8; ++i) {
        uint32_t r = std::min(my * 8 + i, ch - 1);
        cRows[i] = f.vu + static_cast<size_t>(cy0 + r) * f.vuStride + cx0 * 2;
      }
      for (uint32_t mx = 0; mx < mcusX; ++mx) {
        size_t used = static_cast<size_t>(bits.p - out.data());
        if (used + kMcuWorst > out.size()) {
          out.resize(out.size() * 2);
          bits.p = out.data() + used;
        }
        if ((mx & 3) == 0 && mx + 8 < directMcus) {
          // Two dozen rows are read side by side, more than the hardware follows: fetch
          // the cache lines of the MCUs after next ahead of time.
          for (int i = 0; i < 16; ++i) __builtin_prefetch(yRows[i] + (mx + 8) * 16);
          for (int i = 0; i < 8; ++i) __builtin_prefetch(cRows[i] + (mx + 8) * 16);
        }
        jpegsimd::McuSource src{yRows, cRows, mx * 16, f.uFirst};
        if (mx >= directMcus) {
          uint32_t validY = std::min<uint32_t>(16, w - mx * 16);
          uint32_t validC = std::min<uint32_t>(8, cw - mx * 8);
          for (int i = 0; i < 16; ++i) {
            const uint8_t* s = yRows[i] + mx * 16;
            std::memcpy(edgeY + i * 16, s, validY);
            std::memset(edgeY + i * 16 + validY, s[validY - 1], 16 - validY);
          }
          for (int i = 0; i < 8; ++i) {
            const uint8_t* s = cRows[i] + mx * 16;
            std::memcpy(edgeC + i * 16, s, validC * 2);
            for (uint32_t j = validC; j < 8; ++j) {
              edgeC[i * 16 + j * 2] = s[(validC - 1) * 2];
              edgeC[i * 16 + j * 2 + 1] = s[(validC - 1) * 2 + 1];
            }
          }
          src = jpegsimd::McuSource{yEdgeRows, cEdgeRows, 0, f.uFirst};
        }
        encodeMcu(src, tables, lastDc, bits);
      }
    }
    size_t used = static_cast<size_t>(bits.p - out.data());
    if (used + 64 > out.size()) {
      out.resize(used + 64);
      bits.p = out.data() + used;
    }
    jpegsimd::FinishBits(bits);
    used = static_cast<size_t>(bits.p - out.data());
    out.resize(used);
    out.push_back(0xFF);
    out.push_back(0xD9);
  } catch (const std::bad_alloc&) {
    out.clear();
    out.shrink_to_fit();
    Fail(why, "out of memory");
    return JpegStatus::kNoMemory;
  }
  return JpegStatus::kOk;
}

bool ScaleNv21(const Nv21Frame& src, const CropRect& crop, uint32_t dw, uint32_t dh, std::vector<uint8_t>& dst) {
  if (!src.y || !src.vu || src.width < 2 || src.height < 2 || (src.width & 1) || (src.height & 1)) return false;
  if (dw < 2 || dh < 2 || (dw & 1) || (dh & 1) || Nv21Frame::PackedSize(dw, dh) > JpegEncoder::kMaxFrameBytes) return false;
  uint32_t x0 = 0, y0 = 0, w = src.width, h = src.height;
  if (!crop.IsEmpty()) {
    if (crop.left < 0 || crop.top < 0 || crop.right < crop.left || crop.bottom < crop.top ||
        static_cast<uint32_t>(crop.right) >= src.width || static_cast<uint32_t>(crop.bottom) >= src.height) {
      return false;
    }
    x0 = static_cast<uint32_t>(crop.left);
    y0 = static_cast<uint32_t>(crop.top);
    w = static_cast<uint32_t>(crop.right - crop.left + 1);
    h = static_cast<uint32_t>(crop.bottom - crop.top + 1);
  }
  try {
    dst.assign(static_cast<size_t>(Nv21Frame::PackedSize(dw, dh)), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Each destination sample averages the source samples whose centres fall into it
  // (at least one, so upscaling repeats samples).
  auto span = [](uint32_t i, uint32_t n, uint32_t srcN, uint32_t& a, uint32_t& b) {
    a = static_cast<uint32_t>(static_cast<uint64_t>(i) * srcN / n);
    b = static_cast<uint32_t>(static_cast<uint64_t>(i + 1) * srcN / n);
    if (b <= a) b = a + 1;
    if (b > srcN) b = srcN;
    if (a >= b) a = b - 1;
  };
  uint8_t* dy = dst.data();
  for (uint32_t y = 0; y < dh; ++y) {
    uint32_t ya, yb;
    span(y, dh, h, ya, yb);
    for (uint32_t x = 0; x < dw; ++x) {
      uint32_t xa, xb;
      span(x, dw, w, xa, xb);
      uint32_t sum = 0;
      for (uint32_t sy = ya; sy < yb; ++sy) {
        const uint8_t* row = src.y + static_cast<size_t>(y0 + sy) * src.yStride + x0;
        for (uint32_t sx = xa; sx < xb; ++sx) sum += row[sx];
      }
      uint32_t n = (yb - ya) * (xb - xa);
      dy[static_cast<size_t>(y) * dw + x] = static_cast<uint8_t>((sum + n / 2) / n);
    }
  }
  uint8_t* dvu = dst.data() + static_cast<size_t>(dw) * dh;
  uint32_t cw = (w + 1) / 2, chh = (h + 1) / 2;
  uint32_t cx0 = x0 / 2, cy0 = y0 / 2;
  for (uint32_t y = 0; y < dh / 2; ++y) {
    uint32_t ya, yb;
    span(y, dh / 2, chh, ya, yb);
    for (uint32_t x = 0; x < dw / 2; ++x) {
      uint32_t xa, xb;
      span(x, dw / 2, cw, xa, xb);
      uint32_t sv = 0, su = 0;
      for (uint32_t sy = ya; sy < yb; ++sy) {
        const uint8_t* row = src.vu + static_cast<size_t>(cy0 + sy) * src.vuStride + cx0 * 2;
        for (uint32_t sx = xa; sx < xb; ++sx) {
          sv += row[sx * 2];
          su += row[sx * 2 + 1];
        }
      }
      uint32_t n = (yb - ya) * (xb - xa);
      dvu[static_cast<size_t>(y) * dw + x * 2] = static_cast<uint8_t>((sv + n / 2) / n);
      dvu[static_cast<size_t>(y) * dw + x * 2 + 1] = static_cast<uint8_t>((su + n / 2) / n);
    }
  }
  return true;
}

}  // namespace orbhost::services
