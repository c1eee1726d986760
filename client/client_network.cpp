// The client's extra run after a change of the network: what its update timer's tick does, but
// only once the setup dialog has saved the settings.
#include "client/client.h"

namespace korvex {

bool TClient::NetworkUpdate() {
  bool reached = false;
  errors_.Run([this, &reached] {
    // As ReadEinstellungen, but the update timer keeps its countdown.
    UntouchedTimer timer(*updateTimer_);
    korvex::ReadEinstellungen(registry_, settings_, timer);
    exchange_->SetServiceHost(ReadServiceHost(registry_));
    if (settings_.Einstellungen != kEinstellungenGespeichert) {
      reached = true;  // nothing to do before the first save, and nothing to retry
      return;
    }
    GetIP();
    const Text& current = exchange_->CurrentIP();
    if (current.empty()) return;  // no route yet: the lookup failed
    if (current != lastUpdatedIP_) {
      UpdateIP();  // a failed request is shown like a tick's, and earns the retry
      lastUpdatedIP_ = exchange_->CurrentIP();
    }
    reached = true;
  });
  return reached;
}

}  // namespace korvex
