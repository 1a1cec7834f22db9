// Baseline JPEG encoder for NV21 frames (the VFE's still output).
//
// 4:2:0 YCbCr, the standard Huffman tables, the standard quantisation tables scaled by
// quality (1..100), the accurate integer DCT and integer quantisation, vectorised (SSE2, or
// AVX2 where the processor has it: chosen at run time, the same bytes either way). Any part of the frame can be encoded (crop);
// edges of partial MCUs are filled by repeating the last row and column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orbhost::services {

// One NV21 frame: a luma plane, then interleaved V,U pairs at half resolution.
struct Nv21Frame {
  const uint8_t* y = nullptr;
  const uint8_t* vu = nullptr;
  uint32_t width = 0;     // even
  uint32_t height = 0;    // even
  uint32_t yStride = 0;   // bytes per luma row (>= width)
  uint32_t vuStride = 0;  // bytes per chroma row (>= width)
  bool uFirst = false;    // NV12: the chroma pairs are U,V

  // A frame stored as one block: luma rows of `width` bytes followed by the chroma rows.
  static Nv21Frame Packed(const uint8_t* data, uint32_t width, uint32_t height) {
    Nv21Frame f;
    f.y = data;
    f.vu = data ? data + static_cast<size_t>(width) * height : nullptr;
    f.width = width;
    f.height = height;
    f.yStride = width;
    f.vuStride = width;
    return f;
  }
  // 64-bit: the largest sizes exceed what a 32-bit process can address.
  static uint64_t PackedSize(uint32_t width, uint32_t height) {
    return static_cast<uint64_t>(width) * height + static_cast<uint64_t>(width) * (height / 2);
  }
};

// Inclusive rectangle in frame pixels. All zero means the whole frame.
struct CropRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool IsEmpty() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
};

enum class JpegStatus { kOk, kBadArgument, kNoMemory };

// Which code encodes: the fastest this processor has, or one path by name (the paths give
// identical output; the choice is there to compare them).
enum class JpegKernels { kBest, kScalar, kSse2, kAvx2 };

class JpegEncoder {
 public:
  static constexpr int kDefaultQuality = 75;
  // JPEG frames are limited to 16-bit sizes.
  static constexpr uint32_t kMaxDimension = 65535;
  // Largest frame accepted (luma and chroma rows with their strides): its offsets must fit
  // in this process's address arithmetic.
  static constexpr uint64_t kMaxFrameBytes = 0x7FFFFFFF;

  struct Options {
    int quality = kDefaultQuality;  // 1..100
    CropRect crop;                  // empty: whole frame
    bool jfifHeader = true;         // APP0 "JFIF" (dropped when `app1` is given)
    const uint8_t* app1 = nullptr;  // complete APP1 segment (marker included) placed after SOI
    size_t app1Size = 0;
    JpegKernels kernels = JpegKernels::kBest;
  };

  // Whether this processor runs the path.
  static bool KernelsAvailable(JpegKernels kernels);

  // Checks the frame and options; on a fault returns kBadArgument and says why.
  static JpegStatus Validate(const Nv21Frame& frame, const Options& opt, std::string* why);

  // Encodes into `out` (replaced). On failure `out` is left empty.
  JpegStatus Encode(const Nv21Frame& frame, const Options& opt, std::vector<uint8_t>& out,
                    std::string* why = nullptr);

  // Quantisation table for a quality, in natural (row-major) order: 0 luma, 1 chroma.
  static void QuantTable(int quality, int component, uint8_t out[64]);
};

// Area-averaging NV21 scaler (thumbnails): scales the `crop` part of `src` (empty: all of it)
// into a packed NV21 frame of dstWidth x dstHeight (both even and at least 2).
bool ScaleNv21(const Nv21Frame& src, const CropRect& crop, uint32_t dstWidth, uint32_t dstHeight,
               std::vector<uint8_t>& dst);

}  // namespace orbhost::services
