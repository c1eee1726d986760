#include "tests/support/desktop.h"

#include <algorithm>
#include <cwctype>

namespace korvex::testing {

using win32::FromW;
using win32::W;

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    ::Sleep(50);
  }
  return true;
}

Program::Program(const Text& exe, const Text& arguments, const Text& workingDirectory) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  Text line = u"\"" + exe + u"\"" + (arguments.empty() ? Text() : u" " + arguments);
  if (::CreateProcessW(W(exe), const_cast<wchar_t*>(W(line)), nullptr, nullptr, FALSE, 0, nullptr,
                       workingDirectory.empty() ? nullptr : W(workingDirectory), &startup, &info)) {
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
  }
}

Program::~Program() {
  if (process_ == nullptr) return;
  if (Running()) {
    ::TerminateProcess(process_, 1);
    ::WaitForSingleObject(process_, 10000);
  }
  ::CloseHandle(process_);
}

std::optional<DWORD> Program::WaitForExit(std::chrono::milliseconds deadline) {
  if (process_ == nullptr ||
      ::WaitForSingleObject(process_, static_cast<DWORD>(deadline.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process_, &code);
  return code;
}

bool Program::Running() const {
  return process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

namespace {

std::vector<HWND> TopWindowsOf(DWORD processId) {
  struct Search {
    DWORD processId;
    std::vector<HWND> found;
  } search{processId, {}};
  ::EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == s.processId) s.found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

Text WithoutAmpersands(Text text) {
  std::erase(text, u'&');
  return text;
}

// The command id of the item at `path` below `menu`, or 0.
UINT FindCommand(HMENU menu, const std::vector<Text>& path, std::size_t depth) {
  const int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t caption[256] = {};
    ::GetMenuStringW(menu, static_cast<UINT>(i), caption, 256, MF_BYPOSITION);
    if (WithoutAmpersands(FromW(caption)) != WithoutAmpersands(path[depth])) continue;
    if (depth + 1 == path.size()) return ::GetMenuItemID(menu, i);
    if (HMENU sub = ::GetSubMenu(menu, i)) return FindCommand(sub, path, depth + 1);
  }
  return 0;
}

}  // namespace

HWND FindWindowOf(DWORD processId, TextView caption) {
  for (HWND window : TopWindowsOf(processId)) {
    if (WindowText(window) == caption) return window;
  }
  return nullptr;
}

std::vector<HWND> VisibleWindowsOf(DWORD processId) {
  std::vector<HWND> visible;
  for (HWND window : TopWindowsOf(processId)) {
    if (::IsWindowVisible(window)) visible.push_back(window);
  }
  return visible;
}

HWND WaitForWindow(DWORD processId, TextView caption, std::chrono::milliseconds deadline) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        found = FindWindowOf(processId, caption);
        return found != nullptr && ::IsWindowVisible(found);
      },
      deadline);
  return found != nullptr && ::IsWindowVisible(found) ? found : nullptr;
}

Text WindowText(HWND window) {
  wchar_t buffer[1024] = {};
  ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                        5000, nullptr);
  return FromW(buffer);
}

Text ClassOf(HWND window) {
  wchar_t name[128] = {};
  ::GetClassNameW(window, name, 128);
  return FromW(name);
}

std::vector<HWND> ChildrenOf(HWND parent, TextView className) {
  std::vector<HWND> children;
  for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    Text name = ClassOf(child);
    if (name.size() == className.size() &&
        std::equal(name.begin(), name.end(), className.begin(),
                   [](char16_t a, char16_t b) { return std::towlower(a) == std::towlower(b); })) {
      children.push_back(child);
    }
  }
  return children;
}

HWND ChildWithText(HWND parent, TextView className, TextView text) {
  for (HWND child : ChildrenOf(parent, className)) {
    if (WindowText(child) == text) return child;
  }
  return nullptr;
}

void Type(HWND field, const Text& text) {
  ::SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(W(text)));
}

void Click(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }

void Pick(HWND comboBox, int index) {
  ::SendMessageW(comboBox, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  ::SendMessageW(::GetParent(comboBox), WM_COMMAND,
                 MAKEWPARAM(::GetDlgCtrlID(comboBox), CBN_SELCHANGE), reinterpret_cast<LPARAM>(comboBox));
}

int EntryCount(HWND comboBox) { return static_cast<int>(::SendMessageW(comboBox, CB_GETCOUNT, 0, 0)); }

bool ChooseMenu(HWND window, const Text& programFile, const wchar_t* menuName, const std::vector<Text>& path) {
  HMODULE module = ::LoadLibraryExW(W(programFile), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return false;
  HMENU menu = ::LoadMenuW(module, menuName);
  const UINT command = menu != nullptr && !path.empty() ? FindCommand(menu, path, 0) : 0;
  if (menu != nullptr) ::DestroyMenu(menu);
  ::FreeLibrary(module);
  if (command == 0) return false;
  return ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(command, 0), 0) != 0;
}

std::optional<Box> FindBox(DWORD processId) {
  for (HWND window : VisibleWindowsOf(processId)) {
    if (ClassOf(window) != u"#32770") continue;
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(window, 0xFFFF, text, 1024);
    return Box{window, WindowText(window), FromW(text)};
  }
  return std::nullopt;
}

std::optional<Box> WaitForBox(DWORD processId, std::chrono::milliseconds deadline) {
  std::optional<Box> box;
  WaitFor([&] { return (box = FindBox(processId)).has_value(); }, deadline);
  return box;
}

BoxAnswerer::BoxAnswerer() : thread_([this] { Run(); }) {}

BoxAnswerer::~BoxAnswerer() {
  stop_ = true;
  thread_.join();
}

std::vector<Text> BoxAnswerer::Texts() {
  std::lock_guard lock(mutex_);
  return texts_;
}

void BoxAnswerer::Run() {
  while (!stop_) {
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
          auto& self = *reinterpret_cast<BoxAnswerer*>(parameter);
          DWORD owner = 0;
          ::GetWindowThreadProcessId(window, &owner);
          if (owner == ::GetCurrentProcessId() || ClassOf(window) != u"#32770" || !::IsWindowVisible(window)) {
            return TRUE;
          }
          wchar_t text[1024] = {};
          // A box that has no text yet is taken on the next round.
          if (::GetDlgItemTextW(window, 0xFFFF, text, 1024) == 0) return TRUE;
          {
            std::lock_guard lock(self.mutex_);
            if (self.answered_.insert(window).second) self.texts_.push_back(FromW(text));
          }
          ::PostMessageW(window, WM_COMMAND, IDOK, 0);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
    ::Sleep(100);
  }
}

}  // namespace korvex::testing
