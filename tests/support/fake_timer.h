#pragma once
// A timer that only remembers what it was told, for code that sets intervals but never ticks.

#include <cstdint>

#include "core/timer.h"

namespace korvex::testing {

class FakeTimer : public Timer {
 public:
  void SetInterval(std::uint32_t milliseconds) override { interval = milliseconds; }
  std::uint32_t Interval() const override { return interval; }
  void SetEnabled(bool on) override { enabled = on; }
  bool Enabled() const override { return enabled; }

  std::uint32_t interval = 1000;
  bool enabled = true;
};

}  // namespace korvex::testing
