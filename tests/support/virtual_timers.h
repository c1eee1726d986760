#pragma once
// Any number of countdowns under one virtual clock, for code that owns several timers. Like a
// Windows timer, a countdown that falls due while a callback is still running fires once, as
// soon as the callback returns. A callback may spend time (a slow request) with Spend.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/interval_timer.h"

namespace korvex::testing {

class VirtualTimers {
 public:
  std::int64_t Now() const { return now_; }

  TimerDriverFactory Factory() {
    return [this](std::function<void()> onTick) { return MakeDriver(std::move(onTick)); };
  }
  std::unique_ptr<TimerDriver> MakeDriver(std::function<void()> onTick) {
    countdowns_.push_back(std::make_shared<Countdown>());
    countdowns_.back()->onTick = std::move(onTick);
    return std::make_unique<Driver>(*this, countdowns_.back());
  }

  // Moves the clock inside a callback, without firing anything.
  void Spend(std::int64_t milliseconds) { now_ += milliseconds; }

  // Fires every countdown that falls due up to `until`, earliest first, and stops there.
  void RunUntil(std::int64_t until) {
    for (;;) {
      std::shared_ptr<Countdown> next;
      for (const auto& countdown : countdowns_) {
        if (countdown->alive && countdown->armed && countdown->dueAt <= until &&
            (!next || countdown->dueAt < next->dueAt)) {
          next = countdown;
        }
      }
      if (!next) break;
      if (next->dueAt > now_) now_ = next->dueAt;
      next->dueAt = now_ + next->interval;
      next->onTick();
      for (const auto& countdown : countdowns_) {
        if (countdown->armed && countdown->dueAt < now_) countdown->dueAt = now_;
      }
    }
    if (now_ < until) now_ = until;
  }
  void Advance(std::int64_t milliseconds) { RunUntil(now_ + milliseconds); }

  // How many countdowns are armed now.
  int Armed() const {
    int armed = 0;
    for (const auto& countdown : countdowns_) armed += countdown->alive && countdown->armed ? 1 : 0;
    return armed;
  }

 private:
  struct Countdown {
    bool alive = true;
    bool armed = false;
    std::int64_t dueAt = 0;
    std::uint32_t interval = 0;
    std::function<void()> onTick;
  };
  class Driver : public TimerDriver {
   public:
    Driver(VirtualTimers& owner, std::shared_ptr<Countdown> countdown)
        : owner_(owner), countdown_(std::move(countdown)) {}
    ~Driver() override { countdown_->alive = false; }
    void Arm(std::uint32_t milliseconds) override {
      countdown_->armed = true;
      countdown_->interval = milliseconds;
      countdown_->dueAt = owner_.now_ + milliseconds;
    }
    void Disarm() override { countdown_->armed = false; }

   private:
    VirtualTimers& owner_;
    std::shared_ptr<Countdown> countdown_;
  };

  std::int64_t now_ = 0;
  std::vector<std::shared_ptr<Countdown>> countdowns_;
};

}  // namespace korvex::testing
