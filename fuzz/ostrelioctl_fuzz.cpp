// Fuzzes the camera driver's request entries as an untrusted capture application
// reaches them. The first byte picks the camera (CAM_IOControl) or a pin
// (PIN_IOControl). Camera: any I/O control code, any property set (the driver's own
// sets are chosen often so the handlers behind them are reached), any id, request
// type and payload. Pin: a fresh pin handle per input, optionally instantiated as any
// pin with or without a queue, then a few requests: connection, EXIF and JPEG sets,
// stream-state changes, buffer allocate / enqueue / deallocate with bad sizes and the
// driver's own or no buffer pointers, raw codes. Any input and output sizes, and
// caller-buffer accesses that fail. The buffers are exactly the sizes claimed, so a
// read or write past them is caught by the sanitizer. The driver runs over the fake
// engine with four ports, its hidden thumbnail pin on: a Preview pin's requests are
// repeated on the pin it brings.
//
// A stream session (its own shape) takes a pin through its life as a careless client
// would: states in any order, buffers allocated in heap, contiguous or driver memory
// with true or short extents, enqueued, read back from the queue and enqueued again,
// and between the requests buffers freed, unmapped or made short while the engine's
// frames flow into them; stills triggered, focus started (its notices read from the
// camera's queue) and the power device moving the camera between D4 and D0.
#include <stddef.h>
#include <sys/mman.h>
#include <stdint.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "board_sim.h"
#include "chipset.h"
#include "csprotocol.h"
#include "devmgr.h"
#include "fakecameraengine.h"
#include "wince_sim.h"

extern "C" DWORD_PTR CAM_Init(LPCWSTR activeKey, LPCVOID busContext);
extern "C" DWORD_PTR CAM_Open(DWORD_PTR context, DWORD access, DWORD share);
extern "C" BOOL CAM_IOControl(DWORD_PTR context, DWORD code, PBYTE in, DWORD inLength, PBYTE out, DWORD outLength,
                              LPDWORD returned);
extern "C" DWORD_PTR PIN_Init(LPCWSTR activeKey, LPCVOID busContext);
extern "C" DWORD_PTR PIN_Open(DWORD_PTR context, DWORD access, DWORD share);
extern "C" BOOL PIN_Close(DWORD_PTR context);
extern "C" BOOL PIN_IOControl(DWORD_PTR context, DWORD code, PBYTE in, DWORD inLength, PBYTE out, DWORD outLength,
                              LPDWORD returned);
extern "C" BOOL CPM_IOControl(DWORD_PTR context, DWORD code, PBYTE in, DWORD inLength, PBYTE out, DWORD outLength,
                              LPDWORD returned);

namespace {

DWORD_PTR g_open = 0;
DWORD_PTR g_pinInit = 0;
HANDLE g_notices = nullptr;  // the camera's notices, read as the camera application does

const CsGuid* const kSets[] = {
    &CSPROPSETID_Pin,
    &CSPROPSETID_VERSION,
    &PROPSETID_VIDCAP_CAMERACONTROL,
    &KORCSPROPSETID_EX_CAMERACONTROL_ADV,
    &PROPSETID_VIDCAP_VIDEOPROCAMP,
    &PROPSETID_VIDCAP_VIDEOCOMPRESSION,
    &PROPSETID_VIDCAP_VIDEOCONTROL,
    &PROPSETID_VIDCAP_DROPPEDFRAMES,
    &VANTOR_PROPSETID_CAMERA,
};
const uint32_t kFlags[] = {CSPROPERTY_TYPE_GET, CSPROPERTY_TYPE_SET, CSPROPERTY_TYPE_SETSUPPORT,
                           CSPROPERTY_TYPE_BASICSUPPORT, CSPROPERTY_TYPE_DEFAULTVALUES};

// Reads from the front of the input, zero once it runs out.
struct Reader {
  const uint8_t* p;
  size_t n;
  uint32_t Take(size_t bytes) {
    uint32_t v = 0;
    for (size_t i = 0; i < bytes && n; ++i, ++p, --n) v |= uint32_t(*p) << (8 * i);
    return v;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CeSimDebugSetQuiet(getenv("OSTRELIOCTL_VERBOSE") ? FALSE : TRUE);
  // The image's registry first: the camera's own keys come from its seed.
  if (!CeSimReloadRegistry()) {
    std::fprintf(stderr, "ostrelioctl: the image's registry does not load\n");
    std::abort();
  }
  BoardSimReset();
  camera::test::FakeCameraEngine::Install();
  // The camera's active key, as the device manager would make it.
  HKEY key = nullptr;
  DWORD disposition = 0;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\F0", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  &disposition);
  const char16_t device[] = u"Drivers\\BuiltIn\\Camera";
  RegSetValueExW(key, u"Key", 0, REG_SZ, reinterpret_cast<const BYTE*>(device), sizeof device);
  RegCloseKey(key);
  DWORD on = 1;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Capture\\Pin", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  &disposition);
  RegSetValueExW(key, u"ThumbnailPinSupport", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
  RegCloseKey(key);
  DWORD_PTR camera = CAM_Init(u"Drivers\\Active\\F0", nullptr);
  g_open = camera ? CAM_Open(camera, 0, 0) : 0;
  g_pinInit = camera ? PIN_Init(u"Drivers\\Active\\F1", reinterpret_cast<LPCVOID>(uintptr_t(camera))) : 0;
  if (!g_open) {
    // Without an open camera every input would be refused at the door: say so
    // rather than fuzz nothing.
    std::fprintf(stderr, "ostrelioctl: the camera does not open (init %lu, error %lu)\n",
                 static_cast<unsigned long>(camera), static_cast<unsigned long>(GetLastError()));
    std::abort();
  }
  MSGQUEUEOPTIONS notices{};
  notices.dwSize = sizeof notices;
  notices.dwFlags = MSGQUEUE_ALLOW_BROKEN;
  notices.dwMaxMessages = CAM_ASYNC_QUEUE_MAX_MESSAGES;
  notices.cbMaxMessage = sizeof(AsyncCameraMessage);
  notices.bReadAccess = TRUE;
  g_notices = CreateMsgQueue(CAM_ASYNC_QUEUE_NAME, &notices);
  if (!g_pinInit) {
    std::fprintf(stderr, "ostrelioctl: the pins do not initialise (error %lu)\n",
                 static_cast<unsigned long>(GetLastError()));
    std::abort();
  }
  return 0;
}

namespace {

const CsGuid* const kPinSets[] = {&CSPROPSETID_Connection, &VANTOR_PROPSETID_EXIF, &VANTOR_PROPSETID_JPEG};

// One pin request of the input; `last` is the latest descriptor the driver filled, so
// that enqueue and deallocate name the driver's own buffers (with sizes of the input's).
void PinRequest(DWORD_PTR pin, Reader& r, CS_STREAM_DESCRIPTOR* last) {
  uint32_t kind = r.Take(1);
  uint32_t fault = r.Take(1);
  DWORD returned = 0;
  bool nullReturned = (kind & 0xC0) == 0xC0;
  if (fault & 0x80) CeSimInjectFault(CeSimFault((fault >> 4) % CE_SIM_FAULT_COUNT), fault & 0x0F, 1);
  switch (kind % 5) {
    case 0: {  // a property of the pin's sets
      DWORD inLength = r.Take(1) % 128;
      DWORD outLength = r.Take(2) % 2048;
      std::vector<uint8_t> in(inLength), out(outLength, 0xCD);
      CSPROPERTY header{};
      header.Set = *kPinSets[r.Take(1) % 3];
      header.Id = r.Take(1) % 24;
      header.Flags = kFlags[r.Take(1) % 5];
      if (!in.empty()) std::memcpy(in.data(), &header, std::min<size_t>(sizeof header, in.size()));
      for (size_t i = sizeof header; i < in.size() && r.n; ++i) in[i] = uint8_t(r.Take(1));
      PIN_IOControl(pin, IOCTL_CS_PROPERTY, in.empty() ? nullptr : in.data(), inLength,
                    out.empty() ? nullptr : out.data(), outLength, nullReturned ? nullptr : &returned);
      break;
    }
    case 1: {  // a stream state, of any value: the state travels in the out buffer
      CSPROPERTY header{};
      header.Set = CSPROPSETID_Connection;
      header.Id = CSPROPERTY_CONNECTION_STATE;
      header.Flags = r.Take(1) & 1 ? CSPROPERTY_TYPE_GET : CSPROPERTY_TYPE_SET;
      uint32_t state = r.Take(1) % 4;
      PIN_IOControl(pin, IOCTL_CS_PROPERTY, reinterpret_cast<PBYTE>(&header), sizeof header,
                    reinterpret_cast<PBYTE>(&state), sizeof state, nullReturned ? nullptr : &returned);
      break;
    }
    case 2:
    case 3: {  // a buffer command: the driver's buffer, or none; any sizes
      uint32_t command = r.Take(1) % 4;
      DWORD inLength = r.Take(1) & 1 ? sizeof command : r.Take(1) % 8;
      DWORD outLength = r.Take(1) & 1 ? sizeof(CS_STREAM_DESCRIPTOR) : r.Take(1) % 256;
      std::vector<uint8_t> in(inLength);
      if (!in.empty()) std::memcpy(in.data(), &command, std::min<size_t>(sizeof command, in.size()));
      std::vector<uint8_t> out(std::max<size_t>(outLength, sizeof(CS_STREAM_DESCRIPTOR)), 0);
      CS_STREAM_DESCRIPTOR d = *last;
      uint32_t pick = r.Take(1);
      if (pick & 1) d.CsStreamHeader.FrameExtent = r.Take(4);
      if (pick & 2) d.CsStreamHeader.DataUsed = r.Take(4);
      if (pick & 4) d.CsStreamHeader.Size = r.Take(4);
      if (pick & 8) d.CsStreamHeader.Data = 0;
      if (pick & 16) d.CsStreamHeader.BufferHandle = r.Take(4);
      std::memcpy(out.data(), &d, sizeof d);
      BOOL ok = PIN_IOControl(pin, IOCTL_CS_BUFFERS, in.empty() ? nullptr : in.data(), inLength,
                              outLength ? out.data() : nullptr, outLength, nullReturned ? nullptr : &returned);
      if (ok && command == CS_ALLOCATE && outLength >= sizeof d) std::memcpy(last, out.data(), sizeof d);
      break;
    }
    default: {  // any code, any bytes
      DWORD code = r.Take(1) & 1 ? r.Take(4) : IOCTL_STREAM_INSTANTIATE;
      DWORD inLength = r.Take(1) % 64;
      DWORD outLength = r.Take(1) % 64;
      std::vector<uint8_t> in(inLength), out(outLength);
      for (size_t i = 0; i < in.size() && r.n; ++i) in[i] = uint8_t(r.Take(1));
      PIN_IOControl(pin, code, in.empty() ? nullptr : in.data(), inLength, out.empty() ? nullptr : out.data(),
                    outLength, nullReturned ? nullptr : &returned);
      break;
    }
  }
  CeSimClearFaults();
}

// A fresh pin handle: optionally a queue and an instantiated stream of any pin id,
// then up to eight requests; closing it ends whatever they started.
void PinInput(Reader& r) {
  DWORD_PTR pin = PIN_Open(g_pinInit, 0, 0);
  if (!pin) return;
  uint32_t setup = r.Take(1);
  HANDLE queue = nullptr;
  if (setup & 1) {
    MSGQUEUEOPTIONS options{};
    options.dwSize = sizeof options;
    options.dwFlags = MSGQUEUE_ALLOW_BROKEN;
    options.dwMaxMessages = 8;
    options.cbMaxMessage = sizeof(CS_MSGQUEUE_BUFFER_MESSAGE);
    options.bReadAccess = TRUE;
    queue = CreateMsgQueue(nullptr, &options);
  }
  if (setup & 2) {
    CSPROPERTY_STREAMEX_S request{};
    request.CsPin.Set = CSPROPSETID_StreamEx;
    request.CsPin.Flags = CSPROPERTY_TYPE_SET;
    request.PinId = r.Take(1) % 5;
    request.hMsgQueue = reinterpret_cast<uintptr_t>(queue);
    DWORD returned = 0;
    PIN_IOControl(pin, IOCTL_STREAM_INSTANTIATE, reinterpret_cast<PBYTE>(&request), sizeof request, nullptr, 0,
                  &returned);
  }
  CS_STREAM_DESCRIPTOR last{};
  for (int i = 0; i < 8 && r.n; ++i) PinRequest(pin, r, &last);
  PIN_Close(pin);
  if (queue) CloseMsgQueue(queue);
}

// A client buffer of the stream session and where its memory lives.
enum class Memory { kHeap, kContiguous, kPages, kDriver };
struct SessionBuffer {
  CS_STREAM_DESCRIPTOR descriptor{};
  Memory memory = Memory::kHeap;
  uint8_t* data = nullptr;
  size_t bytes = 0;
  bool allocated = false;
};

void FreeMemory(SessionBuffer& b) {
  if (!b.data) return;
  if (b.memory == Memory::kHeap) std::free(b.data);
  if (b.memory == Memory::kContiguous) pmem_free(b.data);
  if (b.memory == Memory::kPages) munmap(b.data, b.bytes);
  b.data = nullptr;
}

BOOL PinCall(DWORD_PTR pin, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength) {
  DWORD returned = 0;
  return PIN_IOControl(pin, code, static_cast<PBYTE>(in), inLength, static_cast<PBYTE>(out), outLength, &returned);
}

BOOL SetStreamState(DWORD_PTR pin, uint32_t state) {
  CSPROPERTY header{CSPROPSETID_Connection, CSPROPERTY_CONNECTION_STATE, CSPROPERTY_TYPE_SET};
  return PinCall(pin, IOCTL_CS_PROPERTY, &header, sizeof header, &state, sizeof state);
}

BOOL BufferCommand(DWORD_PTR pin, uint32_t command, CS_STREAM_DESCRIPTOR* d) {
  uint32_t in[2] = {command, 0};
  return PinCall(pin, IOCTL_CS_BUFFERS, in, sizeof in, d, sizeof *d);
}

void DrainNotices() {
  AsyncCameraMessage m{};
  DWORD bytes = 0, flags = 0;
  while (g_notices && ReadMsgQueue(g_notices, &m, sizeof m, &bytes, 0, &flags)) {
  }
}

void CameraSet(const CsGuid& set, uint32_t id, void* record, DWORD size) {
  CSPROPERTY header{set, id, CSPROPERTY_TYPE_SET};
  std::memcpy(record, &header, sizeof header);
  DWORD returned = 0;
  CAM_IOControl(g_open, IOCTL_CS_PROPERTY, static_cast<PBYTE>(record), size, nullptr, 0, &returned);
}

void PowerSet(DWORD state) {
  DWORD returned = 0;
  CPM_IOControl(1, IOCTL_POWER_SET, nullptr, 0, reinterpret_cast<PBYTE>(&state), sizeof state, &returned);
  DWORD now = 0;
  CPM_IOControl(1, IOCTL_POWER_GET, nullptr, 0, reinterpret_cast<PBYTE>(&now), sizeof now, &returned);
}

void StreamSession(Reader& r) {
  constexpr size_t kMaxBuffers = 8;
  DWORD_PTR pin = PIN_Open(g_pinInit, 0, 0);
  if (!pin) return;
  MSGQUEUEOPTIONS options{};
  options.dwSize = sizeof options;
  options.dwFlags = MSGQUEUE_ALLOW_BROKEN;
  options.dwMaxMessages = 1 + r.Take(1) % 8;  // smaller than the buffer count, at times
  options.cbMaxMessage = sizeof(CS_MSGQUEUE_BUFFER_MESSAGE);
  options.bReadAccess = TRUE;
  HANDLE queue = CreateMsgQueue(nullptr, &options);
  CSPROPERTY_STREAMEX_S instantiate{};
  instantiate.CsPin.Set = CSPROPSETID_StreamEx;
  instantiate.CsPin.Flags = CSPROPERTY_TYPE_SET;
  const uint32_t pinId = r.Take(1) % 3;  // capture, still, preview
  instantiate.PinId = pinId;
  instantiate.hMsgQueue = reinterpret_cast<uintptr_t>(queue);
  if (!queue || !PinCall(pin, IOCTL_STREAM_INSTANTIATE, &instantiate, sizeof instantiate, nullptr, 0)) {
    PIN_Close(pin);
    if (queue) CloseMsgQueue(queue);
    return;
  }
  CSALLOCATOR_FRAMING framing{};
  CSPROPERTY framingHeader{CSPROPSETID_Connection, CSPROPERTY_CONNECTION_ALLOCATORFRAMING, CSPROPERTY_TYPE_GET};
  PinCall(pin, IOCTL_CS_PROPERTY, &framingHeader, sizeof framingHeader, &framing, sizeof framing);
  const uint32_t frameSize = std::min<uint32_t>(framing.FrameSize, 1u << 22);
  SessionBuffer buffers[kMaxBuffers];
  for (int step = 0; step < 24 && r.n; ++step) {
    const uint32_t op = r.Take(1);
    SessionBuffer& b = buffers[r.Take(1) % kMaxBuffers];
    switch (op % 11) {
      case 0:
        SetStreamState(pin, r.Take(1) % 3);
        break;
      case 1: {  // a buffer: heap, contiguous, pages or the driver's; a true or short extent
        if (b.allocated) break;
        const uint32_t shape = r.Take(1);
        b = SessionBuffer{};
        b.memory = Memory(shape % 4);
        b.bytes = shape & 0x10 ? r.Take(3) % (frameSize + 1) : frameSize;
        if (b.memory == Memory::kHeap) b.data = static_cast<uint8_t*>(std::malloc(std::max<size_t>(b.bytes, 1)));
        if (b.memory == Memory::kContiguous) b.data = static_cast<uint8_t*>(pmem_malloc(uint32_t(b.bytes) + 1, 0));
        if (b.memory == Memory::kPages) {
          void* m = mmap(nullptr, b.bytes + 1, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
          b.data = m == MAP_FAILED ? nullptr : static_cast<uint8_t*>(m);
          b.bytes += 1;
        }
        CSSTREAM_HEADER& h = b.descriptor.CsStreamHeader;
        h.Size = sizeof(CSSTREAM_HEADER);
        // The extent claimed: what was allocated, or (plain memory) a lie beyond it.
        h.FrameExtent = shape & 0x20 && b.memory != Memory::kContiguous ? frameSize : uint32_t(b.bytes);
        h.Data = reinterpret_cast<uintptr_t>(b.data);
        b.descriptor.CsFrameInfo.ExtendedHeaderSize = sizeof(CS_FRAME_INFO);
        b.allocated = BufferCommand(pin, CS_ALLOCATE, &b.descriptor);
        if (!b.allocated) FreeMemory(b);
        break;
      }
      case 2:
      case 3:
        if (b.allocated) BufferCommand(pin, CS_ENQUEUE, &b.descriptor);
        break;
      case 4: {  // the client's queue read, and the buffers it names given back
        CS_MSGQUEUE_BUFFER_MESSAGE m{};
        DWORD bytes = 0, flags = 0;
        for (int i = 0; i < 8 && ReadMsgQueue(queue, &m, sizeof m, &bytes, r.Take(1) % 4, &flags); ++i) {
          for (SessionBuffer& e : buffers)
            if (e.allocated && reinterpret_cast<uintptr_t>(&e.descriptor) == uintptr_t(m.pStreamDescriptor))
              BufferCommand(pin, CS_ENQUEUE, &e.descriptor);
        }
        break;
      }
      case 5:  // the memory goes while the driver may still fill it
        FreeMemory(b);
        break;
      case 6:  // the descriptor changed under the driver
        b.descriptor.CsStreamHeader.FrameExtent = r.Take(4);
        if (r.Take(1) & 1) b.descriptor.CsStreamHeader.Data = r.Take(4);
        break;
      case 7:
        if (b.allocated && BufferCommand(pin, CS_DEALLOCATE, &b.descriptor)) {
          b.allocated = false;
          FreeMemory(b);
        }
        break;
      case 8: {  // a still, or a focus run
        if (r.Take(1) & 1) {
          CSPROPERTY_VIDEOCONTROL_S trigger{};
          trigger.StreamIndex = r.Take(1) % 4;
          trigger.Value = CS_VIDEOCONTROL_FLAG_TRIGGER;
          CameraSet(PROPSETID_VIDCAP_VIDEOCONTROL, CSPROPERTY_VIDEOCONTROL_MODE, &trigger, sizeof trigger);
        } else {
          CSPROPERTY_VIDEOPROCAMP_S focus{};
          focus.Value = int32_t(r.Take(1) % 5);
          focus.Flags = 2;
          CameraSet(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, &focus, sizeof focus);
        }
        DrainNotices();
        break;
      }
      case 9:
        PowerSet(r.Take(1) & 1 ? CS_POWER_D4 : CS_POWER_D0);
        break;
      default:  // frames flow meanwhile
        Sleep(r.Take(1) % 8);
        DrainNotices();
        break;
    }
  }
  // The client ends as a careful one would; memory it freed early stays freed.
  PowerSet(CS_POWER_D0);
  SetStreamState(pin, CSSTATE_STOP);
  for (SessionBuffer& b : buffers) {
    if (b.allocated) BufferCommand(pin, CS_DEALLOCATE, &b.descriptor);
  }
  PIN_Close(pin);
  for (SessionBuffer& b : buffers) FreeMemory(b);
  CloseMsgQueue(queue);
  DrainNotices();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!g_open) return 0;
  Reader r{data, size};
  uint32_t shape = r.Take(1);
  if ((shape & 0xC0) == 0xC0) {  // a stream session
    StreamSession(r);
    return 0;
  }
  if (shape & 0x80) {  // a pin's requests
    PinInput(r);
    return 0;
  }
  DWORD code = (shape & 0x7) == 0 ? r.Take(4) : IOCTL_CS_PROPERTY;
  DWORD inLength = r.Take(2) % 4096;
  DWORD outLength = r.Take(2) % 8192;
  bool nullIn = shape & 0x08, nullOut = shape & 0x10, nullReturned = (shape & 0x60) == 0x60;
  uint32_t fault = r.Take(1);

  std::vector<uint8_t> in(inLength);
  // The header: a known set most of the time, then id and request type.
  CSPROPERTY header{};
  uint32_t setPick = r.Take(1);
  if (setPick < 0xF0) {
    header.Set = *kSets[setPick % (sizeof kSets / sizeof kSets[0])];
  } else {
    for (size_t i = 0; i < sizeof header.Set; ++i) reinterpret_cast<uint8_t*>(&header.Set)[i] = uint8_t(r.Take(1));
  }
  uint32_t idPick = r.Take(2);
  header.Id = idPick & 0x8000 ? idPick & 0x7FFF : (idPick & 0x3F) + ((idPick & 0x40) ? 0x100 : 0);
  uint32_t flagPick = r.Take(1);
  header.Flags = flagPick < 0xF8 ? kFlags[flagPick % 5] : r.Take(4);
  if (!in.empty()) std::memcpy(in.data(), &header, std::min<size_t>(sizeof header, in.size()));
  for (size_t i = sizeof header; i < in.size() && r.n; ++i) in[i] = uint8_t(r.Take(1));

  std::vector<uint8_t> out(outLength, 0xCD);
  DWORD returned = 0;
  if (fault & 0x80) CeSimInjectFault(CeSimFault((fault >> 4) % CE_SIM_FAULT_COUNT), fault & 0x0F, 1);
  CAM_IOControl(g_open, code, nullIn ? nullptr : (in.empty() ? nullptr : in.data()), inLength,
                nullOut ? nullptr : (out.empty() ? nullptr : out.data()), outLength,
                nullReturned ? nullptr : &returned);
  CeSimClearFaults();
  return 0;
}
