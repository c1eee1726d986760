// The service's update timer on Win32: armed from another thread, it ticks on the thread that owns
// the application window; ticks that fall due while a tick is still running arrive as one.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "core/win32/windows_api.h"
#include "service/win32/app_window.h"

namespace korvex {
namespace {

// Runs the thread's message loop until `done` or the deadline.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  MSG message;
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT) == WAIT_TIMEOUT) {
      continue;
    }
    // One message at a time, so that the caller sees the state right after each.
    if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  }
  return true;
}

TEST(ServiceTimerTest, ArmedFromTheWorkerItTicksOnTheMainThread) {
  win32::AppWindow window;
  std::vector<DWORD> tickThreads;
  const std::unique_ptr<TimerDriver> timer =
      window.MakeTimerDriver([&] { tickThreads.push_back(::GetCurrentThreadId()); });
  std::thread worker([&] { timer->Arm(50); });  // a sent message: runs once this thread pumps
  ASSERT_TRUE(PumpUntil([&] { return tickThreads.size() >= 2; }, std::chrono::seconds(20)));
  worker.join();
  timer->Disarm();
  for (const DWORD thread : tickThreads) EXPECT_EQ(thread, ::GetCurrentThreadId());
}

TEST(ServiceTimerTest, TicksThatFallDueDuringABusyTickAreMergedIntoOne) {
  win32::AppWindow window;
  int ticks = 0;
  const std::unique_ptr<TimerDriver> timer = window.MakeTimerDriver([&] {
    if (++ticks == 1) ::Sleep(1000);  // a slow update: five intervals fall due meanwhile
  });
  timer->Arm(200);
  ASSERT_TRUE(PumpUntil([&] { return ticks == 1; }, std::chrono::seconds(20)));
  // Right after the slow tick one merged tick is waiting, and only one.
  MSG message;
  int waiting = 0;
  while (::PeekMessageW(&message, window.Handle(), WM_TIMER, WM_TIMER, PM_REMOVE)) {
    ++waiting;
    ::DispatchMessageW(&message);
  }
  timer->Disarm();
  EXPECT_EQ(waiting, 1);
  EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace korvex
