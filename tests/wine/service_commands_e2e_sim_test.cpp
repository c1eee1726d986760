// The client's service commands under Wine, chosen from its menus as a user would: install
// registers and starts the built service program from the client's working directory, remove
// stops and unregisters it. The service program's outcome boxes are answered as a user would.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <vector>

#include "core/win32/windows_api.h"
#include "tests/support/client_settings.h"
#include "tests/support/desktop.h"
#include "tests/support/simulator.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;
using win32::FromW;
using win32::ScopedScHandle;
namespace fs = std::filesystem;

const fs::path kWorkDir = L"C:\\korvex-commands-test";

using testing::WaitFor;

const Text kClientExe = FromUtf8(KORVEX_CLIENT_EXE);

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

class ServiceCommandsWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveLeftovers();
    fs::remove_all(kWorkDir);
    fs::create_directories(kWorkDir);
    fs::copy_file(fs::path(KORVEX_SERVICE_EXE), kWorkDir / "KorvexService.exe");
    const std::optional<testing::Simulator> sim = testing::Simulator::Find();
    ASSERT_TRUE(sim) << "the simulator fixture is not running";
    ASSERT_TRUE(testing::StoreSavedSettings(*sim));
  }
  void TearDown() override {
    RemoveLeftovers();
    testing::ClearSettings();
    std::error_code ignored;
    fs::remove_all(kWorkDir, ignored);
  }
};

TEST_F(ServiceCommandsWineTest, InstallFromTheMainMenuStartsTheServiceAndRemoveFromTheTrayMenuRemovesIt) {
  testing::BoxAnswerer boxes;
  testing::Program client(kClientExe, u"", FromW(kWorkDir.wstring().c_str()));
  HWND main = testing::WaitForWindow(client.Id(), u"Korvex-Client");
  ASSERT_NE(main, nullptr);

  ASSERT_TRUE(testing::ChooseMenu(main, kClientExe, L"MAINMENU1", {u"Korvex als Dienst", u"Installieren"}));
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

  ASSERT_TRUE(testing::ChooseMenu(main, kClientExe, L"POPUP", {u"Popup", u"Korvex als Dienst entfernen"}));
  EXPECT_TRUE(WaitFor(
      [] {
        ScopedScHandle gone = OpenKorService();
        return !gone && ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
      },
      60s))
      << "state " << State();
  EXPECT_TRUE(WaitFor([&] { return boxes.Texts().size() >= 2; }, 10s));
  EXPECT_EQ(boxes.Texts(), (std::vector<Text>{u"Service erfolgreich installiert", u"Service erfolgreich deinstalliert"}));
  ASSERT_TRUE(testing::ChooseMenu(main, kClientExe, L"MAINMENU1", {u"Datei", u"Beenden"}));
  EXPECT_EQ(client.WaitForExit(), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace korvex
