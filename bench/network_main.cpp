// Times a change of the network to the service's update request at the local address service:
// the service module with its network run, the watch and the timers on one poll loop, as the
// service's main thread runs them. With --interface NAME it causes real changes (that interface
// up and down, in a network namespace of the caller's own) through the netlink watch; without,
// it reports the change through the seam the watch calls. Prints the median milliseconds.

#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/address_client.h"
#include "core/http_client.h"
#include "core/interval_timer.h"
#include "core/password.h"
#include "core/posix/network_watch.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/stream.h"
#include "core/tls.h"
#include "service/clock.h"
#include "service/kor_service.h"
#include "service/log_file.h"

namespace {

using namespace korvex;
using Steady = std::chrono::steady_clock;

// The settings key in memory.
class MemoryKey : public RegistryKey {
 public:
  explicit MemoryKey(std::map<Text, RegistryValue>& values) : values_(values) {}
  bool QueryInfo(TextView name, RegistryValueInfo& info) const override {
    const auto it = values_.find(Text(name));
    if (it == values_.end()) return false;
    info.type = it->second.type;
    info.size = static_cast<std::uint32_t>(it->second.data.size());
    return true;
  }
  bool ReadData(TextView name, std::size_t maxSize, RegistryValue& value) const override {
    const auto it = values_.find(Text(name));
    if (it == values_.end() || it->second.data.size() > maxSize) return false;
    value = it->second;
    return true;
  }
  std::uint32_t WriteString(TextView name, TextView text) override {
    RegistryValue& value = values_[Text(name)];
    value.type = kRegSz;
    value.data.clear();
    for (const char16_t c : Text(text) + u'\0') {
      value.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
      value.data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return kRegistryOk;
  }
  std::uint32_t WriteDword(TextView name, std::uint32_t number) override {
    RegistryValue& value = values_[Text(name)];
    value.type = kRegDword;
    value.data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                  static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
    return kRegistryOk;
  }
  std::uint32_t Secure() override { return kRegistryOk; }
  bool Secured() const override { return true; }

 private:
  std::map<Text, RegistryValue>& values_;
};

class MemoryRegistry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenSettingsKey() override { return std::make_unique<MemoryKey>(values_); }

 private:
  std::map<Text, RegistryValue> values_;
};

// Countdowns on the loop's clock.
class PollTimers {
 public:
  TimerDriverFactory Factory() {
    return [this](std::function<void()> onTick) {
      slots_.push_back(std::make_shared<Slot>());
      slots_.back()->onTick = std::move(onTick);
      return std::make_unique<Driver>(slots_.back());
    };
  }
  // Milliseconds to the next expiry, -1 when nothing is armed.
  int Timeout() const {
    std::optional<Steady::time_point> next;
    for (const auto& slot : slots_) {
      if (slot->armed && (!next || slot->due < *next)) next = slot->due;
    }
    if (!next) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Steady::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
  }
  void FireDue() {
    const auto now = Steady::now();
    for (const auto& slot : std::vector<std::shared_ptr<Slot>>(slots_)) {
      if (slot->armed && slot->due <= now) {
        slot->due = now + std::chrono::milliseconds(slot->interval);
        slot->onTick();
      }
    }
  }

 private:
  struct Slot {
    bool armed = false;
    std::uint32_t interval = 0;
    Steady::time_point due;
    std::function<void()> onTick;
  };
  class Driver : public TimerDriver {
   public:
    explicit Driver(std::shared_ptr<Slot> slot) : slot_(std::move(slot)) {}
    ~Driver() override { slot_->armed = false; }
    void Arm(std::uint32_t ms) override {
      slot_->armed = true;
      slot_->interval = ms;
      slot_->due = Steady::now() + std::chrono::milliseconds(ms);
    }
    void Disarm() override { slot_->armed = false; }

   private:
    std::shared_ptr<Slot> slot_;
  };
  std::vector<std::shared_ptr<Slot>> slots_;
};

// Notes when the answer to an update request came back: the request has reached the service.
class TimedClient : public AddressClient {
 public:
  TimedClient(std::unique_ptr<AddressClient> inner, std::optional<Steady::time_point>& answered)
      : inner_(std::move(inner)), answered_(answered) {}
  Text Get(const Text& url) override {
    Text body = inner_->Get(url);
    if (url.find(u"/update.php") != Text::npos) answered_ = Steady::now();
    return body;
  }
  void AttachTls(std::shared_ptr<TlsHandler> handler) override { inner_->AttachTls(std::move(handler)); }
  bool HasTls() const override { return inner_->HasTls(); }

 private:
  std::unique_ptr<AddressClient> inner_;
  std::optional<Steady::time_point>& answered_;
};

bool SetInterface(const std::string& name, bool up) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok) {
    request.ifr_flags = static_cast<short>(up ? (request.ifr_flags | IFF_UP) : (request.ifr_flags & ~IFF_UP));
    ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  ::close(fd);
  return ok;
}

int HttpPort(const std::string& dir) {
  std::ifstream in(dir + "/ports");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("http=", 0) == 0) return std::stoi(line.substr(5));
  }
  return 0;
}

// One change, on a module of its own (so that no sample waits for the previous one's limit).
std::optional<double> Sample(Registry& registry, Connector& sockets, const std::string& interfaceName, bool up) {
  PollTimers timers;
  std::optional<Steady::time_point> answered;
  const std::unique_ptr<FileSystem> files = MakeSystemFileSystem();
  const std::unique_ptr<Clock> clock = MakeSystemClock();
  TKorService module(TKorService::Parts{
      registry,
      timers.Factory(),
      std::make_unique<TimedClient>(std::make_unique<HttpClient>(sockets, kLibraryUserAgent), answered),
      nullptr,
      {[&] { return std::make_unique<TimedClient>(std::make_unique<HttpClient>(sockets, kLibraryUserAgent), answered); },
       [] { return std::shared_ptr<TlsHandler>(MakeTlsHandler()); }},
      *files,
      *clock});
  bool started = false;
  module.ServiceStart(started);
  posix::NetlinkWatch watch([&module] { module.NetworkChanged(); });
  const bool real = !interfaceName.empty();
  if (real) watch.Start();

  const Steady::time_point changed = Steady::now();
  if (real) {
    if (!SetInterface(interfaceName, up)) return std::nullopt;
  } else {
    module.NetworkChanged();
  }
  const Steady::time_point until = changed + std::chrono::seconds(30);
  while (!answered && Steady::now() < until) {
    pollfd entry{watch.Descriptor(), POLLIN, 0};
    if (::poll(&entry, entry.fd >= 0 ? 1 : 0, timers.Timeout()) > 0) watch.Readable();
    timers.FireDue();
  }
  watch.Stop();
  module.StopNetworkRun();
  if (!answered) return std::nullopt;
  return std::chrono::duration<double, std::milli>(*answered - changed).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string simDir;
  std::string interfaceName;
  int changes = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--sim-dir") simDir = argv[i + 1];
    if (option == "--interface") interfaceName = argv[i + 1];
    if (option == "--changes") changes = std::stoi(argv[i + 1]);
  }
  const int port = HttpPort(simDir);
  if (port == 0) {
    std::cerr << "no simulator ports in " << simDir << "\n";
    return 1;
  }
  MemoryRegistry registry;
  {
    const std::unique_ptr<RegistryKey> key = registry.OpenSettingsKey();
    key->WriteString(kValueBenutzername, u"korvex");
    key->WriteString(kValuePasswort, Verschluesseln(u"geheim"));
    key->WriteString(kValueHostname, u"bench.korvex.test");
    key->WriteDword(kValueUpdateIntervall, 60);  // no tick during the samples
    key->WriteString(kValueUpdateart, u"HTTP");
    key->WriteString(kValueEinstellungen, u"Ja");
    key->WriteString(kValueServeradresse, FromAscii("127.0.0.1:" + std::to_string(port)));
  }
  const std::unique_ptr<Connector> connector = MakeSystemConnector();
  std::vector<double> samples;
  for (int i = 0; i < changes; ++i) {
    const std::optional<double> ms = Sample(registry, *connector, interfaceName, i % 2 == 0);
    if (!ms) {
      std::cerr << "change " << i + 1 << ": no update request within 30 s\n";
      return 1;
    }
    std::cout << "change " << i + 1 << ": " << static_cast<long>(*ms + 0.5) << " ms\n";
    samples.push_back(*ms);
  }
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  std::cout << "network change to update request: " << static_cast<long>(median + 0.5) << " ms ("
            << (interfaceName.empty() ? "through the seam: the watch's call, no real change"
                                      : "real watch: netlink, interface " + interfaceName +
                                            " up and down in a network namespace of its own")
            << ")\n";
  return 0;
}
