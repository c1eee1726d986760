#pragma once
// The extra run after a change of the network, on top of the update timer: it waits until the
// notifications have been quiet for a while (changes come in bursts), runs at most once per
// spacing, follows a tick or run that is under way instead of running beside it, and tries once
// more when the network was not there yet. It never touches the update timer.

#include <cstdint>
#include <functional>
#include <memory>

#include "core/interval_timer.h"

namespace korvex {

inline constexpr std::uint32_t kNetworkQuiet = 5000;     // after the last notification
inline constexpr std::uint32_t kNetworkSpacing = 60000;  // from one extra run to the next
inline constexpr std::uint32_t kNetworkRetry = 30000;    // after a run that found no network

// What an extra run hands to ReadEinstellungen in place of the update timer: it reads like the
// timer but takes no changes, so that a newly stored interval reaches the timer at its own next
// tick and the extra run never moves the countdown.
class UntouchedTimer : public Timer {
 public:
  explicit UntouchedTimer(const Timer& timer) : timer_(timer) {}
  void SetInterval(std::uint32_t) override {}
  std::uint32_t Interval() const override { return timer_.Interval(); }
  void SetEnabled(bool) override {}
  bool Enabled() const override { return timer_.Enabled(); }

 private:
  const Timer& timer_;
};

class NetworkRun {
 public:
  // `run` does the program's work and must not throw; it returns false when the lookup or the
  // update failed, which earns one retry. The timers come from the program's factory.
  NetworkRun(const TimerDriverFactory& timers, std::function<bool()> run);
  ~NetworkRun();
  NetworkRun(const NetworkRun&) = delete;
  NetworkRun& operator=(const NetworkRun&) = delete;

  // A notification of the watch, or a resume from standby.
  void Changed();
  // Runs one tick of the update timer; a run that falls due meanwhile follows it.
  void Tick(const std::function<void()>& tick);
  // From now on nothing runs and nothing is armed.
  void Stop();

  bool Stopped() const { return stopped_; }

 private:
  void OnQuiet();
  void OnSpacing();
  void OnRetry();
  void RunWhatIsDue();
  void Execute(bool mayRetry);

  std::function<bool()> run_;
  std::unique_ptr<TimerDriver> quiet_;
  std::unique_ptr<TimerDriver> spacing_;
  std::unique_ptr<TimerDriver> retry_;
  bool due_ = false;       // a change has settled and waits for its run
  bool spacing_armed_ = false;
  bool retryDue_ = false;
  int busy_ = 0;           // ticks and runs under way (a modal box inside one keeps the loop going)
  bool stopped_ = false;
};

}  // namespace korvex
