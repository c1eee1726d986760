#pragma once
// The setup dialog's controls as TSetupForm sees them.

#include <vector>

#include "client/dialog_view.h"
#include "core/text.h"

namespace korvex {

class SetupView : public DialogView {
 public:
  virtual Text UserName() const = 0;  // BenutzernameE
  virtual void SetUserName(const Text& text) = 0;
  virtual Text Password() const = 0;  // PasswortE
  virtual void SetPassword(const Text& text) = 0;
  // Hostauswahl: its text and its entries are separate; setting either leaves the other alone.
  virtual Text HostText() const = 0;
  virtual void SetHostText(const Text& text) = 0;
  virtual void SetHostEntries(const std::vector<Text>& entries) = 0;
  virtual Text IntervalText() const = 0;  // Intervall
  virtual void SetIntervalText(const Text& text) = 0;
  // UpdateArt: setting the text selects no entry; the selection is kTransportHttps,
  // kTransportHttp (core/settings.h) or kTransportNone.
  virtual void SetTransportText(const Text& text) = 0;
  virtual int TransportSelection() const = 0;
  // Shows HostnameL, Hostauswahl, IntervallL, Intervall, MinutenL, UpdateArtL, UpdateArt and
  // Speichern together.
  virtual void ShowLowerHalf() = 0;
  virtual void SetCredentialsEnabled(bool enabled) = 0;  // BenutzernameE and PasswortE
  virtual void SetLoginEnabled(bool enabled) = 0;
  // A taskbar button of the dialog's own, set before it is shown: the one of its owner, the main
  // window, is gone while that is hidden.
  virtual void SetTaskbarButton(bool shown) = 0;
};

}  // namespace korvex
