// tunclient: command-line tuning tool. Talks the tuning protocol to a tuning
// server (the camera's, or tunserve's) and lists, reads, writes and applies
// tunable values as text.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tunvexclient.h"

namespace {

const char kUsage[] =
    "usage: tunclient [--host HOST] [--port PORT] [--timeout MS] COMMAND\n"
    "commands:\n"
    "  version                 the server's protocol version\n"
    "  list                    every item: Id, element count, flags, name\n"
    "  get ITEM [INDEX]        all elements of an item, or one\n"
    "  set ITEM INDEX TEXT...  writes TEXT to element INDEX (more TEXTs go to the\n"
    "                          following elements), then reads them back\n"
    "  apply                   makes the camera take over the values written\n"
    "ITEM is an item name or its decimal Id. The port defaults to 55555, or\n"
    "TUNVEX_PORT when that is set.\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "tunclient: %s\n%s", why.c_str(), kUsage);
  return 2;
}

bool ParseNumber(const char* s, unsigned long max, unsigned long* out) {
  if (!s || !*s) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(s, &end, 10);
  if (*end || errno || v > max || s[0] == '-' || s[0] == '+') return false;
  *out = v;
  return true;
}

bool AllDigits(const char* s) {
  if (!*s) return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

int Fail(const TunvexClient& c) {
  std::fprintf(stderr, "tunclient: %s\n", c.Error().c_str());
  return 1;
}

// The listed item named or numbered by `spec`, found without listing them all.
bool FindItem(TunvexClient& c, const char* spec, std::optional<tunvex::ListEntry>* item) {
  unsigned long id = 0;
  if (AllDigits(spec) && ParseNumber(spec, 0xFFFF, &id)) return c.FindById(uint16_t(id), item);
  return c.FindByName(spec, item);
}

int PrintValues(TunvexClient& c, const tunvex::ListEntry& item, uint16_t first, uint16_t count, bool whole) {
  std::vector<tunvex::ParmRef> refs;
  for (uint32_t i = first; i < uint32_t(first) + count; ++i) refs.push_back({item.id, uint16_t(i)});
  std::vector<std::optional<std::string>> texts;
  bool pending = false;
  if (!c.Get(refs, &texts, &pending)) return Fail(c);
  bool allRead = true;
  std::string line = item.name;
  if (!whole) line += "[" + std::to_string(first) + "]";
  line += "=";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i) line += ",";
    if (texts[i]) {
      line += *texts[i];
    } else {
      line += "<err>";
      allRead = false;
    }
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (!allRead) {
    std::fprintf(stderr, "tunclient: some elements of %s could not be read\n", item.name.c_str());
    return 3;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  unsigned long port = tunvex::kDefaultPort;
  unsigned long timeout = 10000;
  if (const char* env = std::getenv("TUNVEX_PORT")) {
    if (!ParseNumber(env, 65535, &port) || port == 0) {
      std::fprintf(stderr, "tunclient: TUNVEX_PORT is not a port number: %s\n", env);
      return 2;
    }
  }
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    std::string opt = argv[i];
    if (opt == "--help" || opt == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (opt != "--host" && opt != "--port" && opt != "--timeout") return Usage("unknown option " + opt);
    if (i + 1 >= argc) return Usage(opt + " needs a value");
    const char* val = argv[++i];
    if (opt == "--host") {
      host = val;
    } else if (opt == "--port") {
      if (!ParseNumber(val, 65535, &port) || port == 0) return Usage("--port needs 1..65535");
    } else if (!ParseNumber(val, 3600000, &timeout) || timeout == 0) {
      return Usage("--timeout needs 1..3600000 ms");
    }
  }
  if (i >= argc) return Usage("a command is needed");
  std::string cmd = argv[i++];
  int rest = argc - i;
  char** args = argv + i;

  if (cmd != "version" && cmd != "list" && cmd != "apply" && cmd != "get" && cmd != "set")
    return Usage("unknown command " + cmd);
  if (!(cmd == "version" && rest == 0) && !(cmd == "list" && rest == 0) && !(cmd == "apply" && rest == 0) &&
      !(cmd == "get" && (rest == 1 || rest == 2)) && !(cmd == "set" && rest >= 3))
    return Usage("wrong arguments to " + cmd);

  TunvexClient c;
  c.SetTimeout(int(timeout));
  if (!c.Connect(host, uint16_t(port))) return Fail(c);

  if (cmd == "version") {
    std::string v;
    if (!c.Version(&v)) return Fail(c);
    std::printf("%s\n", v.c_str());
    return 0;
  }
  if (cmd == "apply") {
    bool pending = true;
    if (!c.Apply(&pending)) return Fail(c);
    if (pending) {
      std::fprintf(stderr, "tunclient: the camera did not apply the changes (still pending)\n");
      return 3;
    }
    std::printf("applied\n");
    return 0;
  }

  if (cmd == "list") {
    std::vector<tunvex::ListEntry> items;
    if (!c.ListAll(&items)) return Fail(c);
    for (const auto& e : items) std::printf("%u\t%u\t0x%02x\t%s\n", e.id, e.count, e.flags, e.name.c_str());
    return 0;
  }

  std::optional<tunvex::ListEntry> found;
  if (!FindItem(c, args[0], &found)) return Fail(c);
  if (!found) {
    std::fprintf(stderr, "tunclient: no item %s\n", args[0]);
    return 3;
  }
  const tunvex::ListEntry* item = &*found;
  unsigned long index = 0;
  if (cmd == "get") {
    if (rest == 1) return PrintValues(c, *item, 0, item->count, true);
    if (!ParseNumber(args[1], 0xFFFF, &index) || index >= item->count) {
      std::fprintf(stderr, "tunclient: %s has %u elements; no element %s\n", item->name.c_str(), item->count, args[1]);
      return 3;
    }
    return PrintValues(c, *item, uint16_t(index), 1, false);
  }

  // set ITEM INDEX TEXT...
  size_t texts = size_t(rest - 2);
  if (!ParseNumber(args[1], 0xFFFF, &index) || index + texts > item->count) {
    std::fprintf(stderr, "tunclient: %s has %u elements; cannot write %zu from element %s\n", item->name.c_str(),
                 item->count, texts, args[1]);
    return 3;
  }
  if (item->id == 0) {
    std::fprintf(stderr, "tunclient: %s is read-only\n", item->name.c_str());
    return 3;
  }
  std::vector<tunvex::ParmWrite> writes;
  for (size_t k = 0; k < texts; ++k) {
    if (std::strlen(args[2 + k]) > tunvex::kParmsRequestMax - 7) {
      std::fprintf(stderr, "tunclient: value text too long\n");
      return 2;
    }
    writes.push_back({item->id, uint16_t(index + k), args[2 + k]});
  }
  bool pending = false;
  if (!c.Set(writes, &pending)) return Fail(c);
  int rc = PrintValues(c, *item, uint16_t(index), uint16_t(texts), false);
  if (rc == 0) std::printf("changes pending: %s\n", pending ? "yes" : "no");
  return rc;
}
