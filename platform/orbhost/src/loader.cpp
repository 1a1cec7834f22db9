// Start-up, the module information files and the module loader.
//
// Modules are mapped on the first creation of one of their classes and stay mapped
// for the life of the process: objects they made may outlive any stop of the host.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <elf.h>
#include <link.h>  // ElfW: this build's own ELF class
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "internal.h"
#include "mif.h"
#include "orbhost.h"
#include "orbhost_test.h"
#include "wince_sim.h"

namespace orbhost {

StartupScript ParseStartupScript(std::string_view text, const char* shown) {
  StartupScript out;
  std::istringstream in{std::string(text)};
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    auto trim = [](std::string s) {
      size_t b = s.find_first_not_of(" \t\r\n");
      size_t e = s.find_last_not_of(" \t\r\n");
      return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
    };
    std::string t = trim(line);
    if (t.empty() || t[0] == '#') continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos) {
      Log("%s line %d: no \"=\"; ignored", shown, number);
      continue;
    }
    std::string key = trim(t.substr(0, eq));
    std::string value = trim(t.substr(eq + 1));
    if (strcasecmp(key.c_str(), "ModuleDirectory") == 0) {
      out.moduleDirectory = value;
    } else if (strcasecmp(key.c_str(), "FileSpaceRoot") == 0) {
      out.fileSpaceRoot = value;
    } else {
      Log("%s line %d: unknown key \"%s\"; ignored", shown, number, key.c_str());
    }
  }
  return out;
}

namespace {

const char kDefaultScript[] = "\\device.cs";

struct Module {
  enum class State { kUnmapped, kMapping, kMapped, kFailed };
  std::string name;       // base name, as the .mif file spells it
  std::string imagePath;  // host path of the image
  std::vector<ZUEUID> classes;
  State state = State::kUnmapped;
  std::thread::id mapper;
  void* handle = nullptr;
  PvlModule* object = nullptr;  // one reference, kept for the process's life
  uint32_t mapCount = 0;
};

class Loader {
 public:
  PvlResult Initialize(const char* script) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_initialized) return PVL_OK;
    PvlResult r = ReadScript(script ? script : kDefaultScript);
    if (r != PVL_OK) return r;
    m_initialized = true;
    ScanLocked(m_scriptDirectory);
    return PVL_OK;
  }

  PvlResult SetDirectory(const char* hostDirectory) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!hostDirectory) {
      if (!m_initialized) {
        PvlResult r = ReadScript(kDefaultScript);
        if (r != PVL_OK) return r;
      }
      m_initialized = true;
      ScanLocked(m_scriptDirectory);
      return PVL_OK;
    }
    m_initialized = true;
    ScanLocked(hostDirectory);
    return PVL_OK;
  }

  PvlResult CreateInstance(ZUEUID clsid, void** out) {
    if (!m_initialized && !m_lazyTried.exchange(true)) {
      // Created before any start (a test, or a creation without an environment):
      // the default script, tried once.
      Initialize(nullptr);
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    auto it = m_classes.find(clsid);
    if (it == m_classes.end()) return PVL_E_NOTSUPPORTED;
    const std::vector<Module*> candidates = it->second;  // a rescan may replace the list
    bool unusable = false;
    for (Module* module : candidates) {
      if (!EnsureMapped(module, lock)) {
        unusable = true;
        continue;
      }
      PvlModule* object = module->object;
      lock.unlock();
      // The module gets the environment as its creation argument: its class switch
      // passes it on, and some create functions refuse a null one.
      PvlResult r = object->ops->CreateInstance(object, clsid, ProcessEnv(), out);
      if (r != PVL_E_NOTSUPPORTED) return r;
      *out = nullptr;
      lock.lock();  // listed but not made there: the next module that lists it
    }
    return unusable ? PVL_E_FAIL : PVL_E_NOTSUPPORTED;
  }

  bool IsMapped(const char* name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Module* m = Find(name);
    return m && m->state == Module::State::kMapped;
  }

  uint32_t MapCount(const char* name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Module* m = Find(name);
    return m ? m->mapCount : 0;
  }

  std::string FileSpaceRoot() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fileSpaceRoot;
  }

 private:
  // The start-up script: "Key=Value" lines; ModuleDirectory and FileSpaceRoot are
  // device paths.
  PvlResult ReadScript(const char* script) {
    std::string path = CeSimHostPath(CeSimWiden(script));
    std::ifstream in(path);
    if (path.empty() || !in) {
      Log("cannot read the start-up script \"%s\"", script);
      return PVL_E_NOTFOUND;
    }
    std::stringstream text;
    text << in.rdbuf();
    StartupScript parsed = ParseStartupScript(text.str(), script);
    const std::string& moduleDirectory = parsed.moduleDirectory;
    const std::string& fileSpaceRoot = parsed.fileSpaceRoot;
    m_scriptDirectory = CeSimHostPath(CeSimWiden(moduleDirectory));
    if (m_scriptDirectory.empty()) {
      Log("module directory \"%s\" does not map into the device", moduleDirectory.c_str());
      return PVL_E_BADARG;
    }
    m_fileSpaceRoot = fileSpaceRoot;
    return PVL_OK;
  }

  // Reads every .mif file of the directory (in name order, without regard to case)
  // and rebuilds the class table. Modules already known by their image keep their
  // state, so a mapped module is never mapped twice.
  void ScanLocked(const std::string& directory) {
    m_classes.clear();
    std::vector<std::string> names;
    if (DIR* dir = opendir(directory.c_str())) {
      while (dirent* e = readdir(dir)) {
        std::string n = e->d_name;
        if (n.size() > 4 && strcasecmp(n.c_str() + n.size() - 4, ".mif") == 0) names.push_back(n);
      }
      closedir(dir);
    } else {
      Log("cannot read the module directory \"%s\"", directory.c_str());
      return;
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
    for (const std::string& n : names) {
      std::string mifPath = directory + "/" + n;
      std::string base = n.substr(0, n.size() - 4);
      std::vector<uint8_t> bytes;
      MifInfo info;
      std::string why;
      if (!ReadFile(mifPath, &bytes, &why) || !ParseMif(bytes.data(), bytes.size(), &info, &why)) {
        Log("module information file \"%s\" refused: %s", n.c_str(), why.c_str());
        continue;
      }
      std::string image = FindImage(directory, base);
      if (image.empty()) {
        Log("module information file \"%s\" refused: no image \"%s.dll\" beside it", n.c_str(), base.c_str());
        continue;
      }
      Module* module = ModuleFor(base, image);
      module->classes = info.classes;
      for (ZUEUID clsid : info.classes) {
        auto& list = m_classes[clsid];
        if (!list.empty())
          Log("class 0x%08x is listed by \"%s\" and \"%s\"; they are tried in that order", clsid,
              list.front()->name.c_str(), module->name.c_str());
        if (std::find(list.begin(), list.end(), module) == list.end()) list.push_back(module);
      }
    }
  }

  static bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      *why = "cannot be read";
      return false;
    }
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0 || size > static_cast<std::streamoff>(kMifMaxSize)) {
      *why = "size " + std::to_string(static_cast<long long>(size)) + " out of range";
      return false;
    }
    in.seekg(0);
    bytes->resize(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes->data()), size)) {
      *why = "cannot be read";
      return false;
    }
    return true;
  }

  static std::string FindImage(const std::string& directory, const std::string& base) {
    std::string wanted = base + ".dll";
    std::string found;
    if (DIR* dir = opendir(directory.c_str())) {
      while (dirent* e = readdir(dir)) {
        if (strcasecmp(e->d_name, wanted.c_str()) == 0) {
          found = directory + "/" + e->d_name;
          break;
        }
      }
      closedir(dir);
    }
    return found;
  }

  Module* ModuleFor(const std::string& name, const std::string& image) {
    for (auto& m : m_modules)
      if (m->imagePath == image) return m.get();
    m_modules.push_back(std::make_unique<Module>());
    m_modules.back()->name = name;
    m_modules.back()->imagePath = image;
    return m_modules.back().get();
  }

  Module* Find(const char* name) {
    if (!name) return nullptr;
    for (auto& m : m_modules)
      if (strcasecmp(m->name.c_str(), name) == 0) return m.get();
    return nullptr;
  }

  // Maps and binds the module unless that happened already; waits while another
  // thread does it. The lock is not held while the module's own code runs.
  bool EnsureMapped(Module* module, std::unique_lock<std::mutex>& lock) {
    for (;;) {
      switch (module->state) {
        case Module::State::kMapped:
          return true;
        case Module::State::kFailed:
          return false;
        case Module::State::kMapping:
          if (module->mapper == std::this_thread::get_id()) {
            Log("module \"%s\" asked for one of its classes while it is being mapped", module->name.c_str());
            return false;
          }
          m_mapped.wait(lock);
          continue;
        case Module::State::kUnmapped:
          break;
      }
      module->state = Module::State::kMapping;
      module->mapper = std::this_thread::get_id();
      std::string image = module->imagePath;
      std::string name = module->name;
      lock.unlock();
      void* handle = nullptr;
      PvlModule* object = nullptr;
      bool ok = Map(name, image, &handle, &object);
      lock.lock();
      module->state = ok ? Module::State::kMapped : Module::State::kFailed;
      module->handle = handle;
      module->object = object;
      if (handle) module->mapCount++;
      m_mapped.notify_all();
      return ok;
    }
  }

  struct ResolveContext {
    uint32_t resolved = 0;
    std::string missing;
  };

  static int32_t Resolve(void* context, const char* name, void** slot) {
    auto* ctx = static_cast<ResolveContext*>(context);
    void* address = PvlHostSymbolAddress(name);
    if (!address || !slot) {
      ctx->missing = name ? name : "(null)";
      return 1;
    }
    *slot = address;
    ctx->resolved++;
    return 0;
  }

  // dlopen runs the image's constructors before ModImage_SymbolFixup can bind the host; a
  // global that allocates then reaches the unbound framework heap and the whole process
  // aborts. Such an image is refused before it is mapped. The C runtime's frame_dummy and
  // the sanitizers' initialisers (priorities below 101, reserved for the implementation)
  // touch no module code and are allowed.
  // Reads ranges of an image file: the check below needs its headers, its
  // section table, the constructor lists and the symbols they name, a small
  // part of an image that carries its debugging information.
  class ImageFile {
   public:
    explicit ImageFile(const std::string& path) : m_fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
      struct stat st {};
      if (m_fd >= 0 && fstat(m_fd, &st) == 0 && st.st_size > 0) m_size = uint64_t(st.st_size);
    }
    ~ImageFile() {
      if (m_fd >= 0) close(m_fd);
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    uint64_t Size() const { return m_size; }
    bool Inside(uint64_t offset, uint64_t length) const { return offset <= m_size && length <= m_size - offset; }
    bool Read(uint64_t offset, void* to, size_t length) const {
      if (!Inside(offset, length)) return false;
      char* p = static_cast<char*>(to);
      while (length > 0) {
        const ssize_t n = pread(m_fd, p, length, off_t(offset));
        if (n <= 0) return false;
        p += n;
        offset += uint64_t(n);
        length -= size_t(n);
      }
      return true;
    }
    // The string at `at` of a string table, ending at its NUL or at the table's end.
    template <typename Shdr>
    std::string Text(const Shdr& table, uint64_t at) const {
      if (at >= table.sh_size || !Inside(table.sh_offset, table.sh_size)) return std::string();
      std::string out;
      char chunk[256];
      uint64_t left = table.sh_size - at, offset = table.sh_offset + at;
      while (left > 0) {
        const size_t n = size_t(std::min<uint64_t>(left, sizeof chunk));
        if (!Read(offset, chunk, n)) break;
        const size_t len = strnlen(chunk, n);
        out.append(chunk, len);
        if (len < n) break;
        offset += n;
        left -= n;
      }
      return out;
    }

   private:
    int m_fd;
    uint64_t m_size = 0;
  };

  static bool ConstructorsAllowed(const std::string& image, std::string* why) {
    const ImageFile file(image);
    using Ehdr = ElfW(Ehdr);
    using Shdr = ElfW(Shdr);
    using Sym = ElfW(Sym);
    using Addr = ElfW(Addr);
    const unsigned char ownClass = sizeof(Addr) == 4 ? ELFCLASS32 : ELFCLASS64;
    Ehdr eh{};
    if (file.Size() > (uint64_t(1) << 30) || !file.Read(0, &eh, sizeof eh) ||
        std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ownClass) {
      return true;  // not an image of this machine: dlopen says why
    }
    std::vector<Shdr> sections(eh.e_shnum);
    if (eh.e_shentsize != sizeof(Shdr) || !file.Inside(eh.e_shoff, uint64_t(eh.e_shnum) * sizeof(Shdr)) ||
        eh.e_shstrndx >= eh.e_shnum || !file.Read(eh.e_shoff, sections.data(), eh.e_shnum * sizeof(Shdr))) {
      *why = "its image has no readable section table";
      return false;
    }
    std::vector<Addr> entries;
    const Shdr* symtab = nullptr;
    for (const Shdr& sh : sections) {
      const std::string secName = file.Text(sections[eh.e_shstrndx], sh.sh_name);
      if (sh.sh_type == SHT_SYMTAB) symtab = &sh;
      if (sh.sh_type != SHT_INIT_ARRAY && sh.sh_type != SHT_PREINIT_ARRAY && secName != ".ctors") continue;
      if (!file.Inside(sh.sh_offset, sh.sh_size)) {
        *why = "its image's " + secName + " lies outside the file";
        return false;
      }
      std::vector<Addr> list(size_t(sh.sh_size / sizeof(Addr)));
      if (!file.Read(sh.sh_offset, list.data(), list.size() * sizeof(Addr))) {
        *why = "its image's " + secName + " lies outside the file";
        return false;
      }
      for (Addr address : list)
        if (address != 0 && address != Addr(-1)) entries.push_back(address);  // .ctors bounds
    }
    if (entries.empty()) return true;
    if (!symtab || symtab->sh_link >= sections.size() || !file.Inside(symtab->sh_offset, symtab->sh_size)) {
      *why = "its image has static constructors that cannot be named (no symbol table)";
      return false;
    }
    // The first function symbol at each listed address names it.
    std::unordered_map<Addr, std::string> functions;
    for (Addr address : entries) functions.emplace(address, std::string());
    std::unordered_map<Addr, bool> named;
    std::vector<Sym> chunk(1024);
    const uint64_t count = symtab->sh_size / sizeof(Sym);
    for (uint64_t first = 0; first < count; first += chunk.size()) {
      const size_t n = size_t(std::min<uint64_t>(chunk.size(), count - first));
      if (!file.Read(symtab->sh_offset + first * sizeof(Sym), chunk.data(), n * sizeof(Sym))) break;
      for (size_t i = 0; i < n; ++i) {
        const Sym& sym = chunk[i];
        if (ELF32_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_value == 0) continue;  // one meaning in both classes
        auto it = functions.find(sym.st_value);
        if (it == functions.end() || named[sym.st_value]) continue;
        named[sym.st_value] = true;
        it->second = file.Text(sections[symtab->sh_link], sym.st_name);
      }
    }
    std::string refused;
    for (Addr address : entries) {
      const std::string fn = functions[address];
      bool allowed = fn == "frame_dummy";
      // Prioritised initialisers are named "[_GLOBAL_]_sub_I_<5-digit priority>_...".
      const std::string tail = fn.compare(0, 8, "_GLOBAL_") == 0 ? fn.substr(8) : fn;
      if (!allowed && tail.size() > 13 && tail.compare(0, 7, "_sub_I_") == 0 && tail[12] == '_' &&
          std::all_of(tail.begin() + 7, tail.begin() + 12, [](char c) { return c >= '0' && c <= '9'; })) {
        allowed = std::stoi(tail.substr(7, 5)) < 101;
      }
#if defined(CAMERA_FUZZ_BUILD)
      // A fuzz build's sanitizer and coverage register each image; they touch no module code.
      if (!allowed) allowed = fn == "asan.module_ctor" || fn.compare(0, 18, "sancov.module_ctor") == 0;
#endif
      if (allowed) continue;
      if (!refused.empty()) refused += ", ";
      refused += fn.empty() ? "an unnamed function" : fn;
    }
    if (refused.empty()) return true;
    *why = "its image has static constructors (" + refused + "), which would run before the host is bound";
    return false;
  }

  static bool Map(const std::string& name, const std::string& image, void** handleOut, PvlModule** objectOut) {
    std::string refusal;
    if (!ConstructorsAllowed(image, &refusal)) {
      Log("module \"%s\" not used: %s", name.c_str(), refusal.c_str());
      return false;
    }
    void* handle = dlopen(image.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* e = dlerror();
      Log("module \"%s\" not used: cannot map its image: %s", name.c_str(), e ? e : "?");
      return false;
    }
    auto fixup = reinterpret_cast<PvlModImageSymbolFixupFn>(dlsym(handle, PVL_EXPORT_SYMBOL_FIXUP));
    auto imodNew = reinterpret_cast<PvlIModNewFn>(dlsym(handle, PVL_EXPORT_IMOD_NEW));
    if (!fixup || !imodNew) {
      Log("module \"%s\" not used: its image lacks %s", name.c_str(), fixup ? PVL_EXPORT_IMOD_NEW : PVL_EXPORT_SYMBOL_FIXUP);
      dlclose(handle);
      return false;
    }
    ResolveContext ctx;
    int32_t r = fixup(Resolve, &ctx);
    if (r != 0 || ctx.resolved != PVL_HOST_SYMBOL_COUNT) {
      Log("module \"%s\" not used: binding the host symbols failed (result %d, %u bound%s%s)", name.c_str(), r,
          ctx.resolved, ctx.missing.empty() ? "" : ", unknown name ", ctx.missing.c_str());
      dlclose(handle);
      return false;
    }
    void* object = nullptr;
    r = imodNew(ProcessEnv(), ZUEUID_CLASS_MODULE, &object);
    if (r != PVL_OK || !object) {
      Log("module \"%s\" not used: IMod_New failed (result %d)", name.c_str(), r);
      dlclose(handle);
      return false;
    }
    *handleOut = handle;
    *objectOut = static_cast<PvlModule*>(object);
    return true;
  }


  std::mutex m_mutex;
  std::condition_variable m_mapped;
  std::atomic<bool> m_initialized{false};
  std::atomic<bool> m_lazyTried{false};
  std::string m_scriptDirectory;
  std::string m_fileSpaceRoot = "\\fs";
  std::vector<std::unique_ptr<Module>> m_modules;  // never shrinks: mapped modules stay
  std::unordered_map<ZUEUID, std::vector<Module*>> m_classes;
};

Loader& TheLoader() {
  static Loader* loader = new Loader;  // lives as long as the process
  return *loader;
}

std::mutex g_startMutex;
uint32_t g_starts = 0;

}  // namespace

PvlResult LoaderInitialize(const char* script) { return TheLoader().Initialize(script); }

PvlResult LoaderCreateInstance(ZUEUID clsid, void** out) { return TheLoader().CreateInstance(clsid, out); }

std::string FileSpaceRoot() { return TheLoader().FileSpaceRoot(); }

bool HostPath(const char* path, std::string* hostPath) {
  if (!path || !hostPath) return false;
  std::string device;
  if (strncasecmp(path, "fs:", 3) == 0) {
    const char* rest = path + 3;
    while (*rest == '/' || *rest == '\\') ++rest;
    device = FileSpaceRoot() + "\\" + rest;
  } else {
    device = path;
  }
  *hostPath = CeSimHostPath(CeSimWiden(device));
  return !hostPath->empty();
}

}  // namespace orbhost

extern "C" {

__attribute__((visibility("default"))) int32_t Orbhost_Start(const char* script, uint32_t reserved, IEnv** env) {
  (void)reserved;
  if (!env) return PVL_E_NULLPTR;
  *env = nullptr;
  if (!script) return PVL_E_NULLPTR;
  PvlResult r = orbhost::LoaderInitialize(script);
  if (r != PVL_OK) {
    orbhost::Log("start with \"%s\" failed: %d", script, r);
    return r;
  }
  std::lock_guard<std::mutex> lock(orbhost::g_startMutex);
  orbhost::g_starts++;
  IEnv* e = orbhost::ProcessEnv();
  e->AddRef();
  *env = e;
  return PVL_OK;
}

__attribute__((visibility("default"))) int32_t Orbhost_Stop(void) {
  std::lock_guard<std::mutex> lock(orbhost::g_startMutex);
  if (orbhost::g_starts == 0) {
    orbhost::Log("stop without a start");
    return PVL_E_NOTREADY;
  }
  orbhost::g_starts--;
  return PVL_OK;
}

int32_t OrbhostTest_SetModuleDirectory(const char* hostDirectory) {
  return orbhost::TheLoader().SetDirectory(hostDirectory);
}

int32_t OrbhostTest_IsModuleMapped(const char* name) { return orbhost::TheLoader().IsMapped(name) ? 1 : 0; }

uint32_t OrbhostTest_ModuleMapCount(const char* name) { return orbhost::TheLoader().MapCount(name); }

}  // extern "C"
