// NV21 to YV12 for the pin's copy path and for the buffers the port fills itself. The ports write NV21 (a luma plane, then
// one row of interleaved V/U pairs per two luma rows, V first); a client whose
// buffers are plain memory asked for YV12 (the luma plane, then a V plane, then a
// U plane, each a quarter of the luma). The pin converts each frame into the
// client's buffer while it holds it, so this runs once per preview frame and must
// cost little more than copying the frame.
//
// The frame is the driver's; the destination is the client's and may go bad under
// the pin (unmapped, freed): every byte reaches it through the kernel's safe copy, a
// failed copy fails the frame instead of the driver. Chroma rows are split in the
// pin's line buffer and copied out a batch at a time.
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
  kLineCopyFailed  // a copy into the destination failed: the planes are incomplete
};

// How bytes reach the destination: the kernel's safe copy (the pin's way);
// a benchmark passes a plain copy to see the conversion's own cost apart.
using Nv21LineCopy = BOOL (*)(LPVOID destination, LPCVOID source, DWORD length);

// Converts a width x height NV21 frame (width x height x 3 / 2 bytes, even sizes)
// into YV12 at `destination` (as many bytes). `line` holds `lineBytes` bytes.
Nv21ToYv12Status ConvertNv21ToYv12(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                                   uint8_t* line, uint32_t lineBytes, Nv21LineCopy copy = &CeSafeCopyMemory);

// The same conversion within the frame itself (a buffer the port wrote that the
// client reads as it is); the luma stays. `scratch` holds
// Nv21InPlaceScratchBytes(width, height, lineBytes) bytes (an eighth of the frame's
// luma and a line buffer's worth), `line` holds `lineBytes` bytes.
uint32_t Nv21InPlaceScratchBytes(uint32_t width, uint32_t height, uint32_t lineBytes);
Nv21ToYv12Status ConvertNv21ToYv12InPlace(uint8_t* frame, uint32_t width, uint32_t height, uint8_t* scratch,
                                          uint8_t* line, uint32_t lineBytes, Nv21LineCopy copy = &CeSafeCopyMemory);
