// The service commands under Wine with the real shell: install registers and starts the built
// service program from the working directory, remove stops and unregisters it. The service
// program's outcome boxes are answered by a helper thread, as a user would.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "client/service_commands.h"
#include "client/software_update.h"
#include "core/win32/windows_api.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;
using win32::FromW;
using win32::ScopedScHandle;
namespace fs = std::filesystem;

const fs::path kWorkDir = L"C:\\korvex-commands-test";

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    ::Sleep(100);
  }
  return true;
}

ScopedScHandle OpenKorService() {
  ScopedScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  return ScopedScHandle(::OpenServiceW(manager.Get(), L"KorService", SERVICE_ALL_ACCESS));
}

DWORD State() {
  ScopedScHandle service = OpenKorService();
  if (!service) return 0;
  SERVICE_STATUS status{};
  ::QueryServiceStatus(service.Get(), &status);
  return status.dwCurrentState;
}

void RemoveLeftovers() {
  if (ScopedScHandle service = OpenKorService()) {
    SERVICE_STATUS status{};
    ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
    WaitFor([] { return State() == SERVICE_STOPPED; }, 30s);
    ::DeleteService(service.Get());
  }
}

// Presses OK on every message box of another process and records its text.
class BoxAnswerer {
 public:
  BoxAnswerer() : thread_([this] { Run(); }) {}
  ~BoxAnswerer() {
    stop_ = true;
    thread_.join();
  }
  std::vector<Text> Texts() {
    std::lock_guard lock(mutex_);
    return texts_;
  }

 private:
  void Run() {
    while (!stop_) {
      ::EnumWindows(
          [](HWND window, LPARAM parameter) -> BOOL {
            auto& self = *reinterpret_cast<BoxAnswerer*>(parameter);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            wchar_t className[32] = {};
            ::GetClassNameW(window, className, 32);
            if (owner != ::GetCurrentProcessId() && std::wstring(className) == L"#32770" &&
                ::IsWindowVisible(window)) {
              wchar_t text[1024] = {};
              // A box that has no text yet is taken on the next round.
              if (::GetDlgItemTextW(window, 0xFFFF, text, 1024) == 0) return TRUE;
              {
                std::lock_guard lock(self.mutex_);
                if (self.answered_.insert(window).second) self.texts_.push_back(FromW(text));
              }
              ::PostMessageW(window, WM_COMMAND, IDOK, 0);
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(this));
      ::Sleep(100);
    }
  }

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Text> texts_;
  std::set<HWND> answered_;
  std::thread thread_;
};

class ServiceCommandsWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveLeftovers();
    fs::remove_all(kWorkDir);
    fs::create_directories(kWorkDir);
    fs::copy_file(fs::path(KORVEX_SERVICE_EXE), kWorkDir / "KorvexService.exe");
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    previous_ = previous;
    ASSERT_TRUE(::SetCurrentDirectoryW(kWorkDir.c_str()));
  }
  void TearDown() override {
    RemoveLeftovers();
    ::SetCurrentDirectoryW(previous_.c_str());
    std::error_code ignored;
    fs::remove_all(kWorkDir, ignored);
  }
  std::wstring previous_;
};

TEST_F(ServiceCommandsWineTest, InstallRegistersAndStartsTheServiceAndRemoveStopsAndUnregistersIt) {
  BoxAnswerer boxes;
  const std::unique_ptr<Shell> shell = MakeSystemShell();
  const std::unique_ptr<UpdateFileSystem> files = MakeSystemUpdateFileSystem();
  ServiceCommands commands(*shell, [&] { return files->CurrentDirectory(); });

  commands.Install(0);
  EXPECT_TRUE(WaitFor([] { return State() == SERVICE_RUNNING; }, 60s)) << "state " << State();
  ScopedScHandle service = OpenKorService();
  ASSERT_TRUE(service);
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  ASSERT_TRUE(::QueryServiceConfigW(service.Get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                    static_cast<DWORD>(buffer.size()), &needed));
  const Text binary = FromW(reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->lpBinaryPathName);
  EXPECT_EQ(binary, u"C:\\korvex-commands-test\\KorvexService.exe");
  service.Reset();

  commands.Remove(0);
  EXPECT_TRUE(WaitFor(
      [] {
        ScopedScHandle gone = OpenKorService();
        return !gone && ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
      },
      60s))
      << "state " << State();
  EXPECT_TRUE(WaitFor([&] { return boxes.Texts().size() >= 2; }, 10s));
  EXPECT_EQ(boxes.Texts(), (std::vector<Text>{u"Service erfolgreich installiert", u"Service erfolgreich deinstalliert"}));
}

}  // namespace
}  // namespace korvex
