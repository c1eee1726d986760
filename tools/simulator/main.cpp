// korvex-sim: a local stand-in for the address service, for tests, the demo and the benchmark.
// It listens on 127.0.0.1 only, over HTTP and (with a certificate) HTTPS, keeps accounts with
// their host names and the last address of each host, and logs every request as a JSON line.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kListenAddress[] = "127.0.0.1";
constexpr char kBadAuth[] = "badauth";
constexpr char kNoHost[] = "nohost";
constexpr char kUpdateOk[] = "OK";
// The host list starts with two lines that the setup dialog skips.
constexpr char kHostListHead[] = "Korvex-Simulator<br>Hostnamen:";
constexpr char kLineBreak[] = "<br>";

const char kUsage[] =
    "usage: korvex-sim [options]\n"
    "  --account USER:PASSWORD:HOST[,HOST...]  an account (repeatable; the password may hold ':')\n"
    "  --accounts FILE     one account per line in the same form; '#' starts a comment\n"
    "  --http-port N       port for HTTP (0 = any free one; default 0)\n"
    "  --https-port N      port for HTTPS (0 = any free one; default 0); needs --cert and --key\n"
    "  --mixed-port N      port for both, told apart by the first byte (default 0); with HTTPS\n"
    "  --cert FILE --key FILE   server certificate and key (PEM) for HTTPS\n"
    "  --port-file FILE    written once both ports listen: lines 'http=N' and 'https=N'\n"
    "  --log FILE          every request as one JSON line\n"
    "  --state FILE        the host table ('host address' lines), rewritten after every update\n"
    "  --files DIR         DIR/softwareupdate.txt answers /softwareupdate.php (404 without it),\n"
    "                      DIR/updates/ holds the files of /updates/NAME; a marker file\n"
    "                      DIR/updates/NAME.endless makes /updates/NAME a body without end;\n"
    "                      while DIR/changing-ip exists, every /ip.php answers another address\n"
    "  GET /redirect?to=URL[&status=3xx] answers with a redirect to URL\n"
    "  --update-answer T   the answer of a successful update (default OK)\n"
    "  --set-cookie        answer every request with a Set-Cookie, to follow cookies in the log\n"
    "  --update-fault FILE while FILE exists, /update.php answers with the status of its first\n"
    "                      line ('500 Internal Server Error') instead of updating\n"
    "Stops on SIGTERM or SIGINT.\n";

struct Account {
  std::string password;
  std::vector<std::string> hosts;
};

struct Options {
  std::map<std::string, Account> accounts;
  int httpPort = 0;
  int httpsPort = 0;
  int mixedPort = 0;
  std::string cert, key, portFile, logFile, stateFile, filesDir, updateFaultFile;
  std::string updateAnswer = kUpdateOk;
  bool setCookie = false;
};

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "korvex-sim: " << message << "\n";
  std::exit(2);
}

void AddAccount(Options& options, const std::string& entry) {
  const auto first = entry.find(':');
  const auto last = entry.rfind(':');
  if (first == std::string::npos || first == last) Fail("bad account '" + entry + "'");
  Account account;
  account.password = entry.substr(first + 1, last - first - 1);
  std::stringstream hosts(entry.substr(last + 1));
  for (std::string host; std::getline(hosts, host, ',');) {
    if (!host.empty()) account.hosts.push_back(host);
  }
  options.accounts[entry.substr(0, first)] = account;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--account") {
      AddAccount(options, value());
    } else if (arg == "--accounts") {
      std::ifstream in(value());
      if (!in) Fail("cannot read the accounts file");
      for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') AddAccount(options, line);
      }
    } else if (arg == "--http-port") {
      options.httpPort = std::stoi(value());
    } else if (arg == "--https-port") {
      options.httpsPort = std::stoi(value());
    } else if (arg == "--mixed-port") {
      options.mixedPort = std::stoi(value());
    } else if (arg == "--cert") {
      options.cert = value();
    } else if (arg == "--key") {
      options.key = value();
    } else if (arg == "--port-file") {
      options.portFile = value();
    } else if (arg == "--log") {
      options.logFile = value();
    } else if (arg == "--state") {
      options.stateFile = value();
    } else if (arg == "--files") {
      options.filesDir = value();
    } else if (arg == "--update-answer") {
      options.updateAnswer = value();
    } else if (arg == "--update-fault") {
      options.updateFaultFile = value();
    } else if (arg == "--set-cookie") {
      options.setCookie = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else {
      std::cerr << kUsage;
      Fail("unknown option " + arg);
    }
  }
  if (options.cert.empty() != options.key.empty()) Fail("--cert and --key go together");
  return options;
}

std::string JsonString(const std::string& value) {
  std::string out = "\"";
  for (const char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Writes a file whole under a temporary name first, so that a reader never sees half of it.
void WriteWhole(const std::string& path, const std::string& content) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::filesystem::rename(temporary, path);
}

bool ReadWhole(const std::filesystem::path& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

class AddressService {
 public:
  explicit AddressService(Options options) : options_(std::move(options)) {
    if (!options_.logFile.empty()) {
      log_.open(options_.logFile, std::ios::binary | std::ios::app);
      if (!log_) Fail("cannot open the log file");
    }
    WriteState();
  }

  void Mount(httplib::Server& server, const std::string& scheme) {
    server.set_tcp_nodelay(true);
    server.Get("/ip.php", [this](const httplib::Request& request, httplib::Response& response) {
      // A line whose address changes at every lookup, for tests of what a client does then.
      if (!options_.filesDir.empty() && std::filesystem::exists(std::filesystem::path(options_.filesDir) / "changing-ip")) {
        const int n = ++lookups_;
        response.set_content("198.51." + std::to_string(n / 250 % 250) + "." + std::to_string(n % 250 + 1),
                             "text/plain");
        return;
      }
      response.set_content(request.remote_addr, "text/plain");
    });
    server.Get("/update.php", [this](const httplib::Request& request, httplib::Response& response) {
      if (AnswerFault(response)) return;
      response.set_content(Update(request), "text/plain");
    });
    server.Get("/userhosts.php",
               [this](const httplib::Request& request, httplib::Response& response) {
                 response.set_content(HostList(request), "text/html");
               });
    // Without a list file the endpoint is missing, so that a client meets an error page.
    server.Get("/softwareupdate.php", [this](const httplib::Request&, httplib::Response& response) {
      std::string list;
      if (options_.filesDir.empty() ||
          !ReadWhole(std::filesystem::path(options_.filesDir) / "softwareupdate.txt", list)) {
        response.status = 404;
        response.set_content("Not Found", "text/plain");
        return;
      }
      response.set_content(list, "text/plain");
    });
    // A redirect for the download client's tests: to=URL, status=3xx (default 302).
    server.Get("/redirect", [](const httplib::Request& request, httplib::Response& response) {
      const std::string status = request.get_param_value("status");
      response.status = status.empty() ? 302 : std::stoi(status);
      response.set_header("Location", request.get_param_value("to"));
      response.set_content("redirect", "text/plain");
    });
    server.Get(R"(/updates/([^/]+))",
               [this](const httplib::Request& request, httplib::Response& response) {
                 const std::string name = request.matches[1];
                 if (!options_.filesDir.empty() && name.front() != '.' &&
                     std::filesystem::exists(std::filesystem::path(options_.filesDir) / "updates" /
                                             (name + ".endless"))) {
                   // Chunks for as long as the client reads: an update file that never ends.
                   response.set_chunked_content_provider(
                       "application/octet-stream", [](std::size_t, httplib::DataSink& sink) {
                         static const std::string chunk(64 * 1024, 'x');
                         return sink.write(chunk.data(), chunk.size());
                       });
                   return;
                 }
                 std::string content;
                 if (options_.filesDir.empty() || name.front() == '.' ||
                     !ReadWhole(std::filesystem::path(options_.filesDir) / "updates" / name,
                                content)) {
                   response.status = 404;
                   response.set_content("Not Found", "text/plain");
                   return;
                 }
                 response.set_content(content, "application/octet-stream");
               });
    // Runs just before the answer is written, so a client that has its answer finds the
    // request in the log already.
    server.set_post_routing_handler(
        [this, scheme](const httplib::Request& request, httplib::Response& response) {
          if (options_.setCookie) {
            response.set_header("Set-Cookie", "korsim=" + std::to_string(++cookies_) + "; Path=/");
          }
          Log(scheme, request, response);
        });
  }

 private:
  // A test switches the update endpoint to an error answer by creating the fault file.
  bool AnswerFault(httplib::Response& response) const {
    std::string fault;
    if (options_.updateFaultFile.empty() || !ReadWhole(options_.updateFaultFile, fault)) return false;
    fault = fault.substr(0, fault.find_first_of("\r\n"));
    const int status = std::atoi(fault.c_str());
    if (status < 100 || status > 999) return false;
    response.status = status;
    const std::size_t reason = fault.find(' ');
    if (reason != std::string::npos) response.reason = fault.substr(reason + 1);
    response.set_content(fault, "text/plain");
    return true;
  }

  const Account* Authenticate(const httplib::Request& request) const {
    const auto found = options_.accounts.find(request.get_param_value("user"));
    if (found == options_.accounts.end() ||
        found->second.password != request.get_param_value("password")) {
      return nullptr;
    }
    return &found->second;
  }

  std::string Update(const httplib::Request& request) {
    const Account* account = Authenticate(request);
    if (!account) return kBadAuth;
    const std::string host = request.get_param_value("host");
    bool known = false;
    for (const std::string& candidate : account->hosts) known = known || candidate == host;
    if (!known) return kNoHost;
    std::lock_guard lock(mutex_);
    addresses_[host] = request.remote_addr;
    WriteState();
    return options_.updateAnswer;
  }

  std::string HostList(const httplib::Request& request) const {
    const Account* account = Authenticate(request);
    if (!account) return kBadAuth;
    std::string body = kHostListHead;
    for (const std::string& host : account->hosts) body += kLineBreak + host;
    return body;
  }

  // Caller holds mutex_ (or runs before the servers start).
  void WriteState() {
    if (options_.stateFile.empty()) return;
    std::string content;
    for (const auto& [user, account] : options_.accounts) {
      for (const std::string& host : account.hosts) {
        const auto found = addresses_.find(host);
        content += host + " " + (found == addresses_.end() ? "-" : found->second) + "\n";
      }
    }
    WriteWhole(options_.stateFile, content);
  }

  void Log(const std::string& scheme, const httplib::Request& request,
           const httplib::Response& response) {
    if (!log_.is_open()) return;
    std::string line = "{\"scheme\":" + JsonString(scheme) +
                       ",\"method\":" + JsonString(request.method) +
                       ",\"target\":" + JsonString(request.target) +
                       ",\"path\":" + JsonString(request.path) +
                       ",\"version\":" + JsonString(request.version) +
                       ",\"remote\":" + JsonString(request.remote_addr) +
                       ",\"remote_port\":" + std::to_string(request.remote_port);
    for (const auto& [key, value] : request.params) {
      line += ",\"param." + key + "\":" + JsonString(value);
    }
    for (const auto& [name, value] : request.headers) {
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
          name == "LOCAL_PORT") {
        continue;  // the library's own bookkeeping, not received
      }
      line += ",\"header." + name + "\":" + JsonString(value);
    }
    line += ",\"status\":" + std::to_string(response.status) +
            ",\"answer\":" + JsonString(response.body.size() <= 4096 ? response.body : "") + "}\n";
    std::lock_guard lock(mutex_);
    log_ << line << std::flush;
  }

  Options options_;
  std::mutex mutex_;
  std::ofstream log_;
  std::map<std::string, std::string> addresses_;
  std::atomic<int> cookies_{0};
  std::atomic<int> lookups_{0};
};

// One port for both schemes, as a real service host with one host:port has: a connection whose
// first byte starts a TLS handshake record (0x16) is relayed to the HTTPS server, any other to
// the HTTP server. Only bytes are copied; both servers still see every request.
class TlsDetectingRelay {
 public:
  TlsDetectingRelay(int port, int httpPort, int httpsPort)
      : httpPort_(httpPort), httpsPort_(httpsPort) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = Loopback(port);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      Fail("cannot listen on the mixed port");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~TlsDetectingRelay() {
    stopping_ = true;
    acceptor_.join();
    close(listener_);
    std::list<Worker> workers;
    {
      std::lock_guard lock(mutex_);
      for (const int fd : open_) shutdown(fd, SHUT_RDWR);
      workers.swap(workers_);
    }
    for (Worker& worker : workers) worker.thread.join();
  }

  int Port() const { return port_; }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }

  void AcceptLoop() {
    while (!stopping_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (poll(&waiting, 1, 100) <= 0) continue;
      const int client = accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      std::lock_guard lock(mutex_);
      // A finished thread keeps its stack until joined; a long demo run must not pile them up.
      for (auto worker = workers_.begin(); worker != workers_.end();) {
        if (worker->done->load()) {
          worker->thread.join();
          worker = workers_.erase(worker);
        } else {
          ++worker;
        }
      }
      open_.push_back(client);
      auto done = std::make_shared<std::atomic<bool>>(false);
      workers_.push_back({std::thread([this, client, done] {
                            Relay(client);
                            *done = true;
                          }),
                          done});
    }
  }

  void Relay(int client) {
    char first = 0;
    pollfd waiting{client, POLLIN, 0};
    int upstream = -1;
    if (poll(&waiting, 1, 30000) > 0 && recv(client, &first, 1, MSG_PEEK) == 1) {
      upstream = socket(AF_INET, SOCK_STREAM, 0);
      const sockaddr_in address = Loopback(first == 0x16 ? httpsPort_ : httpPort_);
      if (connect(upstream, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        {
          std::lock_guard lock(mutex_);
          open_.push_back(upstream);
        }
        const int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        setsockopt(upstream, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Pump(client, upstream);
      }
    }
    std::lock_guard lock(mutex_);
    for (const int fd : {client, upstream}) {
      if (fd < 0) continue;
      open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
      close(fd);
    }
  }

  // Copies both ways until both sides have finished sending.
  static void Pump(int a, int b) {
    bool open[2] = {true, true};  // a -> b, b -> a
    char buffer[16384];
    while (open[0] || open[1]) {
      pollfd fds[2] = {{open[0] ? a : -1, POLLIN, 0}, {open[1] ? b : -1, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) return;
      for (int side = 0; side < 2; ++side) {
        if (!(fds[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const int from = side == 0 ? a : b;
        const int to = side == 0 ? b : a;
        const ssize_t got = recv(from, buffer, sizeof buffer, 0);
        if (got <= 0) {
          open[side] = false;
          shutdown(to, SHUT_WR);
          if (got < 0) return;
          continue;
        }
        for (ssize_t sent = 0; sent < got;) {
          const ssize_t n = send(to, buffer + sent, static_cast<std::size_t>(got - sent), MSG_NOSIGNAL);
          if (n <= 0) return;
          sent += n;
        }
      }
    }
  }

  int httpPort_;
  int httpsPort_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<int> open_;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::list<Worker> workers_;
};

int Bind(httplib::Server& server, int port, const char* what) {
  const int bound = port == 0 ? server.bind_to_any_port(kListenAddress)
                              : (server.bind_to_port(kListenAddress, port) ? port : -1);
  if (bound <= 0) Fail(std::string("cannot listen for ") + what);
  return bound;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);

  // Block the stop signals in every thread; one thread waits for them and stops the servers.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const Options settings = options;
  AddressService service(std::move(options));

  httplib::Server http;
  service.Mount(http, "http");
  const int httpPort = Bind(http, settings.httpPort, "HTTP");
  std::unique_ptr<httplib::SSLServer> https;
  int httpsPort = 0;
  if (!settings.cert.empty()) {
    https = std::make_unique<httplib::SSLServer>(settings.cert.c_str(), settings.key.c_str());
    if (!https->is_valid()) Fail("cannot load the certificate or key");
    service.Mount(*https, "https");
    httpsPort = Bind(*https, settings.httpsPort, "HTTPS");
  }

  std::unique_ptr<TlsDetectingRelay> relay;
  if (https) relay = std::make_unique<TlsDetectingRelay>(settings.mixedPort, httpPort, httpsPort);

  std::thread httpThread([&] { http.listen_after_bind(); });
  std::thread httpsThread([&] {
    if (https) https->listen_after_bind();
  });
  // Both sockets listen from the bind on, so a client may connect as soon as the file exists.
  if (!settings.portFile.empty()) {
    WriteWhole(settings.portFile, "http=" + std::to_string(httpPort) + "\nhttps=" +
                                      std::to_string(httpsPort) + "\nmixed=" +
                                      std::to_string(relay ? relay->Port() : 0) + "\n");
  }
  std::cout << "korvex-sim: http=" << httpPort << " https=" << httpsPort
            << " mixed=" << (relay ? relay->Port() : 0) << std::endl;

  int signal = 0;
  sigwait(&stopSignals, &signal);
  relay.reset();
  http.stop();
  if (https) https->stop();
  httpThread.join();
  httpsThread.join();
  return 0;
}
