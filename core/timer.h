#pragma once
// A repeating timer, as the update cycle sees it. The Win32 one ticks on the thread that runs the
// message loop; tests drive a fake.

#include <cstdint>

namespace korvex {

class Timer {
 public:
  virtual ~Timer() = default;

  // Setting the interval it already has changes nothing; another value restarts the countdown
  // from now. An interval of 0 stops the ticks (the timer stays enabled).
  virtual void SetInterval(std::uint32_t milliseconds) = 0;
  virtual std::uint32_t Interval() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
};

}  // namespace korvex
