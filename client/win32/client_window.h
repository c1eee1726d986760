#pragma once
// The main window "Client": the address labels, the logo and the main menu. It carries the
// client's timers and hands every message to TClient through the top-level error handler.

#include <functional>
#include <map>
#include <memory>

#include "client/client.h"
#include "client/client_view.h"
#include "client/error_handler.h"
#include "client/win32/logo.h"
#include "client/win32/window.h"
#include "core/interval_timer.h"

namespace korvex::win32 {

inline constexpr wchar_t kClientWindowClass[] = L"TClient";

class ClientWindow : public Window, public ClientView {
 public:
  // Creates the window hidden; its handlers reach TClient once it is attached.
  explicit ClientWindow(ErrorHandler& errors);
  ~ClientWindow() override;
  void Attach(TClient& client) { client_ = &client; }

  // A SetTimer countdown of this window; its ticks run on the window's thread.
  std::unique_ptr<TimerDriver> MakeTimerDriver(std::function<void()> onTick);

  bool Visible() const override;
  void ShowWindow(ShowCommand command) override;
  void BringToTop() override;
  void BringApplicationToFront() override;
  void SetAddress(const Text& address) override;
  void Close() override;
  void SetServiceCommandsEnabled(bool enabled) override;

  // The tray menu, whose service items go with those of the main menu. Not owned.
  void SetTrayMenu(HMENU menu) { trayMenu_ = menu; }

 protected:
  void Layout() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;

 private:
  class Driver;
  void Run(void (TClient::*handler)());
  void OnCommand(int id);
  void OnPaint();

  ErrorHandler& errors_;
  TClient* client_ = nullptr;
  HWND ipl_ = nullptr;
  HWND ipAnzeige_ = nullptr;
  ScopedGdiObject labelFont_;
  Logo logo_;
  HMENU trayMenu_ = nullptr;
  // A second start of the program asks by this message to see the running client.
  UINT showRunningClient_ = 0;
  UINT_PTR nextTimerId_ = 1;
  std::map<UINT_PTR, std::function<void()>> ticks_;
};

}  // namespace korvex::win32
