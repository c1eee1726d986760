#include "core/exchange.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/url.h"
#include "tests/support/expect_error.h"

namespace korvex {
namespace {

using testing::ThrowsKorError;

constexpr char16_t kHost[] = u"127.0.0.1:8080";

// Everything the fakes saw, in order, so that a test can say which object sent what through
// which TLS handler, and how many objects are still alive.
struct Wire {
  struct Request {
    int client;  // 0 is the configured client, 1.. the lookup clients in order of creation
    Text url;
    int tls;  // the id of the attached handler, 0 for none
  };
  std::vector<Request> requests;
  std::vector<std::pair<int, int>> attachments;  // (client, handler)
  int clientsMade = 0;
  int handlersMade = 0;
  int liveClients = 0;
  int liveHandlers = 0;

  // Scripted answers; a failure text makes the request throw it.
  Text updateAnswer = u"OK";
  Text updateFailure;
  Text lookupAnswer = u"127.0.0.1";
  Text lookupFailure;
};

class FakeTls : public TlsHandler {
 public:
  explicit FakeTls(Wire& wire) : wire_(wire), id_(++wire.handlersMade) { ++wire_.liveHandlers; }
  ~FakeTls() override { --wire_.liveHandlers; }
  std::unique_ptr<Stream> Handshake(std::unique_ptr<Socket>, const std::string&) override {
    return nullptr;
  }
  int Id() const { return id_; }

 private:
  Wire& wire_;
  int id_;
};

class FakeClient : public AddressClient {
 public:
  FakeClient(Wire& wire, int id) : wire_(wire), id_(id) { ++wire_.liveClients; }
  ~FakeClient() override { --wire_.liveClients; }

  Text Get(const Text& url) override {
    wire_.requests.push_back({id_, url, tls_ ? static_cast<FakeTls&>(*tls_).Id() : 0});
    if (url.empty()) throw KorError(kUnknownProtocol);
    const bool update = url.find(u"/update.php?") != Text::npos;
    const Text& failure = update ? wire_.updateFailure : wire_.lookupFailure;
    if (!failure.empty()) throw KorError(failure);
    return update ? wire_.updateAnswer : wire_.lookupAnswer;
  }
  void AttachTls(std::shared_ptr<TlsHandler> handler) override {
    wire_.attachments.emplace_back(id_, static_cast<FakeTls&>(*handler).Id());
    tls_ = std::move(handler);
  }
  bool HasTls() const override { return tls_ != nullptr; }

 private:
  Wire& wire_;
  int id_;
  std::shared_ptr<TlsHandler> tls_;
};

struct Reported {
  Text status;
  Text address;
};

class RecordingReport : public UpdateReport {
 public:
  void Report(const Text& statusText, const Text& currentIp) override {
    reports.push_back({statusText, currentIp});
  }
  std::vector<Reported> reports;
};

class ExchangeTest : public ::testing::Test {
 protected:
  // The service's configured client comes with its own handler (KorSSL), id 1.
  AddressExchange& Make(bool clientVariant) {
    if (!clientVariant) configured_.AttachTls(std::make_shared<FakeTls>(wire_));
    wire_.attachments.clear();
    AddressExchange::Factories factories{
        [this] { return std::make_unique<FakeClient>(wire_, ++wire_.clientsMade); },
        [this] { return std::make_shared<FakeTls>(wire_); }};
    exchange_ = std::make_unique<AddressExchange>(configured_, factories, kHost, clientVariant);
    return *exchange_;
  }

  static UpdateSettings Settings(const Text& updateart) {
    UpdateSettings settings;
    settings.Benutzername = u"anna";
    settings.Passwort = u"geheim";
    settings.Hostname = u"haus.example";
    settings.Updateart = updateart;
    return settings;
  }

  Wire wire_;
  FakeClient configured_{wire_, 0};
  std::unique_ptr<AddressExchange> exchange_;
  RecordingReport report_;
};

constexpr char16_t kHttpsUpdate[] =
    u"https://127.0.0.1:8080/update.php?user=anna&password=geheim&host=haus.example";
constexpr char16_t kHttpUpdate[] =
    u"http://127.0.0.1:8080/update.php?user=anna&password=geheim&host=haus.example";
constexpr char16_t kHttpsLookup[] = u"https://127.0.0.1:8080/ip.php";
constexpr char16_t kHttpLookup[] = u"http://127.0.0.1:8080/ip.php";

void ExpectRequest(const Wire::Request& request, int client, const Text& url, int tls) {
  EXPECT_EQ(request.client, client);
  EXPECT_EQ(request.url, url);
  EXPECT_EQ(request.tls, tls);
}

TEST_F(ExchangeTest, ClientAttachesNewHandlerBeforeEveryHttpsUpdate) {
  AddressExchange& exchange = Make(true);
  exchange.UpdateIP(Settings(u"HTTPS"), report_);
  exchange.UpdateIP(Settings(u"HTTPS"), report_);

  ASSERT_EQ(wire_.requests.size(), 4u);
  // First update: the window's own client, with a handler attached just for it.
  ExpectRequest(wire_.requests[0], 0, kHttpsUpdate, 1);
  // The lookup: a new client with a new handler of its own.
  ExpectRequest(wire_.requests[1], 1, kHttpsLookup, 2);
  // Later updates go through the lookup's client, after a fresh handler replaced the lookup's.
  ExpectRequest(wire_.requests[2], 1, kHttpsUpdate, 3);
  ExpectRequest(wire_.requests[3], 2, kHttpsLookup, 4);
  const std::vector<std::pair<int, int>> attachments{{0, 1}, {1, 2}, {1, 3}, {2, 4}};
  EXPECT_EQ(wire_.attachments, attachments);
}

TEST_F(ExchangeTest, ClientHttpUpdateAttachesNothing) {
  AddressExchange& exchange = Make(true);
  exchange.UpdateIP(Settings(u"HTTP"), report_);
  ASSERT_EQ(wire_.requests.size(), 2u);
  ExpectRequest(wire_.requests[0], 0, kHttpUpdate, 0);
  ExpectRequest(wire_.requests[1], 1, kHttpLookup, 0);
  EXPECT_TRUE(wire_.attachments.empty());
}

TEST_F(ExchangeTest, ServiceUpdatesThroughTheHandlerItsCurrentClientHas) {
  AddressExchange& exchange = Make(false);
  exchange.UpdateIP(Settings(u"HTTPS"), report_);  // configured client with its KorSSL (1)
  exchange.UpdateIP(Settings(u"HTTP"), report_);   // lookup client 1, its handler passes through
  exchange.UpdateIP(Settings(u"HTTPS"), report_);  // lookup client 2, made for HTTP: no handler

  ASSERT_EQ(wire_.requests.size(), 6u);
  ExpectRequest(wire_.requests[0], 0, kHttpsUpdate, 1);
  ExpectRequest(wire_.requests[1], 1, kHttpsLookup, 2);
  ExpectRequest(wire_.requests[2], 1, kHttpUpdate, 2);
  ExpectRequest(wire_.requests[3], 2, kHttpLookup, 0);
  // The switch to HTTPS: the old lookup client goes out without a handler, so the address
  // client's implicit one carries it; the lookup after it gets a full handler again.
  ExpectRequest(wire_.requests[4], 2, kHttpsUpdate, 0);
  ExpectRequest(wire_.requests[5], 3, kHttpsLookup, 3);
  const std::vector<std::pair<int, int>> attachments{{1, 2}, {3, 3}};
  EXPECT_EQ(wire_.attachments, attachments);
}

TEST_F(ExchangeTest, LookupReplacesAndReleasesOnlyClientsItCreated) {
  AddressExchange& exchange = Make(true);
  EXPECT_EQ(&exchange.Current(), &configured_);
  for (int i = 0; i < 5; ++i) exchange.UpdateIP(Settings(u"HTTPS"), report_);
  exchange.GetIP(Settings(u"HTTPS"));

  // Only the configured client and the latest lookup client are left, each with one handler.
  EXPECT_EQ(wire_.clientsMade, 6);
  EXPECT_EQ(wire_.liveClients, 2);
  EXPECT_EQ(wire_.liveHandlers, 2);
  EXPECT_NE(&exchange.Current(), &configured_);
  exchange.GetIP(Settings(u"HTTP"));
  EXPECT_EQ(wire_.liveClients, 2);
  EXPECT_EQ(wire_.liveHandlers, 1);
}

TEST_F(ExchangeTest, FailedLookupStillTakesTheSlot) {
  AddressExchange& exchange = Make(true);
  wire_.lookupFailure = u"Socket-Fehler # 10061";
  exchange.GetIP(Settings(u"HTTP"));
  wire_.lookupFailure.clear();
  exchange.UpdateIP(Settings(u"HTTP"), report_);
  EXPECT_EQ(wire_.requests[1].client, 1);  // the update went through the failed lookup's client
}

struct OkCase {
  const char16_t* answer;
  bool success;
};

constexpr OkCase kOkCases[] = {
    {u"OK", true},
    {u"OK\r\n", true},
    {u"good OK", true},
    {u"<b>OK</b>", true},
    {u"OK: 127.0.0.1", true},
    {u"NOTOK OK", true},      // a later whole word counts
    {u"\u00A0OK\u2014", true},  // no-break space and dash separate words
    {u"NOTOK", false},
    {u"OKAY", false},
    {u"ok", false},
    {u"OK1", false},
    {u"2OK", false},
    {u"\u00C4OK", false},  // a German letter joins the word
    {u"OK\u00DF", false},
    {u"O K", false},
    {u"NOT_OK", false},  // "_" and "-" join words, as in error codes
    {u"NOT-OK", false},
    {u"ERR_OK", false},
    {u"OK_DONE", false},
    {u"OK-", false},
    {u"badauth", false},
    {u"", false},
};

TEST_F(ExchangeTest, UpdateAnswerCountsAsSuccessOnlyWithOkAsWholeWord) {
  for (const OkCase& c : kOkCases) {
    SCOPED_TRACE(ToUtf8(c.answer));
    Wire wire;
    wire.updateAnswer = c.answer;
    FakeClient configured(wire, 0);
    AddressExchange exchange(configured,
                             {[&] { return std::make_unique<FakeClient>(wire, 1); },
                              [&] { return std::make_shared<FakeTls>(wire); }},
                             kHost, true);
    RecordingReport report;
    exchange.UpdateIP(Settings(u"HTTP"), report);
    ASSERT_EQ(report.reports.size(), 1u);
    EXPECT_EQ(report.reports[0].status, c.success ? kUpdateSucceeded : kUpdateFailed);
    EXPECT_EQ(exchange.UpdateAnswer(), c.success ? Text(kUpdateOk) : Text(c.answer));
  }
}

struct EncodingCase {
  const char16_t* value;
  const char16_t* encoded;
};

constexpr EncodingCase kEncodingCases[] = {
    {u"", u""},
    {u"Anna2024", u"Anna2024"},
    {u"a-b.c_d~e", u"a-b.c_d~e"},
    {u"p&w#d x", u"p%26w%23d%20x"},
    {u"a=b?c/d+e%f", u"a%3Db%3Fc%2Fd%2Be%25f"},
    {u"J\u00FCrgen", u"J%C3%BCrgen"},
    {u"\u20AC", u"%E2%82%AC"},
    {u"\U0001F600", u"%F0%9F%98%80"},
};

TEST(PercentEncode, LeavesUnreservedAndEncodesEverythingElseAsUtf8) {
  for (const EncodingCase& c : kEncodingCases) {
    SCOPED_TRACE(ToUtf8(c.value));
    EXPECT_EQ(PercentEncode(c.value), c.encoded);
  }
  // An unpaired surrogate cannot travel as UTF-8; it goes out as the replacement character.
  EXPECT_EQ(PercentEncode(Text(1, char16_t{0xD800})), u"%EF%BF%BD");
}

TEST(PercentEncode, HostListUrlEncodesUserAndPassword) {
  EXPECT_EQ(HostListURL(u"https://h", u"J\u00FCrgen", u"a&b"),
            u"https://h/userhosts.php?user=J%C3%BCrgen&password=a%26b");
}

TEST_F(ExchangeTest, UpdateUrlCarriesEncodedValuesInAnsiCodePage) {
  AddressExchange& exchange = Make(true);
  UpdateSettings settings = Settings(u"HTTP");
  settings.Benutzername = u"J\u00FCrgen \u4E2D";
  settings.Passwort = u"a&b#c";
  settings.Hostname = u"x y";
  exchange.UpdateIP(settings, report_);
  const std::string expected =
      "http://127.0.0.1:8080/update.php?user=J%C3%BCrgen%20%E4%B8%AD&password=a%26b%23c&host=x%20y";
  EXPECT_EQ(exchange.UpdateRequestURL(), expected);
  EXPECT_EQ(wire_.requests[0].url, FromAscii(expected));
}

TEST_F(ExchangeTest, FailedUpdateRunsNoLookupAndReportsNothing) {
  AddressExchange& exchange = Make(true);
  wire_.lookupAnswer = u"10.0.0.1";
  exchange.UpdateIP(Settings(u"HTTP"), report_);
  wire_.updateFailure = u"HTTP/1.1 500 Internal Server Error";
  wire_.lookupAnswer = u"10.0.0.2";
  ASSERT_TRUE(ThrowsKorError([&] { exchange.UpdateIP(Settings(u"HTTPS"), report_); }, wire_.updateFailure));
  EXPECT_EQ(wire_.requests.size(), 3u);
  EXPECT_EQ(report_.reports.size(), 1u);
  EXPECT_EQ(exchange.UpdateAnswer(), kUpdateOk);
  EXPECT_EQ(exchange.CurrentIP(), u"10.0.0.1");
  EXPECT_EQ(exchange.UpdateRequestURL(), ToUtf8(kHttpsUpdate));  // the URL it tried
}

TEST_F(ExchangeTest, FailedLookupAfterUpdateReportsSuccessWithEmptyAddress) {
  AddressExchange& exchange = Make(false);
  exchange.UpdateIP(Settings(u"HTTP"), report_);
  wire_.lookupFailure = u"Socket-Fehler # 10060";
  exchange.UpdateIP(Settings(u"HTTP"), report_);
  ASSERT_EQ(report_.reports.size(), 2u);
  EXPECT_EQ(report_.reports[1].status, kUpdateSucceeded);
  EXPECT_EQ(report_.reports[1].address, u"");
  EXPECT_EQ(exchange.CurrentIP(), u"");
}

TEST_F(ExchangeTest, LookupKeepsTheAnswerWholeAndHandsItOn) {
  AddressExchange& exchange = Make(true);
  wire_.lookupAnswer = u" 127.0.0.1\r\n";
  Text shown = u"old";
  exchange.GetIP(Settings(u"HTTPS"), [&](const Text& address) { shown = address; });
  EXPECT_EQ(exchange.CurrentIP(), u" 127.0.0.1\r\n");
  EXPECT_EQ(shown, u" 127.0.0.1\r\n");

  wire_.lookupFailure = u"HTTP/1.1 404 Not Found";
  exchange.GetIP(Settings(u"HTTPS"), [&](const Text& address) { shown = address; });
  EXPECT_EQ(exchange.CurrentIP(), u"");
  EXPECT_EQ(shown, u" 127.0.0.1\r\n");  // the label keeps its caption
}

constexpr const char16_t* kUnknownUpdatearten[] = {u"https", u"http", u"", u"Https", u"HTTPS "};

TEST_F(ExchangeTest, UnknownUpdateartLookupSendsNothingAndEmptiesAddress) {
  AddressExchange& exchange = Make(true);
  exchange.GetIP(Settings(u"HTTP"));
  for (const char16_t* updateart : kUnknownUpdatearten) {
    SCOPED_TRACE(ToUtf8(updateart));
    ASSERT_EQ(exchange.CurrentIP(), u"127.0.0.1");
    bool shown = false;
    exchange.GetIP(Settings(updateart), [&](const Text&) { shown = true; });
    EXPECT_EQ(exchange.CurrentIP(), u"");
    EXPECT_FALSE(shown);
    EXPECT_FALSE(exchange.Current().HasTls());
    exchange.GetIP(Settings(u"HTTP"));
  }
  EXPECT_EQ(wire_.requests.size(), 1u + std::size(kUnknownUpdatearten));
}

TEST_F(ExchangeTest, UnknownUpdateartUpdateResendsThePreviousUrl) {
  AddressExchange& exchange = Make(true);
  exchange.UpdateIP(Settings(u"HTTPS"), report_);
  for (const char16_t* updateart : kUnknownUpdatearten) {
    SCOPED_TRACE(ToUtf8(updateart));
    wire_.requests.clear();
    exchange.UpdateIP(Settings(updateart), report_);
    ASSERT_EQ(wire_.requests.size(), 1u);  // the update only: the lookup sends nothing
    EXPECT_EQ(wire_.requests[0].url, kHttpsUpdate);
    EXPECT_EQ(report_.reports.back().status, kUpdateSucceeded);
    EXPECT_EQ(report_.reports.back().address, u"");
  }
}

TEST_F(ExchangeTest, UnknownUpdateartWithoutPreviousUrlFailsBeforeAnyLookup) {
  AddressExchange& exchange = Make(false);
  ASSERT_TRUE(ThrowsKorError([&] { exchange.UpdateIP(Settings(u"https"), report_); }, kUnknownProtocol));
  ASSERT_EQ(wire_.requests.size(), 1u);
  EXPECT_EQ(wire_.requests[0].url, u"");
  EXPECT_EQ(wire_.clientsMade, 0);
  EXPECT_TRUE(report_.reports.empty());
}

}  // namespace
}  // namespace korvex
