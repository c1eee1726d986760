#pragma once
// TKorService, the service module: the update timer, the service's own HTTP client with its TLS
// handler, and the update cycle that runs at every tick and records its outcome in "Korvex.log".

#include <memory>

#include "core/address_client.h"
#include "core/exchange.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/tls.h"
#include "core/interval_timer.h"
#include "core/network_run.h"
#include "service/clock.h"
#include "service/log_file.h"

namespace korvex {

class TKorService {
 public:
  struct Parts {
    Registry& registry;
    TimerDriverFactory timerDriver;
    // KorHTTP, the service profile of the address client, and KorSSL, attached to it here.
    std::unique_ptr<AddressClient> korHTTP;
    std::shared_ptr<TlsHandler> korSSL;
    // What every lookup creates anew.
    AddressExchange::Factories lookup;
    FileSystem& files;
    Clock& clock;
    // Failures of the host that the cycle meets but must not raise (a timer that cannot be armed
    // for a new interval); the service program writes them to the event log. May be empty.
    HostFailureHandler hostFailure = {};
  };

  explicit TKorService(Parts parts);
  ~TKorService();
  TKorService(const TKorService&) = delete;
  TKorService& operator=(const TKorService&) = delete;

  // The start handler: reads the settings and enables the timer. `started` stays true. Throws
  // KorError (kTimerUnavailable) only when the timer cannot be started.
  void ServiceStart(bool& started);
  // The tick: reads the settings, then runs one update. Never throws.
  void UpdateTimerTimer();
  // A change of the network: after the quiet time, one run of what a tick does, within the
  // limits of NetworkRun. The host calls it on the main thread once the service has started.
  void NetworkChanged() { network_->Changed(); }
  // The service stops: a change that arrives from now on does nothing.
  void StopNetworkRun() { network_->Stop(); }

  // The settings, and with them the service host ("Serveradresse"), so that a change of either
  // takes effect at the next tick without a restart.
  void ReadEinstellungen();
  // One update and its log line, as one guarded block: a failure anywhere ends the run silently.
  // False when the update request or the lookup failed.
  bool UpdateIP();

  Timer& UpdateTimer() { return *updateTimer_; }
  const UpdateSettings& Settings() const { return settings_; }
  const AddressExchange& Exchange() const { return *exchange_; }
  const NetworkRun& Network() const { return *network_; }

 private:
  bool NetworkUpdate();

  Registry& registry_;
  HostFailureHandler hostFailure_;
  UpdateSettings settings_;
  // Made before the update timer, whose ticks pass through it.
  std::unique_ptr<NetworkRun> network_;
  std::unique_ptr<IntervalTimer> updateTimer_;
  std::unique_ptr<AddressClient> korHTTP_;
  std::shared_ptr<TlsHandler> korSSL_;
  std::unique_ptr<AddressExchange> exchange_;
  ServiceLog log_;
};

}  // namespace korvex
