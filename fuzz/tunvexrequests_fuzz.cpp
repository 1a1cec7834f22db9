// The tuning server's request layer (catalog and dispatch, without sockets): one request
// of any control code, payload and response size to a catalog holding values of every
// kind; or the 3A text and the JPEG tuning text into a buffer of any size.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ctunvexcatalog.h"
#include "fakeregistry.h"
#include "fuzzinput.h"
#include "tunvexprotocol.h"

namespace {

// A "TuningData" group and a statistics group, as the server meets them.
struct Tables {
  uint16_t version = 0x0202;
  int32_t gains[4] = {1, 2, 3, 4};
  float luma = 0.5f;
  uint8_t hidden = 7;
  int8_t offsets[3] = {-1, 0, 1};
  int32_t q10 = 1536;
  double exposure = 0.25;
  uint32_t lines = 33;
  int64_t wide = 5;
  uint16_t curve[40] = {};
  FakeRegistry tuning;
  FakeRegistry aec;

  Tables() {
    tuning.Add("ColorCorr-Gains", gains, TUNING_TYPE_S32, 4);
    tuning.Add("Luma-Target", &luma, TUNING_TYPE_FLOAT, 1, 0x80);
    tuning.Add("Misc-VarnixVersion", &version, TUNING_TYPE_U16, 1, 0x01);
    tuning.Add("Gamma-Curve", curve, TUNING_TYPE_U16, 40);
    aec.Add("AEC-Hidden", &hidden, TUNING_TYPE_U8, 1, 0x08);
    aec.Add("AEC-Offsets", offsets, TUNING_TYPE_S8, 3);
    aec.Add("AEC-Gain", &q10, TUNING_TYPE_Q10, 1, 0x80);
    aec.Add("AEC-Exposure", &exposure, TUNING_TYPE_DOUBLE, 1, 0x80 | 0x20);
    aec.Add("AEC-Lines", &lines, TUNING_TYPE_U32, 1, 0x20);
    aec.Add("AEC-Wide", &wide, TUNING_TYPE_S64, 1);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  camera::fuzz::Input in(data, size);
  uint8_t what = in.Take<uint8_t>();
  uint16_t code = in.Take<uint16_t>();
  uint32_t respSize = in.Take<uint16_t>() % (2 * tunvex::kResponseSize + 1);

  Tables t;
  CTunvexCatalog catalog;
  catalog.SetLog([](void*, const char*) {}, nullptr);
  catalog.SetApply([](void*) -> PvlResult { return PVL_OK; }, nullptr);
  catalog.Register(&t.tuning, "TuningData");
  catalog.Register(&t.aec, "AEC");

  // Exactly the sizes given, so that any read or write past them is caught.
  std::string_view payload = in.Rest();
  std::unique_ptr<uint8_t[]> request(new uint8_t[payload.size()]);
  std::copy(payload.begin(), payload.end(), request.get());
  std::unique_ptr<uint8_t[]> response(new uint8_t[respSize]);
  switch (what % 4) {
    case 0:
    case 1:
      // The codes that have handlers, and now and then any other.
      if (what % 4 == 0) code = tunvex::kCodeGetList + code % (tunvex::kCodeMiscCommand - tunvex::kCodeGetList + 1);
      catalog.Dispatch(code, request.get(), static_cast<uint32_t>(payload.size()), response.get(), respSize);
      break;
    case 2:
      catalog.Format3A(reinterpret_cast<char*>(response.get()), respSize);
      break;
    case 3: {
      uint32_t needed = 0, written = 0;
      catalog.SendDataToJPEG(reinterpret_cast<char*>(response.get()), respSize, &needed, &written);
      if (written > respSize) __builtin_trap();
      break;
    }
  }
  catalog.Unregister(&t.tuning);
  catalog.Unregister(&t.aec);
  return 0;
}
