#include "client/win32/client_window.h"

#include "client/single_instance.h"
#include "client/win32/resource.h"
#include "core/error.h"

namespace korvex::win32 {
namespace {

constexpr wchar_t kMainMenu[] = L"MAINMENU1";
constexpr wchar_t kLabelFace[] = L"Tahoma";
constexpr int kLabelPixels = 19;
constexpr RECT kImage1{8, 8, 8 + 249, 8 + 113};
// Posted to itself when a second start asked to see the client: the asking process is answered
// at once, and the showing, which may send an update, runs from the window's own queue.
constexpr UINT kShowForSecondStart = WM_APP + 1;

}  // namespace

class ClientWindow::Driver : public TimerDriver {
 public:
  Driver(ClientWindow& owner, UINT_PTR id) : owner_(owner), id_(id) {}
  ~Driver() override {
    Disarm();
    owner_.ticks_.erase(id_);
  }
  void Arm(std::uint32_t milliseconds) override {
    // SetTimer with an id that is set already starts its countdown anew.
    if (owner_.Handle() != nullptr && ::SetTimer(owner_.Handle(), id_, milliseconds, nullptr) == 0) {
      throw KorError(kTimerUnavailable, ::GetLastError());
    }
  }
  void Disarm() override {
    if (owner_.Handle() != nullptr) ::KillTimer(owner_.Handle(), id_);
  }

 private:
  ClientWindow& owner_;
  UINT_PTR id_;
};

ClientWindow::ClientWindow(ErrorHandler& errors) : errors_(errors) {
  Create(kClientWindowClass,
         {WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, 0, 263, 215, false},
         kClientCaption, nullptr, ::LoadMenuW(ProgramInstance(), kMainMenu));
  ipl_ = AddControl(L"STATIC", W(Text(kAddressLabel)), WS_VISIBLE | SS_CENTER | SS_NOPREFIX, 0, 0);
  ipAnzeige_ = AddControl(L"STATIC", L"", WS_VISIBLE | SS_CENTER | SS_NOPREFIX, 0, 0);
  Arrange();
  showRunningClient_ = ::RegisterWindowMessageW(W(Text(kShowRunningClientMessage)));
}

ClientWindow::~ClientWindow() = default;

void ClientWindow::Layout() {
  labelFont_ = MakeFont(kLabelFace, kLabelPixels, false, CurrentDpi());
  for (HWND label : {ipl_, ipAnzeige_}) {
    ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(labelFont_.Get()), TRUE);
  }
  Place(ipl_, 8, 129, 249, 23);
  Place(ipAnzeige_, 8, 159, 249, 49);
}

std::unique_ptr<TimerDriver> ClientWindow::MakeTimerDriver(std::function<void()> onTick) {
  const UINT_PTR id = nextTimerId_++;
  ticks_[id] = std::move(onTick);
  return std::make_unique<Driver>(*this, id);
}

bool ClientWindow::Visible() const { return Handle() != nullptr && ::IsWindowVisible(Handle()); }

void ClientWindow::ShowWindow(ShowCommand command) {
  if (Handle() == nullptr) return;
  switch (command) {
    case ShowCommand::kHide:
      ::ShowWindow(Handle(), SW_HIDE);
      break;
    case ShowCommand::kShowNormal:
      ::ShowWindow(Handle(), SW_SHOWNORMAL);
      break;
    case ShowCommand::kShowMinNoActivate:
      ::ShowWindow(Handle(), SW_SHOWMINNOACTIVE);
      break;
  }
}

void ClientWindow::BringToTop() {
  if (Handle() != nullptr) ::SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void ClientWindow::BringApplicationToFront() {
  if (Handle() == nullptr) return;
  HWND top = ::GetLastActivePopup(Handle());
  if (top == nullptr || !::IsWindowVisible(top) || !::IsWindowEnabled(top)) top = Handle();
  ::SetForegroundWindow(top);
}

void ClientWindow::SetAddress(const Text& address) { ::SetWindowTextW(ipAnzeige_, W(address)); }

void ClientWindow::SetServiceCommandsEnabled(bool enabled) {
  const UINT state = MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED);
  if (HMENU menu = Handle() != nullptr ? ::GetMenu(Handle()) : nullptr) {
    ::EnableMenuItem(menu, IDM_INSTALLIEREN1, state);
    ::EnableMenuItem(menu, IDM_DEINSTALLIEREN1, state);
  }
  if (trayMenu_ != nullptr) {
    ::EnableMenuItem(trayMenu_, IDM_KORVEXALSDIENSTINSTALLIEREN1, state);
    ::EnableMenuItem(trayMenu_, IDM_KORVEXALSDIENSTENTFERNEN1, state);
  }
}

void ClientWindow::Close() {
  if (Handle() != nullptr) ::DestroyWindow(Handle());
}

void ClientWindow::Run(void (TClient::*handler)()) {
  if (client_ == nullptr) return;
  TClient& client = *client_;
  errors_.Run([&client, handler] { (client.*handler)(); });
}

void ClientWindow::OnCommand(int id) {
  switch (id) {
    case IDM_UPDATEERZWINGEN1:
    case IDM_UPDATEERZWINGEN2:
      Run(&TClient::Updateerzwingen1Click);
      break;
    case IDM_BEENDEN1:
    case IDM_BEENDEN2:
      Run(&TClient::Beenden1Click);
      break;
    case IDM_OPTIONEN1:
      Run(&TClient::Optionen1Click);
      break;
    case IDM_EINSTELLUNGEN1:
      Run(&TClient::Einstellungen1Click);
      break;
    case IDM_N3:
    case IDM_INFO1:
      Run(&TClient::N3Click);
      break;
    case IDM_PROGRAMMFFNEN1:
      Run(&TClient::Programmffnen1Click);
      break;
    case IDM_QUENLOR1:
      Run(&TClient::Quenlor1Click);
      break;
    case IDM_INSTALLIEREN1:
    case IDM_KORVEXALSDIENSTINSTALLIEREN1:
      Run(&TClient::Installieren1Click);
      break;
    case IDM_DEINSTALLIEREN1:
    case IDM_KORVEXALSDIENSTENTFERNEN1:
      Run(&TClient::Deinstallieren1Click);
      break;
    default:
      break;
  }
}

void ClientWindow::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(Handle(), &paint);
  logo_.Draw(dc, CurrentDpi().Scale(kImage1), CurrentDpi());
  ::EndPaint(Handle(), &paint);
}

void ClientWindow::OnDestroy() {
  for (const auto& tick : ticks_) ::KillTimer(Handle(), tick.first);
  ::PostQuitMessage(0);
}

LRESULT ClientWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == showRunningClient_ && showRunningClient_ != 0) {
    ::PostMessageW(Handle(), kShowForSecondStart, 0, 0);
    return 1;
  }
  switch (message) {
    case kShowForSecondStart:
      Run(&TClient::ShowForSecondStart);
      return 0;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_COMMAND:
      if (lParam == 0) OnCommand(LOWORD(wParam));
      return 0;
    case WM_TIMER: {
      const auto tick = ticks_.find(wParam);
      if (tick != ticks_.end()) {
        const std::function<void()> onTick = tick->second;
        errors_.Run(onTick);
      }
      return 0;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        const LRESULT result = Default(message, wParam, lParam);
        Run(&TClient::EreignisseMinimize);
        return result;
      }
      return Default(message, wParam, lParam);
    case WM_POWERBROADCAST:
      // Back from standby: the network may be another one now.
      if (wParam == PBT_APMRESUMEAUTOMATIC) Run(&TClient::NetworkChanged);
      return TRUE;
    case WM_CLOSE:
      if (client_ == nullptr) return Default(message, wParam, lParam);
      Run(&TClient::Beenden1Click);
      return 0;
    default:
      return Window::OnMessage(message, wParam, lParam);
  }
}

}  // namespace korvex::win32
