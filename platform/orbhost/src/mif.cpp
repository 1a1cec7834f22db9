// Reading module information files. Every offset and count is checked against the
// file before use: a damaged file is refused, never read past its end.
#include "mif.h"

#include <cstring>

namespace orbhost {
namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool Fail(std::string* why, const std::string& text) {
  *why = text;
  return false;
}

constexpr uint32_t kHeaderSize = 32;
constexpr uint32_t kSection1Size = 40;
constexpr uint32_t kSection1Tag = 0x1002;
constexpr uint32_t kClassCountOffset = 26;

}  // namespace

bool ParseMif(const uint8_t* data, size_t size, MifInfo* info, std::string* why) {
  *info = MifInfo();
  if (!data || size < kHeaderSize) return Fail(why, "shorter than its 32-byte header");
  if (size > kMifMaxSize) return Fail(why, "too large");
  const uint32_t fileSize = static_cast<uint32_t>(size);
  if (U16(data) != 0x0011 || U16(data + 2) != 1 || U16(data + 4) != 1) return Fail(why, "wrong signature");
  const uint32_t n = U16(data + 6);
  const uint32_t attrOffset = U32(data + 8);
  const uint32_t attrSize = U32(data + 12);
  const uint32_t tableOffset = U32(data + 16);
  const uint32_t sections = U32(data + 20);
  const uint32_t firstSection = U32(data + 24);
  const uint32_t sectionsSize = U32(data + 28);

  // 64-bit sums: no field can wrap a check.
  if (attrSize != 8 * n) return Fail(why, "attribute block size does not match its count");
  if (attrOffset < kHeaderSize || uint64_t{attrOffset} + attrSize > fileSize)
    return Fail(why, "attribute block outside the file");
  if (sections < 2 || sections > 64) return Fail(why, "section count out of range");
  if (tableOffset < attrOffset + attrSize || uint64_t{tableOffset} + 4ull * (sections + 1) > fileSize)
    return Fail(why, "section table outside the file");
  if (uint64_t{firstSection} + sectionsSize != fileSize) return Fail(why, "section sizes do not add up to the file");
  if (firstSection < tableOffset + 4 * (sections + 1)) return Fail(why, "sections overlap the section table");

  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* pair = data + attrOffset + 8 * i;
    info->attributes.emplace_back(U32(pair), U32(pair + 4));
  }

  std::vector<uint32_t> offsets(sections + 1);
  for (uint32_t i = 0; i <= sections; ++i) offsets[i] = U32(data + tableOffset + 4 * i);
  if (offsets[0] != firstSection) return Fail(why, "first section offset disagrees with the header");
  if (offsets[sections] != fileSize) return Fail(why, "section table does not end at the file size");
  for (uint32_t i = 0; i < sections; ++i)
    if (offsets[i] > offsets[i + 1]) return Fail(why, "section offsets out of order");

  // Section 1: the tag and the class count.
  const uint8_t* s1 = data + offsets[0];
  if (offsets[1] - offsets[0] < kSection1Size) return Fail(why, "section 1 shorter than 40 bytes");
  if (U32(s1) != kSection1Tag) return Fail(why, "section 1 does not start with 0x1002");
  const uint32_t count = U16(s1 + kClassCountOffset);

  // Section 2: the class identifiers, then a 0.
  const uint8_t* s2 = data + offsets[1];
  const uint32_t s2Size = offsets[2] - offsets[1];
  if (uint64_t{count} * 4 + 4 > s2Size) return Fail(why, "class list shorter than its count");
  for (uint32_t i = 0; i < count; ++i) {
    ZUEUID clsid = U32(s2 + 4 * i);
    if (clsid == 0) return Fail(why, "class list ends before its count");
    info->classes.push_back(clsid);
  }
  if (U32(s2 + 4 * count) != 0) return Fail(why, "class list longer than its count");
  if (count == 0) return Fail(why, "no classes");

  // Section 3 (optional): the access rule, a terminated text.
  if (sections >= 3) {
    const char* s3 = reinterpret_cast<const char*>(data + offsets[2]);
    const uint32_t s3Size = offsets[3] - offsets[2];
    const void* nul = memchr(s3, 0, s3Size);
    if (!nul) return Fail(why, "access rule not terminated");
    info->accessRule.assign(s3, static_cast<const char*>(nul) - s3);
  }
  return true;
}

}  // namespace orbhost
