// What each program does in its extra run after a change of the network: the service its whole
// tick with the log line, the client its tick's lookup and an update only for a new address, and
// only once the settings are saved. A fake watch reports the changes; time is virtual.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "client/client.h"
#include "client/error_handler.h"
#include "core/exchange.h"
#include "core/password.h"
#include "core/settings.h"
#include "service/kor_service.h"
#include "tests/support/client_fakes.h"
#include "tests/support/fake_network_watch.h"
#include "tests/support/memory_registry.h"
#include "tests/support/virtual_timers.h"

namespace korvex {
namespace {

using testing::FakeBoxes;
using testing::FakeClientView;
using testing::FakeNetworkWatch;
using testing::FakeReporter;
using testing::FakeService;
using testing::FakeServiceClient;
using testing::FakeTray;
using testing::Journal;
using testing::MemoryRegistry;
using testing::VirtualTimers;

constexpr std::int64_t kSecond = 1000;
constexpr std::int64_t kMinute = 60 * kSecond;

void StoreSettings(MemoryRegistry& registry, std::uint32_t minutes) {
  registry.SetString(kValueBenutzername, u"anna");
  registry.SetString(kValuePasswort, Verschluesseln(u"geheim"));
  registry.SetString(kValueHostname, u"haus.example.net");
  registry.SetDword(kValueUpdateIntervall, minutes);
  registry.SetString(kValueUpdateart, u"HTTP");
  registry.SetString(kValueEinstellungen, u"Ja");
  registry.SetString(kValueServeradresse, u"localhost:8080");
}

class MemoryLog : public FileSystem {
 public:
  Text CurrentDirectory() override { return u"C:\\windows"; }
  Text JoinPath(const Text& directory, TextView name) override { return directory + u"\\" + Text(name); }
  std::unique_ptr<LogFile> CreateForWriting(const Text&) override {
    ++writes;
    line.clear();
    return std::make_unique<File>(line);
  }
  std::string line;
  int writes = 0;

 private:
  class File : public LogFile {
   public:
    explicit File(std::string& line) : line_(line) {}
    void Write(std::string_view bytes) override { line_ += bytes; }
    void Close() override {}

   private:
    std::string& line_;
  };
};

class NoonClock : public Clock {
 public:
  Text ShortDate() override { return u"05.03.2024"; }
  Text LongTime() override { return u"12:00:00"; }
};

struct Service {
  VirtualTimers time;
  MemoryRegistry registry;
  FakeService service;
  MemoryLog files;
  NoonClock clock;
  TKorService module{TKorService::Parts{registry, time.Factory(), std::make_unique<FakeServiceClient>(service),
                                        nullptr, testing::FakeLookupFactories(service), files, clock}};
  FakeNetworkWatch watch{[this] { module.NetworkChanged(); }};

  Service() {
    StoreSettings(registry, 30);
    bool started = false;
    module.ServiceStart(started);
    watch.Start();
  }
  std::size_t Updates() const { return service.RequestsTo("/update.php").size(); }
};

TEST(ServiceNetworkUpdateTest, AChangeRunsTheWholeTickAndWritesTheLogLine) {
  Service s;
  s.service.answers["/ip.php"].body = u"198.51.100.4";
  s.watch.Change();
  s.time.Advance(5 * kSecond - 1);
  EXPECT_EQ(s.Updates(), 0u);
  s.time.Advance(1);
  EXPECT_EQ(s.Updates(), 1u);
  EXPECT_EQ(s.service.RequestsTo("/ip.php").size(), 1u);
  EXPECT_EQ(s.files.line, "05.03.2024 12:00:00: IP-Update erfolgreich IP:198.51.100.4\r\n");
}

TEST(ServiceNetworkUpdateTest, AFailedUpdateOrLookupIsTriedOnceMoreAfterThirtySeconds) {
  for (const char* failing : {"/update.php", "/ip.php"}) {
    SCOPED_TRACE(failing);
    Service s;
    s.service.answers[failing].failure = u"Socket-Fehler # 10051";
    s.watch.Change();
    s.time.Advance(5 * kSecond);
    EXPECT_EQ(s.Updates(), 1u);
    s.time.Advance(30 * kSecond);
    EXPECT_EQ(s.Updates(), 2u);
    s.time.Advance(20 * kMinute);  // then only the tick at 30 minutes
    EXPECT_EQ(s.Updates(), 2u);
    s.time.Advance(10 * kMinute);
    EXPECT_EQ(s.Updates(), 3u);
  }
}

TEST(ServiceNetworkUpdateTest, TheUpdateTimerKeepsItsCountdown) {
  Service s;
  s.time.RunUntil(29 * kMinute);
  s.watch.Change();
  s.time.RunUntil(30 * kMinute - 1);
  EXPECT_EQ(s.Updates(), 1u);  // the extra run at 29:05
  s.time.RunUntil(30 * kMinute);
  EXPECT_EQ(s.Updates(), 2u);  // the tick, on time
  s.time.RunUntil(60 * kMinute);
  EXPECT_EQ(s.Updates(), 3u);
}

TEST(ServiceNetworkUpdateTest, ANewIntervalReadByTheExtraRunWaitsForTheNextTick) {
  Service s;
  s.time.RunUntil(10 * kMinute);
  s.registry.SetDword(kValueUpdateIntervall, 5);
  s.watch.Change();
  s.time.RunUntil(30 * kMinute - 1);
  EXPECT_EQ(s.Updates(), 1u);  // only the extra run at 10:05; the countdown still ends at 30:00
  s.time.RunUntil(30 * kMinute);
  EXPECT_EQ(s.Updates(), 2u);
  s.time.RunUntil(35 * kMinute);  // the tick took the new interval
  EXPECT_EQ(s.Updates(), 3u);
}

TEST(ServiceNetworkUpdateTest, ANotificationDuringTheStopDoesNothing) {
  Service s;
  s.watch.Change();
  s.time.Advance(2 * kSecond);
  s.module.StopNetworkRun();  // the stop request reaches the main thread
  s.module.NetworkChanged();  // a notification still on its way
  s.time.Advance(5 * kMinute);
  EXPECT_EQ(s.Updates(), 0u);
  EXPECT_EQ(s.files.writes, 0);
}

struct Client {
  Journal journal;
  VirtualTimers time;
  MemoryRegistry registry;
  FakeService service;
  FakeBoxes boxes{journal};
  ErrorHandler errors{boxes, u"Korvex"};
  FakeClientView view{journal};
  FakeReporter reporter{journal};
  FakeTray tray;
  TClient client{TClient::Parts{view, errors, registry, time.Factory(), std::make_unique<FakeServiceClient>(service),
                                testing::FakeLookupFactories(service), u"localhost:8080", reporter, tray}};
  FakeNetworkWatch watch{[this] { client.NetworkChanged(); }};

  Client() {
    registry.SetString(kValueServeradresse, u"localhost:8080");
    watch.Start();
  }
  // The start-up update, as the first showing runs it.
  void Configured() {
    StoreSettings(registry, 10);
    client.FormShow();
    service.requests.clear();
  }
  std::size_t Updates() const { return service.RequestsTo("/update.php").size(); }
  std::size_t Lookups() const { return service.RequestsTo("/ip.php").size(); }
};

TEST(ClientNetworkUpdateTest, TheRunLooksUpAndUpdatesOnlyForANewAddress) {
  struct Case {
    const char* name;
    Text addressAfterChange;
    std::size_t updates;
  };
  const Case cases[] = {
      {"same address: lookup only", u"203.0.113.7", 0},
      {"new address: one update", u"198.51.100.4", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Client k;
    k.Configured();
    ASSERT_EQ(k.client.LastUpdatedIP(), u"203.0.113.7");
    k.service.answers["/ip.php"].body = c.addressAfterChange;
    k.watch.Change();
    k.time.Advance(5 * kSecond);
    EXPECT_GE(k.Lookups(), 1u);
    EXPECT_EQ(k.Updates(), c.updates);
    EXPECT_EQ(k.client.LastUpdatedIP(), c.addressAfterChange);
    EXPECT_TRUE(k.boxes.shown.empty());
  }
}

TEST(ClientNetworkUpdateTest, NothingIsSentBeforeTheSettingsAreSaved) {
  Client k;
  k.watch.Change();
  k.time.Advance(5 * kMinute);
  EXPECT_TRUE(k.service.requests.empty());
}

TEST(ClientNetworkUpdateTest, AFailedLookupOrUpdateIsTriedOnceMoreAfterThirtySeconds) {
  struct Case {
    const char* name;
    const char* failing;
    std::size_t boxes;  // a failed update request is shown as a tick's is
  };
  const Case cases[] = {{"lookup", "/ip.php", 0}, {"update", "/update.php", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Client k;
    k.Configured();
    k.service.answers["/ip.php"].body = u"198.51.100.4";
    k.service.answers[c.failing].failure = u"Socket-Fehler # 10051";
    k.watch.Change();
    k.time.Advance(5 * kSecond);
    const std::size_t first = k.service.requests.size();
    EXPECT_GT(first, 0u);
    k.time.Advance(30 * kSecond - 1);
    EXPECT_EQ(k.service.requests.size(), first);
    k.time.Advance(1);
    EXPECT_GT(k.service.requests.size(), first);
    EXPECT_EQ(k.boxes.shown.size(), c.boxes);
  }
}

TEST(ClientNetworkUpdateTest, TheRunLeavesTheUpdateTimersCountdownAlone) {
  Client k;
  k.Configured();
  ASSERT_EQ(k.client.UpdateTimer().Interval(), 10 * kMinute);
  k.registry.SetDword(kValueUpdateIntervall, 5);
  k.service.answers["/ip.php"].body = u"198.51.100.4";
  k.watch.Change();
  k.time.Advance(5 * kSecond);
  EXPECT_EQ(k.Updates(), 1u);
  // The new interval waits for the tick, which reads it itself.
  EXPECT_EQ(k.client.UpdateTimer().Interval(), 10 * kMinute);
  EXPECT_EQ(k.client.Settings().UpdateIntervall, 5 * kMinute);
}

TEST(ClientNetworkUpdateTest, TheEndOfTheProgramStopsTheRun) {
  Client k;
  k.Configured();
  k.service.answers["/ip.php"].body = u"198.51.100.4";
  k.watch.Change();
  k.client.StopNetworkRun();
  k.client.NetworkChanged();
  k.time.Advance(9 * kMinute);  // before the first tick at 10 minutes
  EXPECT_TRUE(k.service.requests.empty());
}

}  // namespace
}  // namespace korvex
