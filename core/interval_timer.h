#pragma once
// The programs' timers (the service's update timer, the client's update and hide timers): the
// rules of interval and enabled state on top of a platform countdown. The Win32 countdown is a
// SetTimer timer of the thread that runs the message loop, whose ticks Windows merges while the
// thread is busy; tests drive a fake.

#include <cstdint>
#include <functional>
#include <memory>

#include "core/timer.h"

namespace korvex {

inline constexpr char16_t kTimerUnavailable[] = u"Nicht genügend Timer verfügbar";
inline constexpr std::uint32_t kDefaultUpdateInterval = 60000;

// A repeating countdown. Arm starts it anew from now (throws KorError with kTimerUnavailable
// when the platform has no timer left); Disarm stops it.
class TimerDriver {
 public:
  virtual ~TimerDriver() = default;
  virtual void Arm(std::uint32_t milliseconds) = 0;
  virtual void Disarm() = 0;
};

class IntervalTimer : public Timer {
 public:
  explicit IntervalTimer(std::unique_ptr<TimerDriver> driver,
                         std::uint32_t interval = kDefaultUpdateInterval);
  ~IntervalTimer() override;

  // The same interval again leaves the countdown running; another one restarts it; 0 stops it.
  void SetInterval(std::uint32_t milliseconds) override;
  std::uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }

 private:
  void Apply();

  std::unique_ptr<TimerDriver> driver_;
  std::uint32_t interval_;
  bool enabled_ = false;
};

// Makes the program's timer driver; its ticks call `onTick` on the thread that runs the loop.
using TimerDriverFactory = std::function<std::unique_ptr<TimerDriver>(std::function<void()> onTick)>;

}  // namespace korvex
