#include "exifwriter.h"

#include <cstring>

namespace orbhost::services {

namespace {

constexpr uint16_t kTagCompression = 0x0103;
constexpr uint16_t kTagXResolution = 0x011A;
constexpr uint16_t kTagYResolution = 0x011B;
constexpr uint16_t kTagResolutionUnit = 0x0128;
constexpr uint16_t kTagStripOffsets = 0x0111;
constexpr uint16_t kTagStripByteCounts = 0x0117;
constexpr uint16_t kTagJpegOffset = 0x0201;
constexpr uint16_t kTagJpegLength = 0x0202;
constexpr uint16_t kTagYCbCrPositioning = 0x0213;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagGpsIfd = 0x8825;
constexpr uint16_t kTagExifVersion = 0x9000;
constexpr uint16_t kTagComponents = 0x9101;
constexpr uint16_t kTagFlashpixVersion = 0xA000;
constexpr uint16_t kTagColorSpace = 0xA001;
constexpr uint16_t kTagPixelX = 0xA002;
constexpr uint16_t kTagPixelY = 0xA003;
constexpr uint16_t kTagInteropIfd = 0xA005;
constexpr uint16_t kTagGpsVersion = 0x0000;

constexpr char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

void Le16(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(static_cast<uint8_t>(v));
  o.push_back(static_cast<uint8_t>(v >> 8));
}
void Le32(std::vector<uint8_t>& o, uint32_t v) {
  Le16(o, v & 0xFFFF);
  Le16(o, v >> 16);
}

ExifEntry Make(uint16_t tag, uint16_t type, uint32_t count, std::vector<uint8_t> data) {
  ExifEntry e;
  e.tag = tag;
  e.type = type;
  e.count = count;
  e.data = std::move(data);
  return e;
}
ExifEntry ShortEntry(uint16_t tag, uint16_t v) { return Make(tag, kExifShort, 1, {uint8_t(v), uint8_t(v >> 8)}); }
ExifEntry LongEntry(uint16_t tag, uint32_t v) {
  return Make(tag, kExifLong, 1, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}
ExifEntry RationalEntry(uint16_t tag, uint32_t n, uint32_t d) {
  std::vector<uint8_t> b;
  Le32(b, n);
  Le32(b, d);
  return Make(tag, kExifRational, 1, std::move(b));
}

using Ifd = std::vector<const ExifEntry*>;

size_t OutOfLine(const ExifEntry& e) { return e.data.size() > 4 ? (e.data.size() + 1) & ~size_t{1} : 0; }

size_t IfdSize(const Ifd& ifd) {
  size_t s = 2 + 12 * ifd.size() + 4;
  for (const ExifEntry* e : ifd) s += OutOfLine(*e);
  return s;
}

// Writes one IFD at TIFF offset `at` (== out.size() - tiffStart), its values right behind it.
void WriteIfd(std::vector<uint8_t>& out, size_t tiffStart, const Ifd& ifd, uint32_t next) {
  uint32_t at = static_cast<uint32_t>(out.size() - tiffStart);
  uint32_t valueAt = at + 2 + 12 * static_cast<uint32_t>(ifd.size()) + 4;
  Le16(out, static_cast<uint32_t>(ifd.size()));
  for (const ExifEntry* e : ifd) {
    Le16(out, e->tag);
    Le16(out, e->type);
    Le32(out, e->count);
    if (e->data.size() <= 4) {
      uint8_t inl[4] = {0, 0, 0, 0};
      if (!e->data.empty()) std::memcpy(inl, e->data.data(), e->data.size());
      out.insert(out.end(), inl, inl + 4);
    } else {
      Le32(out, valueAt);
      valueAt += static_cast<uint32_t>(OutOfLine(*e));
    }
  }
  Le32(out, next);
  for (const ExifEntry* e : ifd) {
    if (e->data.size() > 4) {
      out.insert(out.end(), e->data.begin(), e->data.end());
      if (e->data.size() & 1) out.push_back(0);
    }
  }
}

}  // namespace

uint32_t ExifTypeSize(uint16_t type) {
  switch (type) {
    case kExifByte:
    case kExifAscii:
    case kExifSByte:
    case kExifUndefined:
      return 1;
    case kExifShort:
    case kExifSShort:
      return 2;
    case kExifLong:
    case kExifSLong:
    case kExifFloat:
      return 4;
    case kExifRational:
    case kExifSRational:
    case kExifDouble:
      return 8;
    default:
      return 0;
  }
}

ExifIfd ExifIfdOf(uint16_t tag) {
  switch (tag) {
    case kTagStripOffsets:
    case kTagStripByteCounts:
    case kTagJpegOffset:
    case kTagJpegLength:
    case kTagExifIfd:
    case kTagGpsIfd:
    case kTagInteropIfd:
      return ExifIfd::kReserved;
    default:
      break;
  }
  if (tag <= 0x001F) return ExifIfd::kGps;
  if ((tag >= 0x0100 && tag < 0x0300) || tag == 0x8298 /* Copyright */) return ExifIfd::kIfd0;
  return ExifIfd::kExif;
}

bool ExifBuilder::Set(ExifEntry e, std::string* why) {
  auto fail = [&](const char* w) {
    if (why) *why = w;
    return false;
  };
  if (ExifIfdOf(e.tag) == ExifIfd::kReserved) return fail("tag is written by the EXIF writer itself");
  uint32_t sz = ExifTypeSize(e.type);
  if (sz == 0) return fail("unknown EXIF type");
  if (e.type == kExifAscii) {
    // ASCII counts include the terminating NUL; add it when the text lacks one.
    if (e.data.size() != e.count) return fail("data size does not match the count");
    if (e.data.empty() || e.data.back() != 0) e.data.push_back(0);
    e.count = static_cast<uint32_t>(e.data.size());
  } else if (e.count == 0 || static_cast<uint64_t>(e.count) * sz != e.data.size()) {
    return fail("data size does not match count and type");
  }
  if (e.data.size() > 65000) return fail("value larger than an EXIF segment");
  uint16_t tag = e.tag;
  entries_[tag] = std::move(e);
  return true;
}

bool ExifBuilder::SetAscii(uint16_t tag, std::string_view text) {
  std::vector<uint8_t> d(text.begin(), text.end());
  uint32_t n = static_cast<uint32_t>(d.size());
  return Set(Make(tag, kExifAscii, n, std::move(d)));
}
bool ExifBuilder::SetShort(uint16_t tag, uint16_t v) { return Set(ShortEntry(tag, v)); }
bool ExifBuilder::SetLong(uint16_t tag, uint32_t v) { return Set(LongEntry(tag, v)); }
bool ExifBuilder::SetRational(uint16_t tag, uint32_t num, uint32_t den) { return Set(RationalEntry(tag, num, den)); }
bool ExifBuilder::SetUndefined(uint16_t tag, const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  return Set(Make(tag, kExifUndefined, static_cast<uint32_t>(n), std::vector<uint8_t>(p, p + n)));
}

const ExifEntry* ExifBuilder::Find(uint16_t tag) const {
  auto it = entries_.find(tag);
  return it == entries_.end() ? nullptr : &it->second;
}

namespace {

struct Layout {
  std::vector<ExifEntry> added;  // structural entries; reserved so pointers stay valid
  Ifd ifd0, exif, gps, ifd1;
};

void Plan(const std::map<uint16_t, ExifEntry>& entries, bool hasThumb, uint32_t w, uint32_t h, Layout& L) {
  L.added.reserve(24);
  auto add = [&](ExifEntry e) -> const ExifEntry* {
    L.added.push_back(std::move(e));
    return &L.added.back();
  };
  std::map<uint16_t, const ExifEntry*> i0, ex, gp;
  for (const auto& [tag, e] : entries) {
    switch (ExifIfdOf(tag)) {
      case ExifIfd::kIfd0: i0[tag] = &e; break;
      case ExifIfd::kExif: ex[tag] = &e; break;
      case ExifIfd::kGps: gp[tag] = &e; break;
      case ExifIfd::kReserved: break;
    }
  }
  if (!i0.count(kTagXResolution)) i0[kTagXResolution] = add(RationalEntry(kTagXResolution, 72, 1));
  if (!i0.count(kTagYResolution)) i0[kTagYResolution] = add(RationalEntry(kTagYResolution, 72, 1));
  if (!i0.count(kTagResolutionUnit)) i0[kTagResolutionUnit] = add(ShortEntry(kTagResolutionUnit, 2));
  if (!i0.count(kTagYCbCrPositioning)) i0[kTagYCbCrPositioning] = add(ShortEntry(kTagYCbCrPositioning, 1));
  if (!ex.count(kTagExifVersion)) ex[kTagExifVersion] = add(Make(kTagExifVersion, kExifUndefined, 4, {'0', '2', '2', '0'}));
  if (!ex.count(kTagComponents)) ex[kTagComponents] = add(Make(kTagComponents, kExifUndefined, 4, {1, 2, 3, 0}));
  if (!ex.count(kTagFlashpixVersion)) ex[kTagFlashpixVersion] = add(Make(kTagFlashpixVersion, kExifUndefined, 4, {'0', '1', '0', '0'}));
  if (!ex.count(kTagColorSpace)) ex[kTagColorSpace] = add(ShortEntry(kTagColorSpace, 1));
  if (!ex.count(kTagPixelX)) ex[kTagPixelX] = add(LongEntry(kTagPixelX, w));
  if (!ex.count(kTagPixelY)) ex[kTagPixelY] = add(LongEntry(kTagPixelY, h));
  // Pointer values are patched once the offsets are known.
  i0[kTagExifIfd] = add(LongEntry(kTagExifIfd, 0));
  if (!gp.empty()) {
    if (!gp.count(kTagGpsVersion)) gp[kTagGpsVersion] = add(Make(kTagGpsVersion, kExifByte, 4, {2, 2, 0, 0}));
    i0[kTagGpsIfd] = add(LongEntry(kTagGpsIfd, 0));
  }
  for (auto& [t, e] : i0) L.ifd0.push_back(e);
  for (auto& [t, e] : ex) L.exif.push_back(e);
  for (auto& [t, e] : gp) L.gps.push_back(e);
  if (hasThumb) {
    L.ifd1.push_back(add(ShortEntry(kTagCompression, 6)));
    L.ifd1.push_back(add(RationalEntry(kTagXResolution, 72, 1)));
    L.ifd1.push_back(add(RationalEntry(kTagYResolution, 72, 1)));
    L.ifd1.push_back(add(ShortEntry(kTagResolutionUnit, 2)));
    L.ifd1.push_back(add(LongEntry(kTagJpegOffset, 0)));
    L.ifd1.push_back(add(LongEntry(kTagJpegLength, 0)));
  }
}

void Patch(Ifd& ifd, uint16_t tag, uint32_t v, std::vector<ExifEntry>& added) {
  for (const ExifEntry*& e : ifd) {
    if (e->tag == tag) {
      for (ExifEntry& a : added) {
        if (&a == e) a = LongEntry(tag, v);
      }
    }
  }
}

}  // namespace

size_t ExifBuilder::SegmentSize(uint32_t w, uint32_t h) const {
  Layout L;
  Plan(entries_, !thumbnail_.empty(), w, h, L);
  size_t tiff = 8 + IfdSize(L.ifd0) + IfdSize(L.exif) + (L.gps.empty() ? 0 : IfdSize(L.gps));
  if (!thumbnail_.empty()) tiff += IfdSize(L.ifd1) + thumbnail_.size();
  return 2 + 2 + sizeof kExifHeader + tiff;
}

bool ExifBuilder::Build(uint32_t w, uint32_t h, std::vector<uint8_t>& out, std::string* why) const {
  out.clear();
  Layout L;
  bool thumb = !thumbnail_.empty();
  Plan(entries_, thumb, w, h, L);
  uint32_t ifd0At = 8;
  uint32_t exifAt = ifd0At + static_cast<uint32_t>(IfdSize(L.ifd0));
  uint32_t gpsAt = exifAt + static_cast<uint32_t>(IfdSize(L.exif));
  uint32_t ifd1At = gpsAt + static_cast<uint32_t>(L.gps.empty() ? 0 : IfdSize(L.gps));
  uint32_t thumbAt = ifd1At + static_cast<uint32_t>(thumb ? IfdSize(L.ifd1) : 0);
  size_t tiffSize = thumbAt + (thumb ? thumbnail_.size() : 0);
  size_t total = 2 + 2 + sizeof kExifHeader + tiffSize;
  if (total > kMaxSegment) {
    if (why) *why = "EXIF data of " + std::to_string(total) + " bytes exceeds one APP1 segment";
    return false;
  }
  Patch(L.ifd0, kTagExifIfd, exifAt, L.added);
  Patch(L.ifd0, kTagGpsIfd, gpsAt, L.added);
  Patch(L.ifd1, kTagJpegOffset, thumbAt, L.added);
  Patch(L.ifd1, kTagJpegLength, static_cast<uint32_t>(thumbnail_.size()), L.added);

  out.reserve(total);
  out.push_back(0xFF);
  out.push_back(0xE1);
  uint32_t len = static_cast<uint32_t>(total - 2);
  out.push_back(static_cast<uint8_t>(len >> 8));
  out.push_back(static_cast<uint8_t>(len));
  out.insert(out.end(), kExifHeader, kExifHeader + sizeof kExifHeader);
  size_t tiffStart = out.size();
  out.push_back('I');
  out.push_back('I');
  Le16(out, 42);
  Le32(out, ifd0At);
  WriteIfd(out, tiffStart, L.ifd0, thumb ? ifd1At : 0);
  WriteIfd(out, tiffStart, L.exif, 0);
  if (!L.gps.empty()) WriteIfd(out, tiffStart, L.gps, 0);
  if (thumb) {
    WriteIfd(out, tiffStart, L.ifd1, 0);
    out.insert(out.end(), thumbnail_.begin(), thumbnail_.end());
  }
  return out.size() == total;
}

}  // namespace orbhost::services
