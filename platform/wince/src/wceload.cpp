// The system's CAB installer, wceload: unpacks an install cabinet and applies the
// provisioning document "_setup.xml" it carries.
//
// The cabinet is unpacked by Debian's cabextract (gcab when cabextract is missing) into
// a scratch folder, so a corrupt or truncated cabinet changes nothing. The document is
// then checked whole before anything moves: every file must be in the cabinet and have a
// place to go. Files are first copied beside their targets and renamed over them only
// when all copies are in place; registry values come last, so that a package version is
// never recorded for files that were not installed.
//
// The document understood (a subset of the device's provisioning format):
//   <wap-provisioningdoc>
//     <characteristic type="FileOperation">
//       <characteristic type="%CE2%" translation="install">      (a folder; %CE2% is \Windows)
//         <characteristic type="MakeDir" />
//         <characteristic type="Plindor.dll" translation="install">
//           <characteristic type="Extract"><parm name="Source" value="Plindor.dll" /></characteristic>
//         </characteristic>
//       </characteristic>
//     </characteristic>
//     <characteristic type="Registry">
//       <characteristic type="HKLM\Drivers\BuiltIn\Hotfix">
//         <parm name="CameraDLL_version" value="20091208-00" datatype="string" />
//       </characteristic>
//     </characteristic>
//   </wap-provisioningdoc>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "internal.h"
#include "wince_app_sim.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

enum WceloadExit : DWORD {
  kInstalled = 0,
  kBadCommandLine = 1,
  kBadCabinet = 2,
  kBadDocument = 3,
  kFileNotPlaced = 4,
  kRegistryNotSet = 5,
};

void Log(const std::string& line) { cesim::DebugLine("wceload: " + line); }

// ---- the document ----------------------------------------------------------------

struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::vector<Element> children;
  std::string Attribute(const std::string& n) const {
    auto it = attributes.find(n);
    return it == attributes.end() ? std::string() : it->second;
  }
};

// A small XML reader: elements, attributes, comments, the declaration and the five
// entities; text between elements is ignored. False on anything malformed.
class XmlReader {
 public:
  explicit XmlReader(std::string text) : s_(std::move(text)) {}

  bool ReadDocument(Element* root) {
    SkipMisc();
    if (!ReadElement(root, 0)) return false;
    SkipMisc();
    return pos_ == s_.size();
  }

 private:
  bool ReadElement(Element* e, int depth) {
    if (depth > 32 || !Eat('<')) return false;
    e->name = Name();
    if (e->name.empty()) return false;
    for (;;) {
      SkipSpace();
      if (Eat('/')) return Eat('>');
      if (Eat('>')) break;
      std::string attr = Name();
      SkipSpace();
      if (attr.empty() || !Eat('=')) return false;
      SkipSpace();
      if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) return false;
      char quote = s_[pos_++];
      size_t end = s_.find(quote, pos_);
      if (end == std::string::npos) return false;
      std::string value;
      if (!Unescape(s_.substr(pos_, end - pos_), &value)) return false;
      pos_ = end + 1;
      e->attributes[attr] = value;
    }
    for (;;) {
      size_t lt = s_.find('<', pos_);
      if (lt == std::string::npos) return false;
      pos_ = lt;
      if (s_.compare(pos_, 4, "<!--") == 0) {
        if (!SkipComment()) return false;
      } else if (s_.compare(pos_, 2, "</") == 0) {
        pos_ += 2;
        if (Name() != e->name) return false;
        SkipSpace();
        return Eat('>');
      } else {
        e->children.emplace_back();
        if (!ReadElement(&e->children.back(), depth + 1)) return false;
      }
    }
  }

  static bool Unescape(const std::string& in, std::string* out) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (size_t i = 0; i < in.size();) {
      if (in[i] != '&') {
        out->push_back(in[i++]);
        continue;
      }
      bool known = false;
      for (const auto& [text, c] : kEntities) {
        if (in.compare(i, std::strlen(text), text) == 0) {
          out->push_back(c);
          i += std::strlen(text);
          known = true;
          break;
        }
      }
      if (!known) return false;
    }
    return true;
  }

  void SkipMisc() {
    for (;;) {
      SkipSpace();
      if (s_.compare(pos_, 2, "<?") == 0) {
        size_t end = s_.find("?>", pos_);
        pos_ = end == std::string::npos ? s_.size() : end + 2;
      } else if (s_.compare(pos_, 4, "<!--") == 0) {
        if (!SkipComment()) return;
      } else {
        return;
      }
    }
  }
  bool SkipComment() {
    size_t end = s_.find("-->", pos_);
    if (end == std::string::npos) return false;
    pos_ = end + 3;
    return true;
  }
  void SkipSpace() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  bool Eat(char c) {
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::string Name() {
    size_t start = pos_;
    while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '-' ||
                                s_[pos_] == '_' || s_[pos_] == ':' || s_[pos_] == '.'))
      ++pos_;
    return s_.substr(start, pos_ - start);
  }

  std::string s_;
  size_t pos_ = 0;
};

// ---- what the document asks for --------------------------------------------------

struct FilePlacement {
  std::string source;      // host path in the scratch folder
  std::string target;      // host path in the image
  std::string deviceName;  // for the log
};

struct RegistryValue {
  HKEY root;
  std::u16string key;
  std::u16string name;
  DWORD type;
  std::u16string text;     // REG_SZ
  DWORD number = 0;        // REG_DWORD
};

struct Plan {
  std::vector<std::string> folders;   // host paths to make
  std::vector<FilePlacement> files;
  std::vector<RegistryValue> values;
};

std::u16string DeviceFolder(const std::string& type) {
  if (type == "%CE2%") return u"\\Windows";
  if (type == "%CE1%") return u"\\Program Files";
  if (!type.empty() && type[0] == '\\') return cesim::Widen(type);
  return u"";
}

// A plain file name: no folder part, nothing that climbs out of its folder.
bool PlainName(const std::string& n) {
  return !n.empty() && n.find_first_of("\\/:") == std::string::npos && n != "." && n != "..";
}

bool ReadFileOperations(const Element& op, const std::string& scratch, Plan* plan) {
  for (const Element& folder : op.children) {
    if (folder.name != "characteristic") return false;
    std::u16string device = DeviceFolder(folder.Attribute("type"));
    std::string host = device.empty() ? "" : CeSimHostPath(device);
    if (host.empty()) {
      Log("no folder for \"" + folder.Attribute("type") + "\"");
      return false;
    }
    for (const Element& item : folder.children) {
      std::string type = item.Attribute("type");
      if (item.name != "characteristic") return false;
      if (type == "MakeDir") {
        plan->folders.push_back(host);
        continue;
      }
      if (!PlainName(type)) {
        Log("bad file name \"" + type + "\"");
        return false;
      }
      std::string source;
      for (const Element& extract : item.children)
        if (extract.Attribute("type") == "Extract")
          for (const Element& parm : extract.children)
            if (parm.name == "parm" && parm.Attribute("name") == "Source") source = parm.Attribute("value");
      if (!PlainName(source)) {
        Log("no source for \"" + type + "\"");
        return false;
      }
      plan->files.push_back(FilePlacement{scratch + "/" + source, host + "/" + type,
                                          cesim::Narrow(device) + "\\" + type});
    }
  }
  return true;
}

bool ReadRegistry(const Element& reg, Plan* plan) {
  for (const Element& key : reg.children) {
    std::string path = key.Attribute("type");
    HKEY root = nullptr;
    std::string sub;
    for (const auto& [prefix, h] : {std::pair<const char*, HKEY>{"HKLM\\", HKEY_LOCAL_MACHINE},
                                    std::pair<const char*, HKEY>{"HKCU\\", HKEY_CURRENT_USER}}) {
      if (path.compare(0, std::strlen(prefix), prefix) == 0) {
        root = h;
        sub = path.substr(std::strlen(prefix));
      }
    }
    if (key.name != "characteristic" || root == nullptr || sub.empty()) {
      Log("bad registry key \"" + path + "\"");
      return false;
    }
    for (const Element& parm : key.children) {
      if (parm.name != "parm" || parm.Attribute("name").empty()) return false;
      RegistryValue v{root, cesim::Widen(sub), cesim::Widen(parm.Attribute("name")), REG_SZ, {}, 0};
      std::string type = parm.Attribute("datatype");
      std::string value = parm.Attribute("value");
      if (type == "string" || type.empty()) {
        v.text = cesim::Widen(value);
      } else if (type == "integer") {
        char* end = nullptr;
        errno = 0;
        unsigned long long n = std::strtoull(value.c_str(), &end, 10);
        if (value.empty() || *end != 0 || errno != 0 || n > 0xFFFFFFFFull) return false;
        v.type = REG_DWORD;
        v.number = static_cast<DWORD>(n);
      } else {
        Log("unknown data type \"" + type + "\"");
        return false;
      }
      plan->values.push_back(std::move(v));
    }
  }
  return true;
}

bool ReadPlan(const std::string& scratch, Plan* plan) {
  std::ifstream f(scratch + "/_setup.xml", std::ios::binary);
  if (!f) {
    Log("the cabinet has no _setup.xml");
    return false;
  }
  std::ostringstream text;
  text << f.rdbuf();
  Element root;
  if (!XmlReader(text.str()).ReadDocument(&root) || root.name != "wap-provisioningdoc") {
    Log("_setup.xml is not a provisioning document");
    return false;
  }
  for (const Element& section : root.children) {
    std::string type = section.Attribute("type");
    bool ok = true;
    if (type == "FileOperation") {
      ok = ReadFileOperations(section, scratch, plan);
    } else if (type == "Registry") {
      ok = ReadRegistry(section, plan);
    }   // other sections (Install and the like) describe the package only
    if (!ok) return false;
  }
  return true;
}

// ---- unpacking and placing --------------------------------------------------------

// Runs a tool with its output discarded; its exit status, or -1 when it cannot start.
int RunTool(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

bool Unpack(const std::string& cabinet, const std::string& scratch) {
  int rc = RunTool({"cabextract", "-q", "-d", scratch, cabinet});
  if (rc == -1) rc = RunTool({"gcab", "-x", "-C", scratch, cabinet});
  return rc == 0;
}

// The scratch folder goes with the installation, whatever its outcome.
struct ScratchFolder {
  std::string path;
  ScratchFolder() {
    std::string tmpl = (fs::temp_directory_path() / "wceload-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) path = tmpl;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

// Copies staged beside their targets; whatever was not committed is removed.
struct StagedFiles {
  std::vector<std::pair<std::string, std::string>> staged;   // copy, target
  size_t committed = 0;
  ~StagedFiles() {
    std::error_code ec;
    for (size_t i = committed; i < staged.size(); ++i) fs::remove(staged[i].first, ec);
  }
};

bool PlaceFiles(const Plan& plan) {
  std::error_code ec;
  for (const auto& folder : plan.folders) fs::create_directories(folder, ec);
  for (const auto& f : plan.files) {
    if (!fs::is_regular_file(f.source, ec)) {
      Log("the cabinet does not hold " + fs::path(f.source).filename().string());
      return false;
    }
    if (fs::exists(f.target, ec) && !fs::is_regular_file(f.target, ec)) {
      Log("cannot replace " + f.deviceName);
      return false;
    }
  }
  StagedFiles staging;
  for (const auto& f : plan.files) {
    std::string copy = f.target + ".wceload-new";
    staging.staged.emplace_back(copy, f.target);
    if (!fs::copy_file(f.source, copy, fs::copy_options::overwrite_existing, ec)) {
      Log("cannot write " + f.deviceName + ": " + ec.message());
      return false;
    }
  }
  for (auto& [copy, target] : staging.staged) {
    fs::rename(copy, target, ec);
    if (ec) {
      Log("cannot place " + target + ": " + ec.message());
      return false;
    }
    ++staging.committed;
  }
  return true;
}

bool SetValues(const Plan& plan) {
  for (const auto& v : plan.values) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(v.root, v.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) {
      if (v.type == REG_DWORD) {
        rc = RegSetValueExW(key, v.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.number), 4);
      } else {
        rc = RegSetValueExW(key, v.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()),
                            static_cast<DWORD>((v.text.size() + 1) * sizeof(WCHAR)));
      }
      RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS) {
      Log("cannot set " + cesim::Narrow(v.key) + "\\" + cesim::Narrow(v.name));
      return false;
    }
  }
  return true;
}

// The command line's words; a quoted word may hold spaces ("\Program Files\x.cab").
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    std::string w;
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      w = line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
      i = end == std::string::npos ? line.size() : end + 1;
    } else {
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) w += line[i++];
    }
    if (!w.empty()) out.push_back(w);
  }
  return out;
}

}  // namespace

extern "C" DWORD CeSimWceload(const WCHAR* commandLine) {
  std::u16string cabinet;
  for (const std::string& w : Words(cesim::Narrow(commandLine != nullptr ? commandLine : u""))) {
    if (w[0] == '/') continue;   // /noui, /silent: there is no user interface anyway
    if (!cabinet.empty()) {
      Log("more than one cabinet named");
      return kBadCommandLine;
    }
    cabinet = cesim::Widen(w);
  }
  std::string host = cabinet.empty() ? "" : CeSimHostPath(cabinet);
  if (host.empty()) {
    Log("no cabinet named");
    return kBadCommandLine;
  }
  ScratchFolder scratch;
  if (scratch.path.empty() || !Unpack(host, scratch.path)) {
    Log("the cabinet " + cesim::Narrow(cabinet) + " is missing, corrupt or truncated");
    return kBadCabinet;
  }
  Plan plan;
  if (!ReadPlan(scratch.path, &plan)) return kBadDocument;
  if (!PlaceFiles(plan)) return kFileNotPlaced;
  if (!SetValues(plan)) return kRegistryNotSet;
  Log("installed " + cesim::Narrow(cabinet) + " (" + std::to_string(plan.files.size()) + " files)");
  return kInstalled;
}
