// KorvexService.exe under Wine's service control manager, end to end: registration from its
// command line, the boxes of a failed install or remove, a start with `net start`, the first tick
// against the local address service, a stop while an update is still under way, and the network
// watch registered for as long as the service runs.
// Every wait is a condition polled until a deadline.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/password.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/win32/windows_api.h"
#include "service/service_host.h"

#include <tlhelp32.h>
#include "tests/support/scripted_server.h"
#include "tests/support/simulator.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;
using win32::FromW;
using win32::ScopedKernelHandle;
using win32::ScopedScHandle;
using win32::W;

// A path with a blank, so that the registration must quote it.
const Text kInstallDir = u"C:\\Program Files\\Korvex Test";
const Text kInstalledExe = kInstallDir + u"\\KorvexService.exe";

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    ::Sleep(100);
  }
  return true;
}

ScopedKernelHandle Start(const Text& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  Text line = commandLine;
  if (!::CreateProcessW(nullptr, const_cast<wchar_t*>(W(line)), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    ADD_FAILURE() << "cannot start " << ToUtf8(commandLine) << ": " << ::GetLastError();
    return {};
  }
  ::CloseHandle(info.hThread);
  return ScopedKernelHandle(info.hProcess);
}

// The exit code, or nothing when the process did not end within the deadline.
std::optional<DWORD> WaitForExit(HANDLE process, std::chrono::milliseconds deadline) {
  if (::WaitForSingleObject(process, static_cast<DWORD>(deadline.count())) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  return code;
}

std::optional<DWORD> RunProgram(const Text& commandLine, std::chrono::milliseconds deadline = 60s) {
  ScopedKernelHandle process = Start(commandLine);
  if (!process) return std::nullopt;
  return WaitForExit(process.Get(), deadline);
}

Text Quoted(const Text& path) { return u"\"" + path + u"\""; }

ScopedScHandle OpenManager() { return ScopedScHandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)); }

ScopedScHandle OpenKorService() {
  ScopedScHandle manager = OpenManager();
  return ScopedScHandle(::OpenServiceW(manager.Get(), W(kServiceName), SERVICE_ALL_ACCESS));
}

SERVICE_STATUS_PROCESS Status() {
  SERVICE_STATUS_PROCESS status{};
  ScopedScHandle service = OpenKorService();
  DWORD needed = 0;
  if (service) {
    ::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                           &needed);
  }
  return status;
}

bool WaitForState(DWORD state, std::chrono::milliseconds deadline) {
  return WaitFor([&] { return Status().dwCurrentState == state; }, deadline);
}

// Leaves no service behind from an earlier, interrupted run.
void RemoveLeftovers() {
  if (ScopedScHandle service = OpenKorService()) {
    SERVICE_STATUS status{};
    ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
    WaitForState(SERVICE_STOPPED, 30s);
    ::DeleteService(service.Get());
  }
}

// A box shown by `processId`: its caption and the text of its static control 0xFFFF.
struct Box {
  HWND window = nullptr;
  Text caption;
  Text text;
};

std::optional<Box> FindBox(DWORD processId) {
  struct Search {
    DWORD processId;
    HWND found;
  } search{processId, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        wchar_t className[32] = {};
        ::GetClassNameW(window, className, 32);
        if (owner == s.processId && std::wstring(className) == L"#32770" && ::IsWindowVisible(window)) {
          s.found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return std::nullopt;
  wchar_t buffer[1024] = {};
  Box box{search.found, {}, {}};
  ::GetWindowTextW(search.found, buffer, 1024);
  box.caption = FromW(buffer);
  buffer[0] = 0;
  ::GetDlgItemTextW(search.found, 0xFFFF, buffer, 1024);
  box.text = FromW(buffer);
  return box;
}

// Runs the program, reads the one box it shows, presses OK, and returns the box.
std::optional<Box> RunAndReadBox(const Text& commandLine, DWORD& exitCode) {
  ScopedKernelHandle process = Start(commandLine);
  if (!process) return std::nullopt;
  std::optional<Box> box;
  WaitFor([&] { return (box = FindBox(::GetProcessId(process.Get()))).has_value(); }, 30s);
  if (box) ::PostMessageW(box->window, WM_COMMAND, IDOK, 0);
  const std::optional<DWORD> code = WaitForExit(process.Get(), 30s);
  exitCode = code.value_or(0xFFFFFFFF);
  return box;
}

std::optional<std::string> ReadFile(const Text& path) {
  win32::ScopedFileHandle file(::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
  if (!file) return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
  return content;
}

// The service's current directory is the system directory on Windows; Wine's service control
// manager starts services in the Windows directory.
std::vector<Text> LogCandidates() {
  wchar_t directory[MAX_PATH];
  std::vector<Text> paths;
  ::GetSystemDirectoryW(directory, MAX_PATH);
  paths.push_back(FromW(directory) + u"\\Korvex.log");
  ::GetWindowsDirectoryW(directory, MAX_PATH);
  paths.push_back(FromW(directory) + u"\\Korvex.log");
  return paths;
}

// The log line once it holds `ending`.
std::optional<std::string> WaitForLogLine(const std::string& ending, std::chrono::milliseconds deadline) {
  std::optional<std::string> line;
  WaitFor(
      [&] {
        for (const Text& path : LogCandidates()) {
          line = ReadFile(path);
          if (line && line->size() >= ending.size() && line->compare(line->size() - ending.size(), ending.size(), ending) == 0) {
            return true;
          }
        }
        line.reset();
        return false;
      },
      deadline);
  return line;
}

std::string Today() {
  wchar_t buffer[128];
  ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buffer, 128, nullptr);
  return ToAnsi(FromW(buffer));
}

void WriteSettings(const Text& serverAddress) {
  const std::unique_ptr<RegistryKey> key = MakeSystemRegistry()->OpenSettingsKey();
  ASSERT_TRUE(key);
  ASSERT_EQ(key->WriteString(kValueBenutzername, testing::kSimUser), kRegistryOk);
  ASSERT_EQ(key->WriteString(kValuePasswort, Verschluesseln(testing::kSimPassword)), kRegistryOk);
  ASSERT_EQ(key->WriteString(kValueHostname, testing::kSimHost), kRegistryOk);
  ASSERT_EQ(key->WriteDword(kValueUpdateIntervall, 1), kRegistryOk);  // the first tick one minute after the start
  ASSERT_EQ(key->WriteString(kValueUpdateart, u"HTTP"), kRegistryOk);
  ASSERT_EQ(key->WriteString(kValueEinstellungen, u"Ja"), kRegistryOk);
  ASSERT_EQ(key->WriteString(kValueServeradresse, serverAddress), kRegistryOk);
}

// Reads one request head from the connection.
std::string ReceiveHead(testing::ServerConnection& connection) {
  std::string head;
  char buffer[2048];
  while (head.find("\r\n\r\n") == std::string::npos) {
    const int received = connection.Receive(buffer, sizeof buffer, 10000);
    if (received <= 0) break;
    head.append(buffer, received);
  }
  return head;
}

std::string Answer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// The threads of process `id` now.
int ThreadCount(DWORD id) {
  win32::ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID == id) ++count;
  }
  return count;
}

class ServiceEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveLeftovers();
    ::CreateDirectoryW(W(kInstallDir), nullptr);
    ASSERT_TRUE(::CopyFileW(W(Text(FromUtf8(KORVEX_SERVICE_EXE))), W(kInstalledExe), FALSE)) << ::GetLastError();
    for (const Text& path : LogCandidates()) ::DeleteFileW(W(path));
  }
  void TearDown() override {
    RemoveLeftovers();
    // The settings this test stored must not reach the tests that run after it in this prefix.
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Korvex", KEY_WOW64_32KEY, 0);
  }
};

TEST_F(ServiceEndToEndTest, InstallRegistersTheServiceAndAFailedInstallOrRemoveShowsItsBox) {
  ASSERT_EQ(RunProgram(Quoted(kInstalledExe) + u" /INSTALL /SILENT"), 0u);

  ScopedScHandle service = OpenKorService();
  ASSERT_TRUE(service);
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  ASSERT_TRUE(::QueryServiceConfigW(service.Get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                    static_cast<DWORD>(buffer.size()), &needed));
  const auto& config = *reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  EXPECT_EQ(config.dwServiceType, 0x110u);
  EXPECT_EQ(config.dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config.dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(FromW(config.lpBinaryPathName), Quoted(kInstalledExe));
  EXPECT_EQ(FromW(config.lpDisplayName), u"KorvexService");
  EXPECT_EQ(FromW(config.lpServiceStartName), u"LocalSystem");
  service.Reset();

  DWORD exitCode = 0;
  std::optional<Box> box = RunAndReadBox(Quoted(kInstalledExe) + u" /INSTALL", exitCode);
  ASSERT_TRUE(box) << "no install-failed box";
  EXPECT_EQ(box->caption, u"Fehler");
  EXPECT_EQ(box->text, Format(kInstallFailed, {kDisplayName, OsErrorMessage(1073, SystemErrorText(1073))}));
  EXPECT_EQ(exitCode, 0u);

  ASSERT_EQ(RunProgram(Quoted(kInstalledExe) + u" -uninstall -silent"), 0u);
  EXPECT_FALSE(OpenKorService());
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

  box = RunAndReadBox(Quoted(kInstalledExe) + u" /UNINSTALL /SILENT", exitCode);
  ASSERT_TRUE(box) << "no remove-failed box";
  EXPECT_EQ(box->text, Format(kRemoveFailed, {kDisplayName, OsErrorMessage(1060, SystemErrorText(1060))}));
  EXPECT_EQ(exitCode, 0u);
}

TEST_F(ServiceEndToEndTest, StartedByHandEndsWithExitCodeZeroAndShowsNothing) {
  // The failed connection (1063) goes to the event log. Wine keeps none; with its "eventlog"
  // channel on it prints the entry ("err:eventlog:ReportEventW ...") into this test's output,
  // where a GUI program's stderr cannot be caught from the test itself.
  std::u16string environment;
  const wchar_t* block = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry != 0; entry += wcslen(entry) + 1) {
    if (_wcsnicmp(entry, L"WINEDEBUG=", 10) != 0) environment += FromW(entry) + u'\0';
  }
  ::FreeEnvironmentStringsW(const_cast<wchar_t*>(block));
  environment += u"WINEDEBUG=err+eventlog,fixme+eventlog";
  environment += u'\0';
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  Text line = Quoted(kInstalledExe);
  ASSERT_TRUE(::CreateProcessW(nullptr, const_cast<wchar_t*>(W(line)), nullptr, nullptr, FALSE,
                               CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup, &info));
  ::CloseHandle(info.hThread);
  ScopedKernelHandle process(info.hProcess);
  EXPECT_EQ(WaitForExit(process.Get(), 30s), std::optional<DWORD>(0));
  EXPECT_FALSE(FindBox(info.dwProcessId));
}

TEST_F(ServiceEndToEndTest, FirstTickLogsTheUpdateAndAStopLetsARunningUpdateFinish) {
  const std::optional<testing::Simulator> sim = testing::Simulator::Find();
  ASSERT_TRUE(sim) << "the simulator fixture is not running";
  WriteSettings(sim->HttpHost());
  ASSERT_EQ(RunProgram(Quoted(kInstalledExe) + u" /INSTALL /SILENT"), 0u);

  // Wine's net returns while the service is still start pending.
  const std::size_t mark = sim->LogMark();
  ASSERT_EQ(RunProgram(u"net.exe start KorService").has_value(), true);
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING, 30s));

  const std::string ending = ": IP-Update erfolgreich IP:127.0.0.1\r\n";
  const std::optional<std::string> line = WaitForLogLine(ending, 100s);
  ASSERT_TRUE(line) << "no log line within the first interval";
  EXPECT_EQ(line->rfind(Today() + " ", 0), 0u) << *line;
  EXPECT_EQ(line->find("\r\n"), line->size() - 2) << "more than one line";
  const std::vector<testing::SimRequest> requests = sim->RequestsSince(mark, 2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["path"], "/update.php");
  EXPECT_EQ(requests[0]["param.host"], ToUtf8(testing::kSimHost));
  EXPECT_EQ(requests[0]["header.User-Agent"], "Mozilla/3.0 (compatible; Indy Library)");
  EXPECT_EQ(requests[1]["path"], "/ip.php");
  EXPECT_EQ(sim->AddressOf(ToUtf8(testing::kSimHost)), "127.0.0.1");

  // The same service again, now against a server that holds the update until told.
  ASSERT_TRUE(RunProgram(u"net.exe stop KorService").has_value());
  ASSERT_TRUE(WaitForState(SERVICE_STOPPED, 30s));
  const std::unique_ptr<testing::ServerListener> server = testing::ListenOnLoopback();
  WriteSettings(FromAscii("127.0.0.1:" + std::to_string(server->Port())));
  ASSERT_TRUE(RunProgram(u"net.exe start KorService").has_value());
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING, 30s));
  ScopedKernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Status().dwProcessId));
  ASSERT_TRUE(process);

  std::unique_ptr<testing::ServerConnection> update;
  ASSERT_TRUE(WaitFor([&] { return (update = server->Accept(1000)) != nullptr; }, 100s)) << "no update request";
  EXPECT_NE(ReceiveHead(*update).find("GET /update.php?"), std::string::npos);

  ScopedKernelHandle stop = Start(u"net.exe stop KorService");
  EXPECT_TRUE(WaitForState(SERVICE_STOPPED, 20s)) << "the stop waited for the update";
  EXPECT_EQ(::WaitForSingleObject(process.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the process ended mid-update";

  ASSERT_TRUE(update->Send(Answer("OK")));
  update.reset();
  std::unique_ptr<testing::ServerConnection> lookup;
  ASSERT_TRUE(WaitFor([&] { return (lookup = server->Accept(1000)) != nullptr; }, 20s)) << "no lookup";
  EXPECT_NE(ReceiveHead(*lookup).find("GET /ip.php"), std::string::npos);
  ASSERT_TRUE(lookup->Send(Answer("192.0.2.77")));
  lookup.reset();

  EXPECT_EQ(WaitForExit(process.Get(), 30s), std::optional<DWORD>(0));
  EXPECT_TRUE(WaitForLogLine(": IP-Update erfolgreich IP:192.0.2.77\r\n", 10s));
  if (stop) WaitForExit(stop.Get(), 30s);

  ASSERT_EQ(RunProgram(Quoted(kInstalledExe) + u" /UNINSTALL /SILENT"), 0u);
  EXPECT_FALSE(OpenKorService());
}

// Wine 8 takes the registration of NotifyAddrChange but never signals it, even for an address
// added in a network namespace of the test's own, so a change cannot be caused here; the unit
// tests drive the extra run through a fake watch. What can be seen: the watch costs nothing while
// the network stays as it is, and it goes with the service.
TEST_F(ServiceEndToEndTest, WithTheNetworkWatchRegisteredNothingExtraIsSentAndTheStopEndsTheProcess) {
  const std::optional<testing::Simulator> sim = testing::Simulator::Find();
  ASSERT_TRUE(sim) << "the simulator fixture is not running";
  WriteSettings(sim->HttpHost());
  ASSERT_EQ(MakeSystemRegistry()->OpenSettingsKey()->WriteDword(kValueUpdateIntervall, 5), kRegistryOk);
  ASSERT_EQ(RunProgram(Quoted(kInstalledExe) + u" /INSTALL /SILENT"), 0u);

  const std::size_t mark = sim->LogMark();
  ASSERT_TRUE(RunProgram(u"net.exe start KorService").has_value());
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING, 30s));
  const DWORD id = Status().dwProcessId;
  ScopedKernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  ASSERT_TRUE(process);
  const int threads = ThreadCount(id);
  EXPECT_GT(threads, 0);

  // Longer than the quiet time of a change, well inside the first interval of five minutes.
  EXPECT_TRUE(sim->RequestsSince(mark, 1, 12s).empty()) << "a request before the first tick";
  EXPECT_EQ(ThreadCount(id), threads) << "threads came or went while the network stayed as it was";

  ASSERT_TRUE(RunProgram(u"net.exe stop KorService").has_value());
  EXPECT_TRUE(WaitForState(SERVICE_STOPPED, 30s));
  EXPECT_EQ(WaitForExit(process.Get(), 30s), std::optional<DWORD>(0)) << "the process outlived its stop";
  EXPECT_TRUE(sim->RequestsSince(mark, 1, 0s).empty());

  ASSERT_EQ(RunProgram(Quoted(kInstalledExe) + u" /UNINSTALL /SILENT"), 0u);
}

}  // namespace
}  // namespace korvex
