// The service's update cycle: when its timer ticks, what each tick sends, and the log line it
// leaves. Time is virtual: a fake countdown fires the ticks, and slow requests move the clock on.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/settings.h"
#include "service/kor_service.h"
#include "tests/support/expect_error.h"
#include "tests/support/memory_registry.h"

namespace korvex {
namespace {

using testing::MemoryRegistry;
using testing::ThrowsKorError;

// One countdown under virtual time. Like a Windows timer, expirations that fall due while a tick
// is still running are merged into one, delivered as soon as the tick returns.
struct VirtualTime {
  std::int64_t now = 0;
  bool armed = false;
  std::int64_t dueAt = 0;
  std::uint32_t interval = 0;
  int arms = 0;
  bool failArm = false;
  std::function<void()> onTick;
  std::vector<std::int64_t> ticks;

  void Arm(std::uint32_t ms) {
    if (failArm) throw KorError(kTimerUnavailable);
    ++arms;
    armed = true;
    interval = ms;
    dueAt = now + ms;
  }

  // Runs every tick that falls due up to `until`.
  void RunUntil(std::int64_t until) {
    while (armed && dueAt <= until) {
      now = dueAt;
      ticks.push_back(now);
      dueAt += interval;  // the countdown repeats from its own expiry
      onTick();
      if (armed && dueAt < now) dueAt = now;  // fell due while busy: one tick, at once
    }
    if (now < until) now = until;
  }
};

class VirtualDriver : public TimerDriver {
 public:
  explicit VirtualDriver(VirtualTime& time) : time_(time) {}
  void Arm(std::uint32_t ms) override { time_.Arm(ms); }
  void Disarm() override { time_.armed = false; }

 private:
  VirtualTime& time_;
};

class NoTls : public TlsHandler {
 public:
  std::unique_ptr<Stream> Handshake(std::unique_ptr<Socket>, const std::string&) override {
    throw KorError(u"not used");
  }
};

struct Request {
  int client;  // 0: the module's own KorHTTP; n: the client of the n-th lookup
  bool hadTls;
  Text url;
  std::int64_t at;
};

// The address service as the fake clients see it.
struct Service {
  explicit Service(VirtualTime& clock) : time(clock) {}
  VirtualTime& time;
  std::optional<Text> updateAnswer = Text(u"OK");  // nothing: the request fails
  std::optional<Text> ipAnswer = Text(u"192.0.2.10");
  std::int64_t requestMs = 0;
  std::vector<Request> requests;
  int tlsAttachedToOwn = 0;
};

class FakeClient : public AddressClient {
 public:
  FakeClient(Service& service, int id) : service_(service), id_(id) {}
  Text Get(const Text& url) override {
    service_.requests.push_back({id_, tls_ != nullptr, url, service_.time.now});
    service_.time.now += service_.requestMs;
    if (url.empty()) throw KorError(u"Unbekanntes Protokoll");
    const auto& answer = url.find(u"/ip.php") != Text::npos ? service_.ipAnswer : service_.updateAnswer;
    if (!answer) throw KorError(u"HTTP/1.1 500 Internal Server Error");
    return *answer;
  }
  void AttachTls(std::shared_ptr<TlsHandler> handler) override {
    if (id_ == 0) ++service_.tlsAttachedToOwn;
    tls_ = std::move(handler);
  }
  bool HasTls() const override { return tls_ != nullptr; }

 private:
  Service& service_;
  int id_;
  std::shared_ptr<TlsHandler> tls_;
};

class FixedClock : public Clock {
 public:
  Text ShortDate() override {
    if (fail) throw KorError(u"Datum");
    return u"05.03.2024";
  }
  Text LongTime() override { return u"14:07:09"; }
  bool fail = false;
};

// Files in memory, with Windows paths.
class MemoryFiles : public FileSystem {
 public:
  Text CurrentDirectory() override { return cwd; }
  Text JoinPath(const Text& directory, TextView name) override { return directory + u"\\" + Text(name); }
  std::unique_ptr<LogFile> CreateForWriting(const Text& path) override {
    if (readOnly.count(path)) throw OsError(u"Zugriff verweigert", 5);
    files[path].clear();
    ++openFiles;
    return std::make_unique<File>(*this, files[path]);
  }

  std::optional<std::string> Content(const Text& path) const {
    const auto it = files.find(path);
    return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
  }

  Text cwd = u"C:\\windows\\system32";
  std::map<Text, std::string> files;
  std::set<Text> readOnly;
  bool failWrite = false;
  int openFiles = 0;

 private:
  class File : public LogFile {
   public:
    File(MemoryFiles& owner, std::string& data) : owner_(owner), data_(data) {}
    ~File() override {
      if (open_) --owner_.openFiles;
    }
    void Write(std::string_view bytes) override {
      if (owner_.failWrite) throw OsError(u"Datenträger voll", 112);
      data_ += bytes;
    }
    void Close() override {
      open_ = false;
      --owner_.openFiles;
    }

   private:
    MemoryFiles& owner_;
    std::string& data_;
    bool open_ = true;
  };
};

const Text kLogPath = u"C:\\windows\\system32\\Korvex.log";
constexpr std::int64_t kMinute = 60000;

class ServiceModuleTest : public ::testing::Test {
 protected:
  ServiceModuleTest() {
    registry.SetString(kValueBenutzername, u"anna");
    registry.SetString(kValuePasswort, u"6D6E6F");  // abc
    registry.SetString(kValueHostname, u"home.example");
    registry.SetDword(kValueUpdateIntervall, 5);
    registry.SetString(kValueUpdateart, u"HTTP");
    registry.SetString(kValueEinstellungen, u"Ja");
    registry.SetString(kValueServeradresse, u"127.0.0.1:8080");
  }

  TKorService& Module() {
    if (!module) {
      int lookups = 0;
      module = std::make_unique<TKorService>(TKorService::Parts{
          registry,
          [this](std::function<void()> onTick) {
            time.onTick = std::move(onTick);
            return std::make_unique<VirtualDriver>(time);
          },
          std::make_unique<FakeClient>(service, 0),
          std::make_shared<NoTls>(),
          {[this, lookups]() mutable { return std::make_unique<FakeClient>(service, ++lookups); },
           [] { return std::make_shared<NoTls>(); }},
          files,
          clock,
          [this](const KorError& failure) { hostFailures.push_back(failure.Message()); }});
    }
    return *module;
  }

  void Start() {
    bool started = true;
    Module().ServiceStart(started);
    EXPECT_TRUE(started);
  }

  std::vector<Text> UpdateUrls() const {
    std::vector<Text> urls;
    for (const Request& r : service.requests) {
      if (r.url.find(u"/ip.php") == Text::npos) urls.push_back(r.url);
    }
    return urls;
  }

  VirtualTime time;
  Service service{time};
  MemoryRegistry registry;
  std::vector<Text> hostFailures;
  MemoryFiles files;
  FixedClock clock;
  std::unique_ptr<TKorService> module;
};

TEST_F(ServiceModuleTest, FirstUpdateComesOneIntervalAfterStartThenEveryInterval) {
  Start();
  EXPECT_TRUE(service.requests.empty());  // nothing at start
  time.RunUntil(16 * kMinute);
  EXPECT_EQ(time.ticks, (std::vector<std::int64_t>{5 * kMinute, 10 * kMinute, 15 * kMinute}));
  // Every tick updates, although the address never changed.
  EXPECT_EQ(UpdateUrls(), std::vector<Text>(3, u"http://127.0.0.1:8080/update.php?user=anna&password=abc&host=home.example"));
}

TEST_F(ServiceModuleTest, ChangedIntervalTakesEffectFromTheNextTickOn) {
  service.requestMs = 20000;  // the next interval counts from the start of the tick, not its end
  Start();
  time.RunUntil(7 * kMinute);
  registry.SetDword(kValueUpdateIntervall, 10);
  time.RunUntil(31 * kMinute);
  EXPECT_EQ(time.ticks, (std::vector<std::int64_t>{5 * kMinute, 10 * kMinute, 20 * kMinute, 30 * kMinute}));
}

TEST_F(ServiceModuleTest, StoringTheSameIntervalKeepsTheCountdownRunning) {
  Start();
  time.RunUntil(16 * kMinute);
  EXPECT_EQ(time.arms, 1);
}

TEST_F(ServiceModuleTest, IntervalZeroAtStartNeverSendsOrLogs) {
  registry.SetDword(kValueUpdateIntervall, 0);
  Start();
  time.RunUntil(24 * 60 * kMinute);
  EXPECT_TRUE(Module().UpdateTimer().Enabled());
  EXPECT_TRUE(time.ticks.empty());
  EXPECT_TRUE(service.requests.empty());
  EXPECT_FALSE(files.Content(kLogPath));
}

TEST_F(ServiceModuleTest, IntervalZeroReadAtATickMakesThatTickTheLast) {
  Start();
  time.RunUntil(6 * kMinute);
  registry.SetDword(kValueUpdateIntervall, 0);
  time.RunUntil(60 * kMinute);
  EXPECT_EQ(time.ticks, (std::vector<std::int64_t>{5 * kMinute, 10 * kMinute}));
  EXPECT_EQ(UpdateUrls().size(), 2u);  // the last tick still updated
  EXPECT_TRUE(files.Content(kLogPath));
}

TEST_F(ServiceModuleTest, WithoutStoredSettingsTicksEveryMinuteAndWritesNothing) {
  registry.values.clear();
  Start();
  time.RunUntil(3 * kMinute);
  EXPECT_EQ(time.ticks, (std::vector<std::int64_t>{kMinute, 2 * kMinute, 3 * kMinute}));
  EXPECT_EQ(UpdateUrls(), std::vector<Text>(3, Text()));  // no URL was ever built
  EXPECT_FALSE(files.Content(kLogPath));
}

// The service host is read with the other settings, so a changed one needs no restart.
TEST_F(ServiceModuleTest, ChangedServerAddressTakesEffectAtTheNextTick) {
  Start();
  time.RunUntil(5 * kMinute);
  registry.SetString(kValueServeradresse, u"127.0.0.1:9090");
  time.RunUntil(10 * kMinute);
  const std::vector<Text> urls = UpdateUrls();
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_EQ(urls[0].rfind(u"http://127.0.0.1:8080/update.php?", 0), 0u);
  EXPECT_EQ(urls[1].rfind(u"http://127.0.0.1:9090/update.php?", 0), 0u);
}

TEST_F(ServiceModuleTest, TimerThatCannotStartFailsTheStart) {
  time.failArm = true;
  bool started = true;
  EXPECT_TRUE(ThrowsKorError([&] { Module().ServiceStart(started); }, kTimerUnavailable));
}

// A new interval that the platform cannot arm at a tick is the host's failure: reported, never
// raised out of the tick, and the update of that tick still runs.
TEST_F(ServiceModuleTest, TimerThatCannotBeArmedAtATickIsReportedAndTheTickGoesOn) {
  Start();
  registry.SetDword(kValueUpdateIntervall, 10);
  time.failArm = true;
  EXPECT_NO_THROW(time.RunUntil(5 * kMinute));
  EXPECT_EQ(hostFailures, std::vector<Text>{kTimerUnavailable});
  EXPECT_EQ(UpdateUrls().size(), 1u);
}

TEST_F(ServiceModuleTest, FirstUpdateGoesThroughKorSslAndLaterOnesThroughTheLookupsClient) {
  registry.SetString(kValueUpdateart, u"HTTPS");
  Start();
  time.RunUntil(10 * kMinute);
  ASSERT_EQ(service.requests.size(), 4u);
  struct Expected {
    int client;
    bool hadTls;
    bool lookup;
  };
  constexpr Expected kExpected[] = {{0, true, false}, {1, true, true}, {1, true, false}, {2, true, true}};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(service.requests[i].client, kExpected[i].client);
    EXPECT_EQ(service.requests[i].hadTls, kExpected[i].hadTls);
    EXPECT_EQ(service.requests[i].url.find(u"/ip.php") != Text::npos, kExpected[i].lookup);
    EXPECT_EQ(service.requests[i].url.rfind(u"https://127.0.0.1:8080/", 0), 0u);
  }
  EXPECT_EQ(service.tlsAttachedToOwn, 1);  // once, when the module was made; never per update
}

TEST_F(ServiceModuleTest, LogLineRecordsTheOutcomeOfTheRun) {
  struct Case {
    const char* name;
    std::optional<Text> update;
    std::optional<Text> ip;
    const char* line;
  };
  const Case kCases[] = {
      {"success", u"OK", u"192.0.2.10", "05.03.2024 14:07:09: IP-Update erfolgreich IP:192.0.2.10\r\n"},
      {"answer without OK", u"badauth", u"192.0.2.10",
       "05.03.2024 14:07:09: IP-Update fehlgeschlagen IP:192.0.2.10\r\n"},
      {"failed lookup", u"OK", std::nullopt, "05.03.2024 14:07:09: IP-Update erfolgreich IP:\r\n"},
      {"address ending in a line break", u"OK", u"192.0.2.10\n",
       "05.03.2024 14:07:09: IP-Update erfolgreich IP:192.0.2.10\n\r\n"},
  };
  Start();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    files.files[kLogPath] = "an older, longer line that must go entirely\r\n";
    service.updateAnswer = c.update;
    service.ipAnswer = c.ip;
    Module().UpdateTimerTimer();
    EXPECT_EQ(files.Content(kLogPath), std::string(c.line));
    EXPECT_EQ(files.openFiles, 0);
  }
}

TEST_F(ServiceModuleTest, LogFollowsTheCurrentDirectoryOfEachWrite) {
  Start();
  Module().UpdateTimerTimer();
  files.cwd = u"D:\\elsewhere";
  Module().UpdateTimerTimer();
  EXPECT_TRUE(files.Content(kLogPath));
  EXPECT_TRUE(files.Content(u"D:\\elsewhere\\Korvex.log"));
}

TEST_F(ServiceModuleTest, FailedUpdateRequestLeavesTheLogByteForByte) {
  Start();
  time.RunUntil(5 * kMinute);
  const std::optional<std::string> before = files.Content(kLogPath);
  ASSERT_TRUE(before);
  service.updateAnswer.reset();
  service.ipAnswer = u"198.51.100.7";
  time.RunUntil(10 * kMinute);
  EXPECT_EQ(files.Content(kLogPath), before);
  EXPECT_EQ(service.requests.size(), 3u);  // no lookup after the failed update
}

TEST_F(ServiceModuleTest, ReadOnlyLogFileIsLeftAloneAndUpdatesGoOn) {
  files.files[kLogPath] = "kept\r\n";
  files.readOnly.insert(kLogPath);
  Start();
  time.RunUntil(10 * kMinute);
  EXPECT_EQ(files.Content(kLogPath), std::string("kept\r\n"));
  EXPECT_EQ(UpdateUrls().size(), 2u);
}

TEST_F(ServiceModuleTest, FailureAfterTruncationClosesTheFileForTheNextRun) {
  Start();
  files.failWrite = true;
  Module().UpdateTimerTimer();
  EXPECT_EQ(files.Content(kLogPath), std::string());
  EXPECT_EQ(files.openFiles, 0);
  files.failWrite = false;
  Module().UpdateTimerTimer();
  EXPECT_EQ(files.Content(kLogPath), std::string("05.03.2024 14:07:09: IP-Update erfolgreich IP:192.0.2.10\r\n"));
}

}  // namespace
}  // namespace korvex
