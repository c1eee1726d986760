#pragma once
// TSetupForm, the setup dialog: log in to the address service to fetch the account's host names,
// pick host, interval and transport, and save them for both programs.

#include <memory>
#include <vector>

#include "client/message_boxes.h"
#include "client/setup_view.h"
#include "core/address_client.h"
#include "core/registry.h"
#include "core/text.h"

namespace korvex {

class TClient;

inline constexpr char16_t kNoHostsMessage[] = u"Es wurden keine Hostnamen gefunden";
inline constexpr char16_t kHostListFailedMessage[] = u"Es ist ein Fehler aufgetreten";
inline constexpr char16_t kHostPlaceholder[] = u"---bitte auswählen---";
inline constexpr char16_t kTransportEntryHttps[] = u"HTTPS (Verschlüsselt)";
inline constexpr char16_t kTransportEntryHttp[] = u"HTTP (Unverschlüsselt)";
inline constexpr int kIntervalMinimum = 1;
inline constexpr int kIntervalMaximum = 60;
inline constexpr int kIntervalInitial = 5;

// The host names of a host-list answer: "<br>" (exactly so) separates lines, the first two lines
// carry no names, and an empty line inside the answer is an empty name.
std::vector<Text> HostListEntries(TextView answer);

// The interval field when it loses the focus: an integer outside 1..60 becomes the nearest bound;
// text that is no integer (empty, a lone sign, a decimal separator) stays as it is.
Text ClampIntervalText(const Text& text);

// Whether the interval field takes a typed character: digits, the signs, the locale's decimal
// separator, and control characters such as backspace.
bool IntervalAcceptsCharacter(char16_t c, char16_t decimalSeparator);

class TSetupForm {
 public:
  struct Parts {
    SetupView& view;
    MessageBoxes& boxes;
    Registry& registry;
    // The dialog's own KorHTTP with its TLS handler KorSSL attached, used only for the host list.
    std::unique_ptr<AddressClient> korHTTP;
  };

  TSetupForm(Parts parts, TClient& client);
  TSetupForm(const TSetupForm&) = delete;
  TSetupForm& operator=(const TSetupForm&) = delete;

  // Throw KorError(kVisibleToModalMessage) when the dialog is already on screen.
  void ShowModal();
  void ShowNonModal();
  bool Visible() const { return view_.Visible(); }
  // Shows the open dialog in front of the others.
  void BringToFront() { view_.Show(); }

  void FormShow();
  void ReadEinstellungen();
  void LoginClick();
  void SpeichernClick();
  // The interval field lost the focus.
  void IntervallExit();
  // The dialog closes, by the save or by its close box: FormClose, then it hides.
  void Close();
  void FormClose();

 private:
  SetupView& view_;
  MessageBoxes& boxes_;
  Registry& registry_;
  std::unique_ptr<AddressClient> korHTTP_;
  TClient& client_;
};

}  // namespace korvex
