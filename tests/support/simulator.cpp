#include "tests/support/simulator.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace korvex::testing {
namespace {

#ifndef KORVEX_SIM_DIR
#error KORVEX_SIM_DIR names the folder of the simulator fixture
#endif

bool ReadWhole(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  content = buffer.str();
  return true;
}

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The simulator's lines are flat JSON objects of strings and integers.
class LineParser {
 public:
  explicit LineParser(const std::string& line) : s_(line) {}

  bool Parse(SimRequest& request) {
    if (!Take('{')) return false;
    while (true) {
      std::string key, value;
      if (!String(key) || !Take(':')) return false;
      if (Peek() == '"') {
        if (!String(value)) return false;
      } else {
        while (at_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[at_])) || s_[at_] == '-')) {
          value += s_[at_++];
        }
      }
      request.fields[key] = value;
      if (Take('}')) return true;
      if (!Take(',')) return false;
    }
  }

 private:
  char Peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++at_;
    return true;
  }
  bool String(std::string& out) {
    if (!Take('"')) return false;
    while (at_ < s_.size() && s_[at_] != '"') {
      char c = s_[at_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) return false;
      c = s_[at_++];
      if (c == 'u') {
        if (at_ + 4 > s_.size()) return false;
        AppendUtf8(out, static_cast<unsigned>(std::stoul(s_.substr(at_, 4), nullptr, 16)));
        at_ += 4;
      } else {
        out += c;
      }
    }
    return Take('"');
  }

  const std::string& s_;
  std::size_t at_ = 0;
};

std::string LogPath(const std::string& dir) { return dir + "/requests.log"; }

}  // namespace

std::string SimRequest::operator[](const std::string& name) const {
  const auto found = fields.find(name);
  return found == fields.end() ? std::string() : found->second;
}

std::optional<Simulator> Simulator::Find() {
  Simulator sim;
  sim.dir_ = KORVEX_SIM_DIR;
  std::string ports;
  if (!ReadWhole(sim.dir_ + "/ports", ports)) return std::nullopt;
  std::istringstream lines(ports);
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const auto port = static_cast<std::uint16_t>(std::stoi(line.substr(equals + 1)));
    if (line.compare(0, equals, "http") == 0) sim.httpPort_ = port;
    if (line.compare(0, equals, "https") == 0) sim.httpsPort_ = port;
    if (line.compare(0, equals, "mixed") == 0) sim.mixedPort_ = port;
  }
  if (sim.httpPort_ == 0) return std::nullopt;
  return sim;
}

Text Simulator::HttpHost() const { return FromAscii("127.0.0.1:" + std::to_string(httpPort_)); }
Text Simulator::HttpsHost() const { return FromAscii("localhost:" + std::to_string(httpsPort_)); }
Text Simulator::MixedHost() const { return FromAscii("localhost:" + std::to_string(mixedPort_)); }
std::string Simulator::CaFile() const { return dir_ + "/certs/ca.pem"; }

std::size_t Simulator::LogMark() const {
  std::error_code error;
  const auto size = std::filesystem::file_size(LogPath(dir_), error);
  return error ? 0 : static_cast<std::size_t>(size);
}

std::vector<SimRequest> Simulator::RequestsSince(std::size_t mark, std::size_t count,
                                                 std::chrono::milliseconds deadline) const {
  const auto until = std::chrono::steady_clock::now() + deadline;
  std::vector<SimRequest> requests;
  while (true) {
    requests.clear();
    std::string log;
    if (ReadWhole(LogPath(dir_), log) && log.size() > mark) {
      std::istringstream lines(log.substr(mark));
      for (std::string line; std::getline(lines, line);) {
        SimRequest request;
        if (LineParser(line).Parse(request)) requests.push_back(std::move(request));
      }
    }
    if (requests.size() >= count || std::chrono::steady_clock::now() >= until) return requests;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string Simulator::AddressOf(const std::string& host) const {
  std::string state;
  if (!ReadWhole(dir_ + "/state", state)) return "";
  std::istringstream lines(state);
  for (std::string line; std::getline(lines, line);) {
    const auto blank = line.rfind(' ');
    if (blank != std::string::npos && line.compare(0, blank, host) == 0 &&
        blank == host.size()) {
      return line.substr(blank + 1);
    }
  }
  return "";
}

void Simulator::SetUpdateFault(const std::string& status) const {
  std::ofstream(dir_ + "/update-fault", std::ios::binary | std::ios::trunc) << status << "\n";
}

void Simulator::ClearUpdateFault() const {
  std::error_code ignored;
  std::filesystem::remove(dir_ + "/update-fault", ignored);
}

void Simulator::SetChangingAddress(bool on) const {
  const std::string marker = dir_ + "/files/changing-ip";
  if (on) {
    std::ofstream(marker, std::ios::binary | std::ios::trunc);
    return;
  }
  std::error_code ignored;
  std::filesystem::remove(marker, ignored);
}

}  // namespace korvex::testing
