// The headless shell: windows, their message queues, painting, message boxes, the
// Pocket PC menu bar and the other instance of a program.
//
// Nothing reaches a screen. A window is a record that gets its messages through its
// class's procedure; painting and message boxes are recorded; the user is played by a
// test (scripted taps and answers) or, for a program run by hand, by the console. One
// lock guards the records; no procedure is ever called while it is held, since
// procedures call back into the shell.
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>

#include "internal.h"
#include "wince_app_sim.h"

namespace {

using cesim::LowerCase;
using cesim::Narrow;

// A QVGA Pocket PC: the task bar above the window, the menu bar below it.
constexpr RECT kDefaultWindowRect{0, 26, 240, 294};

struct Window {
  std::u16string className;
  std::u16string title;
  WNDPROC proc = nullptr;
  HWND owner = nullptr;
  DWORD thread = 0;
  bool visible = false;
  bool invalid = true;
  bool otherProcess = false;
  bool menuBar = false;
  RECT rect = kDefaultWindowRect;
  std::vector<CeSimMenuButton> buttons;   // a menu bar's
};

struct OtherInstance {
  HANDLE mutex = nullptr;
  HWND window = nullptr;
  DWORD lookupsBeforeWindow = 0;
  DWORD lookups = 0;
};

std::mutex g_lock;
std::condition_variable g_changed;
std::map<std::u16string, WNDCLASSW> g_classes;        // by lower-cased name
std::map<std::u16string, std::u16string> g_classNames;  // lower-cased -> as registered
std::map<uintptr_t, Window> g_windows;
std::map<DWORD, std::deque<MSG>> g_queues;            // by thread
std::deque<WORD> g_taps;
std::vector<CeSimMessageBox> g_boxes;
std::vector<std::u16string> g_drawn;
std::vector<CeSimForegroundRequest> g_foreground;
std::function<int(const CeSimMessageBox&)> g_answer;
OtherInstance g_other;
bool g_console = false;
uintptr_t g_nextWindow = 0x00020000u;   // steps of 4: the lowest bit stays free

HWND NewWindowLocked(Window w) {
  uintptr_t h = g_nextWindow;
  g_nextWindow += 4;
  g_windows.emplace(h, std::move(w));
  return reinterpret_cast<HWND>(h);
}

Window* FindLocked(HWND h) {
  auto it = g_windows.find(reinterpret_cast<uintptr_t>(h));
  return it == g_windows.end() ? nullptr : &it->second;
}

bool FoundByLookupLocked(HWND h) {
  if (h != g_other.window) return true;
  return g_other.lookupsBeforeWindow != 0xFFFFFFFFu && g_other.lookups > g_other.lookupsBeforeWindow;
}

RECT ClientOf(const Window& w) { return RECT{0, 0, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top}; }

void PostLocked(DWORD thread, const MSG& m) {
  g_queues[thread].push_back(m);
  g_changed.notify_all();
}

// The menu bar of the calling thread that shows `command`, or null.
HWND MenuBarShowingLocked(DWORD thread, WORD command) {
  for (auto& [h, w] : g_windows) {
    if (!w.menuBar || w.thread != thread) continue;
    for (const auto& b : w.buttons)
      if (b.command == command && b.enabled && !b.hidden) return w.owner;
  }
  return nullptr;
}

// The console user's turn: shows the calling thread's menu bar and reads a tap.
// False when there is nothing to tap.
bool ConsoleTapLocked(std::unique_lock<std::mutex>& lk, DWORD thread) {
  const Window* bar = nullptr;
  for (auto& [h, w] : g_windows)
    if (w.menuBar && w.thread == thread) bar = &w;
  if (bar == nullptr) return false;
  HWND owner = bar->owner;
  std::vector<CeSimMenuButton> shown;
  for (const auto& b : bar->buttons)
    if (b.enabled && !b.hidden) shown.push_back(b);
  if (shown.empty()) return false;
  lk.unlock();
  std::string line;
  for (;;) {
    std::cout << "menu bar:";
    for (const auto& b : shown) std::cout << "  [" << Narrow(b.label) << "]";
    std::cout << "  tap> " << std::flush;
    if (!std::getline(std::cin, line)) {
      lk.lock();
      PostLocked(thread, MSG{owner, WM_CLOSE, 0, 0, GetTickCount(), {}});
      return true;
    }
    for (const auto& b : shown) {
      if (LowerCase(cesim::Widen(line)) == LowerCase(b.label)) {
        lk.lock();
        PostLocked(thread, MSG{owner, WM_COMMAND, b.command, 0, GetTickCount(), {}});
        return true;
      }
    }
  }
}

LRESULT CallProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc = nullptr;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    Window* w = FindLocked(h);
    if (w == nullptr || w->otherProcess) return 0;
    proc = w->proc;
  }
  return proc != nullptr ? proc(h, message, wParam, lParam) : DefWindowProcW(h, message, wParam, lParam);
}

}  // namespace

extern "C" {

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
  if (windowClass == nullptr || windowClass->lpszClassName == nullptr || windowClass->lpfnWndProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> lk(g_lock);
  std::u16string key = LowerCase(windowClass->lpszClassName);
  if (g_classes.count(key) != 0) {
    SetLastError(1410);   // the class already exists
    return 0;
  }
  g_classes[key] = *windowClass;
  g_classNames[key] = windowClass->lpszClassName;
  g_classes[key].lpszClassName = g_classNames[key].c_str();
  return static_cast<ATOM>(0xC000u + g_classes.size());
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
  if (className == nullptr) return FALSE;
  std::lock_guard<std::mutex> lk(g_lock);
  std::u16string key = LowerCase(className);
  g_classNames.erase(key);
  return g_classes.erase(key) != 0;
}

HWND CreateWindowExW(DWORD, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  if (className == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HWND h = nullptr;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    auto it = g_classes.find(LowerCase(className));
    if (it == g_classes.end()) {
      SetLastError(1407);   // no such class
      return nullptr;
    }
    Window w;
    w.className = g_classNames[it->first];
    w.title = windowName != nullptr ? windowName : u"";
    w.proc = it->second.lpfnWndProc;
    w.owner = parent;
    w.thread = GetCurrentThreadId();
    w.visible = (style & WS_VISIBLE) != 0;
    if (x != CW_USEDEFAULT && width != CW_USEDEFAULT) w.rect = RECT{x, y, x + width, y + height};
    h = NewWindowLocked(std::move(w));
  }
  CREATESTRUCTW cs{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style), windowName,
                   className, 0};
  LRESULT r = CallProc(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs));
  if (r == -1) {
    DestroyWindow(h);
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  if (!IsWindow(h)) {   // destroyed while it was being created
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  return h;
}

BOOL DestroyWindow(HWND window) {
  std::vector<HWND> owned;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    Window* w = FindLocked(window);
    if (w == nullptr || w->otherProcess) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    for (auto& [h, o] : g_windows)
      if (o.owner == window) owned.push_back(reinterpret_cast<HWND>(h));
  }
  for (HWND o : owned) DestroyWindow(o);
  CallProc(window, WM_DESTROY, 0, 0);
  std::lock_guard<std::mutex> lk(g_lock);
  g_windows.erase(reinterpret_cast<uintptr_t>(window));
  g_changed.notify_all();
  return TRUE;
}

BOOL IsWindow(HWND window) {
  std::lock_guard<std::mutex> lk(g_lock);
  return FindLocked(window) != nullptr;
}

BOOL ShowWindow(HWND window, int command) {
  std::lock_guard<std::mutex> lk(g_lock);
  Window* w = FindLocked(window);
  if (w == nullptr) return FALSE;
  BOOL was = w->visible;
  w->visible = command != SW_HIDE;
  if (w->visible) w->invalid = true;
  g_changed.notify_all();
  return was;
}

BOOL UpdateWindow(HWND window) {
  {
    std::lock_guard<std::mutex> lk(g_lock);
    Window* w = FindLocked(window);
    if (w == nullptr) return FALSE;
    if (!w->visible || !w->invalid) return TRUE;
  }
  CallProc(window, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
  std::lock_guard<std::mutex> lk(g_lock);
  Window* w = FindLocked(window);
  if (w == nullptr) return FALSE;
  w->invalid = true;
  g_changed.notify_all();
  return TRUE;
}

BOOL GetClientRect(HWND window, LPRECT rect) {
  std::lock_guard<std::mutex> lk(g_lock);
  Window* w = FindLocked(window);
  if (w == nullptr || rect == nullptr) return FALSE;
  *rect = ClientOf(*w);
  return TRUE;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
  std::lock_guard<std::mutex> lk(g_lock);
  Window* w = FindLocked(window);
  if (w == nullptr || rect == nullptr) return FALSE;
  *rect = w->rect;
  return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  std::lock_guard<std::mutex> lk(g_lock);
  Window* w = FindLocked(window);
  if (w == nullptr) return FALSE;
  w->rect = RECT{x, y, x + width, y + height};
  if (repaint) w->invalid = true;
  g_changed.notify_all();
  return TRUE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
  std::lock_guard<std::mutex> lk(g_lock);
  Window* w = FindLocked(window);
  if (w == nullptr) return FALSE;
  RECT r = w->rect;
  if ((flags & SWP_NOMOVE) == 0) {
    r.right += x - r.left;
    r.bottom += y - r.top;
    r.left = x;
    r.top = y;
  }
  if ((flags & SWP_NOSIZE) == 0) {
    r.right = r.left + cx;
    r.bottom = r.top + cy;
  }
  w->rect = r;
  w->invalid = true;
  g_changed.notify_all();
  return TRUE;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
  std::lock_guard<std::mutex> lk(g_lock);
  ++g_other.lookups;
  for (auto& [h, w] : g_windows) {
    if (w.menuBar) continue;
    if (className != nullptr && LowerCase(className) != LowerCase(w.className)) continue;
    if (windowName != nullptr && w.title != windowName) continue;
    HWND hw = reinterpret_cast<HWND>(h);
    if (!FoundByLookupLocked(hw)) continue;
    return hw;
  }
  return nullptr;
}

BOOL SetForegroundWindow(HWND window) {
  uintptr_t v = reinterpret_cast<uintptr_t>(window);
  HWND h = reinterpret_cast<HWND>(v & ~static_cast<uintptr_t>(1));
  std::lock_guard<std::mutex> lk(g_lock);
  if (FindLocked(h) == nullptr) return FALSE;
  g_foreground.push_back(CeSimForegroundRequest{h, (v & 1u) != 0});
  return TRUE;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    default:
      return 0;
  }
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lk(g_lock);
    Window* w = FindLocked(window);
    if (w == nullptr) return 0;
    if (w->menuBar) {
      if (message != TB_HIDEBUTTON) return 0;
      for (auto& b : w->buttons)
        if (b.command == static_cast<WORD>(wParam)) {
          b.hidden = LOWORD(lParam) != 0;
          return TRUE;
        }
      return FALSE;
    }
  }
  return CallProc(window, message, wParam, lParam);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> lk(g_lock);
  DWORD thread = GetCurrentThreadId();
  if (window != nullptr) {
    Window* w = FindLocked(window);
    if (w == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (w->otherProcess) return TRUE;
    thread = w->thread;
  }
  PostLocked(thread, MSG{window, message, wParam, lParam, GetTickCount(), {}});
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  std::lock_guard<std::mutex> lk(g_lock);
  PostLocked(GetCurrentThreadId(),
             MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0, GetTickCount(), {}});
}

BOOL GetMessageW(LPMSG message, HWND, UINT, UINT) {
  if (message == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  DWORD thread = GetCurrentThreadId();
  std::unique_lock<std::mutex> lk(g_lock);
  for (;;) {
    auto& queue = g_queues[thread];
    if (!queue.empty()) {
      *message = queue.front();
      queue.pop_front();
      return message->message == WM_QUIT ? 0 : 1;
    }
    for (auto& [h, w] : g_windows) {
      if (w.thread == thread && !w.menuBar && !w.otherProcess && w.visible && w.invalid) {
        *message = MSG{reinterpret_cast<HWND>(h), WM_PAINT, 0, 0, GetTickCount(), {}};
        return 1;
      }
    }
    if (!g_taps.empty()) {
      if (HWND owner = MenuBarShowingLocked(thread, g_taps.front())) {
        *message = MSG{owner, WM_COMMAND, g_taps.front(), 0, GetTickCount(), {}};
        g_taps.pop_front();
        return 1;
      }
    }
    if (g_console && ConsoleTapLocked(lk, thread)) continue;
    g_changed.wait(lk);
  }
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* message) {
  if (message == nullptr || message->hwnd == nullptr) return 0;
  return CallProc(message->hwnd, message->message, message->wParam, message->lParam);
}

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint) {
  std::lock_guard<std::mutex> lk(g_lock);
  Window* w = FindLocked(window);
  if (w == nullptr || paint == nullptr) return nullptr;
  *paint = PAINTSTRUCT{};
  paint->hdc = reinterpret_cast<HDC>(window);
  paint->rcPaint = ClientOf(*w);
  w->invalid = false;
  return paint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }

int DrawTextW(HDC dc, LPCWSTR text, int length, LPRECT, UINT) {
  if (dc == nullptr || text == nullptr) return 0;
  std::u16string s = length < 0 ? std::u16string(text) : std::u16string(text, static_cast<size_t>(length));
  bool console;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    g_drawn.push_back(s);
    console = g_console;
  }
  if (console) std::cout << "screen: " << Narrow(s) << std::endl;
  return 16;   // one line's height
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  CeSimMessageBox box{owner, text != nullptr ? text : u"", caption != nullptr ? caption : u"Error", type};
  std::function<int(const CeSimMessageBox&)> answer;
  bool console;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    g_boxes.push_back(box);
    answer = g_answer;
    console = g_console;
  }
  if (console) {
    std::cout << "[" << Narrow(box.caption) << "] " << Narrow(box.text) << "  (Enter: OK) " << std::flush;
    std::string line;
    std::getline(std::cin, line);
  }
  return answer ? answer(box) : IDOK;
}

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
  if (info == nullptr || info->cbSize < sizeof(SHMENUBARINFO) || info->hwndParent == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HRSRC found = FindResourceW(info->hInstRes, MAKEINTRESOURCE(info->nToolBarId), RT_RCDATA);
  DWORD size = found != nullptr ? SizeofResource(info->hInstRes, found) : 0;
  const BYTE* data =
      found != nullptr ? static_cast<const BYTE*>(LockResource(LoadResource(info->hInstRes, found))) : nullptr;
  SHMENUBARDESC desc{};
  if (data == nullptr || size < sizeof desc) {
    SetLastError(1814);   // the resource is not there
    return FALSE;
  }
  std::memcpy(&desc, data, sizeof desc);
  if (size < sizeof desc + desc.buttonCount * sizeof(SHMENUBARBUTTON)) {
    SetLastError(ERROR_BAD_FORMAT);
    return FALSE;
  }
  Window bar;
  bar.className = u"menu_worker";
  bar.owner = info->hwndParent;
  bar.thread = GetCurrentThreadId();
  bar.visible = (info->dwFlags & SHCMBF_HIDDEN) == 0;
  bar.menuBar = true;
  bar.rect = RECT{0, 294, 240, 320};
  for (WORD i = 0; i < desc.buttonCount; ++i) {
    SHMENUBARBUTTON b;
    std::memcpy(&b, data + sizeof desc + i * sizeof b, sizeof b);
    WCHAR label[64];
    if (LoadStringW(info->hInstRes, b.labelStringId, label, 64) == 0) {
      SetLastError(1814);
      return FALSE;
    }
    bar.buttons.push_back(CeSimMenuButton{b.command, label, (b.state & TBSTATE_ENABLED) != 0, false});
  }
  std::lock_guard<std::mutex> lk(g_lock);
  if (FindLocked(info->hwndParent) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  info->hwndMB = NewWindowLocked(std::move(bar));
  g_changed.notify_all();
  return TRUE;
}

}  // extern "C"

std::vector<CeSimMessageBox> CeSimMessageBoxes() {
  std::lock_guard<std::mutex> lk(g_lock);
  return g_boxes;
}

void CeSimSetMessageBoxAnswer(std::function<int(const CeSimMessageBox&)> answer) {
  std::lock_guard<std::mutex> lk(g_lock);
  g_answer = std::move(answer);
}

std::vector<CeSimWindowInfo> CeSimWindows() {
  std::lock_guard<std::mutex> lk(g_lock);
  std::vector<CeSimWindowInfo> out;
  for (auto& [h, w] : g_windows)
    if (!w.menuBar) out.push_back(CeSimWindowInfo{reinterpret_cast<HWND>(h), w.className, w.title, w.visible,
                                                  w.otherProcess});
  return out;
}

std::vector<std::u16string> CeSimDrawnTexts() {
  std::lock_guard<std::mutex> lk(g_lock);
  return g_drawn;
}

std::vector<CeSimMenuButton> CeSimMenuBarButtons(HWND owner) {
  std::lock_guard<std::mutex> lk(g_lock);
  for (auto& [h, w] : g_windows)
    if (w.menuBar && w.owner == owner) return w.buttons;
  return {};
}

std::vector<CeSimForegroundRequest> CeSimForegroundRequests() {
  std::lock_guard<std::mutex> lk(g_lock);
  return g_foreground;
}

void CeSimTapMenuBarButton(WORD command) {
  std::lock_guard<std::mutex> lk(g_lock);
  g_taps.push_back(command);
  g_changed.notify_all();
}

void CeSimEndOtherInstance() {
  HANDLE mutex;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    mutex = g_other.mutex;
    if (g_other.window != nullptr) g_windows.erase(reinterpret_cast<uintptr_t>(g_other.window));
    g_other = OtherInstance{};
  }
  if (mutex != nullptr) CloseHandle(mutex);
}

void CeSimResetShell() {
  CeSimEndOtherInstance();
  std::lock_guard<std::mutex> lk(g_lock);
  g_classes.clear();
  g_classNames.clear();
  g_windows.clear();
  g_queues.clear();
  g_taps.clear();
  g_boxes.clear();
  g_drawn.clear();
  g_foreground.clear();
  g_answer = nullptr;
}

void CeSimUseConsoleUser(bool on) {
  std::lock_guard<std::mutex> lk(g_lock);
  g_console = on;
}

HWND CeSimStartOtherInstance(const WCHAR* mutexName, const WCHAR* className, const WCHAR* title,
                             DWORD lookupsBeforeWindow) {
  CeSimEndOtherInstance();
  HANDLE mutex = CreateMutexW(nullptr, FALSE, mutexName);
  std::lock_guard<std::mutex> lk(g_lock);
  Window w;
  w.className = className != nullptr ? className : u"";
  w.title = title != nullptr ? title : u"";
  w.visible = true;
  w.otherProcess = true;
  HWND h = NewWindowLocked(std::move(w));
  g_other = OtherInstance{mutex, h, lookupsBeforeWindow, 0};
  return h;
}
