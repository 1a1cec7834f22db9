// APP1 "Exif" segment writer: IFD0, Exif IFD, GPS IFD and IFD1 with an embedded JPEG
// thumbnail, little-endian TIFF.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace orbhost::services {

// TIFF field types.
enum ExifType : uint16_t {
  kExifByte = 1,
  kExifAscii = 2,
  kExifShort = 3,
  kExifLong = 4,
  kExifRational = 5,
  kExifSByte = 6,
  kExifUndefined = 7,
  kExifSShort = 8,
  kExifSLong = 9,
  kExifSRational = 10,
  kExifFloat = 11,
  kExifDouble = 12,
};

// Bytes per value of a type; 0 for an unknown type.
uint32_t ExifTypeSize(uint16_t type);

struct ExifEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint8_t> data;  // count * ExifTypeSize(type) bytes, little-endian
};

// Where a tag number is written.
enum class ExifIfd { kIfd0, kExif, kGps, kReserved };
ExifIfd ExifIfdOf(uint16_t tag);

class ExifBuilder {
 public:
  static constexpr uint16_t kTagMakerNote = 0x927C;
  // Largest APP1 segment, marker included: the length field is 16 bits.
  static constexpr size_t kMaxSegment = 2 + 65535;

  // Adds or replaces a tag. False (nothing stored) for a reserved tag, an unknown type or
  // data whose size does not match count and type.
  bool Set(ExifEntry e, std::string* why = nullptr);
  bool SetAscii(uint16_t tag, std::string_view text);
  bool SetShort(uint16_t tag, uint16_t v);
  bool SetLong(uint16_t tag, uint32_t v);
  bool SetRational(uint16_t tag, uint32_t num, uint32_t den);
  bool SetUndefined(uint16_t tag, const void* data, size_t n);
  bool Has(uint16_t tag) const { return entries_.count(tag) != 0; }
  const ExifEntry* Find(uint16_t tag) const;
  void Remove(uint16_t tag) { entries_.erase(tag); }
  void Clear() { entries_.clear(); thumbnail_.clear(); }

  void SetThumbnail(std::vector<uint8_t> jpeg) { thumbnail_ = std::move(jpeg); }
  const std::vector<uint8_t>& Thumbnail() const { return thumbnail_; }

  // Builds the whole segment (FF E1, length, "Exif\0\0", TIFF). Structural tags (resolution,
  // versions, colour space, pixel dimensions, IFD pointers) are added unless already set.
  // False when the result would not fit in one segment; `out` then holds nothing.
  bool Build(uint32_t pixelWidth, uint32_t pixelHeight, std::vector<uint8_t>& out, std::string* why = nullptr) const;
  // Size Build would produce.
  size_t SegmentSize(uint32_t pixelWidth, uint32_t pixelHeight) const;

 private:
  std::map<uint16_t, ExifEntry> entries_;  // ordered by tag, as IFDs must be
  std::vector<uint8_t> thumbnail_;
};

}  // namespace orbhost::services
