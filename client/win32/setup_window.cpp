#include "client/win32/setup_window.h"

#include "core/win32/windows_api.h"  // before <commctrl.h>, which needs <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "core/settings.h"

namespace korvex::win32 {
namespace {

enum ControlId {
  kBenutzernameE = 101,
  kPasswortE,
  kLogin,
  kHostauswahl,
  kIntervall,
  kIntervallSpin,
  kUpdateArt,
  kSpeichern,
};

constexpr wchar_t kFace[] = L"Tahoma";
constexpr int kPixels = 19;
// The fields start here; the labels before them end a few pixels short of it.
constexpr int kFieldColumn = 186;
constexpr int kLabelGap = 2;
constexpr int kLabelColumn = 17;
constexpr RECT kImage1{8, 8, 8 + 458, 8 + 121};
// The height of the open list of a drop-down, below its field.
constexpr int kDropDownHeight = 200;
constexpr int kSpinWidth = 17;

constexpr DWORD kLabel = SS_LEFT | SS_NOPREFIX;
constexpr DWORD kEdit = WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kDropDown = WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;

Text WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::vector<wchar_t> text(length + 1);
  const int copied = ::GetWindowTextW(window, text.data(), length + 1);
  return FromW(text.data(), static_cast<std::size_t>(std::max(copied, 0)));
}

// A drop-down's window height is the height of its field, which follows the item height of the
// field; measured, since the field adds borders of its own.
void FitComboHeight(HWND combo, int height) {
  // Corrected from the value set, not the one read back: Wine reads back more than it was given.
  int item = static_cast<int>(::SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
  for (int attempt = 0; attempt < 4; ++attempt) {
    RECT rect{};
    ::GetWindowRect(combo, &rect);
    const int difference = height - (rect.bottom - rect.top);
    if (difference == 0 || item + difference < 1) return;
    item += difference;
    ::SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item);
  }
}

// The up-down takes its place from the right of its buddy, which it narrows, and overlaps the
// buddy's border; the two together are made to end where the field's width says.
void AttachSpin(HWND spin, HWND field, int fieldWidth) {
  RECT fieldRect{};
  ::GetWindowRect(field, &fieldRect);
  ::MapWindowPoints(nullptr, ::GetParent(field), reinterpret_cast<POINT*>(&fieldRect), 2);
  const int right = fieldRect.left + fieldWidth;
  for (int attempt = 0; attempt < 2; ++attempt) {
    ::SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(field), 0);
    RECT spinRect{};
    ::GetWindowRect(spin, &spinRect);
    ::MapWindowPoints(nullptr, ::GetParent(spin), reinterpret_cast<POINT*>(&spinRect), 2);
    if (spinRect.right == right) return;
    ::SetWindowPos(field, nullptr, 0, 0, fieldWidth + right - spinRect.right, fieldRect.bottom - fieldRect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// The spin field's text as its value: an integer clamped to the range, anything else the minimum.
int IntervalValue(const Text& text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i == text.size()) return kIntervalMinimum;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return kIntervalMinimum;
    value = std::min<long long>(value * 10 + (text[i] - u'0'), 1LL << 40);
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, kIntervalMinimum, kIntervalMaximum));
}

}  // namespace

SetupWindow::SetupWindow(HWND owner, ErrorHandler& errors) : errors_(errors) {
  Create(kSetupWindowClass,
         {WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, 474, 408, true},
         kSetupCaption, owner, nullptr);
  // Creation order is the tab order; each label comes just before its field, which screen readers
  // take as the field's name.
  benutzerL_ = AddControl(L"STATIC", L"Benutzername:", WS_VISIBLE | kLabel, 0, 0);
  benutzernameE_ = AddControl(L"EDIT", L"", WS_VISIBLE | kEdit, WS_EX_CLIENTEDGE, kBenutzernameE);
  passwortL_ = AddControl(L"STATIC", L"Passwort:", WS_VISIBLE | kLabel, 0, 0);
  passwortE_ = AddControl(L"EDIT", L"", WS_VISIBLE | kEdit | ES_PASSWORD, WS_EX_CLIENTEDGE, kPasswortE);
  ::SendMessageW(passwortE_, EM_SETPASSWORDCHAR, L'*', 0);
  login_ = AddControl(L"BUTTON", L"Login", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, kLogin);
  hostnameL_ = AddControl(L"STATIC", L"Hostname:", kLabel, 0, 0);
  hostauswahl_ = AddControl(L"COMBOBOX", W(Text(kHostPlaceholder)), kDropDown, 0, kHostauswahl);
  intervallL_ = AddControl(L"STATIC", L"Updateintervall:", kLabel, 0, 0);
  intervall_ = AddControl(L"EDIT", L"", kEdit, WS_EX_CLIENTEDGE, kIntervall);
  intervallSpin_ = AddControl(UPDOWN_CLASSW, nullptr, UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS | UDS_HOTTRACK,
                              0, kIntervallSpin);
  minutenL_ = AddControl(L"STATIC", L"Minute(n)", kLabel, 0, 0);
  updateArtL_ = AddControl(L"STATIC", L"Updateart:", kLabel, 0, 0);
  updateArt_ = AddControl(L"COMBOBOX", nullptr, kDropDown, 0, kUpdateArt);
  speichern_ = AddControl(L"BUTTON", L"Speichern", WS_TABSTOP | BS_PUSHBUTTON, 0, kSpeichern);

  ::SendMessageW(intervallSpin_, UDM_SETRANGE32, kIntervalMinimum, kIntervalMaximum);
  ::SendMessageW(intervallSpin_, UDM_SETPOS32, 0, kIntervalInitial);
  ::SetWindowTextW(intervall_, W(ToText(kIntervalInitial)));
  ::SetWindowSubclass(intervall_, &SetupWindow::IntervalKeys, 1, reinterpret_cast<DWORD_PTR>(this));
  for (HWND combo : {hostauswahl_, updateArt_}) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (::GetComboBoxInfo(combo, &info) && info.hwndItem != nullptr) {
      ::SetWindowSubclass(info.hwndItem, &SetupWindow::CompleteTyping, 2, reinterpret_cast<DWORD_PTR>(combo));
    }
  }
  for (const char16_t* entry : {kTransportEntryHttps, kTransportEntryHttp}) {
    ::SendMessageW(updateArt_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(Text(entry))));
  }
  SetTransportText(kHostPlaceholder);
  SetHostText(kHostPlaceholder);
  wchar_t separator[8] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) > 1) {
    decimalSeparator_ = separator[0];
  }
  Arrange();
}

void SetupWindow::Layout() {
  font_ = MakeFont(kFace, kPixels, false, CurrentDpi());
  boldFont_ = FittingLabelFont();
  for (HWND control : {benutzernameE_, passwortE_, login_, hostauswahl_, intervall_, minutenL_, updateArt_,
                       speichern_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
  }
  for (HWND label : {benutzerL_, passwortL_, hostnameL_, intervallL_, updateArtL_}) {
    ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_.Get()), TRUE);
  }
  PlaceLabel(benutzerL_, 17, 145);
  PlaceLabel(passwortL_, 16, 184);
  Place(benutzernameE_, 186, 143, 274, 31);
  Place(passwortE_, 186, 180, 274, 31);
  Place(login_, 186, 217, 274, 31);
  PlaceLabel(hostnameL_, 16, 256);
  Place(hostauswahl_, 186, 254, 274, kDropDownHeight);
  FitComboHeight(hostauswahl_, CurrentDpi().Scale(31));
  PlaceLabel(intervallL_, 17, 295);
  // The up-down takes its width from the right of the field's 138 pixels.
  Place(intervall_, 186, 291, 138, 33);
  Place(intervallSpin_, 186 + 138 - kSpinWidth, 291, kSpinWidth, 33);
  AttachSpin(intervallSpin_, intervall_, CurrentDpi().Scale(138));
  PlaceLabel(minutenL_, 330, 294);
  PlaceLabel(updateArtL_, 17, 334);
  Place(updateArt_, 186, 330, 274, kDropDownHeight);
  FitComboHeight(updateArt_, CurrentDpi().Scale(31));
  Place(speichern_, 186, 367, 274, 33);
}

// The labels' bold font at its size, or, where a face wider than the one the dialog was laid out
// with would run a label into its field, the largest smaller size at which every label fits.
ScopedGdiObject SetupWindow::FittingLabelFont() const {
  for (int pixels = kPixels;; --pixels) {
    ScopedGdiObject font = MakeFont(kFace, pixels, true, CurrentDpi());
    bool fits = true;
    for (HWND label : {benutzerL_, passwortL_, hostnameL_, intervallL_, updateArtL_}) {
      const int length = ::GetWindowTextLengthW(label);
      std::vector<wchar_t> text(length + 1);
      ::GetWindowTextW(label, text.data(), length + 1);
      const int room = CurrentDpi().Scale(kFieldColumn - kLabelGap - kLabelColumn);
      if (TextExtent(static_cast<HFONT>(font.Get()), text.data()).cx > room) fits = false;
    }
    if (fits || pixels <= kPixels / 2) return font;
  }
}

bool SetupWindow::Visible() const { return Handle() != nullptr && ::IsWindowVisible(Handle()); }

void SetupWindow::Show() {
  if (Handle() == nullptr) return;
  ::ShowWindow(Handle(), SW_SHOWNORMAL);
  ::SetForegroundWindow(Handle());
}

void SetupWindow::BringToTop() {
  if (Handle() != nullptr) ::SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void SetupWindow::RunModal() {
  if (Handle() == nullptr) return;
  ended_ = false;
  modal_ = true;
  RunModalLoop(Handle(), ended_);
  modal_ = false;
}

void SetupWindow::EndShowing() {
  ended_ = true;
  // A modal showing hides the dialog itself, after the other windows are enabled again.
  if (!modal_ && Handle() != nullptr) ::ShowWindow(Handle(), SW_HIDE);
}

Text SetupWindow::UserName() const { return WindowText(benutzernameE_); }
void SetupWindow::SetUserName(const Text& text) { ::SetWindowTextW(benutzernameE_, W(text)); }
Text SetupWindow::Password() const { return WindowText(passwortE_); }
void SetupWindow::SetPassword(const Text& text) { ::SetWindowTextW(passwortE_, W(text)); }
Text SetupWindow::HostText() const { return WindowText(hostauswahl_); }

void SetupWindow::SetHostText(const Text& text) {
  ::SendMessageW(hostauswahl_, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  ::SetWindowTextW(hostauswahl_, W(text));
}

void SetupWindow::SetHostEntries(const std::vector<Text>& entries) {
  // Emptying the list empties the field too; the text stays what it was.
  const Text text = HostText();
  ::SendMessageW(hostauswahl_, CB_RESETCONTENT, 0, 0);
  for (const Text& entry : entries) {
    ::SendMessageW(hostauswahl_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(entry)));
  }
  SetHostText(text);
}

Text SetupWindow::IntervalText() const { return WindowText(intervall_); }
void SetupWindow::SetIntervalText(const Text& text) { ::SetWindowTextW(intervall_, W(text)); }

void SetupWindow::SetTransportText(const Text& text) {
  ::SendMessageW(updateArt_, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  ::SetWindowTextW(updateArt_, W(text));
}

int SetupWindow::TransportSelection() const {
  switch (::SendMessageW(updateArt_, CB_GETCURSEL, 0, 0)) {
    case 0:
      return kTransportHttps;
    case 1:
      return kTransportHttp;
    default:
      return kTransportNone;
  }
}

void SetupWindow::ShowLowerHalf() {
  for (HWND control : {hostnameL_, hostauswahl_, intervallL_, intervall_, intervallSpin_, minutenL_, updateArtL_,
                       updateArt_, speichern_}) {
    ::ShowWindow(control, SW_SHOWNA);
  }
}

void SetupWindow::Enable(HWND control, bool enabled) {
  if (!enabled && ::GetFocus() == control) {
    ::SendMessageW(Handle(), WM_NEXTDLGCTL, 0, FALSE);
  }
  ::EnableWindow(control, enabled ? TRUE : FALSE);
}

void SetupWindow::SetCredentialsEnabled(bool enabled) {
  Enable(benutzernameE_, enabled);
  Enable(passwortE_, enabled);
}

void SetupWindow::SetLoginEnabled(bool enabled) { Enable(login_, enabled); }

void SetupWindow::SetTaskbarButton(bool shown) {
  if (Handle() == nullptr) return;
  // An owned window has no button of its own unless it carries WS_EX_APPWINDOW; the style is
  // read when the window is shown, which comes next.
  const LONG_PTR style = ::GetWindowLongPtrW(Handle(), GWL_EXSTYLE);
  ::SetWindowLongPtrW(Handle(), GWL_EXSTYLE, shown ? style | WS_EX_APPWINDOW : style & ~LONG_PTR{WS_EX_APPWINDOW});
}

void SetupWindow::Run(void (TSetupForm::*handler)()) {
  if (form_ == nullptr) return;
  TSetupForm& form = *form_;
  errors_.Run([&form, handler] { (form.*handler)(); });
}

void SetupWindow::StepInterval(int delta) {
  const int value = std::clamp(IntervalValue(IntervalText()) + delta, kIntervalMinimum, kIntervalMaximum);
  SetIntervalText(ToText(value));
  ::SendMessageW(intervall_, EM_SETSEL, 0, -1);
}

LRESULT CALLBACK SetupWindow::IntervalKeys(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR data) {
  const auto* self = reinterpret_cast<const SetupWindow*>(data);
  if (message == WM_CHAR && !IntervalAcceptsCharacter(static_cast<char16_t>(wParam),
                                                       static_cast<char16_t>(self->decimalSeparator_))) {
    ::MessageBeep(0);
    return 0;
  }
  if (message == WM_NCDESTROY) ::RemoveWindowSubclass(edit, &SetupWindow::IntervalKeys, 1);
  return ::DefSubclassProc(edit, message, wParam, lParam);
}

// Typing completion of the drop-downs: a typed character that makes the text, up to the caret at
// its end, the beginning of an entry picks that entry, and the rest of it is selected for typing
// over. Only this and a pick from the list select an entry; other typing leaves none selected.
LRESULT CALLBACK SetupWindow::CompleteTyping(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                             DWORD_PTR data) {
  if (message == WM_NCDESTROY) ::RemoveWindowSubclass(edit, &SetupWindow::CompleteTyping, 2);
  const LRESULT result = ::DefSubclassProc(edit, message, wParam, lParam);
  if (message != WM_CHAR || wParam < L' ') return result;
  HWND combo = reinterpret_cast<HWND>(data);
  const Text typed = WindowText(edit);
  DWORD start = 0;
  DWORD end = 0;
  ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  if (typed.empty() || end != typed.size()) return result;
  const LRESULT entry = ::SendMessageW(combo, CB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(W(typed)));
  if (entry == CB_ERR) return result;
  ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
  ::SendMessageW(combo, CB_SETEDITSEL, 0, MAKELPARAM(typed.size(), -1));
  return result;
}

void SetupWindow::FocusFirst() {
  if (HWND first = ::GetNextDlgTabItem(Handle(), nullptr, FALSE)) ::SetFocus(first);
}

void SetupWindow::OnCommand(int id, int code) {
  switch (id) {
    case kLogin:
      if (code == BN_CLICKED) Run(&TSetupForm::LoginClick);
      break;
    case kSpeichern:
      if (code == BN_CLICKED) Run(&TSetupForm::SpeichernClick);
      break;
    case kIntervall:
      if (code == EN_KILLFOCUS) Run(&TSetupForm::IntervallExit);
      break;
    default:
      break;
  }
}

LRESULT SetupWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(Handle(), &paint);
      logo_.Draw(dc, CurrentDpi().Scale(kImage1), CurrentDpi());
      ::EndPaint(Handle(), &paint);
      return 0;
    }
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(kLogin, DC_HASDEFID);
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == kIntervallSpin && header->code == UDN_DELTAPOS) {
        // The field's own rules: the step starts from the text, clamped, and stays within the range.
        StepInterval(reinterpret_cast<const NMUPDOWN*>(lParam)->iDelta > 0 ? 1 : -1);
        return 1;
      }
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(Handle(), focus)) focus_ = focus;
      } else if (focus_ != nullptr && ::IsWindowVisible(focus_) && ::IsWindowEnabled(focus_)) {
        ::SetFocus(focus_);
      } else {
        FocusFirst();
      }
      return 0;
    case WM_CLOSE:
      Run(&TSetupForm::Close);
      return 0;
    default:
      return Window::OnMessage(message, wParam, lParam);
  }
}

}  // namespace korvex::win32
