#include "client/win32/system_message_boxes.h"

#include "client/win32/window.h"
#include "core/win32/windows_api.h"

namespace korvex::win32 {
namespace {

// The box's buttons are renamed when it is activated for the first time: a CBT hook of this
// thread, set only while MessageBoxW runs.
thread_local HHOOK t_hook = nullptr;

LRESULT CALLBACK RenameButtons(int code, WPARAM wParam, LPARAM lParam) {
  const HHOOK hook = t_hook;
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t className[16] = {};
    ::GetClassNameW(box, className, 16);
    if (::lstrcmpW(className, L"#32770") == 0) {
      ::SetDlgItemTextW(box, IDOK, W(Text(kButtonOk)));
      ::SetDlgItemTextW(box, IDYES, W(Text(kButtonYes)));
      ::SetDlgItemTextW(box, IDNO, W(Text(kButtonNo)));
      ::UnhookWindowsHookEx(hook);
      t_hook = nullptr;
    }
  }
  return ::CallNextHookEx(hook, code, wParam, lParam);
}

int Show(const Text& caption, const Text& text, UINT type) {
  // Owned by the active window; the program's other windows stay disabled while the box is open.
  HWND owner = ::GetActiveWindow();
  DisabledTaskWindows disabled(owner);
  t_hook = ::SetWindowsHookExW(WH_CBT, &RenameButtons, nullptr, ::GetCurrentThreadId());
  const int result = ::MessageBoxW(owner, W(text), W(caption), type | MB_SETFOREGROUND);
  if (t_hook != nullptr) {
    ::UnhookWindowsHookEx(t_hook);
    t_hook = nullptr;
  }
  return result;
}

}  // namespace

void SystemMessageBoxes::Error(const Text& caption, const Text& text) { Show(caption, text, MB_OK | MB_ICONERROR); }

void SystemMessageBoxes::Information(const Text& text) {
  Show(kInformationCaption, text, MB_OK | MB_ICONINFORMATION);
}

bool SystemMessageBoxes::AskInformation(const Text& text) {
  return Show(kInformationCaption, text, MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON1) == IDYES;
}

}  // namespace korvex::win32
