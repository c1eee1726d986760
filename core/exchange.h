#pragma once
// The two exchanges with the address service that both programs run: the lookup of the public
// address (GetIP) and the update of the host name (UpdateIP).

#include <functional>
#include <memory>
#include <string>

#include "core/address_client.h"
#include "core/settings.h"
#include "core/text.h"

namespace korvex {

inline constexpr char16_t kUpdateSucceeded[] = u"IP-Update erfolgreich";
inline constexpr char16_t kUpdateFailed[] = u"IP-Update fehlgeschlagen";
// The word in an update answer that means success, and the value UpdateAnswer then takes.
inline constexpr char16_t kUpdateOk[] = u"OK";

// Percent-encodes a query value: UTF-8, with the RFC 3986 unreserved characters (ASCII letters,
// digits, "-", ".", "_", "~") left as they are. A raw "&", "#" or blank would split or cut the
// query, and characters above 127 would reach the service as "?".
Text PercentEncode(TextView value);

// "/update.php?user=...&password=...&host=..." and the setup dialog's host list
// "/userhosts.php?user=...&password=...", each value percent-encoded. `base` is the scheme and
// service host, e.g. "https://127.0.0.1:8080".
Text UpdateURL(TextView base, TextView user, TextView password, TextView host);
Text HostListURL(TextView base, TextView user, TextView password);

// True when "OK" stands in the answer as a whole word: not next to a letter, a digit, "_" or "-"
// (NOT_OK, ERR-OK are failures). Letters
// include non-ASCII ones ("ÄOK" is no success); characters U+0080..U+00BF, the signs U+00D7 and
// U+00F7, general punctuation U+2000..U+206F, the ideographic space and the byte-order mark
// separate words like ASCII punctuation does.
bool IsOkAnswer(TextView answer);

// How a program tells the outcome of an update: the client as a notification, the service as
// its log line. A failure it throws leaves UpdateIP.
class UpdateReport {
 public:
  virtual ~UpdateReport() = default;
  virtual void Report(const Text& statusText, const Text& currentIp) = 0;
};

class AddressExchange {
 public:
  struct Factories {
    // A new address client of the lookup profile (no TLS handler attached).
    std::function<std::unique_ptr<AddressClient>()> lookupClient;
    // A new TLS handler, for a lookup over HTTPS and for the client's HTTPS updates.
    std::function<std::shared_ptr<TlsHandler>()> tlsHandler;
  };

  // `configured` is the program's own KorHTTP (owned by its window or module); `serviceHost` is
  // host[:port]. The desktop client attaches a new TLS handler before every HTTPS update
  // (attachTlsForUpdate); the service relies on the handler its current client already has.
  AddressExchange(AddressClient& configured, Factories factories, Text serviceHost,
                  bool attachTlsForUpdate);
  ~AddressExchange();

  // Looks up the public address into CurrentIP; never throws. `onAddress` (may be empty) gets the
  // address after a successful lookup (the client shows it in its label).
  void GetIP(const UpdateSettings& settings, const std::function<void(const Text&)>& onAddress = {});
  // Sends the update, runs the lookup, then reports the status text with CurrentIP. A failed
  // update request throws KorError before the lookup and before any report.
  void UpdateIP(const UpdateSettings& settings, UpdateReport& report,
                const std::function<void(const Text&)>& onAddress = {});

  // Takes a service host read anew (host[:port]) for the next requests.
  void SetServiceHost(Text serviceHost);

  // The program's current KorHTTP: the configured one until the first lookup, afterwards the
  // client the latest lookup created.
  AddressClient& Current() const;

  const Text& CurrentIP() const;
  const Text& UpdateAnswer() const;
  const std::string& UpdateRequestURL() const;  // system ANSI code page

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvex
