// Fuzzes the camera driver's request entry, CAM_IOControl, as an untrusted capture
// application reaches it: any I/O control code, any property set (the driver's own
// sets are chosen often so the handlers behind them are reached), any id, request
// type and payload, any input and output sizes, and caller-buffer accesses that
// fail. The buffers are exactly the sizes claimed, so a read or write past them is
// caught by the sanitizer. The driver runs over the fake engine with four ports.
#include <stddef.h>
#include <stdint.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "board_sim.h"
#include "csprotocol.h"
#include "devmgr.h"
#include "fakecameraengine.h"
#include "wince_sim.h"

extern "C" DWORD CAM_Init(LPCWSTR activeKey, LPCVOID busContext);
extern "C" DWORD CAM_Open(DWORD context, DWORD access, DWORD share);
extern "C" BOOL CAM_IOControl(DWORD context, DWORD code, PBYTE in, DWORD inLength, PBYTE out, DWORD outLength,
                              LPDWORD returned);

namespace {

DWORD g_open = 0;

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
  CeSimDebugSetQuiet(TRUE);
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
  DWORD camera = CAM_Init(u"Drivers\\Active\\F0", nullptr);
  g_open = camera ? CAM_Open(camera, 0, 0) : 0;
  if (!g_open) {
    // Without an open camera every input would be refused at the door: say so
    // rather than fuzz nothing.
    std::fprintf(stderr, "ostrelioctl: the camera does not open (init %lu, error %lu)\n",
                 static_cast<unsigned long>(camera), static_cast<unsigned long>(GetLastError()));
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!g_open) return 0;
  Reader r{data, size};
  uint32_t shape = r.Take(1);
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
