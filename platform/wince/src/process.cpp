// Processes of the device. A program started by CreateProcessW runs on a thread of this
// process (so that it shares the registry and the image with its caller); its process
// handle is that thread's handle. Processes of other programs are records that the
// tool-help snapshot lists and that can be terminated.
#include <map>

#include "internal.h"
#include "wince_app_sim.h"

namespace {

struct Program {
  CeSimProgramMain main = nullptr;
};

struct Running {   // a process of another program
  std::u16string exeName;
  bool running = true;
  DWORD exitCode = STILL_ACTIVE;
  HANDLE ended = nullptr;   // set when it ends; opened handles refer to it
};

struct Start {
  CeSimProgramMain main;
  std::u16string commandLine;
};

std::mutex g_lock;
std::map<std::u16string, Program>& Programs() {   // by lower-cased file name
  static auto* p = new std::map<std::u16string, Program>{{u"wceload.exe", Program{CeSimWceload}}};
  return *p;
}
std::vector<CeSimStartedProcess> g_started;
std::map<DWORD, Running> g_running;                       // by process id
std::map<uintptr_t, DWORD> g_opened;                      // handle -> process id
std::map<uintptr_t, std::vector<PROCESSENTRY32>> g_snapshots;
std::map<uintptr_t, size_t> g_snapshotPos;
DWORD g_nextProcessId = 0x1000;

std::u16string FileName(std::u16string_view path) {
  size_t cut = path.find_last_of(u"\\/");
  return std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
}

DWORD RunProgram(LPVOID arg) {
  std::unique_ptr<Start> start(static_cast<Start*>(arg));
  return start->main(start->commandLine.c_str());
}

void Fill(PROCESSENTRY32& e, DWORD id, const std::u16string& exe) {
  e = PROCESSENTRY32{};
  e.dwSize = sizeof e;
  e.cntThreads = 1;
  e.th32ProcessID = id;
  size_t n = std::min<size_t>(exe.size(), MAX_PATH - 1);
  std::copy_n(exe.begin(), n, e.szExeFile);
}

}  // namespace

extern "C" {

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION info) {
  if (applicationName == nullptr || info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  CeSimProgramMain main = nullptr;
  DWORD id;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    auto it = Programs().find(cesim::LowerCase(FileName(applicationName)));
    if (it != Programs().end()) main = it->second.main;
    g_started.push_back(CeSimStartedProcess{applicationName, commandLine != nullptr ? commandLine : u""});
    id = g_nextProcessId++;
  }
  if (main == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  auto* start = new Start{main, commandLine != nullptr ? commandLine : u""};
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, RunProgram, start, 0, &threadId);
  if (thread == nullptr) {
    delete start;
    return FALSE;
  }
  info->hProcess = thread;
  info->hThread = cesim::AddHandle(cesim::FindHandle(thread));
  info->dwProcessId = id;
  info->dwThreadId = threadId;
  return TRUE;
}

HANDLE OpenProcess(DWORD, BOOL, DWORD processId) {
  std::lock_guard<std::mutex> lk(g_lock);
  auto it = g_running.find(processId);
  if (it == g_running.end() || !it->second.running) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HANDLE h = cesim::AddHandle(cesim::FindHandle(it->second.ended));
  g_opened[reinterpret_cast<uintptr_t>(h)] = processId;
  return h;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  {
    std::lock_guard<std::mutex> lk(g_lock);
    auto it = g_opened.find(reinterpret_cast<uintptr_t>(process));
    if (it != g_opened.end() && cesim::FindHandle(process) != nullptr) {
      if (exitCode == nullptr) return FALSE;
      *exitCode = g_running[it->second].exitCode;
      return TRUE;
    }
  }
  return GetExitCodeThread(process, exitCode);
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
  HANDLE ended = nullptr;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    auto it = g_opened.find(reinterpret_cast<uintptr_t>(process));
    if (it == g_opened.end() || cesim::FindHandle(process) == nullptr) {
      SetLastError(ERROR_ACCESS_DENIED);   // a program of this process cannot be stopped from outside
      return FALSE;
    }
    Running& r = g_running[it->second];
    if (r.running) {
      r.running = false;
      r.exitCode = exitCode;
      ended = r.ended;
    }
  }
  if (ended != nullptr) SetEvent(ended);
  return TRUE;
}

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD) {
  if ((flags & TH32CS_SNAPPROCESS) == 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (h == nullptr) return INVALID_HANDLE_VALUE;
  std::lock_guard<std::mutex> lk(g_lock);
  std::vector<PROCESSENTRY32> list;
  PROCESSENTRY32 e;
  Fill(e, GetCurrentProcessId(), u"nk.exe");
  list.push_back(e);
  for (auto& [id, r] : g_running)
    if (r.running) {
      Fill(e, id, r.exeName);
      list.push_back(e);
    }
  g_snapshots[reinterpret_cast<uintptr_t>(h)] = std::move(list);
  g_snapshotPos[reinterpret_cast<uintptr_t>(h)] = 0;
  return h;
}

BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  {
    std::lock_guard<std::mutex> lk(g_lock);
    if (g_snapshots.count(reinterpret_cast<uintptr_t>(snapshot)) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    g_snapshotPos[reinterpret_cast<uintptr_t>(snapshot)] = 0;
  }
  return Process32NextW(snapshot, entry);
}

BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32 entry) {
  if (entry == nullptr || entry->dwSize < sizeof(PROCESSENTRY32)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lk(g_lock);
  auto it = g_snapshots.find(reinterpret_cast<uintptr_t>(snapshot));
  if (it == g_snapshots.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  size_t& pos = g_snapshotPos[it->first];
  if (pos >= it->second.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *entry = it->second[pos++];
  return TRUE;
}

BOOL CloseToolhelp32Snapshot(HANDLE snapshot) {
  {
    std::lock_guard<std::mutex> lk(g_lock);
    if (g_snapshots.erase(reinterpret_cast<uintptr_t>(snapshot)) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    g_snapshotPos.erase(reinterpret_cast<uintptr_t>(snapshot));
  }
  return CloseHandle(snapshot);
}

}  // extern "C"

void CeSimRegisterProgram(const WCHAR* exeName, CeSimProgramMain main) {
  std::lock_guard<std::mutex> lk(g_lock);
  std::u16string key = cesim::LowerCase(exeName);
  if (main == nullptr) {
    Programs().erase(key);
  } else {
    Programs()[key] = Program{main};
  }
}

std::vector<CeSimStartedProcess> CeSimStartedProcesses() {
  std::lock_guard<std::mutex> lk(g_lock);
  return g_started;
}

void CeSimClearStartedProcesses() {
  std::lock_guard<std::mutex> lk(g_lock);
  g_started.clear();
}

DWORD CeSimAddRunningProcess(const WCHAR* exeName) {
  HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::lock_guard<std::mutex> lk(g_lock);
  DWORD id = g_nextProcessId++;
  g_running[id] = Running{exeName, true, STILL_ACTIVE, ended};
  return id;
}

BOOL CeSimProcessExitCode(DWORD processId, DWORD* exitCode) {
  std::lock_guard<std::mutex> lk(g_lock);
  auto it = g_running.find(processId);
  if (it == g_running.end() || it->second.running) return FALSE;
  if (exitCode != nullptr) *exitCode = it->second.exitCode;
  return TRUE;
}

void CeSimClearRunningProcesses() {
  std::map<DWORD, Running> old;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    old.swap(g_running);
    g_opened.clear();
  }
  for (auto& [id, r] : old) CloseHandle(r.ended);
}
