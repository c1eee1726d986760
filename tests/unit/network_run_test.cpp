// The extra run after a change of the network, as both programs share it: when it runs, how
// often, what it does next to the update timer's ticks, and that it is inert once stopped.
// Time is virtual; the run records when it started.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/interval_timer.h"
#include "core/network_run.h"
#include "tests/support/fake_network_watch.h"
#include "tests/support/virtual_timers.h"

namespace korvex {
namespace {

using testing::FakeNetworkWatch;
using testing::VirtualTimers;

constexpr std::int64_t kSecond = 1000;

struct Programme {
  VirtualTimers time;
  std::vector<std::int64_t> runs;
  std::vector<std::int64_t> ticks;
  std::vector<bool> outcomes;  // what the next runs report; true once used up
  std::int64_t runTakes = 0;
  std::function<void()> duringRun;
  std::function<void()> duringTick;
  NetworkRun network{time.Factory(), [this] {
                       runs.push_back(time.Now());
                       time.Spend(runTakes);
                       if (duringRun) duringRun();
                       if (outcomes.empty()) return true;
                       const bool outcome = outcomes.front();
                       outcomes.erase(outcomes.begin());
                       return outcome;
                     }};
  FakeNetworkWatch watch{[this] { network.Changed(); }};
  // The update timer, with ticks through the network run as the programs wire it.
  IntervalTimer updateTimer{time.MakeDriver([this] { network.Tick([this] {
                                            ticks.push_back(time.Now());
                                            if (duringTick) duringTick();
                                          });
                                        }),
                            10 * 60 * kSecond};

  Programme() { watch.Start(); }
  void ChangesAt(std::initializer_list<std::int64_t> seconds) {
    for (const std::int64_t at : seconds) {
      time.RunUntil(at * kSecond);
      watch.Change();
    }
  }
};

std::vector<std::int64_t> Seconds(std::initializer_list<std::int64_t> seconds) {
  std::vector<std::int64_t> ms;
  for (const std::int64_t s : seconds) ms.push_back(s * kSecond);
  return ms;
}

TEST(NetworkRunTest, RunsOnceWhenTheNotificationsHaveBeenQuietForFiveSeconds) {
  struct Case {
    const char* name;
    std::initializer_list<std::int64_t> changes;
    std::vector<std::int64_t> runs;
  };
  const Case cases[] = {
      {"one change", {0}, Seconds({5})},
      {"a burst: the last change counts", {0, 1, 3, 4}, Seconds({9})},
      {"two bursts 20 s apart: the second waits for the 60 s limit", {0, 1, 21, 22}, Seconds({6, 66})},
      {"three bursts inside the limit: one run at its end", {0, 10, 20, 30}, Seconds({5, 65})},
      {"a change after the limit runs after its own quiet time", {0, 100}, Seconds({5, 105})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Programme p;
    p.ChangesAt(c.changes);
    p.time.RunUntil(300 * kSecond);
    EXPECT_EQ(p.runs, c.runs);
  }
}

TEST(NetworkRunTest, ARunThatFindsNoNetworkIsTriedOnceMoreAfterThirtySeconds) {
  struct Case {
    const char* name;
    std::vector<bool> outcomes;
    std::vector<std::int64_t> runs;
  };
  const Case cases[] = {
    {"success: no retry", {true}, Seconds({5})},
    {"failure, then success", {false, true}, Seconds({5, 35})},
    {"failure twice: the ticks take over", {false, false}, Seconds({5, 35})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Programme p;
    p.outcomes = c.outcomes;
    p.ChangesAt({0});
    p.time.RunUntil(300 * kSecond);
    EXPECT_EQ(p.runs, c.runs);
  }
}

TEST(NetworkRunTest, ARetryAlsoServesAChangeThatSettledBeforeIt) {
  struct Case {
    const char* name;
    std::initializer_list<std::int64_t> changes;
    std::vector<std::int64_t> runs;
  };
  const Case cases[] = {
      // The change at 20 s settles at 25 s and waits for the limit; the retry at 35 s takes it.
      {"settled before the retry", {0, 20}, Seconds({5, 35})},
      // The change at 33 s settles after the retry, at 38 s, and waits for the limit.
      {"settled after the retry", {0, 33}, Seconds({5, 35, 65})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Programme p;
    p.outcomes = {false, false, true};
    p.ChangesAt(c.changes);
    p.time.RunUntil(300 * kSecond);
    EXPECT_EQ(p.runs, c.runs);
  }
}

TEST(NetworkRunTest, ARunThatFallsDueDuringATickFollowsItOnce) {
  Programme p;
  p.updateTimer.SetEnabled(true);  // ticks at 600 s
  // A slow tick whose error box keeps the loop going: the quiet time ends inside it.
  p.duringTick = [&] {
    p.time.Spend(10 * kSecond);
    p.time.RunUntil(p.time.Now());
  };
  p.ChangesAt({597, 598});  // settles at 603 s
  p.time.RunUntil(700 * kSecond);
  EXPECT_EQ(p.ticks, Seconds({600}));
  EXPECT_EQ(p.runs, Seconds({610}));
}

TEST(NetworkRunTest, ChangesDuringARunAreMergedIntoOneRunAtTheLimit) {
  Programme p;
  p.runTakes = 8 * kSecond;
  int changesInside = 0;
  p.duringRun = [&] {
    if (changesInside++ > 0) return;
    p.watch.Change();
    p.time.RunUntil(p.time.Now());
    p.watch.Change();
  };
  p.ChangesAt({0});
  p.time.RunUntil(300 * kSecond);
  EXPECT_EQ(p.runs, Seconds({5, 65}));
}

TEST(NetworkRunTest, TheTicksKeepTheirTimes) {
  Programme p;
  p.updateTimer.SetEnabled(true);
  p.runTakes = 3 * kSecond;
  p.ChangesAt({100, 250, 420, 590});
  p.time.RunUntil(1800 * kSecond);
  EXPECT_EQ(p.ticks, Seconds({600, 1200, 1800}));
  EXPECT_EQ(p.runs, Seconds({105, 255, 425, 595}));
}

TEST(NetworkRunTest, NothingRunsOrStaysArmedOnceStopped) {
  struct Case {
    const char* name;
    std::int64_t stopAt;
    std::vector<bool> outcomes;
  };
  const Case cases[] = {
      {"stopped in the quiet time", 3, {}},
      {"stopped while a retry waits", 10, {false}},
      {"stopped while a change waits for the limit", 30, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Programme p;
    p.outcomes = c.outcomes;
    p.ChangesAt({0, 20});
    p.time.RunUntil(c.stopAt * kSecond);
    const std::size_t before = p.runs.size();
    p.network.Stop();
    EXPECT_EQ(p.time.Armed(), 0);
    p.watch.Change();  // a notification that arrives during the stop
    p.time.RunUntil(300 * kSecond);
    EXPECT_EQ(p.runs.size(), before);
    EXPECT_EQ(p.time.Armed(), 0);
  }
}

}  // namespace
}  // namespace korvex
