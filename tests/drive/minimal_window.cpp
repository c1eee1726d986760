// korvex-minimal.exe: the least a Win32 program does to put a window on screen, with the frame
// of the client's main window (client area 263 x 215, menu bar, caption, system menu and minimise
// box). scripts/client-bench.sh starts it beside Korvex.exe to give the client's start-up time a
// yardstick. It shows "Korvex-Minimal", or the caption given as its argument, and ends when the
// window is closed.
#include "core/win32/windows_api.h"

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
  const wchar_t* caption = arguments != nullptr && arguments[0] != L'\0' ? arguments : L"Korvex-Minimal";
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Procedure;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = L"KorvexMinimal";
  if (::RegisterClassExW(&windowClass) == 0) return 1;
  constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  HMENU menu = ::CreateMenu();
  ::AppendMenuW(menu, MF_STRING, 1, L"Datei");
  RECT frame{0, 0, 263, 215};
  ::AdjustWindowRectEx(&frame, kStyle, TRUE, 0);
  HWND window = ::CreateWindowExW(0, L"KorvexMinimal", caption, kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, menu, instance,
                                  nullptr);
  if (window == nullptr) return 1;
  ::ShowWindow(window, SW_SHOWNORMAL);
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
