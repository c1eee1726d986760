#include "service/kor_service.h"

#include <exception>
#include <utility>

namespace korvex {

TKorService::TKorService(Parts parts)
    : registry_(parts.registry),
      hostFailure_(std::move(parts.hostFailure)),
      network_(std::make_unique<NetworkRun>(parts.timerDriver, [this] { return NetworkUpdate(); })),
      updateTimer_(std::make_unique<IntervalTimer>(
          parts.timerDriver([this] { network_->Tick([this] { UpdateTimerTimer(); }); }))),
      korHTTP_(std::move(parts.korHTTP)),
      korSSL_(std::move(parts.korSSL)),
      log_(parts.files, parts.clock) {
  if (korSSL_) korHTTP_->AttachTls(korSSL_);
  // The service relies on the handler its current client has: KorSSL until the first lookup.
  exchange_ = std::make_unique<AddressExchange>(*korHTTP_, std::move(parts.lookup),
                                                ReadServiceHost(registry_),
                                                /*attachTlsForUpdate=*/false);
}

TKorService::~TKorService() = default;

void TKorService::ServiceStart(bool& started) {
  ReadEinstellungen();
  updateTimer_->SetEnabled(true);
  started = true;
}

void TKorService::UpdateTimerTimer() {
  ReadEinstellungen();
  UpdateIP();
}

void TKorService::ReadEinstellungen() {
  korvex::ReadEinstellungen(registry_, settings_, *updateTimer_, hostFailure_);
  exchange_->SetServiceHost(ReadServiceHost(registry_));
}

bool TKorService::UpdateIP() {
  try {
    exchange_->UpdateIP(settings_, log_);
  } catch (const std::exception&) {
    // Nobody is told: the log keeps the last completed run, and the next tick tries again.
    return false;
  }
  return !exchange_->CurrentIP().empty();
}

bool TKorService::NetworkUpdate() {
  UntouchedTimer timer(*updateTimer_);
  korvex::ReadEinstellungen(registry_, settings_, timer, hostFailure_);
  exchange_->SetServiceHost(ReadServiceHost(registry_));
  return UpdateIP();
}

}  // namespace korvex
