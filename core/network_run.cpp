#include "core/network_run.h"

#include <utility>

namespace korvex {

NetworkRun::NetworkRun(const TimerDriverFactory& timers, std::function<bool()> run)
    : run_(std::move(run)),
      quiet_(timers([this] { OnQuiet(); })),
      spacing_(timers([this] { OnSpacing(); })),
      retry_(timers([this] { OnRetry(); })) {}

NetworkRun::~NetworkRun() { Stop(); }

void NetworkRun::Changed() {
  if (stopped_) return;
  // Each notification of a burst starts the quiet time anew.
  quiet_->Arm(kNetworkQuiet);
}

void NetworkRun::Tick(const std::function<void()>& tick) {
  ++busy_;
  struct Done {
    NetworkRun& self;
    ~Done() { --self.busy_; }
  };
  {
    Done done{*this};
    tick();
  }
  RunWhatIsDue();
}

void NetworkRun::Stop() {
  if (stopped_) return;
  stopped_ = true;
  due_ = retryDue_ = false;
  quiet_->Disarm();
  spacing_->Disarm();
  retry_->Disarm();
  spacing_armed_ = false;
}

void NetworkRun::OnQuiet() {
  quiet_->Disarm();
  if (stopped_) return;
  due_ = true;
  RunWhatIsDue();
}

void NetworkRun::OnSpacing() {
  spacing_->Disarm();
  spacing_armed_ = false;
  RunWhatIsDue();
}

void NetworkRun::OnRetry() {
  retry_->Disarm();
  if (stopped_) return;
  retryDue_ = true;
  RunWhatIsDue();
}

void NetworkRun::RunWhatIsDue() {
  if (stopped_ || busy_ > 0) return;
  if (due_ && !spacing_armed_) {
    // A new change's run takes the place of a retry that is still waiting.
    due_ = retryDue_ = false;
    retry_->Disarm();
    spacing_armed_ = true;
    spacing_->Arm(kNetworkSpacing);
    Execute(/*mayRetry=*/true);
  } else if (retryDue_) {
    // The retry also serves a change that settled while it waited for the limit.
    retryDue_ = due_ = false;
    Execute(/*mayRetry=*/false);
  }
}

void NetworkRun::Execute(bool mayRetry) {
  ++busy_;
  const bool ok = run_();
  --busy_;
  if (stopped_) return;
  if (!ok && mayRetry) retry_->Arm(kNetworkRetry);
  // What fell due while this run was under way follows it, once.
  RunWhatIsDue();
}

}  // namespace korvex
