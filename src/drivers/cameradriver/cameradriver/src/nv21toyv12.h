// NV21 to YV12 for the pin's copy path. The ports write NV21 (a luma plane, then
// one row of interleaved V/U pairs per two luma rows, V first); a client whose
// buffers are plain memory asked for YV12 (the luma plane, then a V plane, then a
// U plane, each a quarter of the luma). The pin converts each frame into the
// client's buffer while it holds it, so this runs once per preview frame and must
// cost little more than copying the frame.
//
// Each chroma row is read into the pin's line buffer with the kernel's safe copy
// (a frame buffer gone bad fails the frame instead of the driver), then split.
#pragma once

#include <stdint.h>

#include "wince.h"

inline constexpr uint32_t kNv21LineBufferBytes = 4000;

// Splits `pairs` interleaved V/U pairs into `pairs` bytes of V and of U.
// No alignment is needed; the rows must not overlap.
void SplitVuRow(const uint8_t* vu, uint8_t* v, uint8_t* u, uint32_t pairs);

enum class Nv21ToYv12Status {
  kOk,
  kRowTooWide,     // a row does not fit the line buffer: nothing written
  kLineCopyFailed  // a chroma row could not be read: the planes are incomplete
};

// How a chroma row reaches the line buffer: the kernel's safe copy (the pin's way);
// a benchmark passes a plain copy to see the conversion's own cost apart.
using Nv21LineCopy = BOOL (*)(LPVOID destination, LPCVOID source, DWORD length);

// Converts a width x height NV21 frame (width x height x 3 / 2 bytes, even sizes)
// into YV12 at `destination` (as many bytes). `line` holds `lineBytes` bytes.
Nv21ToYv12Status ConvertNv21ToYv12(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                                   uint8_t* line, uint32_t lineBytes, Nv21LineCopy copy = &CeSafeCopyMemory);
