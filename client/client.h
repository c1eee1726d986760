#pragma once
// TClient, the main window's logic: what its showing, its timers and its menu items do. It owns
// the timers, the HTTP clients and the address exchange; the window itself is a ClientView.

#include <memory>

#include "client/client_view.h"
#include "client/error_handler.h"
#include "client/report.h"
#include "client/shell.h"
#include "core/address_client.h"
#include "core/exchange.h"
#include "core/interval_timer.h"
#include "core/network_run.h"
#include "core/registry.h"
#include "core/settings.h"

namespace korvex {

class TSetupForm;
class TAboutBox;
class TSoftwareUpdate;
class ServiceCommands;

inline constexpr char16_t kClientCaption[] = u"Korvex-Client";
inline constexpr char16_t kAddressLabel[] = u"Ihre aktuelle IP lautet:";
// Both timers start at one second; ReadEinstellungen later sets the update timer's interval.
inline constexpr std::uint32_t kClientTimerStart = 1000;
// The report of a tray click: the notification's body and the balloon's text, each followed by
// the address as the lookup left it.
inline constexpr char16_t kTrayClickBody[] = u"Ihre aktuelle IP lautet: ";
inline constexpr char16_t kTrayClickBalloon[] = u"Aktuelle IP: ";

// The show commands of a program start (wWinMain's nCmdShow) that ask for a minimised window.
inline constexpr int kStartShowMinimized = 2;      // SW_SHOWMINIMIZED
inline constexpr int kStartMinimize = 6;           // SW_MINIMIZE
inline constexpr int kStartShowMinNoActivate = 7;  // SW_SHOWMINNOACTIVE
bool IsMinimisedStart(int showCommand);

// The tray icon as the main window uses it when hiding to and restoring from the tray.
class TrayPresence {
 public:
  virtual ~TrayPresence() = default;
  // Adds or deletes the icon; deleting may throw KorError.
  virtual void SetPresent(bool present) = 0;
};

class TClient {
 public:
  struct Parts {
    ClientView& view;
    ErrorHandler& errors;
    Registry& registry;
    TimerDriverFactory timers;
    // KorHTTP, the window's configured address client (TLS 1.2 only handler, attached to nothing).
    std::unique_ptr<AddressClient> korHTTP;
    // What every lookup, and every HTTPS update, creates anew.
    AddressExchange::Factories lookup;
    Text serviceHost;  // host[:port]
    Reporter& reporter;
    TrayPresence& tray;
  };

  explicit TClient(Parts parts);
  ~TClient();
  TClient(const TClient&) = delete;
  TClient& operator=(const TClient&) = delete;

  // The dialogs are created after the main window; they are known to it from then on.
  void SetDialogs(TSetupForm& setupForm, TAboutBox& aboutBox);
  // The commands that hand over to other programs; `owner` is the main window's handle, the
  // owner of what they start.
  void SetCommands(TSoftwareUpdate& softwareUpdate, ServiceCommands& serviceCommands, OwnerWindow owner);

  // The first showing at the program's start. A start minimised (a shortcut set to "Minimiert")
  // runs the minimise handling first, so the window comes up only as a minimised button.
  void Start(int showCommand);
  // A second start of the program in this session hands over to this one: the setup dialog is
  // brought to the front where it is open, else the window is shown as "Programm öffnen" does.
  void ShowForSecondStart();
  bool MainWindowVisible() const { return view_.Visible(); }
  // Shows the main window. From hidden, FormShow runs first (its failure goes to the error
  // handler and the window is shown all the same); a visible window only moves to the top.
  void Show();
  void FormShow();
  void UpdateTimerTimer();
  void Updateerzwingen1Click();  // forced update, from both menus
  void Beenden1Click();          // close, from both menus
  void Optionen1Click();         // setup dialog, non-modal
  void Einstellungen1Click();    // setup dialog, modal
  void N3Click();                // about box, modal, from both menus
  void Quenlor1Click();          // software update
  void Installieren1Click();     // install the service, from both menus
  void Deinstallieren1Click();   // remove the service, from both menus

  // Hiding to the tray: after a minimise command, and at the tick of MinimierungsTimer.
  void EreignisseMinimize();
  void MinimierungsTimerTimer();
  // The tray icon: a click looks the address up and reports it; a double-click and "Programm
  // öffnen" restore the window, and only the menu item cancels the automatic hide.
  void TrayIconClick();
  void TrayIconDblClick();
  void Programmffnen1Click();

  void ReadEinstellungen();
  void GetIP();
  void UpdateIP();

  // A change of the network or a resume from standby: after the quiet time, what a tick does,
  // once the settings are saved (client_network.cpp). The end of the program stops it.
  void NetworkChanged() { network_->Changed(); }
  void StopNetworkRun() { network_->Stop(); }
  const NetworkRun& Network() const { return *network_; }

  UpdateSettings& Settings() { return settings_; }
  const Text& LastUpdatedIP() const { return lastUpdatedIP_; }
  const AddressExchange& Exchange() const { return *exchange_; }
  Timer& UpdateTimer() { return *updateTimer_; }
  Timer& MinimierungsTimer() { return *minimierungsTimer_; }
  ErrorHandler& Errors() { return errors_; }

 private:
  bool NetworkUpdate();
  void HideToTray();
  void Restore();
  void RunServiceCommand(void (ServiceCommands::*command)(OwnerWindow));

  ClientView& view_;
  ErrorHandler& errors_;
  Registry& registry_;
  Reporter& reporter_;
  TrayPresence& tray_;
  UpdateSettings settings_;
  Text lastUpdatedIP_;
  std::unique_ptr<IntervalTimer> updateTimer_;
  std::unique_ptr<IntervalTimer> minimierungsTimer_;
  // Its timers are made after the window's own two.
  std::unique_ptr<NetworkRun> network_;
  std::unique_ptr<AddressClient> korHTTP_;
  std::unique_ptr<AddressExchange> exchange_;
  TSetupForm* setupForm_ = nullptr;
  TAboutBox* aboutBox_ = nullptr;
  TSoftwareUpdate* softwareUpdate_ = nullptr;
  ServiceCommands* serviceCommands_ = nullptr;
  OwnerWindow owner_ = 0;
  // Set while FormShow runs: the window counts as showing already, so that a show from inside
  // (the setup dialog's save) does not run FormShow a second time.
  bool showing_ = false;
  // The window was hidden in the minimised state and comes back that way.
  bool minimized_ = false;
  // A service command waits up to a minute for the programs it starts, with messages flowing.
  bool serviceCommandRunning_ = false;
};

}  // namespace korvex
