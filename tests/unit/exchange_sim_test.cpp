// UpdateIP end to end: the real address client, sockets and TLS handler (OpenSSL natively,
// SChannel under Wine) against the local address service, which records what arrived. Natively
// the test CA is trusted through the handler's option; under Wine it sits in the root store.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/exchange.h"
#include "core/http_client.h"
#include "core/stream.h"
#include "core/tls.h"
#include "tests/support/simulator.h"

namespace korvex {
namespace {

using testing::SimRequest;
using testing::Simulator;

class RecordingReport : public UpdateReport {
 public:
  void Report(const Text& statusText, const Text& currentIp) override {
    status = statusText;
    address = currentIp;
  }
  Text status;
  Text address;
};

class ExchangeSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = Simulator::Find();
    ASSERT_TRUE(sim_) << "the simulator fixture is not running";
    tlsOptions_.extraCaFile = sim_->CaFile();
  }

  std::shared_ptr<TlsHandler> NewTls() { return MakeTlsHandler(tlsOptions_); }

  // The desktop client's exchange (a new handler before every HTTPS update), or the service's
  // (its configured client brings its own handler, and updates attach nothing).
  AddressExchange& Make(bool clientVariant, const Text& serviceHost) {
    auto implicitTls = [this] { return NewTls(); };
    configured_ = std::make_unique<HttpClient>(
        *connector_, Text(clientVariant ? kClientUserAgent : kLibraryUserAgent), implicitTls);
    if (!clientVariant) configured_->AttachTls(NewTls());
    AddressExchange::Factories factories{
        [this, implicitTls] {
          return std::make_unique<HttpClient>(*connector_, Text(kLibraryUserAgent), implicitTls);
        },
        [this] { return NewTls(); }};
    exchange_ =
        std::make_unique<AddressExchange>(*configured_, factories, serviceHost, clientVariant);
    return *exchange_;
  }

  // The HTTP or the HTTPS port of the simulator, by Updateart.
  Text HostFor(const Text& updateart) const {
    return updateart == u"HTTPS" ? sim_->HttpsHost() : sim_->HttpHost();
  }

  static UpdateSettings Settings(const Text& updateart, const Text& host) {
    UpdateSettings settings;
    settings.Benutzername = testing::kSimUser;
    settings.Passwort = testing::kSimPassword;
    settings.Hostname = host;
    settings.Updateart = updateart;
    return settings;
  }

  std::optional<Simulator> sim_;
  TlsOptions tlsOptions_;
  std::unique_ptr<Connector> connector_ = MakeSystemConnector();
  std::unique_ptr<HttpClient> configured_;
  std::unique_ptr<AddressExchange> exchange_;
  RecordingReport report_;
};

struct TransportCase {
  const char16_t* updateart;
  const char* scheme;
  const char16_t* host;
};

constexpr TransportCase kTransports[] = {
    {u"HTTP", "http", u"sim1.korvex.test"},
    {u"HTTPS", "https", u"sim2.korvex.test"},
};

TEST_F(ExchangeSimTest, UpdateRecordsTheCallerAndReportsTheLookedUpAddress) {
  for (const TransportCase& c : kTransports) {
    SCOPED_TRACE(c.scheme);
    AddressExchange& exchange = Make(true, HostFor(c.updateart));
    const std::size_t mark = sim_->LogMark();
    exchange.UpdateIP(Settings(c.updateart, c.host), report_);
    exchange.UpdateIP(Settings(c.updateart, c.host), report_);

    EXPECT_EQ(report_.status, kUpdateSucceeded);
    EXPECT_EQ(report_.address, u"127.0.0.1");
    EXPECT_EQ(sim_->AddressOf(ToUtf8(c.host)), "127.0.0.1");

    const std::vector<SimRequest> requests = sim_->RequestsSince(mark, 4);
    ASSERT_EQ(requests.size(), 4u);
    const std::string paths[] = {"/update.php", "/ip.php", "/update.php", "/ip.php"};
    // Only the first update goes out through the window's own client.
    const char16_t* agents[] = {kClientUserAgent, kLibraryUserAgent, kLibraryUserAgent,
                                kLibraryUserAgent};
    for (std::size_t i = 0; i < requests.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(requests[i]["scheme"], c.scheme);
      EXPECT_EQ(requests[i]["path"], paths[i]);
      EXPECT_EQ(requests[i]["header.User-Agent"], ToUtf8(agents[i]));
      EXPECT_EQ(requests[i]["header.Accept"], ToUtf8(kAcceptText));
    }
    EXPECT_EQ(requests[0]["param.user"], ToUtf8(testing::kSimUser));
    EXPECT_EQ(requests[0]["param.host"], ToUtf8(c.host));
  }
}

TEST_F(ExchangeSimTest, SpecialCharactersArriveIntact) {
  for (const TransportCase& c : kTransports) {
    SCOPED_TRACE(c.scheme);
    AddressExchange& exchange = Make(true, HostFor(c.updateart));
    UpdateSettings settings = Settings(c.updateart, testing::kSimSpecialHost);
    settings.Benutzername = testing::kSimSpecialUser;
    settings.Passwort = testing::kSimSpecialPassword;
    const std::size_t mark = sim_->LogMark();
    exchange.UpdateIP(settings, report_);

    EXPECT_EQ(report_.status, kUpdateSucceeded);
    const std::vector<SimRequest> requests = sim_->RequestsSince(mark, 1);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0]["param.user"], ToUtf8(testing::kSimSpecialUser));
    EXPECT_EQ(requests[0]["param.password"], ToUtf8(testing::kSimSpecialPassword));
    EXPECT_EQ(requests[0]["param.host"], ToUtf8(testing::kSimSpecialHost));
    EXPECT_EQ(sim_->AddressOf(ToUtf8(testing::kSimSpecialHost)), "127.0.0.1");
  }
}

TEST_F(ExchangeSimTest, RejectedUpdateIsReportedAsFailureWithTheAddress) {
  AddressExchange& exchange = Make(false, sim_->HttpsHost());
  UpdateSettings settings = Settings(u"HTTPS", u"sim3.korvex.test");
  settings.Passwort = u"falsch";
  exchange.UpdateIP(settings, report_);
  EXPECT_EQ(report_.status, kUpdateFailed);
  EXPECT_EQ(report_.address, u"127.0.0.1");
  EXPECT_EQ(exchange.UpdateAnswer(), u"badauth");
}

TEST_F(ExchangeSimTest, ServiceSwitchFromHttpToHttpsGoesThroughTheImplicitHandler) {
  // One service host for both transports, as a real one has.
  AddressExchange& exchange = Make(false, sim_->MixedHost());
  exchange.UpdateIP(Settings(u"HTTP", u"sim3.korvex.test"), report_);
  ASSERT_EQ(report_.status, kUpdateSucceeded);
  EXPECT_FALSE(exchange.Current().HasTls());

  // The lookup client of the HTTP run has no handler, so this update makes its own implicit one.
  const std::size_t mark = sim_->LogMark();
  exchange.UpdateIP(Settings(u"HTTPS", u"sim3.korvex.test"), report_);
  EXPECT_EQ(report_.status, kUpdateSucceeded);
  EXPECT_EQ(report_.address, u"127.0.0.1");
  const std::vector<SimRequest> requests = sim_->RequestsSince(mark, 2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["scheme"], "https");
  EXPECT_EQ(requests[0]["path"], "/update.php");
  EXPECT_EQ(requests[1]["scheme"], "https");
  EXPECT_EQ(requests[1]["path"], "/ip.php");
}

}  // namespace
}  // namespace korvex
