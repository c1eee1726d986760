// Times UpdateIP cycles (update, then lookup) against korvex-sim over HTTP and HTTPS, and
// alternating with them the same two requests made with libcurl on two fresh connections, with
// the certificate verified against the test CA. Prints the median milliseconds per cycle.

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/address_client.h"
#include "core/error.h"
#include "core/exchange.h"
#include "core/http_client.h"
#include "core/stream.h"
#include "core/tls.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char16_t kUser[] = u"korvex";
constexpr char16_t kPassword[] = u"geheim";
constexpr char16_t kHost[] = u"bench.korvex.test";

struct Ports {
  int http = 0;
  int https = 0;
};

Ports ReadPorts(const std::string& dir) {
  Ports ports;
  std::ifstream in(dir + "/ports");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("http=", 0) == 0) ports.http = std::stoi(line.substr(5));
    if (line.rfind("https=", 0) == 0) ports.https = std::stoi(line.substr(6));
  }
  return ports;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

class CountingReport : public korvex::UpdateReport {
 public:
  void Report(const korvex::Text& status, const korvex::Text& address) override {
    ok = status == korvex::kUpdateSucceeded && address == u"127.0.0.1";
  }
  bool ok = false;
};

// One korvex exchange of the desktop client's kind: a new TLS handler before every HTTPS update.
class KorvexSide {
 public:
  KorvexSide(const std::string& hostPort, bool https, const std::string& caFile)
      : connector_(korvex::MakeSystemConnector()),
        tlsOptions_{"", caFile},
        configured_(MakeClient(korvex::kClientUserAgent)),
        exchange_(*configured_,
                  {[this] { return MakeClient(korvex::kLibraryUserAgent); },
                   [this] { return std::shared_ptr<korvex::TlsHandler>(korvex::MakeTlsHandler(tlsOptions_)); }},
                  korvex::FromAscii(hostPort), true) {
    settings_.Benutzername = kUser;
    settings_.Passwort = kPassword;
    settings_.Hostname = kHost;
    settings_.Updateart = https ? u"HTTPS" : u"HTTP";
  }

  bool Cycle() {
    CountingReport report;
    exchange_.UpdateIP(settings_, report);
    return report.ok;
  }

 private:
  std::unique_ptr<korvex::AddressClient> MakeClient(const char16_t* userAgent) {
    return std::make_unique<korvex::HttpClient>(*connector_, korvex::Text(userAgent), [this] {
      return std::shared_ptr<korvex::TlsHandler>(korvex::MakeTlsHandler(tlsOptions_));
    });
  }

  std::unique_ptr<korvex::Connector> connector_;
  korvex::TlsOptions tlsOptions_;
  std::unique_ptr<korvex::AddressClient> configured_;
  korvex::AddressExchange exchange_;
  korvex::UpdateSettings settings_;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// libcurl the same way: one new handle, so one new connection, per request.
class CurlSide {
 public:
  CurlSide(const std::string& base, const std::string& caFile) : base_(base), caFile_(caFile) {}

  bool Cycle() {
    return Get(base_ + "/update.php?user=korvex&password=geheim&host=bench.korvex.test") == "OK" &&
           Get(base_ + "/ip.php") == "127.0.0.1";
  }

 private:
  std::string Get(const std::string& url) {
    std::string body;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, caFile_.c_str());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Indy Library)");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    if (result != CURLE_OK || status != 200) {
      std::cerr << "libcurl: " << curl_easy_strerror(result) << " (" << status << ")\n";
      return {};
    }
    return body;
  }

  std::string base_;
  std::string caFile_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  std::string only;  // one transport, for profiling
  int cycles = 200;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--sim-dir") dir = argv[i + 1];
    if (arg == "--cycles") cycles = std::stoi(argv[i + 1]);
    if (arg == "--only") only = argv[i + 1];
  }
  if (dir.empty() || cycles <= 0) {
    std::cerr << "usage: korvex-bench --sim-dir DIR [--cycles N] [--only http|https]\n"
                 "  DIR is a folder of tools/simulator/run.sh start\n";
    return 2;
  }
  const Ports ports = ReadPorts(dir);
  if (ports.http == 0 || ports.https == 0) {
    std::cerr << "korvex-bench: no simulator ports in " << dir << "\n";
    return 2;
  }
  const std::string caFile = dir + "/certs/ca.pem";
  curl_global_init(CURL_GLOBAL_DEFAULT);

  struct Transport {
    const char* name;
    bool https;
    std::string hostPort;
  };
  const Transport transports[] = {
      {"http", false, "127.0.0.1:" + std::to_string(ports.http)},
      {"https", true, "localhost:" + std::to_string(ports.https)},
  };
  int status = 0;
  for (const Transport& transport : transports) {
    if (!only.empty() && only != transport.name) continue;
    KorvexSide korvex(transport.hostPort, transport.https, caFile);
    CurlSide curl(std::string(transport.https ? "https://" : "http://") + transport.hostPort,
                  caFile);
    std::vector<double> korvexTimes, curlTimes;
    bool ok = true;
    // One warm-up cycle each (library load, first handshake), then alternate which goes first.
    try {
      ok = korvex.Cycle() && curl.Cycle();
      for (int i = 0; ok && i < cycles; ++i) {
        for (int side = 0; side < 2; ++side) {
          const bool korvexTurn = (side == 0) == (i % 2 == 0);
          const auto start = Clock::now();
          const bool done = korvexTurn ? korvex.Cycle() : curl.Cycle();
          (korvexTurn ? korvexTimes : curlTimes).push_back(Milliseconds(Clock::now() - start));
          ok = ok && done;
        }
      }
    } catch (const korvex::KorError& e) {
      std::cerr << "korvex: " << e.what() << "\n";
      ok = false;
    }
    if (!ok) {
      std::cerr << transport.name << ": a cycle failed\n";
      status = 1;
      continue;
    }
    const double k = Median(korvexTimes);
    const double c = Median(curlTimes);
    std::printf("%s: korvex %.2f ms, libcurl %.2f ms, ratio %.2f\n", transport.name, k, c, k / c);
  }
  curl_global_cleanup();
  return status;
}
