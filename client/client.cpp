#include "client/client.h"

#include <utility>

#include "client/about_box.h"
#include "client/service_commands.h"
#include "client/setup_form.h"
#include "client/software_update.h"

namespace korvex {

bool IsMinimisedStart(int showCommand) {
  return showCommand == kStartShowMinimized || showCommand == kStartMinimize ||
         showCommand == kStartShowMinNoActivate;
}

TClient::TClient(Parts parts)
    : view_(parts.view),
      errors_(parts.errors),
      registry_(parts.registry),
      reporter_(parts.reporter),
      tray_(parts.tray),
      updateTimer_(std::make_unique<IntervalTimer>(
          parts.timers([this] { network_->Tick([this] { errors_.Run([this] { UpdateTimerTimer(); }); }); }),
          kClientTimerStart)),
      minimierungsTimer_(std::make_unique<IntervalTimer>(
          parts.timers([this] { errors_.Run([this] { MinimierungsTimerTimer(); }); }), kClientTimerStart)),
      network_(std::make_unique<NetworkRun>(parts.timers, [this] { return NetworkUpdate(); })),
      korHTTP_(std::move(parts.korHTTP)) {
  // The client attaches a new TLS handler to its current client before every HTTPS update.
  exchange_ = std::make_unique<AddressExchange>(*korHTTP_, std::move(parts.lookup),
                                                std::move(parts.serviceHost),
                                                /*attachTlsForUpdate=*/true);
  updateTimer_->SetEnabled(true);
  minimierungsTimer_->SetEnabled(true);
}

TClient::~TClient() = default;

void TClient::SetDialogs(TSetupForm& setupForm, TAboutBox& aboutBox) {
  setupForm_ = &setupForm;
  aboutBox_ = &aboutBox;
}

void TClient::SetCommands(TSoftwareUpdate& softwareUpdate, ServiceCommands& serviceCommands,
                          OwnerWindow owner) {
  softwareUpdate_ = &softwareUpdate;
  serviceCommands_ = &serviceCommands;
  owner_ = owner;
}

void TClient::Show() {
  if (view_.Visible() || showing_) {
    view_.BringToTop();
    return;
  }
  showing_ = true;
  errors_.Run([this] { FormShow(); });
  showing_ = false;
  view_.ShowWindow(minimized_ ? ShowCommand::kShowMinNoActivate : ShowCommand::kShowNormal);
}

void TClient::Start(int showCommand) {
  if (IsMinimisedStart(showCommand)) errors_.Run([this] { EreignisseMinimize(); });
  Show();
}

void TClient::ShowForSecondStart() {
  if (setupForm_ != nullptr && setupForm_->Visible()) {
    setupForm_->BringToFront();
    return;
  }
  Programmffnen1Click();
}

void TClient::FormShow() {
  ReadEinstellungen();
  if (settings_.Einstellungen != kEinstellungenGespeichert) {
    // The setup dialog is the gate: nothing is sent before the user has saved.
    minimierungsTimer_->SetEnabled(false);
    setupForm_->ShowModal();
    return;
  }
  UpdateIP();
  lastUpdatedIP_ = exchange_->CurrentIP();
}

void TClient::UpdateTimerTimer() {
  // The tick looks the address up itself, so that a new address is noticed without a click; an
  // update follows only a successful lookup that saw another address.
  ReadEinstellungen();
  GetIP();
  const Text& current = exchange_->CurrentIP();
  if (current.empty() || current == lastUpdatedIP_) return;
  UpdateIP();
  lastUpdatedIP_ = exchange_->CurrentIP();
}

void TClient::Updateerzwingen1Click() {
  ReadEinstellungen();
  GetIP();
  UpdateIP();
}

void TClient::Beenden1Click() { view_.Close(); }

void TClient::Optionen1Click() { setupForm_->ShowNonModal(); }

void TClient::Einstellungen1Click() { setupForm_->ShowModal(); }

void TClient::N3Click() { aboutBox_->ShowModal(); }

void TClient::Quenlor1Click() { softwareUpdate_->SoftwareUpdate(); }

void TClient::Installieren1Click() { RunServiceCommand(&ServiceCommands::Install); }

void TClient::Deinstallieren1Click() { RunServiceCommand(&ServiceCommands::Remove); }

void TClient::RunServiceCommand(void (ServiceCommands::*command)(OwnerWindow)) {
  // A second click during the wait would start a second install beside the first.
  if (serviceCommandRunning_) return;
  serviceCommandRunning_ = true;
  view_.SetServiceCommandsEnabled(false);
  struct Done {
    TClient& client;
    ~Done() {
      client.serviceCommandRunning_ = false;
      client.view_.SetServiceCommandsEnabled(true);
    }
  } done{*this};
  (serviceCommands_->*command)(owner_);
}

void TClient::EreignisseMinimize() { HideToTray(); }

void TClient::MinimierungsTimerTimer() {
  minimierungsTimer_->SetEnabled(false);
  HideToTray();
}

void TClient::TrayIconClick() {
  ReadEinstellungen();
  GetIP();
  const Text& address = exchange_->CurrentIP();
  reporter_.Report(kTrayClickBody + address, kTrayClickBalloon + address);
}

void TClient::TrayIconDblClick() {
  Show();
  tray_.SetPresent(false);
  Restore();
}

void TClient::Programmffnen1Click() {
  tray_.SetPresent(false);
  minimierungsTimer_->SetEnabled(false);
  Show();
  Restore();
}

void TClient::Restore() {
  // From the minimised state this restores and activates the window.
  view_.ShowWindow(ShowCommand::kShowNormal);
  minimized_ = false;
  view_.BringApplicationToFront();
}

void TClient::HideToTray() {
  // Before the first showing there is nothing to hide, and the program's first show command
  // stays the minimised one.
  if (view_.Visible()) view_.ShowWindow(ShowCommand::kHide);
  minimized_ = true;
  tray_.SetPresent(true);
}

void TClient::ReadEinstellungen() {
  // A timer that cannot be armed is the client's own failure, shown like any other.
  korvex::ReadEinstellungen(registry_, settings_, *updateTimer_,
                            [this](const KorError& failure) { errors_.Show(failure); });
  // Read with the settings, so that a changed address of the service needs no restart.
  exchange_->SetServiceHost(ReadServiceHost(registry_));
}

void TClient::GetIP() {
  exchange_->GetIP(settings_, [this](const Text& address) { view_.SetAddress(address); });
}

void TClient::UpdateIP() {
  UpdateReporter report(reporter_);
  exchange_->UpdateIP(settings_, report, [this](const Text& address) { view_.SetAddress(address); });
}

}  // namespace korvex
