// The Win32 half of the network watch: NotifyAddrChange's event served by the message loop beside
// its messages and armed again after each signal, and the client window's resume from standby.
// Wine 8 never signals NotifyAddrChange itself (its iphlpapi only takes the registration), so the
// test sets the event as the system would.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "client/client.h"
#include "client/error_handler.h"
#include "client/win32/client_window.h"
#include "core/error.h"
#include "core/network_run.h"
#include "core/win32/network_watch.h"
#include "core/win32/windows_api.h"
#include "tests/support/client_fakes.h"
#include "tests/support/memory_registry.h"

namespace korvex {
namespace {

using win32::AddressChangeWatch;

constexpr UINT kSignalNow = WM_APP + 7;

void Dispatch(MSG& message) {
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

TEST(AddressChangeWatchTest, TheLoopServesTheEventBesideItsMessagesAndArmsItAgain) {
  int changes = 0;
  int messages = 0;
  AddressChangeWatch* self = nullptr;
  AddressChangeWatch watch([&] {
    ++changes;
    // Armed again before the change is reported: a notification meanwhile is not lost.
    EXPECT_EQ(::WaitForSingleObject(self->Event(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    if (changes == 1) ::PostThreadMessageW(::GetCurrentThreadId(), kSignalNow, 0, 0);
    if (changes == 2) ::PostQuitMessage(7);
  });
  self = &watch;
  EXPECT_EQ(watch.Event(), nullptr);
  ASSERT_NO_THROW(watch.Start());
  ASSERT_NE(watch.Event(), nullptr);

  ::PostThreadMessageW(::GetCurrentThreadId(), kSignalNow, 0, 0);
  const int exitCode = win32::RunMessageLoop(
      watch,
      [&](MSG& message) {
        if (message.message != kSignalNow) return Dispatch(message);
        ++messages;
        ::SetEvent(watch.Event());  // what the system does on a change
      },
      [](const std::exception&) { ADD_FAILURE() << "no failure expected"; });
  EXPECT_EQ(exitCode, 7);
  EXPECT_EQ(messages, 2);
  EXPECT_EQ(changes, 2);

  watch.Stop();
  EXPECT_EQ(watch.Event(), nullptr);
  watch.Stop();  // twice changes nothing
}

TEST(AddressChangeWatchTest, AFailureOfTheChangeGoesToTheLoopsHandlerAndTheLoopGoesOn) {
  int changes = 0;
  AddressChangeWatch watch([&changes] {
    if (++changes == 1) throw KorError(u"Fehler beim Lauf");
    ::PostQuitMessage(3);
  });
  watch.Start();
  ::SetEvent(watch.Event());
  Text seen;
  const int exitCode = win32::RunMessageLoop(watch, Dispatch, [&](const std::exception& failure) {
    if (const auto* error = dynamic_cast<const KorError*>(&failure)) seen = error->Message();
    ::SetEvent(watch.Event());  // the watch is still armed: the next change comes through
  });
  EXPECT_EQ(exitCode, 3);
  EXPECT_EQ(seen, u"Fehler beim Lauf");
  EXPECT_EQ(changes, 2);
}

TEST(ClientWindowPowerTest, AResumeFromStandbyCountsAsAChangeOfTheNetwork) {
  struct Case {
    WPARAM event;
    bool change;
  };
  const Case cases[] = {{PBT_APMRESUMEAUTOMATIC, true}, {PBT_APMSUSPEND, false}, {PBT_APMPOWERSTATUSCHANGE, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event);
    testing::Journal journal;
    testing::FakeService service;
    testing::MemoryRegistry registry;
    testing::ManualTimers timers;
    testing::FakeBoxes boxes{journal};
    ErrorHandler errors{boxes, u"Korvex"};
    testing::FakeReporter reporter{journal};
    testing::FakeTray tray;
    win32::ClientWindow window(errors);
    TClient client(TClient::Parts{window, errors, registry, timers.Factory(),
                                  std::make_unique<testing::FakeServiceClient>(service),
                                  testing::FakeLookupFactories(service), u"localhost:8080", reporter, tray});
    window.Attach(client);
    EXPECT_EQ(::SendMessageW(window.Handle(), WM_POWERBROADCAST, c.event, 0), TRUE);
    // The timers of TClient: update, hide, then the network run's quiet time.
    EXPECT_EQ(timers.Armed(2), c.change);
    if (c.change) {
      EXPECT_EQ(timers.ArmedInterval(2), kNetworkQuiet);
    }
    window.Close();
  }
}

}  // namespace
}  // namespace korvex
