// The still pin's EXIF and JPEG-encode sets: EXIF tags go to the port's EXIF
// group as variants, JPEG values through the set's rows (the crop factor is the
// driver's own: it becomes the main image's crop rectangle).
#include <cstdlib>
#include <cstring>
#include <limits>

#include "ccameradevice.h"
#include "chipset.h"
#include "cpindevice.h"
#include "formattranslation.h"
#include "pininternal.h"
#include "plindor.h"

using namespace pinimpl;

// clang-format off
const DSPropertyMapEntry g_JpegEncodePropMap[kPinJpegProperties] = {
  // id                          engine property                         type           step min max  def dflg caps supp
  {VANTOR_JPEG_QUALITY,           ZUEUID_PROPERTY_JPEG_QUALITY,           PVL_VT_UINT32, 1, 1, 100,  75, 2, 2, 1},
  {VANTOR_JPEG_THUMBNAIL_QUALITY, ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY, PVL_VT_UINT32, 1, 1, 100,  75, 2, 2, 1},
  {VANTOR_JPEG_ROTATION,          ZUEUID_PROPERTY_JPEG_ROTATION,          PVL_VT_INT32,  1, 0, 360,   0, 2, 2, 1},
  {VANTOR_JPEG_OPTION,            ZUEUID_PROPERTY_JPEG_OPTION,            PVL_VT_UINT8,  1, 0,   1,   0, 2, 2, 1},
  {VANTOR_JPEG_CROP_FACTOR,       0,                                      PVL_VT_EMPTY,  1, 1,   4,   1, 2, 2, 1},
};
// clang-format on

bool CPinDevice::LoadJpegDefaults() {
  std::memcpy(m_jpeg, g_JpegEncodePropMap, sizeof m_jpeg);
  for (const DSPropertyMapEntry& row : m_jpeg) {
    if (!row.supported || !row.engineId) continue;
    CSPROPERTY_VIDEOPROCAMP_S client{};
    CreateDSPropertyFromDefaults(row, &client);
    PvlValueRecord value{};
    PvlResult r = TranslateJpegToPVL(&value, nullptr, client, row);
    if (r == kTranslateUnsupported) continue;
    if (r != PVL_OK) {
      NKDbgPrintfW(u"[%s] Translation from DS to PVL property failed: PVLID=%x, result=%d\r\n", Name(), row.engineId,
                   r);
      return false;
    }
    r = m_portProperties->SetProperty(row.engineId, &value);
    if (r != PVL_OK && r != PVL_E_BADARG) {
      NKDbgPrintfW(u"[%s] Could not set property on Camera Port: PVLID=%x, result=%d\r\n", Name(), row.engineId, r);
      return false;
    }
  }
  return true;
}

namespace {

// Element size and variant type of each EXIF item type (0: refused).
struct ExifType {
  uint32_t size;
  uint32_t variant;
};
constexpr ExifType kExifTypes[11] = {{0, 0},  {1, PVL_VT_UINT8},  {1, PVL_VT_STRING}, {2, PVL_VT_UINT16},
                                     {4, PVL_VT_UINT32}, {8, PVL_VT_URATIONAL}, {0, 0}, {1, PVL_VT_BLOCK},
                                     {0, 0},  {4, PVL_VT_SINT32}, {8, PVL_VT_PAIR}};

// An EXIF tag's value as a variant; an array payload and a text or block value
// (copied out of the client's memory) are owned by the guard.
struct ExifVariant {
  PvlValueRecord value{};
  PvlValueRecord* elements = nullptr;
  uint8_t* bytes = nullptr;
  ~ExifVariant() {
    delete[] elements;
    delete[] bytes;
  }
};

DWORD ConvertExifItem(const PropertyItem& item, ExifVariant* out) {
  if (!item.value || item.type > 10 || !kExifTypes[item.type].variant) return ERROR_INVALID_PARAMETER;
  const ExifType t = kExifTypes[item.type];
  const uint32_t count = item.length / t.size;
  // The whole value must be the caller's to read; a length running past its memory is refused.
  if (count == 0 || item.length > uint32_t(std::numeric_limits<int32_t>::max())) return ERROR_INVALID_PARAMETER;
  void* mapped = MapCallerPtr(reinterpret_cast<void*>(item.value), item.length);
  if (!mapped) return ERROR_INVALID_PARAMETER;
  if (t.variant == PVL_VT_STRING || t.variant == PVL_VT_BLOCK) {
    // The store copies later: it gets the driver's copy, never the client's memory.
    out->bytes = new (std::nothrow) uint8_t[item.length];
    if (!out->bytes) return ERROR_OUTOFMEMORY;
    if (!CeSafeCopyMemory(out->bytes, mapped, item.length)) return ERROR_INVALID_PARAMETER;
    out->value.type = t.variant;
    out->value.payload.array = {out->bytes, int32_t(item.length), int32_t(item.length), 0};
    return ERROR_SUCCESS;
  }
  PvlValueRecord* target = &out->value;
  if (count >= 2) {
    out->elements = new (std::nothrow) PvlValueRecord[count]();
    if (!out->elements) return ERROR_OUTOFMEMORY;
    out->value.type = PVL_VT_ARRAY;
    out->value.payload.array = {out->elements, int32_t(count), int32_t(count), 0};
    target = out->elements;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(mapped);
  for (uint32_t i = 0; i < count; ++i) {
    PvlValueRecord& v = target[i];
    v.type = t.variant;
    if (!CeSafeCopyMemory(&v.payload, bytes + uint64_t(i) * t.size, t.size)) return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD CPinDevice::HandleExifRequest(const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
  if (!m_portProperties || !Kind().stillImage || CompressionCode() != kFourccIJPG) {
    NKDbgPrintfW(u"[%s] Invalid state for PinHandleEXIFRequests()\r\n", Name());
    return ERROR_INVALID_STATE;
  }
  if (!in || inLength < sizeof(CSPROPERTY) || (outLength && !out) || !returned) {
    NKDbgPrintfW(u"[%s] Invalid parameter for PinHandleEXIFRequests()\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  *returned = 0;
  CSPROPERTY header;
  if (!CopyIn(&header, in, sizeof header)) return ERROR_INVALID_PARAMETER;
  NKDbgPrintfW(u"[%s] PinHandleEXIFRequests(): Id=%u, Flags=%u\r\n", Name(), header.Id, header.Flags);
  if (header.Flags == CSPROPERTY_TYPE_SETSUPPORT) return ERROR_SUCCESS;
  if (header.Flags == CSPROPERTY_TYPE_GET) {
    NKDbgPrintfW(u"[%s] EXIF property retrieval not supported\r\n", Name());
    return ERROR_NOT_SUPPORTED;
  }
  if (header.Flags != CSPROPERTY_TYPE_SET) return ERROR_INVALID_PARAMETER;
  DWORD error = 0;
  void* mapped = MapCallerBuffer(out, outLength, sizeof(PropertyItem), &error);
  PropertyItem item;
  if (!mapped || !CopyIn(&item, mapped, sizeof item)) return ERROR_MORE_DATA;
  ExifVariant variant;
  DWORD r = ConvertExifItem(item, &variant);
  if (r != ERROR_SUCCESS) {
    NKDbgPrintfW(u"[%s] Could not convert PropertyItem to Parvel Variant\r\n", Name());
    return r;
  }
  // Declare the tag a member of the EXIF group, then set it.
  PvlPropertyDescHead desc{};
  desc.id = item.tag;
  desc.values[0] = variant.value;
  m_portProperties->AddProperty(PvlPropertyDescOf(&desc), ZUEUID_PROPERTY_GROUP_EXIF, PVL_PROPERTY_ADD_REPLACE);
  PvlResult pr = m_portProperties->SetProperty(item.tag, &variant.value);
  if (pr != PVL_OK) {
    NKDbgPrintfW(u"[%s] Could not set EXIF property on Camera Port: PVLID=%x, result=%d\r\n", Name(), item.tag, pr);
    return ERROR_FUNCTION_FAILED;
  }
  NKDbgPrintfW(u"[%s] EXIF property successfully set on Camera Port: PVLID=%x, result=%d\r\n", Name(), item.tag, pr);
  return ERROR_SUCCESS;
}

DWORD CPinDevice::HandleJpegRequest(const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
  if (!m_portProperties || !Kind().stillImage || CompressionCode() != kFourccIJPG) {
    NKDbgPrintfW(u"[%s] Invalid state for PinHandleJPEGEncodeRequests()\r\n", Name());
    return ERROR_INVALID_STATE;
  }
  if (!in || inLength < sizeof(CSPROPERTY) || (outLength && !out) || !returned) {
    NKDbgPrintfW(u"[%s] Invalid parameter for PinHandleJPEGEncodeRequests()\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  *returned = 0;
  CSPROPERTY header;
  if (!CopyIn(&header, in, sizeof header)) return ERROR_INVALID_PARAMETER;
  NKDbgPrintfW(u"[%s] PinHandleJPEGRequests(): Id=%u, Flags=%u\r\n", Name(), header.Id, header.Flags);
  if (header.Flags == CSPROPERTY_TYPE_SETSUPPORT) return ERROR_SUCCESS;
  if (header.Id >= kPinJpegProperties) {
    NKDbgPrintfW(u"[%s] Invalid JPEG Property, Id=%d\r\n", Name(), header.Id);
    return ERROR_INVALID_PARAMETER;
  }
  const DSPropertyMapEntry& row = m_jpeg[header.Id];
  if (!row.supported) return ERROR_NOT_SUPPORTED;
  if (header.Flags == CSPROPERTY_TYPE_BASICSUPPORT) return AdapterReplyBasicSupport(out, outLength, returned, row);
  if (header.Flags == CSPROPERTY_TYPE_DEFAULTVALUES) return AdapterReplyDefaultValues(out, outLength, returned, row);
  DWORD error = 0;
  if (header.Flags == CSPROPERTY_TYPE_GET) {
    if (header.Id == VANTOR_JPEG_CROP_FACTOR) return ERROR_NOT_SUPPORTED;
    void* mapped = MapCallerBuffer(out, outLength, sizeof(CSPROPERTY_VIDEOPROCAMP_S), &error);
    if (!mapped) return ERROR_MORE_DATA;
    PvlValueRecord value{};
    value.type = row.type;
    PvlResult r = m_portProperties->GetProperty(row.engineId, &value);
    if (r != PVL_OK) {
      NKDbgPrintfW(u"[%s] Could not retrieve JPEG property from Camera Port: PVLID=%x, result=%d\r\n", Name(),
                   row.engineId, r);
      return ERROR_INVALID_PARAMETER;
    }
    CSPROPERTY_VIDEOPROCAMP_S reply{};
    reply.Property = header;
    r = TranslatePVLToJpeg(&reply, row.engineId, value, 2, row);
    if (r != PVL_OK) {
      NKDbgPrintfW(u"[%s] Translation from PVL JPEG to DS property failed: PVLID=%x, result=%d\r\n", Name(),
                   row.engineId, r);
      return ERROR_FUNCTION_FAILED;
    }
    if (!CopyOut(mapped, &reply, sizeof reply)) return ERROR_INVALID_PARAMETER;
    *returned = sizeof reply;
    NKDbgPrintfW(u"[%s] JPEG property successfully retrieved from Camera Port: PVLID=%x, result=%d\r\n", Name(),
                 row.engineId, r);
    return ERROR_SUCCESS;
  }
  if (header.Flags != CSPROPERTY_TYPE_SET) {
    NKDbgPrintfW(u"[%s] Invalid JPEGEncode property request\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  if (header.Id == VANTOR_JPEG_CROP_FACTOR) {
    // The crop factor: a double where the other ids carry their value (byte 24).
    void* mapped = MapCallerBuffer(out, outLength, 32, &error);
    double z = 1.0;
    if (!mapped || !CopyIn(&z, static_cast<uint8_t*>(mapped) + 24, sizeof z)) return ERROR_MORE_DATA;
    if (!(z >= 1.0)) z = 1.0;  // NaN too
    if (z > 4.0) z = 4.0;
    const CS_BITMAPINFOHEADER& bmi = m_range.VideoInfoHeader.bmiHeader;
    const double W = bmi.biWidth, H = std::abs(bmi.biHeight);
    const int32_t w = int32_t(W / z), h = int32_t(H / z);
    const int32_t left = int32_t((W - w) / 2), top = int32_t((H - h) / 2);
    g_pinGlobals.zoomCropFactor = z;
    PvlValueRecord crop{};
    crop.type = PVL_VT_RECT;
    crop.payload.rect = {left, top, w + left - 1, h + top - 1};
    PvlResult r = m_portProperties->SetProperty(ZUEUID_PROPERTY_JPEG_MAIN_CROP, &crop);
    if (r != PVL_OK) {
      NKDbgPrintfW(u"[%s] Could not set JPEG property on Camera Port: PVLID=%x, result=%d\r\n", Name(),
                   ZUEUID_PROPERTY_JPEG_MAIN_CROP, r);
      return ERROR_INVALID_PARAMETER;
    }
    NKDbgPrintfW(u"[%s] JPEG property successfully set on Camera Port: PVLID=%x, result=%d\r\n", Name(),
                 ZUEUID_PROPERTY_JPEG_MAIN_CROP, r);
    return ERROR_SUCCESS;
  }
  void* mapped = MapCallerBuffer(out, outLength, sizeof(CSPROPERTY_VIDEOPROCAMP_S), &error);
  CSPROPERTY_VIDEOPROCAMP_S record;
  if (!mapped || !CopyIn(&record, mapped, sizeof record)) return ERROR_MORE_DATA;
  record.Property = header;
  return SetJpegValue(header.Id, record);
}

DWORD CPinDevice::SetJpegValue(uint32_t id, const CSPROPERTY_VIDEOPROCAMP_S& record) {
  const DSPropertyMapEntry& row = m_jpeg[id];
  const uint32_t flags = record.Flags;
  if (flags != 1 && flags != 2 && flags != 4 && flags != 8) return ERROR_INVALID_PARAMETER;
  if (record.Value < row.minimum || record.Value > row.maximum) {
    if (flags == CSPROPERTY_FLAGS_AUTO) return ERROR_SUCCESS;
    NKDbgPrintfW(u"[%s] Value outside JPEGEncode property range: Id=%d, Value=%d\r\n", Name(), id, record.Value);
    SetLastError(ERROR_INVALID_PARAMETER);
    return ERROR_INVALID_PARAMETER;
  }
  PvlValueRecord value{};
  PvlResult r = TranslateJpegToPVL(&value, nullptr, record, row);
  if (r != PVL_OK) {
    NKDbgPrintfW(u"[%s] Translation from DS to PVL JPEG property failed: PVLID=%x, result=%d\r\n", Name(),
                 row.engineId, r);
    return ERROR_INVALID_PARAMETER;
  }
  r = m_portProperties->SetProperty(row.engineId, &value);
  if (r != PVL_OK) {
    NKDbgPrintfW(u"[%s] Could not set JPEG property on Camera Port: PVLID=%x, result=%d\r\n", Name(), row.engineId, r);
    return ERROR_INVALID_PARAMETER;
  }
  NKDbgPrintfW(u"[%s] JPEG property successfully set on Camera Port: PVLID=%x, result=%d\r\n", Name(), row.engineId, r);
  return ERROR_SUCCESS;
}
