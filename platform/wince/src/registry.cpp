// The registry: an in-memory tree loaded from the image's registry.d/*.reg seed at the
// first use. Nothing is written back to the seed.
#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "internal.h"

namespace cesim {
namespace {

struct Value {
  std::u16string name;   // as written
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct RegKey {
  std::u16string name;
  std::map<std::u16string, std::shared_ptr<RegKey>> subkeys;   // by lower-cased name
  std::map<std::u16string, Value> values;                       // by lower-cased name
  std::weak_ptr<RegKey> parent;
  bool deleted = false;
};

struct KeyHandle : KObject {
  KeyHandle(std::shared_ptr<RegKey> k, unsigned gen) : KObject(Kind::Key), key(std::move(k)), generation(gen) {}
  std::shared_ptr<RegKey> key;
  unsigned generation;
};

// The registry has its own lock; it never calls out while holding it.
std::mutex g_regLock;
bool g_loaded = false;
unsigned g_generation = 1;
std::map<uintptr_t, std::shared_ptr<RegKey>> g_roots;

const uintptr_t kRoots[] = {0x80000000u, 0x80000001u, 0x80000002u, 0x80000003u};

void SetValue(RegKey& k, const std::u16string& name, DWORD type, std::vector<BYTE> data) {
  Value v;
  v.name = name;
  v.type = type;
  v.data = std::move(data);
  k.values[LowerCase(name)] = std::move(v);
}

std::vector<std::u16string> SplitPath(std::u16string_view path) {
  std::vector<std::u16string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find(u'\\', i);
    if (j == std::u16string_view::npos) j = path.size();
    if (j > i) parts.emplace_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

std::shared_ptr<RegKey> Walk(std::shared_ptr<RegKey> from, std::u16string_view path, bool create, bool* created) {
  if (created) *created = false;
  for (const auto& part : SplitPath(path)) {
    auto lower = LowerCase(part);
    auto it = from->subkeys.find(lower);
    if (it == from->subkeys.end()) {
      if (!create) return nullptr;
      auto k = std::make_shared<RegKey>();
      k->name = part;
      k->parent = from;
      from->subkeys[lower] = k;
      if (created) *created = true;
      from = k;
    } else {
      from = it->second;
    }
  }
  return from;
}

void MarkDeleted(RegKey& k) {
  k.deleted = true;
  for (auto& [n, s] : k.subkeys) MarkDeleted(*s);
}

// ---------------------------------------------------------------------------
// The .reg seed syntax:
//   [HKEY_LOCAL_MACHINE\Path]   [-HKEY_...\Path] deletes the key
//   "Name"="text"  @="default"  "Name"=dword:0000000a  "Name"=hex:01,02
//   "Name"=hex(7):..  (typed bytes)  "Name"=multi_sz:"a","b"  "Name"=-  (delete)
//   ; comments, REGEDIT4 header, hex values continued with a trailing backslash.
// A bad line is reported with its file and line and skipped; a bad key line
// also drops the values under it, so that none lands in the wrong key.
// ---------------------------------------------------------------------------
std::shared_ptr<RegKey> RootByName(std::u16string_view name) {
  static const struct {
    const char16_t* n;
    uintptr_t v;
  } roots[] = {{u"hkey_classes_root", 0x80000000u}, {u"hkcr", 0x80000000u},   {u"hkey_current_user", 0x80000001u},
               {u"hkcu", 0x80000001u},             {u"hkey_local_machine", 0x80000002u}, {u"hklm", 0x80000002u},
               {u"hkey_users", 0x80000003u},         {u"hku", 0x80000003u}};
  auto lower = LowerCase(name);
  for (const auto& r : roots)
    if (lower == r.n) return g_roots[r.v];
  return nullptr;
}

bool ParseQuoted(std::u16string_view s, size_t& i, std::u16string* out) {
  if (i >= s.size() || s[i] != u'"') return false;
  ++i;
  out->clear();
  while (i < s.size() && s[i] != u'"') {
    if (s[i] == u'\\' && i + 1 < s.size()) ++i;
    *out += s[i++];
  }
  if (i >= s.size()) return false;
  ++i;
  return true;
}

std::vector<BYTE> WideBytes(const std::u16string& s) {
  std::vector<BYTE> b;
  for (char16_t c : s) {
    b.push_back(static_cast<BYTE>(c & 0xFF));
    b.push_back(static_cast<BYTE>(c >> 8));
  }
  b.push_back(0);
  b.push_back(0);
  return b;
}

void Trim(std::u16string& s) {
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t' || s.back() == u'\r')) s.pop_back();
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  s.erase(0, i);
}

bool HasNul(std::u16string_view s) { return s.find(u'\0') != std::u16string_view::npos; }

// ---- The value forms: each turns the text after '=' into a type and bytes,
// or names what is wrong with it.
struct ParsedValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};
typedef const char* (*ValueParser)(std::u16string_view text, ParsedValue* out);

// A string ends at its first NUL when read: one inside would cut it short.
const char* ParseString(std::u16string_view text, ParsedValue* out) {
  std::u16string s;
  size_t k = 0;
  if (!ParseQuoted(text, k, &s)) return "unterminated string";
  if (HasNul(s)) return "NUL character in a string value";
  *out = {REG_SZ, WideBytes(s)};
  return nullptr;
}

const char* ParseDword(std::u16string_view text, ParsedValue* out) {
  std::string hex = Narrow(text.substr(6));
  char* end = nullptr;
  unsigned long v = std::strtoul(hex.c_str(), &end, 16);
  if (hex.empty() || (end && *end != '\0' && *end != ' ' && *end != ';')) return "bad dword";
  DWORD d = static_cast<DWORD>(v);
  out->type = REG_DWORD;
  out->bytes.resize(4);
  std::memcpy(out->bytes.data(), &d, 4);
  return nullptr;
}

// An empty or NUL-holding string would end the list early when read.
const char* ParseMultiSz(std::u16string_view text, ParsedValue* out) {
  out->type = REG_MULTI_SZ;
  out->bytes.clear();
  size_t k = 9;
  while (k < text.size()) {
    while (k < text.size() && (text[k] == u' ' || text[k] == u',')) ++k;
    if (k >= text.size()) break;
    std::u16string s;
    if (!ParseQuoted(text, k, &s)) return "bad multi_sz";
    if (HasNul(s)) return "NUL character in a multi_sz string";
    auto w = WideBytes(s);
    out->bytes.insert(out->bytes.end(), w.begin(), w.end());
  }
  out->bytes.push_back(0);
  out->bytes.push_back(0);
  return nullptr;
}

const char* ParseHex(std::u16string_view text, ParsedValue* out) {
  out->type = REG_BINARY;
  out->bytes.clear();
  size_t k = 3;
  if (k < text.size() && text[k] == u'(') {
    size_t close = text.find(u')', k);
    if (close == std::u16string_view::npos) return "bad hex type";
    out->type = static_cast<DWORD>(std::strtoul(Narrow(text.substr(k + 1, close - k - 1)).c_str(), nullptr, 16));
    k = close + 1;
  }
  if (k >= text.size() || text[k] != u':') return "bad hex value";
  std::stringstream in(Narrow(text.substr(k + 1)));
  std::string item;
  while (std::getline(in, item, ',')) {
    item.erase(std::remove_if(item.begin(), item.end(), [](char c) { return c == ' ' || c == '\t'; }), item.end());
    if (item.empty()) continue;
    char* end = nullptr;
    unsigned long v = std::strtoul(item.c_str(), &end, 16);
    if (*end != '\0' || v > 0xFF) return "bad hex byte";
    out->bytes.push_back(static_cast<BYTE>(v));
  }
  return nullptr;
}

// By the start of the text, in lower case.
const struct {
  const char16_t* prefix;
  ValueParser parse;
} kValueForms[] = {
    {u"\"", ParseString},
    {u"dword:", ParseDword},
    {u"multi_sz:", ParseMultiSz},
    {u"hex", ParseHex},
};

// ---- One seed file, line by line.
class SeedReader {
 public:
  explicit SeedReader(std::string shown) : m_shown(std::move(shown)) {}

  // The one transition function: a line moves the reader between its states.
  void Take(std::u16string line, int lineNo) {
    Trim(line);
    if (m_state == State::kContinued) {
      line = m_pending + line;
      lineNo = m_pendingLine;
      m_state = m_key ? State::kInKey : State::kOutsideKey;
    }
    if (ContinuesOnNextLine(line)) {
      line.pop_back();
      m_pending = std::move(line);
      m_pendingLine = lineNo;
      m_state = State::kContinued;
      return;
    }
    if (line.empty() || line[0] == u';' || line[0] == u'#' || line == u"REGEDIT4" ||
        line.rfind(u"Windows Registry Editor", 0) == 0)
      return;
    if (line[0] == u'[') {
      m_key = KeyLine(line, lineNo);
      m_state = m_key ? State::kInKey : State::kOutsideKey;
      return;
    }
    if (m_state == State::kOutsideKey) {
      Error(lineNo, "value outside a key");
      return;
    }
    ValueLine(line, lineNo);
  }

  // A value continued past the last line is taken as it stands.
  void End(int lineNo) {
    if (m_state == State::kContinued) Take(u"", lineNo);
  }

 private:
  enum class State : uint8_t {
    kOutsideKey,  // before the first key, or after a deleted or bad one: values are errors
    kInKey,       // values land in m_key
    kContinued,   // a hex value goes on in the next line
  };

  bool ContinuesOnNextLine(const std::u16string& line) const {
    if (line.empty() || line.back() != u'\\') return false;
    return line.find(u'=') != std::u16string::npos && LowerCase(line).find(u"hex") != std::u16string::npos;
  }

  void Error(int lineNo, const char* what) {
    NKDbgPrintfW(u"registry seed %hs line %d: %hs; line ignored\r\n", m_shown.c_str(), lineNo, what);
  }

  // The key a key line opens; null for a deleted or bad one.
  std::shared_ptr<RegKey> KeyLine(const std::u16string& line, int lineNo) {
    size_t close = line.rfind(u']');
    if (close == std::u16string::npos) {
      Error(lineNo, "unterminated key name");
      return nullptr;
    }
    std::u16string path = line.substr(1, close - 1);
    // Key names end at a NUL when opened: "a<NUL>b" would be reached as "a".
    if (HasNul(path)) {
      Error(lineNo, "NUL character in a key name");
      return nullptr;
    }
    bool remove = !path.empty() && path[0] == u'-';
    if (remove) path.erase(0, 1);
    size_t slash = path.find(u'\\');
    auto root = RootByName(path.substr(0, slash));
    if (!root) {
      Error(lineNo, "unknown root key");
      return nullptr;
    }
    std::u16string rest = slash == std::u16string::npos ? u"" : path.substr(slash + 1);
    if (!remove) return Walk(root, rest, true, nullptr);
    auto parts = SplitPath(rest);
    if (parts.empty()) return nullptr;
    std::u16string parentPath;
    for (size_t i = 0; i + 1 < parts.size(); ++i) parentPath += parts[i] + u"\\";
    if (auto parent = Walk(root, parentPath, false, nullptr)) {
      auto it = parent->subkeys.find(LowerCase(parts.back()));
      if (it != parent->subkeys.end()) {
        MarkDeleted(*it->second);
        parent->subkeys.erase(it);
      }
    }
    return nullptr;
  }

  void ValueLine(const std::u16string& line, int lineNo) {
    std::u16string name;
    size_t i = 0;
    if (line[0] == u'@') {
      i = 1;
    } else if (!ParseQuoted(line, i, &name)) {
      Error(lineNo, "bad value name");
      return;
    }
    // Names end at a NUL when asked for: the value could never be found (and
    // "<NUL>" would shadow the default value).
    if (HasNul(name)) {
      Error(lineNo, "NUL character in a value name");
      return;
    }
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i >= line.size() || line[i] != u'=') {
      Error(lineNo, "missing '='");
      return;
    }
    ++i;
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
    std::u16string_view text = std::u16string_view(line).substr(i);
    if (text == u"-") {
      m_key->values.erase(LowerCase(name));
      return;
    }
    std::u16string lower = LowerCase(text);
    for (const auto& form : kValueForms) {
      if (lower.rfind(form.prefix, 0) != 0) continue;
      ParsedValue v;
      if (const char* error = form.parse(text, &v)) {
        Error(lineNo, error);
        return;
      }
      SetValue(*m_key, name, v.type, std::move(v.bytes));
      return;
    }
    Error(lineNo, "unknown value form");
  }

  std::string m_shown;
  State m_state = State::kOutsideKey;
  std::shared_ptr<RegKey> m_key;
  std::u16string m_pending;
  int m_pendingLine = 0;
};

void LoadSeedFile(const std::string& path, const std::string& shown) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return;
  std::stringstream ss;
  ss << f.rdbuf();
  std::string text = ss.str();
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF) text.erase(0, 3);   // UTF-8 mark
  std::u16string all = Widen(text);
  SeedReader reader(shown);
  int lineNo = 0;
  for (size_t pos = 0; pos <= all.size();) {
    size_t nl = all.find(u'\n', pos);
    if (nl == std::u16string::npos) nl = all.size();
    reader.Take(all.substr(pos, nl - pos), ++lineNo);
    pos = nl + 1;
  }
  reader.End(lineNo);
}

void LoadLocked() {
  if (g_loaded) return;
  g_loaded = true;
  g_roots.clear();
  for (uintptr_t r : kRoots) g_roots[r] = std::make_shared<RegKey>();
  std::string dir = ImageRoot() + "/registry.d";
  std::vector<std::string> files;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 4 && LowerCaseAscii(n.substr(n.size() - 4)) == ".reg") files.push_back(n);
    }
    ::closedir(d);
  }
  std::sort(files.begin(), files.end());
  for (const auto& f : files) LoadSeedFile(dir + "/" + f, f);
}

// The key behind an HKEY (root or opened handle); null when not valid. Under g_regLock.
std::shared_ptr<RegKey> KeyOf(HKEY h) {
  LoadLocked();
  auto v = reinterpret_cast<uintptr_t>(h);
  auto r = g_roots.find(v);
  if (r != g_roots.end()) return r->second;
  auto kh = FindAs<KeyHandle>(reinterpret_cast<HANDLE>(h), Kind::Key);
  if (!kh || kh->generation != g_generation || kh->key->deleted) return nullptr;
  return kh->key;
}

size_t WideNameLen(LPCWSTR s) { return s ? wcslen(s) : 0; }

}  // namespace

void RegistryImageChanged() {
  std::lock_guard<std::mutex> lk(g_regLock);
  g_loaded = false;
  ++g_generation;
}

LONG CloseKeyHandle(HKEY h) { return RegCloseKey(h); }

}  // namespace cesim

using namespace cesim;

extern "C" {

BOOL CeSimReloadRegistry(void) {
  RegistryImageChanged();
  return TRUE;
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD /*options*/, REGSAM /*access*/, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::lock_guard<std::mutex> lk(g_regLock);
  auto k = KeyOf(key);
  if (!k) return ERROR_INVALID_HANDLE;
  auto target = Walk(k, std::u16string_view(subKey ? subKey : u"", WideNameLen(subKey)), false, nullptr);
  if (!target) return ERROR_FILE_NOT_FOUND;
  *result = static_cast<HKEY>(AddHandle(std::make_shared<KeyHandle>(target, g_generation)));
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY result,
                     LPDWORD disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::lock_guard<std::mutex> lk(g_regLock);
  auto k = KeyOf(key);
  if (!k) return ERROR_INVALID_HANDLE;
  bool created = false;
  auto target = Walk(k, std::u16string_view(subKey ? subKey : u"", WideNameLen(subKey)), true, &created);
  *result = static_cast<HKEY>(AddHandle(std::make_shared<KeyHandle>(target, g_generation)));
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lk(g_regLock);
  auto k = KeyOf(key);
  if (!k) return ERROR_INVALID_HANDLE;
  auto it = k->values.find(LowerCase(valueName ? valueName : u""));
  if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
  const Value& v = it->second;
  if (type) *type = v.type;
  DWORD need = static_cast<DWORD>(v.data.size());
  if (data == nullptr) {
    if (dataSize) *dataSize = need;
    return ERROR_SUCCESS;
  }
  if (*dataSize < need) {
    *dataSize = need;
    return ERROR_MORE_DATA;
  }
  if (need) std::memcpy(data, v.data.data(), need);
  *dataSize = need;
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  if (type == REG_DWORD && dataSize != 4) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lk(g_regLock);
  auto k = KeyOf(key);
  if (!k) return ERROR_INVALID_HANDLE;
  std::vector<BYTE> b(data, data + dataSize);
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    // A string stored without its NUL would come back unterminated: add one.
    if (b.size() % 2) b.push_back(0);
    if (b.size() < 2 || b[b.size() - 1] != 0 || b[b.size() - 2] != 0) {
      b.push_back(0);
      b.push_back(0);
    }
  }
  SetValue(*k, valueName ? valueName : u"", type, std::move(b));
  return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  std::lock_guard<std::mutex> lk(g_regLock);
  auto k = KeyOf(key);
  if (!k) return ERROR_INVALID_HANDLE;
  if (k->values.erase(LowerCase(valueName ? valueName : u"")) == 0) return ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  if (subKey == nullptr || subKey[0] == 0) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lk(g_regLock);
  auto k = KeyOf(key);
  if (!k) return ERROR_INVALID_HANDLE;
  auto target = Walk(k, std::u16string_view(subKey, wcslen(subKey)), false, nullptr);
  if (!target) return ERROR_FILE_NOT_FOUND;
  auto parent = target->parent.lock();
  if (!parent) return ERROR_ACCESS_DENIED;   // a root key
  parent->subkeys.erase(LowerCase(target->name));
  MarkDeleted(*target);
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD, LPWSTR, LPDWORD, void*) {
  if (name == nullptr || nameChars == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lk(g_regLock);
  auto k = KeyOf(key);
  if (!k) return ERROR_INVALID_HANDLE;
  if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = k->subkeys.begin();
  std::advance(it, index);
  const std::u16string& n = it->second->name;
  if (*nameChars < n.size() + 1) {
    *nameChars = static_cast<DWORD>(n.size() + 1);
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, n.c_str(), (n.size() + 1) * sizeof(WCHAR));
  *nameChars = static_cast<DWORD>(n.size());
  return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize) {
  if (name == nullptr || nameChars == nullptr || (data != nullptr && dataSize == nullptr))
    return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lk(g_regLock);
  auto k = KeyOf(key);
  if (!k) return ERROR_INVALID_HANDLE;
  if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
  auto it = k->values.begin();
  std::advance(it, index);
  const Value& v = it->second;
  if (*nameChars < v.name.size() + 1) {
    *nameChars = static_cast<DWORD>(v.name.size() + 1);
    return ERROR_MORE_DATA;
  }
  if (data != nullptr && *dataSize < v.data.size()) {
    *dataSize = static_cast<DWORD>(v.data.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, v.name.c_str(), (v.name.size() + 1) * sizeof(WCHAR));
  *nameChars = static_cast<DWORD>(v.name.size());
  if (type) *type = v.type;
  if (data != nullptr && !v.data.empty()) std::memcpy(data, v.data.data(), v.data.size());
  if (dataSize) *dataSize = static_cast<DWORD>(v.data.size());
  return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY key) {
  std::lock_guard<std::mutex> lk(g_regLock);
  return KeyOf(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegCloseKey(HKEY key) {
  auto v = reinterpret_cast<uintptr_t>(key);
  if (v >= 0x80000000u && v <= 0x80000003u) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> lk(KernelLock());
  auto kh = FindAsLocked<KeyHandle>(reinterpret_cast<HANDLE>(key), Kind::Key);
  if (!kh) return ERROR_INVALID_HANDLE;
  RemoveHandleLocked(reinterpret_cast<HANDLE>(key));
  return ERROR_SUCCESS;
}

}  // extern "C"
