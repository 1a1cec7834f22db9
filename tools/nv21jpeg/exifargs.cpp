#include "exifargs.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace nv21jpeg {

using namespace orbhost::services;

namespace {

bool Fail(std::string* why, const std::string& w) {
  if (why) *why = w;
  return false;
}

bool ToInt(const std::string& s, long long lo, long long hi, long long& v) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  v = std::strtoll(s.c_str(), &end, 0);
  return errno == 0 && end && *end == 0 && v >= lo && v <= hi;
}

void PutLe(std::vector<uint8_t>& d, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) d.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

bool ParseExifArg(const std::string& arg, ExifEntry& out, std::string* why) {
  size_t eq = arg.find('='), colon = arg.find(':', eq == std::string::npos ? 0 : eq);
  if (eq == std::string::npos || colon == std::string::npos) return Fail(why, "expected TAG=TYPE:VALUE in '" + arg + "'");
  long long tag;
  if (!ToInt(arg.substr(0, eq), 0, 0xFFFF, tag)) return Fail(why, "bad tag number in '" + arg + "'");
  std::string type = arg.substr(eq + 1, colon - eq - 1);
  std::string value = arg.substr(colon + 1);
  out = ExifEntry{};
  out.tag = static_cast<uint16_t>(tag);
  if (type == "ascii") {
    out.type = kExifAscii;
    out.data.assign(value.begin(), value.end());
    out.count = static_cast<uint32_t>(out.data.size());
    return true;
  }
  if (type == "undefined") {
    out.type = kExifUndefined;
    if (value.size() % 2) return Fail(why, "undefined values are hex bytes: '" + value + "'");
    for (size_t i = 0; i < value.size(); i += 2) {
      long long b;
      if (!ToInt("0x" + value.substr(i, 2), 0, 255, b)) return Fail(why, "bad hex byte in '" + value + "'");
      out.data.push_back(static_cast<uint8_t>(b));
    }
    out.count = static_cast<uint32_t>(out.data.size());
    return !out.data.empty() || Fail(why, "empty value");
  }
  struct Kind {
    const char* name;
    uint16_t type;
    int bytes;
    long long lo, hi;
    bool ratio;
  } kinds[] = {
      {"byte", kExifByte, 1, 0, 255, false},
      {"short", kExifShort, 2, 0, 65535, false},
      {"long", kExifLong, 4, 0, 4294967295LL, false},
      {"slong", kExifSLong, 4, INT32_MIN, INT32_MAX, false},
      {"rational", kExifRational, 4, 0, 4294967295LL, true},
      {"srational", kExifSRational, 4, INT32_MIN, INT32_MAX, true},
  };
  for (const Kind& k : kinds) {
    if (type != k.name) continue;
    out.type = k.type;
    std::stringstream ss(value);
    std::string item;
    while (std::getline(ss, item, ',')) {
      if (k.ratio) {
        size_t slash = item.find('/');
        long long n, d;
        if (slash == std::string::npos || !ToInt(item.substr(0, slash), k.lo, k.hi, n) ||
            !ToInt(item.substr(slash + 1), k.lo, k.hi, d)) {
          return Fail(why, "bad " + type + " value '" + item + "' (expected N/D)");
        }
        PutLe(out.data, static_cast<uint64_t>(n), 4);
        PutLe(out.data, static_cast<uint64_t>(d), 4);
      } else {
        long long v;
        if (!ToInt(item, k.lo, k.hi, v)) return Fail(why, "bad " + type + " value '" + item + "'");
        PutLe(out.data, static_cast<uint64_t>(v), k.bytes);
      }
      ++out.count;
    }
    return out.count > 0 || Fail(why, "empty value");
  }
  return Fail(why, "unknown type '" + type + "'");
}

}  // namespace nv21jpeg
