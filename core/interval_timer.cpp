#include "core/interval_timer.h"

#include <utility>

namespace korvex {

IntervalTimer::IntervalTimer(std::unique_ptr<TimerDriver> driver, std::uint32_t interval)
    : driver_(std::move(driver)), interval_(interval) {}

IntervalTimer::~IntervalTimer() {
  if (enabled_ && interval_ != 0) driver_->Disarm();
}

void IntervalTimer::SetInterval(std::uint32_t milliseconds) {
  if (milliseconds == interval_) return;
  interval_ = milliseconds;
  Apply();
}

void IntervalTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Apply();
}

void IntervalTimer::Apply() {
  if (enabled_ && interval_ != 0) {
    driver_->Arm(interval_);
  } else {
    driver_->Disarm();
  }
}

}  // namespace korvex
