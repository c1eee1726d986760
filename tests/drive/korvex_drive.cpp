// korvex-drive.exe: drives the client's windows from outside, for screenshots and end-to-end
// tests. Windows are found by caption, controls by window class and text or by position among
// the window's controls of that class; every wait has a deadline.
//
//   korvex-drive COMMAND [ARGS...] [-- COMMAND [ARGS...]]...
//
//   wait CAPTION [SECONDS]            until a visible top-level window has this caption (default 20 s)
//   gone CAPTION [SECONDS]            until no visible top-level window has this caption
//   shown CAPTION CLASS INDEX [SECONDS]  until that control of a visible window is visible
//   show CAPTION                      ShowWindow SW_SHOWNORMAL on the top-level window with this
//                                     caption, hidden or not (puts a window back from the tray)
//   settext CAPTION CLASS INDEX TEXT  WM_SETTEXT to the INDEX-th (from 0) control of CLASS
//   gettext CAPTION CLASS INDEX       prints that control's text
//   key CAPTION CLASS INDEX KEY       posts KEY (RETURN, TAB, ESCAPE, UP, DOWN or a virtual-key
//                                     number) down and up to that control, through the program's
//                                     message loop as typed keys go
//   state CAPTION                     prints "visible|hidden enabled|disabled" of the window with
//                                     this caption, hidden or not
//   click CAPTION TEXT                BM_CLICK (posted) on the button with this text
//   pick CAPTION INDEX ENTRY          CB_SETCURSEL ENTRY and CBN_SELCHANGE on the INDEX-th combo box
//   selection CAPTION INDEX           prints CB_GETCURSEL of the INDEX-th combo box
//   focus CAPTION CLASS INDEX         moves the focus to that control (its window comes to the front)
//   menu CAPTION PATH [RESOURCE]      WM_COMMAND of the menu item PATH ("Datei/Beenden", "?"),
//                                     looked up by caption in the window's menu, or in the menu
//                                     resource RESOURCE of its program file (default MAINMENU1)
//   close CAPTION                     WM_CLOSE (posted)
//   client CAPTION                    prints the client area: "WIDTH HEIGHT"
//   frame CAPTION                     prints the window rectangle: "LEFT TOP WIDTH HEIGHT"
//   controls CAPTION                  prints each control: class, text, rectangle in the client
//                                     area, visible, enabled
//   tray click|dblclick               posts the shell's call-back message (WM_USER + 1) of a left
//                                     click or double-click to the client's tray icon window
//   launch PROGRAM CAPTION            starts PROGRAM (in the current directory) and prints the
//                                     milliseconds until a window with CAPTION is visible
//
// A failed command prints why to stderr and exits with 1.
#include "core/win32/windows_api.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Failure {
  std::wstring text;
};

[[noreturn]] void Fail(const std::wstring& text) { throw Failure{text}; }

std::wstring TextOf(HWND window) {
  wchar_t buffer[1024] = {};
  // WM_GETTEXT is marshalled between processes; GetWindowText is not, for controls.
  ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
  return buffer;
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[256] = {};
  ::GetClassNameW(window, buffer, 256);
  return buffer;
}

struct Search {
  const std::wstring* caption;
  HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (::IsWindowVisible(window) && TextOf(window) == *search->caption) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindWindowByCaption(const std::wstring& caption) {
  Search search{&caption, nullptr};
  ::EnumWindows(&FindTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForWindow(const std::wstring& caption, double seconds = 20) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  for (;;) {
    if (HWND window = FindWindowByCaption(caption)) return window;
    if (::GetTickCount64() > deadline) Fail(L"no window \"" + caption + L"\"");
    ::Sleep(50);
  }
}

// The direct controls of a window, in tab (z) order.
std::vector<HWND> Controls(HWND window) {
  std::vector<HWND> controls;
  for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    controls.push_back(child);
  }
  return controls;
}

HWND ControlByClass(HWND window, const std::wstring& className, int index) {
  int seen = 0;
  for (HWND control : Controls(window)) {
    if (::lstrcmpiW(ClassOf(control).c_str(), className.c_str()) == 0 && seen++ == index) return control;
  }
  Fail(L"no control " + className + L" #" + std::to_wstring(index));
}

HWND ButtonByText(HWND window, const std::wstring& text) {
  for (HWND control : Controls(window)) {
    if (::lstrcmpiW(ClassOf(control).c_str(), L"Button") == 0 && TextOf(control) == text) return control;
  }
  Fail(L"no button \"" + text + L"\"");
}

int MenuId(HMENU menu, const std::wstring& path) {
  const std::size_t slash = path.find(L'/');
  const std::wstring head = path.substr(0, slash);
  const int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t caption[256] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STRING | MIIM_ID | MIIM_SUBMENU;
    item.dwTypeData = caption;
    item.cch = 256;
    if (!::GetMenuItemInfoW(menu, i, TRUE, &item) || head != caption) continue;
    if (slash == std::wstring::npos) return item.hSubMenu == nullptr ? static_cast<int>(item.wID) : -1;
    return item.hSubMenu != nullptr ? MenuId(item.hSubMenu, path.substr(slash + 1)) : -1;
  }
  return -1;
}

// Wine keeps a menu's items in the process that owns it, so the lookup falls back to the menu
// resource of the window's program file.
int MenuIdFromProgram(HWND window, const std::wstring& path, const std::wstring& resource) {
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) Fail(L"cannot open the window's process");
  wchar_t file[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  const BOOL named = ::QueryFullProcessImageNameW(process, 0, file, &size);
  ::CloseHandle(process);
  if (!named) Fail(L"cannot name the window's program file");
  HMODULE module = ::LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) Fail(std::wstring(L"cannot read ") + file);
  HMENU menu = ::LoadMenuW(module, resource.c_str());
  const int id = menu != nullptr ? MenuId(menu, path) : -1;
  if (menu != nullptr) ::DestroyMenu(menu);
  ::FreeLibrary(module);
  return id;
}

void Print(const std::wstring& line) {
  const std::string utf8 = [&] {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(length > 0 ? length - 1 : 0, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, bytes.data(), length, nullptr, nullptr);
    return bytes;
  }();
  std::fputs(utf8.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Run(const std::vector<std::wstring>& args) {
  const auto need = [&](std::size_t count) {
    if (args.size() < count) Fail(L"too few arguments for " + args[0]);
  };
  const std::wstring& command = args[0];
  need(2);
  if (command == L"wait") {
    WaitForWindow(args[1], args.size() > 2 ? std::wcstod(args[2].c_str(), nullptr) : 20);
  } else if (command == L"tray") {
    HWND tray = ::FindWindowW(L"KorvexTrayIcon", nullptr);
    if (tray == nullptr) Fail(L"no tray icon window");
    const auto post = [tray](UINT mouse) { ::PostMessageW(tray, WM_USER + 1, reinterpret_cast<WPARAM>(tray), mouse); };
    if (args[1] == L"click") {
      post(WM_LBUTTONDOWN);
      post(WM_LBUTTONUP);
    } else if (args[1] == L"dblclick") {
      post(WM_LBUTTONDBLCLK);
    } else {
      Fail(L"tray click or tray dblclick");
    }
  } else if (command == L"launch") {
    need(3);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring line = L"\"" + args[1] + L"\"";
    LARGE_INTEGER frequency, start, shown;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    if (!::CreateProcessW(args[1].c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
      Fail(L"cannot start " + args[1]);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    WaitForWindow(args[2], 60);
    ::QueryPerformanceCounter(&shown);
    Print(std::to_wstring((shown.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart));
  } else if (command == L"gone") {
    const double seconds = args.size() > 2 ? std::wcstod(args[2].c_str(), nullptr) : 20;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (FindWindowByCaption(args[1]) != nullptr) {
      if (::GetTickCount64() > deadline) Fail(L"window \"" + args[1] + L"\" still there");
      ::Sleep(50);
    }
  } else if (command == L"shown") {
    need(4);
    const double seconds = args.size() > 4 ? std::wcstod(args[4].c_str(), nullptr) : 20;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    HWND control = ControlByClass(WaitForWindow(args[1]), args[2], std::stoi(args[3]));
    while (!::IsWindowVisible(control)) {
      if (::GetTickCount64() > deadline) Fail(L"control " + args[2] + L" #" + args[3] + L" not shown");
      ::Sleep(50);
    }
  } else if (command == L"show") {
    HWND window = ::FindWindowW(nullptr, args[1].c_str());
    if (window == nullptr) Fail(L"no window \"" + args[1] + L"\"");
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::SetForegroundWindow(window);
  } else if (command == L"settext") {
    need(5);
    HWND control = ControlByClass(WaitForWindow(args[1]), args[2], std::stoi(args[3]));
    ::SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[4].c_str()));
  } else if (command == L"gettext") {
    need(4);
    Print(TextOf(ControlByClass(WaitForWindow(args[1]), args[2], std::stoi(args[3]))));
  } else if (command == L"key") {
    need(5);
    HWND control = ControlByClass(WaitForWindow(args[1]), args[2], std::stoi(args[3]));
    const std::wstring& name = args[4];
    const WPARAM key = name == L"RETURN"   ? VK_RETURN
                       : name == L"TAB"    ? VK_TAB
                       : name == L"ESCAPE" ? VK_ESCAPE
                       : name == L"UP"     ? VK_UP
                       : name == L"DOWN"   ? VK_DOWN
                                           : static_cast<WPARAM>(std::stoi(name));
    ::PostMessageW(control, WM_KEYDOWN, key, 1);
    ::PostMessageW(control, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
  } else if (command == L"state") {
    HWND window = ::FindWindowW(nullptr, args[1].c_str());
    if (window == nullptr) Fail(L"no window \"" + args[1] + L"\"");
    Print(std::wstring(::IsWindowVisible(window) ? L"visible" : L"hidden") +
          (::IsWindowEnabled(window) ? L" enabled" : L" disabled"));
  } else if (command == L"click") {
    need(3);
    HWND button = ButtonByText(WaitForWindow(args[1]), args[2]);
    if (!::IsWindowEnabled(button)) Fail(L"button \"" + args[2] + L"\" is disabled");
    // Posted: the click may open a modal window, which would keep a sent message waiting.
    ::PostMessageW(button, BM_CLICK, 0, 0);
  } else if (command == L"pick") {
    need(4);
    HWND window = WaitForWindow(args[1]);
    HWND combo = ControlByClass(window, L"ComboBox", std::stoi(args[2]));
    ::SendMessageW(combo, CB_SETCURSEL, std::stoi(args[3]), 0);
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
  } else if (command == L"selection") {
    need(3);
    Print(std::to_wstring(
        ::SendMessageW(ControlByClass(WaitForWindow(args[1]), L"ComboBox", std::stoi(args[2])), CB_GETCURSEL, 0, 0)));
  } else if (command == L"focus") {
    need(4);
    HWND window = WaitForWindow(args[1]);
    HWND control = ControlByClass(window, args[2], std::stoi(args[3]));
    ::SetForegroundWindow(window);
    const DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
    ::AttachThreadInput(::GetCurrentThreadId(), thread, TRUE);
    ::SetFocus(control);
    ::AttachThreadInput(::GetCurrentThreadId(), thread, FALSE);
  } else if (command == L"menu") {
    need(3);
    HWND window = WaitForWindow(args[1]);
    int id = -1;
    if (HMENU menu = ::GetMenu(window); menu != nullptr && ::GetMenuItemCount(menu) > 0) id = MenuId(menu, args[2]);
    if (id < 0) id = MenuIdFromProgram(window, args[2], args.size() > 3 ? args[3] : L"MAINMENU1");
    if (id < 0) Fail(L"no menu item \"" + args[2] + L"\"");
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
  } else if (command == L"close") {
    ::PostMessageW(WaitForWindow(args[1]), WM_CLOSE, 0, 0);
  } else if (command == L"client") {
    RECT rect{};
    ::GetClientRect(WaitForWindow(args[1]), &rect);
    Print(std::to_wstring(rect.right) + L" " + std::to_wstring(rect.bottom));
  } else if (command == L"frame") {
    RECT rect{};
    ::GetWindowRect(WaitForWindow(args[1]), &rect);
    Print(std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) + L" " + std::to_wstring(rect.right - rect.left) +
          L" " + std::to_wstring(rect.bottom - rect.top));
  } else if (command == L"controls") {
    HWND window = WaitForWindow(args[1]);
    for (HWND control : Controls(window)) {
      RECT rect{};
      ::GetWindowRect(control, &rect);
      ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
      Print(ClassOf(control) + L"\t\"" + TextOf(control) + L"\"\t" + std::to_wstring(rect.left) + L"," +
            std::to_wstring(rect.top) + L" " + std::to_wstring(rect.right - rect.left) + L"x" +
            std::to_wstring(rect.bottom - rect.top) + (::IsWindowVisible(control) ? L"\tvisible" : L"\thidden") +
            (::IsWindowEnabled(control) ? L"\tenabled" : L"\tdisabled"));
    }
  } else {
    Fail(L"unknown command " + command);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> command;
  try {
    for (int i = 1; i <= argc; ++i) {
      if (i == argc || std::wcscmp(argv[i], L"--") == 0) {
        if (!command.empty()) Run(command);
        command.clear();
      } else {
        command.push_back(argv[i]);
      }
    }
    return 0;
  } catch (const Failure& failure) {
    std::fwprintf(stderr, L"korvex-drive: %ls\n", failure.text.c_str());
    return 1;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "korvex-drive: %s\n", failure.what());
    return 1;
  }
}
