// mifwriter: writes a module-information file (.mif) for a module image.
//
//   mifwriter <output.mif> [--access-rule <text>] <class-id>...
//
// Class identifiers are numbers (decimal or 0x...). Every module gets the
// attribute pair (0x5000, 1); with an access rule also (0x0b5000, 0x20000) and
// a third section holding the rule text.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void PutU16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void AppendU32(std::vector<uint8_t>& b, uint32_t v) {
  b.resize(b.size() + 4);
  PutU32(b, b.size() - 4, v);
}

const char kUsage[] =
    "usage: mifwriter <output.mif> [--access-rule <text>] <class-id>...\n"
    "  class identifiers are numbers, decimal or 0x...; -h, --help: this text\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "mifwriter: %s\n%s", why.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--access-rule") == 0) {
      ++i;  // its text may start with a dash
      continue;
    }
    if (argv[i][0] == '-' && argv[i][1] == '-') return Usage(std::string("unknown option ") + argv[i]);
  }
  if (argc > 1 && argv[1][0] == '-') return Usage(std::string("unknown option ") + argv[1]);
  if (argc < 3) return Usage("an output file and class identifiers are needed");
  const char* output = argv[1];
  bool hasRule = false;
  std::string rule;
  std::vector<uint32_t> classes;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--access-rule") == 0) {
      if (++i >= argc) return Usage("--access-rule needs a text");
      hasRule = true;
      rule = argv[i];
      continue;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(argv[i], &end, 0);
    if (errno || !end || *end || end == argv[i] || v == 0 || v > 0xFFFFFFFFull) {
      std::fprintf(stderr, "mifwriter: bad class identifier \"%s\"\n", argv[i]);
      return 2;
    }
    classes.push_back(static_cast<uint32_t>(v));
  }
  if (classes.empty() || classes.size() > 0xFFFF) {
    std::fprintf(stderr, "mifwriter: between 1 and 65535 class identifiers are needed\n");
    return 2;
  }

  std::vector<std::pair<uint32_t, uint32_t>> attributes = {{0x5000, 1}};
  if (hasRule) attributes.push_back({0x0b5000, 0x20000});

  // Sections: 1 the class count record, 2 the class list, 3 the access rule.
  std::vector<std::vector<uint8_t>> sections;
  std::vector<uint8_t> s1(40, 0);
  PutU32(s1, 0, 0x1002);
  PutU16(s1, 26, static_cast<uint16_t>(classes.size()));
  sections.push_back(s1);
  std::vector<uint8_t> s2;
  for (uint32_t id : classes) AppendU32(s2, id);
  AppendU32(s2, 0);
  sections.push_back(s2);
  if (hasRule) {
    std::vector<uint8_t> s3(rule.begin(), rule.end());
    s3.push_back(0);
    s3.push_back(0);  // padded with one more NUL
    sections.push_back(s3);
  }

  const uint32_t n = static_cast<uint32_t>(attributes.size());
  const uint32_t s = static_cast<uint32_t>(sections.size());
  const uint32_t attrOffset = 0x20;
  const uint32_t tableOffset = attrOffset + 8 * n;
  const uint32_t firstSection = tableOffset + 4 * (s + 1);
  uint32_t total = firstSection;
  for (const auto& sec : sections) total += static_cast<uint32_t>(sec.size());

  std::vector<uint8_t> file(firstSection, 0);
  PutU16(file, 0, 0x0011);
  PutU16(file, 2, 1);
  PutU16(file, 4, 1);
  PutU16(file, 6, static_cast<uint16_t>(n));
  PutU32(file, 8, attrOffset);
  PutU32(file, 12, 8 * n);
  PutU32(file, 16, tableOffset);
  PutU32(file, 20, s);
  PutU32(file, 24, firstSection);
  PutU32(file, 28, total - firstSection);
  for (uint32_t i = 0; i < n; ++i) {
    PutU32(file, attrOffset + 8 * i, attributes[i].first);
    PutU32(file, attrOffset + 8 * i + 4, attributes[i].second);
  }
  uint32_t at = firstSection;
  for (uint32_t i = 0; i < s; ++i) {
    PutU32(file, tableOffset + 4 * i, at);
    at += static_cast<uint32_t>(sections[i].size());
  }
  PutU32(file, tableOffset + 4 * s, total);
  for (const auto& sec : sections) file.insert(file.end(), sec.begin(), sec.end());

  // Write to a temporary name and rename, so that a reader never sees half a file.
  const std::string temp = std::string(output) + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "mifwriter: cannot write \"%s\": %s\n", temp.c_str(), std::strerror(errno));
    return 1;
  }
  const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  if (std::fclose(f) != 0 || !ok || std::rename(temp.c_str(), output) != 0) {
    std::fprintf(stderr, "mifwriter: cannot write \"%s\"\n", output);
    std::remove(temp.c_str());
    return 1;
  }
  return 0;
}
