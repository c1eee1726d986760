// The tray icon's hidden window under Wine: the shell's call-back messages run the handlers, a
// broadcast "TaskbarCreated" puts a present icon back, and the right button opens the menu.
#include <gtest/gtest.h>

#include "core/win32/windows_api.h"

#include <shellapi.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "client/win32/notify_icon_window.h"
#include "core/error.h"
#include "tests/support/expect_error.h"

namespace korvex {
namespace {

using win32::NotifyIconWindow;

// Runs the thread's message loop until `done` or the deadline.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  MSG message;
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT) == WAIT_TIMEOUT) {
      continue;
    }
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  return true;
}

// A stand-in for the main window: hidden, and it counts the menu commands it gets.
class MainWindow {
 public:
  MainWindow() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &MainWindow::Proc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KorvexTrayTestMain";
    ::RegisterClassExW(&windowClass);
    window_ = ::CreateWindowExW(0, L"KorvexTrayTestMain", L"Client", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
  }
  ~MainWindow() { ::DestroyWindow(window_); }
  HWND Handle() const { return window_; }
  static inline int lastCommand = 0;

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) lastCommand = LOWORD(wParam);
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  HWND window_ = nullptr;
};

class TrayIconWindowTest : public ::testing::Test {
 protected:
  void Post(UINT mouseMessage) {
    ASSERT_TRUE(::PostMessageW(tray.Handle(), win32::kTrayCallbackMessage, 0, mouseMessage));
  }
  // The icon as the shell knows it, by window and id.
  NOTIFYICONDATAW ShellRecord() const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = tray.Handle();
    data.uID = kTrayIconId;
    return data;
  }

  MainWindow main;
  NotifyIconWindow tray{main.Handle(), ::LoadIconW(nullptr, IDI_APPLICATION)};
};

TEST_F(TrayIconWindowTest, TheIconIsInTheNotificationAreaFromCreation) {
  EXPECT_TRUE(tray.Icon().Present());
  EXPECT_FALSE(::IsWindowVisible(tray.Handle()));
  NOTIFYICONDATAW data = ShellRecord();
  data.uFlags = NIF_TIP;
  std::wcscpy(data.szTip, L"Korvex-Client");
  EXPECT_TRUE(::Shell_NotifyIconW(NIM_MODIFY, &data));  // the shell knows the icon by window and id
}

// The icon keeps one id from run to run, so that Windows remembers the user's choice to show it.
TEST_F(TrayIconWindowTest, EveryIconWindowUsesTheSameFixedId) {
  NotifyIconWindow second(main.Handle(), ::LoadIconW(nullptr, IDI_APPLICATION));
  for (HWND window : {tray.Handle(), second.Handle()}) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_TIP;
    std::wcscpy(data.szTip, L"Korvex-Client");
    EXPECT_TRUE(::Shell_NotifyIconW(NIM_MODIFY, &data));
  }
}

// Elevated, the client would not hear a restarted Explorer: the window lets the shell's messages
// through before the icon is added. Wine has no integrity levels, so the call itself is checked.
TEST_F(TrayIconWindowTest, TheShellsMessagesAreLetThroughTheElevationFilter) {
  std::vector<std::pair<HWND, UINT>> allowed;
  NotifyIconWindow recorded(main.Handle(), ::LoadIconW(nullptr, IDI_APPLICATION), kTrayTip,
                            [&](HWND window, UINT message) {
                              allowed.emplace_back(window, message);
                              return true;
                            });
  const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
  EXPECT_EQ(allowed, (std::vector<std::pair<HWND, UINT>>{{recorded.Handle(), taskbarCreated},
                                                           {recorded.Handle(), win32::kTrayCallbackMessage}}));
  EXPECT_TRUE(win32::AllowMessageFromShell(tray.Handle(), taskbarCreated));
  EXPECT_TRUE(win32::AllowMessageFromShell(tray.Handle(), win32::kTrayCallbackMessage));
}

TEST_F(TrayIconWindowTest, CallBackMessagesRunTheClickAndDoubleClickHandlers) {
  int clicks = 0;
  int doubleClicks = 0;
  tray.Icon().OnClick = [&] { ++clicks; };
  tray.Icon().OnDblClick = [&] { ++doubleClicks; };
  Post(WM_LBUTTONDOWN);
  Post(WM_LBUTTONUP);
  Post(WM_LBUTTONDBLCLK);
  Post(WM_LBUTTONUP);
  Post(WM_MBUTTONDBLCLK);
  Post(WM_RBUTTONDBLCLK);
  ASSERT_TRUE(PumpUntil([&] { return doubleClicks == 3; }));
  EXPECT_EQ(clicks, 1);
}

TEST_F(TrayIconWindowTest, AFailingHandlerReachesTheErrorHandler) {
  Text reported;
  tray.SetErrorHandler([&](const std::exception& failure) {
    if (const auto* error = dynamic_cast<const KorError*>(&failure)) reported = error->Message();
  });
  tray.Icon().OnDblClick = [] { throw KorError(kCannotRemoveTrayIcon); };
  Post(WM_LBUTTONDBLCLK);
  ASSERT_TRUE(PumpUntil([&] { return !reported.empty(); }));
  EXPECT_EQ(reported, kCannotRemoveTrayIcon);
}

TEST_F(TrayIconWindowTest, ABroadcastTaskbarCreatedPutsAPresentIconBack) {
  // The restarted shell has lost the icon: deleting it again fails.
  NOTIFYICONDATAW data = ShellRecord();
  ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &data));
  ASSERT_FALSE(::Shell_NotifyIconW(NIM_DELETE, &data));

  const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(HWND_BROADCAST, taskbarCreated, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  EXPECT_NO_THROW(tray.Icon().SetPresent(false));  // deleted for real, so it was back

  // An absent icon stays absent.
  ::SendMessageTimeoutW(HWND_BROADCAST, taskbarCreated, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  EXPECT_FALSE(::Shell_NotifyIconW(NIM_DELETE, &data));
}

TEST_F(TrayIconWindowTest, DeletingAnIconTheShellDoesNotHaveIsTheRemovalError) {
  NOTIFYICONDATAW data = ShellRecord();
  ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &data));
  ASSERT_TRUE(testing::ThrowsKorError([&] { tray.Icon().SetPresent(false); },
                                      u"Shell-Benachrichtigungssymbol kann nicht entfernt werden"));
  EXPECT_FALSE(tray.Icon().Present());
}

TEST_F(TrayIconWindowTest, EndingTheSessionAndDestroyingTheWindowDeleteTheIcon) {
  EXPECT_EQ(::SendMessageW(tray.Handle(), WM_QUERYENDSESSION, 0, 0), 1);
  ::SendMessageW(tray.Handle(), WM_ENDSESSION, FALSE, 0);
  EXPECT_TRUE(tray.Icon().Present());
  ::SendMessageW(tray.Handle(), WM_ENDSESSION, TRUE, 0);
  EXPECT_FALSE(tray.Icon().Present());
  NOTIFYICONDATAW data = ShellRecord();
  EXPECT_FALSE(::Shell_NotifyIconW(NIM_DELETE, &data));

  HWND handle = nullptr;
  {
    MainWindow other;
    NotifyIconWindow second(other.Handle(), ::LoadIconW(nullptr, IDI_APPLICATION));
    handle = second.Handle();
  }
  NOTIFYICONDATAW gone{};
  gone.cbSize = sizeof gone;
  gone.hWnd = handle;
  gone.uID = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(handle));
  EXPECT_FALSE(::Shell_NotifyIconW(NIM_DELETE, &gone));
}

// Closes the open tray menu by choosing its item from the keyboard, as a user would.
bool gMenuSeen = false;
void CALLBACK ChooseFromMenu(HWND, UINT, UINT_PTR id, DWORD) {
  const HWND menu = ::FindWindowW(L"#32768", nullptr);
  if (menu == nullptr || !::IsWindowVisible(menu)) return;
  gMenuSeen = true;
  ::KillTimer(nullptr, id);
  ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
}

TEST_F(TrayIconWindowTest, TheRightButtonOpensTheMenuWhoseCommandGoesToTheMainWindow) {
  const HMENU menu = ::CreatePopupMenu();
  ::AppendMenuW(menu, MF_STRING, 42, L"Programm \u00F6ffnen");
  tray.SetPopupMenu(menu);
  MainWindow::lastCommand = 0;
  gMenuSeen = false;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &ChooseFromMenu);
  Post(WM_RBUTTONDOWN);
  Post(WM_RBUTTONUP);
  const bool chosen = PumpUntil([&] { return MainWindow::lastCommand == 42; });
  ::KillTimer(nullptr, timer);
  ::DestroyMenu(menu);
  EXPECT_TRUE(gMenuSeen);
  EXPECT_TRUE(chosen);
}

}  // namespace
}  // namespace korvex
