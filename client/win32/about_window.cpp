#include "client/win32/about_window.h"

#include "client/win32/resource.h"

namespace korvex::win32 {
namespace {

constexpr wchar_t kFace[] = L"MS Sans Serif";
constexpr int kPixels = 11;
// Panel1, and the places of its items relative to it.
constexpr RECT kPanel1{8, 8, 8 + 281, 8 + 161};
constexpr POINT kProgramIcon{17, 16};
constexpr int kProgramIconSize = 32;
constexpr DWORD kLabel = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;

}  // namespace

AboutWindow::AboutWindow(HWND owner, ErrorHandler& errors) : errors_(errors) {
  Create(kAboutWindowClass,
         {WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, 298, 213, true},
         kAboutCaption, owner, nullptr);
  productName_ = AddControl(L"STATIC", W(Text(kAboutProductName)), kLabel, 0, 0);
  version_ = AddControl(L"STATIC", W(Text(kAboutVersion)), kLabel, 0, 0);
  copyright_ = AddControl(L"STATIC", W(Text(kAboutCopyright)), kLabel, 0, 0);
  comments_ = AddControl(L"STATIC", W(Text(kAboutComments)), kLabel, 0, 0);
  okButton_ = AddControl(L"BUTTON", L"OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, IDOK);
  Arrange();
}

void AboutWindow::Layout() {
  font_ = MakeFont(kFace, kPixels, false, CurrentDpi());
  boldFont_ = MakeFont(kFace, kPixels, true, CurrentDpi());
  for (HWND label : {productName_, version_, copyright_, comments_}) {
    ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_.Get()), TRUE);
  }
  ::SendMessageW(okButton_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
  const int x = kPanel1.left;
  const int y = kPanel1.top;
  PlaceLabel(productName_, x + 88, y + 16);
  PlaceLabel(version_, x + 88, y + 40);
  PlaceLabel(copyright_, x + 8, y + 80);
  PlaceWrappedLabel(comments_, x + 8, y + 104, 241, 26);
  Place(okButton_, 111, 180, 75, 25);
  const int iconSize = CurrentDpi().Scale(kProgramIconSize);
  icon_.Reset(static_cast<HICON>(::LoadImageW(ProgramInstance(), MAKEINTRESOURCEW(IDI_KORVEX), IMAGE_ICON, iconSize,
                                              iconSize, LR_DEFAULTCOLOR)));
}

bool AboutWindow::Visible() const { return Handle() != nullptr && ::IsWindowVisible(Handle()); }

void AboutWindow::Show() {
  if (Handle() == nullptr) return;
  ::ShowWindow(Handle(), SW_SHOWNORMAL);
  ::SetForegroundWindow(Handle());
}

void AboutWindow::BringToTop() {
  if (Handle() != nullptr) ::SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void AboutWindow::RunModal() {
  if (Handle() == nullptr) return;
  ended_ = false;
  modal_ = true;
  ::SetFocus(okButton_);
  RunModalLoop(Handle(), ended_);
  modal_ = false;
}

void AboutWindow::EndShowing() {
  ended_ = true;
  if (!modal_ && Handle() != nullptr) ::ShowWindow(Handle(), SW_HIDE);
}

void AboutWindow::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(Handle(), &paint);
  // Raised inner and lowered outer bevel: an etched edge.
  RECT panel = CurrentDpi().Scale(kPanel1);
  ::DrawEdge(dc, &panel, EDGE_ETCHED, BF_RECT);
  if (icon_) {
    const int size = CurrentDpi().Scale(kProgramIconSize);
    ::DrawIconEx(dc, CurrentDpi().Scale(kPanel1.left + kProgramIcon.x), CurrentDpi().Scale(kPanel1.top + kProgramIcon.y),
                 icon_.Get(), size, size, 0, nullptr, DI_NORMAL);
  }
  ::EndPaint(Handle(), &paint);
}

LRESULT AboutWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      OnPaint();
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED && box_ != nullptr) {
        TAboutBox& box = *box_;
        errors_.Run([&box] { box.OKButtonClick(); });
      }
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) ::SetFocus(okButton_);
      return 0;
    case WM_CLOSE:
      // The close box ends the showing as the button does.
      EndShowing();
      return 0;
    default:
      return Window::OnMessage(message, wParam, lParam);
  }
}

}  // namespace korvex::win32
