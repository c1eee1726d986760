// The client's Win32 windows, made directly in the test process (with Korvex.rc linked in): their
// client areas, controls, fonts, menus, tab order, the drop-downs, the spin field and the German
// message-box buttons, under Wine at 96 dpi.
#include "core/win32/windows_api.h"  // before <commctrl.h>, which needs <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "client/error_handler.h"
#include "client/win32/about_window.h"
#include "client/win32/client_window.h"
#include "client/win32/resource.h"
#include "client/win32/setup_window.h"
#include "client/win32/system_message_boxes.h"
#include "core/settings.h"
#include "tests/support/client_fakes.h"

namespace korvex {
namespace {

using win32::FromW;
using win32::W;

std::wstring TextOf(HWND window) {
  wchar_t buffer[512] = {};
  ::GetWindowTextW(window, buffer, 512);
  return buffer;
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[64] = {};
  ::GetClassNameW(window, buffer, 64);
  return buffer;
}

std::vector<HWND> Controls(HWND window) {
  std::vector<HWND> controls;
  for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    controls.push_back(child);
  }
  return controls;
}

HWND Control(HWND window, const wchar_t* className, const wchar_t* text) {
  for (HWND control : Controls(window)) {
    if (::lstrcmpiW(ClassOf(control).c_str(), className) == 0 && (text == nullptr || TextOf(control) == text)) {
      return control;
    }
  }
  return nullptr;
}

HWND ControlByIndex(HWND window, const wchar_t* className, int index) {
  for (HWND control : Controls(window)) {
    if (::lstrcmpiW(ClassOf(control).c_str(), className) == 0 && index-- == 0) return control;
  }
  return nullptr;
}

RECT ClientRectOf(HWND control) {
  RECT rect{};
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font;
}

class ClientWindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
    ::InitCommonControlsEx(&controls);
  }

  testing::Journal journal;
  testing::FakeBoxes boxes{journal};
  ErrorHandler errors{boxes, u"Korvex"};
  win32::ClientWindow client{errors};
  win32::SetupWindow setup{client.Handle(), errors};
  win32::AboutWindow about{client.Handle(), errors};
};

TEST_F(ClientWindowsTest, WindowsHaveTheirCaptionsStylesAndClientAreas) {
  struct Case {
    HWND window;
    const wchar_t* caption;
    int width;
    int height;
    bool minimizeBox;
  };
  const Case cases[] = {
      {client.Handle(), L"Korvex-Client", 263, 215, true},
      {setup.Handle(), L"Korvex-Client Setup", 474, 408, true},
      {about.Handle(), L"Info", 298, 213, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(FromW(c.caption)));
    EXPECT_EQ(TextOf(c.window), c.caption);
    RECT area{};
    ::GetClientRect(c.window, &area);
    EXPECT_EQ(area.right, c.width);
    EXPECT_EQ(area.bottom, c.height);
    const LONG style = ::GetWindowLongW(c.window, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_EQ((style & WS_MINIMIZEBOX) != 0, c.minimizeBox);
    EXPECT_FALSE(::IsWindowVisible(c.window)) << "creating does not show";
  }
}

// The client area stays exact when the menu bar wraps to more rows than AdjustWindowRectEx knows:
// a narrower frame forces the wrap, and the window is made again at its size.
TEST_F(ClientWindowsTest, MainWindowHasItsMenuBarAndAddressLabels) {
  HMENU menu = ::GetMenu(client.Handle());
  ASSERT_NE(menu, nullptr);
  struct Item {
    const wchar_t* caption;
    bool popup;
  };
  const Item items[] = {{L"Datei", true}, {L"Einstellungen", false}, {L"Korvex als Dienst", true}, {L"?", false}};
  ASSERT_EQ(::GetMenuItemCount(menu), 4);
  for (int i = 0; i < 4; ++i) {
    wchar_t caption[64] = {};
    ::GetMenuStringW(menu, i, caption, 64, MF_BYPOSITION);
    EXPECT_STREQ(caption, items[i].caption);
    EXPECT_EQ(::GetSubMenu(menu, i) != nullptr, items[i].popup) << i;
  }

  HWND ipl = Control(client.Handle(), L"Static", L"Ihre aktuelle IP lautet:");
  ASSERT_NE(ipl, nullptr);
  const RECT iplRect = ClientRectOf(ipl);
  EXPECT_EQ(iplRect.left, 8);
  EXPECT_EQ(iplRect.top, 129);
  EXPECT_EQ(iplRect.right - iplRect.left, 249);
  EXPECT_EQ(iplRect.bottom - iplRect.top, 23);
  EXPECT_TRUE(::GetWindowLongW(ipl, GWL_STYLE) & SS_CENTER);
  EXPECT_STREQ(FontOf(ipl).lfFaceName, L"Tahoma");
  EXPECT_EQ(FontOf(ipl).lfHeight, -19);

  HWND address = ControlByIndex(client.Handle(), L"Static", 1);
  client.SetAddress(u"127.0.0.1");
  EXPECT_EQ(TextOf(address), L"127.0.0.1");
  const RECT addressRect = ClientRectOf(address);
  EXPECT_EQ(addressRect.top, 159);
  EXPECT_EQ(addressRect.bottom - addressRect.top, 49);
}

TEST_F(ClientWindowsTest, TrayMenuResourceCarriesItsItems) {
  HMENU menu = ::LoadMenuW(::GetModuleHandleW(nullptr), L"POPUP");
  ASSERT_NE(menu, nullptr);
  HMENU popup = ::GetSubMenu(menu, 0);
  ASSERT_NE(popup, nullptr);
  const wchar_t* expected[] = {L"Programm öffnen", L"Update erzwingen", L"", L"Einstellungen", L"",
                               L"Korvex als Dienst installieren", L"Korvex als Dienst entfernen", L"", L"Info",
                               L"Beenden"};
  ASSERT_EQ(::GetMenuItemCount(popup), 10);
  for (int i = 0; i < 10; ++i) {
    wchar_t caption[64] = {};
    ::GetMenuStringW(popup, i, caption, 64, MF_BYPOSITION);
    EXPECT_STREQ(caption, expected[i]) << i;
    EXPECT_EQ((::GetMenuState(popup, i, MF_BYPOSITION) & MF_SEPARATOR) != 0, expected[i][0] == 0) << i;
  }
  ::DestroyMenu(menu);
}

TEST_F(ClientWindowsTest, SetupControlsSitAtTheirPlacesInTabOrder) {
  struct Case {
    const wchar_t* className;
    const wchar_t* text;  // null: found by index below
    int index;
    int x, y, width, height;  // width 0: a label sized to its text
    bool bold;
  };
  const Case cases[] = {
      {L"Static", L"Benutzername:", 0, 17, 145, 0, 0, true},
      {L"Static", L"Passwort:", 0, 16, 184, 0, 0, true},
      {L"Edit", nullptr, 0, 186, 143, 274, 31, false},
      {L"Edit", nullptr, 1, 186, 180, 274, 31, false},
      {L"Button", L"Login", 0, 186, 217, 274, 31, false},
      {L"Static", L"Hostname:", 0, 16, 256, 0, 0, true},
      {L"ComboBox", nullptr, 0, 186, 254, 274, 31, false},
      {L"Static", L"Updateintervall:", 0, 17, 295, 0, 0, true},
      {L"Static", L"Minute(n)", 0, 330, 294, 0, 0, false},
      {L"Static", L"Updateart:", 0, 17, 334, 0, 0, true},
      {L"ComboBox", nullptr, 1, 186, 330, 274, 31, false},
      {L"Button", L"Speichern", 0, 186, 367, 274, 33, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(FromW(c.text ? c.text : c.className)) + " #" + std::to_string(c.index));
    HWND control = c.text ? Control(setup.Handle(), c.className, c.text)
                          : ControlByIndex(setup.Handle(), c.className, c.index);
    ASSERT_NE(control, nullptr);
    const RECT rect = ClientRectOf(control);
    EXPECT_EQ(rect.left, c.x);
    EXPECT_EQ(rect.top, c.y);
    if (c.width != 0) {
      EXPECT_EQ(rect.right - rect.left, c.width);
      EXPECT_EQ(rect.bottom - rect.top, c.height);
    }
    const LOGFONTW font = FontOf(control);
    EXPECT_STREQ(font.lfFaceName, L"Tahoma");
    EXPECT_EQ(font.lfWeight, c.bold ? FW_BOLD : FW_NORMAL);
    if (c.bold) {
      // 19 pixels, or a little less where the face in use is wider than the one the dialog was
      // laid out with: a label ends before its field.
      EXPECT_LE(-font.lfHeight, 19);
      EXPECT_GE(-font.lfHeight, 15);
      EXPECT_LE(rect.right, 186);
    } else {
      EXPECT_EQ(font.lfHeight, -19);
    }
  }

  // The spin field: edit and up-down together take 138 × 33.
  HWND interval = ControlByIndex(setup.Handle(), L"Edit", 2);
  HWND spin = Control(setup.Handle(), UPDOWN_CLASSW, nullptr);
  ASSERT_NE(spin, nullptr);
  const RECT field = ClientRectOf(interval);
  const RECT arrows = ClientRectOf(spin);
  EXPECT_EQ(field.left, 186);
  EXPECT_EQ(field.top, 291);
  EXPECT_EQ(arrows.right, 186 + 138);
  EXPECT_EQ(field.bottom - field.top, 33);
  EXPECT_EQ(TextOf(interval), L"5");

  // Only the upper half shows until the lower half is shown, all eight together.
  EXPECT_TRUE(::IsWindowVisible(Control(setup.Handle(), L"Button", L"Login")) ||
              !::IsWindowVisible(setup.Handle()));
  EXPECT_FALSE(::GetWindowLongW(Control(setup.Handle(), L"Button", L"Speichern"), GWL_STYLE) & WS_VISIBLE);
  setup.ShowLowerHalf();
  for (HWND control : Controls(setup.Handle())) {
    EXPECT_TRUE(::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) << ToUtf8(FromW(TextOf(control).c_str()));
  }

  const HWND order[] = {ControlByIndex(setup.Handle(), L"Edit", 0),     ControlByIndex(setup.Handle(), L"Edit", 1),
                        Control(setup.Handle(), L"Button", L"Login"),    ControlByIndex(setup.Handle(), L"ComboBox", 0),
                        interval,                                        ControlByIndex(setup.Handle(), L"ComboBox", 1),
                        Control(setup.Handle(), L"Button", L"Speichern")};
  ::ShowWindow(setup.Handle(), SW_SHOWNA);
  HWND current = ::GetNextDlgTabItem(setup.Handle(), nullptr, FALSE);
  for (HWND expected : order) {
    EXPECT_EQ(current, expected) << ToUtf8(FromW(ClassOf(expected).c_str()));
    current = ::GetNextDlgTabItem(setup.Handle(), current, FALSE);
  }
  ::ShowWindow(setup.Handle(), SW_HIDE);
}

TEST_F(ClientWindowsTest, LoginIsTheDefaultButtonAndThePasswordShowsStars) {
  HWND login = Control(setup.Handle(), L"Button", L"Login");
  const LRESULT defaultId = ::SendMessageW(setup.Handle(), DM_GETDEFID, 0, 0);
  EXPECT_EQ(HIWORD(defaultId), DC_HASDEFID);
  EXPECT_EQ(LOWORD(defaultId), ::GetDlgCtrlID(login));
  EXPECT_EQ(::GetWindowLongW(login, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  HWND password = ControlByIndex(setup.Handle(), L"Edit", 1);
  EXPECT_TRUE(::GetWindowLongW(password, GWL_STYLE) & ES_PASSWORD);
  EXPECT_EQ(::SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0), L'*');

  setup.SetLoginEnabled(false);
  EXPECT_FALSE(::IsWindowEnabled(login));
  setup.SetCredentialsEnabled(false);
  EXPECT_FALSE(::IsWindowEnabled(password));
}

TEST_F(ClientWindowsTest, DropDownTextAndSelectionAreSeparate) {
  HWND transport = ControlByIndex(setup.Handle(), L"ComboBox", 1);
  EXPECT_EQ(TextOf(transport), L"---bitte auswählen---");
  EXPECT_EQ(setup.TransportSelection(), kTransportNone);
  ASSERT_EQ(::SendMessageW(transport, CB_GETCOUNT, 0, 0), 2);
  wchar_t entry[64] = {};
  ::SendMessageW(transport, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(entry));
  EXPECT_STREQ(entry, L"HTTP (Unverschlüsselt)");

  ::SendMessageW(transport, CB_SETCURSEL, 1, 0);
  EXPECT_EQ(setup.TransportSelection(), kTransportHttp);
  setup.SetTransportText(u"HTTPS (Verschlüsselt)");
  EXPECT_EQ(TextOf(transport), L"HTTPS (Verschlüsselt)");
  EXPECT_EQ(setup.TransportSelection(), kTransportNone) << "the text of an entry selects nothing";

  // Typing that completes to an entry picks it; typing on past it picks none.
  setup.SetTransportText(u"");
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(::GetComboBoxInfo(transport, &info));
  for (wchar_t c : std::wstring(L"HTTP (U")) ::SendMessageW(info.hwndItem, WM_CHAR, c, 0);
  EXPECT_EQ(TextOf(transport), L"HTTP (Unverschlüsselt)");
  EXPECT_EQ(setup.TransportSelection(), kTransportHttp);
  ::SendMessageW(info.hwndItem, EM_SETSEL, 0, -1);
  for (wchar_t c : std::wstring(L"FTP")) ::SendMessageW(info.hwndItem, WM_CHAR, c, 0);
  EXPECT_EQ(TextOf(transport), L"FTP");
  EXPECT_EQ(setup.TransportSelection(), kTransportNone);

  setup.SetHostText(u"stored.korvex.test");
  setup.SetHostEntries({u"alpha", u"", u"beta"});
  HWND hosts = ControlByIndex(setup.Handle(), L"ComboBox", 0);
  EXPECT_EQ(setup.HostText(), u"stored.korvex.test");
  EXPECT_EQ(::SendMessageW(hosts, CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(::SendMessageW(hosts, CB_GETCURSEL, 0, 0), CB_ERR);
}

TEST_F(ClientWindowsTest, SpinFieldStepsByOneWithinItsRange) {
  HWND interval = ControlByIndex(setup.Handle(), L"Edit", 2);
  struct Case {
    const char16_t* text;
    WPARAM key;
    const char16_t* after;
  };
  const Case cases[] = {
      {u"5", VK_UP, u"6"},     {u"5", VK_DOWN, u"4"},  {u"60", VK_UP, u"60"}, {u"1", VK_DOWN, u"1"},
      {u"75", VK_UP, u"60"},   {u"0", VK_DOWN, u"1"},  {u"abc", VK_UP, u"2"}, {u"", VK_UP, u"2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text) + (c.key == VK_UP ? " up" : " down"));
    setup.SetIntervalText(c.text);
    ::SendMessageW(interval, WM_KEYDOWN, c.key, 0);
    ::SendMessageW(interval, WM_KEYUP, c.key, 0);
    EXPECT_EQ(setup.IntervalText(), c.after);
  }
}

TEST_F(ClientWindowsTest, SpinFieldRefusesCharactersOtherThanDigitsSignsAndSeparator) {
  HWND interval = ControlByIndex(setup.Handle(), L"Edit", 2);
  setup.SetIntervalText(u"");
  for (wchar_t c : std::wstring(L"1a-+x2")) ::SendMessageW(interval, WM_CHAR, c, 0);
  EXPECT_EQ(setup.IntervalText(), u"1-+2");
}

TEST_F(ClientWindowsTest, AboutBoxShowsItsTextsInThePanel) {
  struct Case {
    Text text;
    int x, y;
  };
  const Case cases[] = {
      {kAboutProductName, 96, 24},
      {kAboutVersion, 96, 48},
      {kAboutCopyright, 16, 88},
      {kAboutComments, 16, 112},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    HWND label = Control(about.Handle(), L"Static", W(c.text));
    ASSERT_NE(label, nullptr);
    const RECT rect = ClientRectOf(label);
    EXPECT_EQ(rect.left, c.x);
    EXPECT_EQ(rect.top, c.y);
    EXPECT_STREQ(FontOf(label).lfFaceName, L"MS Sans Serif");
    EXPECT_EQ(FontOf(label).lfHeight, -11);
    EXPECT_EQ(FontOf(label).lfWeight, FW_BOLD);
  }
  HWND ok = Control(about.Handle(), L"Button", L"OK");
  ASSERT_NE(ok, nullptr);
  const RECT rect = ClientRectOf(ok);
  EXPECT_EQ(rect.left, 111);
  EXPECT_EQ(rect.top, 180);
  EXPECT_EQ(rect.right - rect.left, 75);
  EXPECT_EQ(rect.bottom - rect.top, 25);
  EXPECT_EQ(LOWORD(::SendMessageW(about.Handle(), DM_GETDEFID, 0, 0)), IDOK);
}

// The comment wraps to a second line; under a wider font it needs a third, and the label grows
// to hold it instead of cutting "IP-Adressen" off.
TEST_F(ClientWindowsTest, TheAboutBoxCommentIsTallEnoughForItsWrappedText) {
  HWND comments = Control(about.Handle(), L"Static", W(Text(kAboutComments)));
  ASSERT_NE(comments, nullptr);
  const RECT rect = ClientRectOf(comments);
  EXPECT_EQ(rect.right - rect.left, 241);
  EXPECT_GE(rect.bottom - rect.top, 26);
  RECT needed{0, 0, rect.right - rect.left, 0};
  HDC dc = ::GetDC(comments);
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(comments, WM_GETFONT, 0, 0)));
  ::DrawTextW(dc, W(Text(kAboutComments)), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  ::SelectObject(dc, old);
  ::ReleaseDC(comments, dc);
  EXPECT_GE(rect.bottom - rect.top, needed.bottom);
}

// The setup dialog is owned by the hidden main window at the first start; only its own button
// on the taskbar lets the user find it again.
TEST_F(ClientWindowsTest, TheSetupDialogCarriesATaskbarButtonWhenAsked) {
  setup.SetTaskbarButton(true);
  EXPECT_TRUE(::GetWindowLongPtrW(setup.Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
  setup.SetTaskbarButton(false);
  EXPECT_FALSE(::GetWindowLongPtrW(setup.Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
  EXPECT_TRUE(::GetWindowLongPtrW(setup.Handle(), GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
}

TEST_F(ClientWindowsTest, TheServiceItemsOfBothMenusAreDisabledTogether) {
  HMENU popup = ::LoadMenuW(::GetModuleHandleW(nullptr), L"POPUP");
  ASSERT_NE(popup, nullptr);
  client.SetTrayMenu(::GetSubMenu(popup, 0));
  HMENU menu = ::GetMenu(client.Handle());
  const auto grayed = [](HMENU m, UINT id) { return (::GetMenuState(m, id, MF_BYCOMMAND) & MF_GRAYED) != 0; };
  for (const bool enabled : {false, true}) {
    SCOPED_TRACE(enabled);
    client.SetServiceCommandsEnabled(enabled);
    EXPECT_EQ(grayed(menu, IDM_INSTALLIEREN1), !enabled);
    EXPECT_EQ(grayed(menu, IDM_DEINSTALLIEREN1), !enabled);
    EXPECT_EQ(grayed(::GetSubMenu(popup, 0), IDM_KORVEXALSDIENSTINSTALLIEREN1), !enabled);
    EXPECT_EQ(grayed(::GetSubMenu(popup, 0), IDM_KORVEXALSDIENSTENTFERNEN1), !enabled);
    EXPECT_FALSE(grayed(menu, IDM_UPDATEERZWINGEN2));
  }
  client.SetTrayMenu(nullptr);
  ::DestroyMenu(popup);
}

// A helper thread waits (with a deadline) for the box, reads its buttons and presses one.
struct BoxWatcher {
  explicit BoxWatcher(const wchar_t* caption, int press) {
    thread = std::thread([this, caption, press] {
      const ULONGLONG deadline = ::GetTickCount64() + 20000;
      while (::GetTickCount64() < deadline) {
        if (HWND box = ::FindWindowW(L"#32770", caption); box != nullptr && ::IsWindowVisible(box)) {
          for (int id : {IDOK, IDYES, IDNO}) {
            if (HWND button = ::GetDlgItem(box, id)) buttons.push_back(TextOf(button));
          }
          ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), 0);
          return;
        }
        ::Sleep(20);
      }
    });
  }
  ~BoxWatcher() {
    if (thread.joinable()) thread.join();
  }
  std::vector<std::wstring> buttons;
  std::thread thread;
};

TEST(SystemMessageBoxes, CarryGermanButtonCaptions) {
  win32::SystemMessageBoxes boxes;
  {
    BoxWatcher watcher(L"Korvex", IDOK);
    boxes.Error(u"Korvex", u"Es ist ein Fehler aufgetreten.");
    watcher.thread.join();
    EXPECT_EQ(watcher.buttons, std::vector<std::wstring>{L"OK"});
  }
  {
    BoxWatcher watcher(L"Informationen", IDNO);
    EXPECT_FALSE(boxes.AskInformation(u"Jetzt aktualisieren?"));
    watcher.thread.join();
    EXPECT_EQ(watcher.buttons, (std::vector<std::wstring>{L"&Ja", L"&Nein"}));
  }
  {
    BoxWatcher watcher(L"Informationen", IDYES);
    EXPECT_TRUE(boxes.AskInformation(u"Jetzt aktualisieren?"));
  }
}

}  // namespace
}  // namespace korvex
