// Korvex.exe end to end under Wine, against the local address service, driven as a user would:
// the first start with its setup dialog, login, pick and save, a restart, a failed forced update,
// and the end of the program when the first-start dialog is closed.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/download_client.h"
#include "client/software_update.h"
#include "client/tray_icon.h"
#include "client/setup_form.h"
#include "core/password.h"
#include "core/registry.h"
#include "core/settings.h"
#include "tests/support/client_settings.h"
#include "tests/support/desktop.h"
#include "tests/support/internet_settings.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include "tests/support/simulator.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;
using testing::ChildWithText;
using testing::ChildrenOf;
using testing::Program;
using testing::SimRequest;
using testing::Simulator;
using testing::WaitFor;
using testing::WindowText;
using win32::FromW;
using win32::W;

const Text kClientExe = FromUtf8(KORVEX_CLIENT_EXE);
constexpr wchar_t kMainMenu[] = L"MAINMENU1";
constexpr char16_t kSetupCaption[] = u"Korvex-Client Setup";

using testing::ClearSettings;
using testing::StoreServiceHost;

std::optional<Text> Stored(TextView name) {
  const std::unique_ptr<RegistryKey> key = MakeSystemRegistry()->OpenSettingsKey();
  RegistryValueInfo info;
  if (!key || !key->QueryInfo(name, info)) return std::nullopt;
  Text text;
  if (ReadString(key.get(), name, text)) return text;
  std::int32_t number = 0;
  if (ReadInteger(key.get(), name, number)) return ToText(number);
  return std::nullopt;
}

std::vector<SimRequest> RequestsTo(const std::vector<SimRequest>& requests, const std::string& path) {
  std::vector<SimRequest> matching;
  for (const SimRequest& r : requests) {
    if (r["path"] == path) matching.push_back(r);
  }
  return matching;
}

class ClientEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::optional<Simulator> found = Simulator::Find();
    ASSERT_TRUE(found) << "the simulator fixture is not running";
    sim_ = *found;
    sim_.ClearUpdateFault();
    ClearSettings();
  }
  void TearDown() override {
    sim_.ClearUpdateFault();
    ClearSettings();
  }

  std::unique_ptr<Program> StartClient(const Text& workingDirectory = u"C:\\") {
    auto program = std::make_unique<Program>(kClientExe, u"", workingDirectory);
    EXPECT_TRUE(program->Started());
    return program;
  }

  // Ends the client as a user would, through "Datei" / "Beenden".
  void Quit(Program& client) {
    HWND main = testing::FindWindowOf(client.Id(), kClientCaption);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(testing::ChooseMenu(main, kClientExe, kMainMenu, {u"Datei", u"Beenden"}));
    EXPECT_EQ(client.WaitForExit(), std::optional<DWORD>(0));
  }

  Simulator sim_;
};

TEST_F(ClientEndToEnd, FirstStartLogsInPicksSavesAndUpdatesThenARestartUpdatesAtOnce) {
  ASSERT_TRUE(StoreServiceHost(sim_.HttpsHost()));
  const std::size_t mark = sim_.LogMark();
  std::unique_ptr<Program> client = StartClient();

  HWND setup = testing::WaitForWindow(client->Id(), kSetupCaption);
  ASSERT_NE(setup, nullptr);
  // Only the setup dialog is on screen; the main window waits for it.
  EXPECT_EQ(testing::VisibleWindowsOf(client->Id()), std::vector<HWND>{setup});
  HWND main = testing::FindWindowOf(client->Id(), kClientCaption);
  ASSERT_NE(main, nullptr);
  EXPECT_FALSE(::IsWindowVisible(main));

  const std::vector<HWND> edits = ChildrenOf(setup, u"Edit");
  const std::vector<HWND> lists = ChildrenOf(setup, u"ComboBox");
  ASSERT_EQ(edits.size(), 3u);  // account, password, interval
  ASSERT_EQ(lists.size(), 2u);  // host, transport
  EXPECT_FALSE(::IsWindowVisible(lists[0]));
  testing::Type(edits[0], testing::kSimAnnaUser);
  testing::Type(edits[1], testing::kSimAnnaPassword);
  HWND login = ChildWithText(setup, u"Button", u"Login");
  ASSERT_NE(login, nullptr);
  testing::Click(login);

  ASSERT_TRUE(WaitFor([&] { return testing::EntryCount(lists[0]) == 2; }));
  EXPECT_TRUE(::IsWindowVisible(lists[0]));
  EXPECT_FALSE(::IsWindowEnabled(edits[0]));
  // The login is the first request of the program, over HTTPS, with the password encoded.
  std::vector<SimRequest> requests = sim_.RequestsSince(mark, 1);
  ASSERT_GE(requests.size(), 1u);
  EXPECT_EQ(requests[0]["path"], "/userhosts.php");
  EXPECT_EQ(requests[0]["scheme"], "https");
  EXPECT_NE(requests[0]["target"].find("password=Gr%26n%20%C3%B6l"), std::string::npos)
      << requests[0]["target"];
  EXPECT_EQ(requests[0]["param.password"], ToUtf8(testing::kSimAnnaPassword));

  testing::Pick(lists[0], 1);
  testing::Type(edits[2], u"7");
  testing::Pick(lists[1], 0);
  HWND save = ChildWithText(setup, u"Button", u"Speichern");
  ASSERT_NE(save, nullptr);
  testing::Click(save);

  const std::string host = ToUtf8(testing::kSimAnnaHosts[1]);
  ASSERT_TRUE(WaitFor([&] { return sim_.AddressOf(host) == "127.0.0.1"; }));
  EXPECT_EQ(Stored(kValueBenutzername), Text(testing::kSimAnnaUser));
  EXPECT_EQ(Stored(kValuePasswort), Verschluesseln(testing::kSimAnnaPassword));
  EXPECT_EQ(Stored(kValueHostname), Text(testing::kSimAnnaHosts[1]));
  EXPECT_EQ(Stored(kValueUpdateart), Text(u"HTTPS"));
  EXPECT_EQ(Stored(kValueUpdateIntervall), Text(u"7"));
  EXPECT_EQ(Stored(kValueEinstellungen), Text(u"Ja"));
  // The address shows in the main window, which then goes to the tray by itself.
  EXPECT_TRUE(WaitFor([&] { return ChildWithText(main, u"Static", u"127.0.0.1") != nullptr; }));
  EXPECT_TRUE(WaitFor([&] { return !::IsWindowVisible(main) && !::IsWindowVisible(setup); }, 10s));
  EXPECT_FALSE(testing::FindBox(client->Id()));
  Quit(*client);

  const std::size_t restart = sim_.LogMark();
  client = StartClient();
  ASSERT_NE(testing::WaitForWindow(client->Id(), kClientCaption), nullptr);
  // The window comes up after its update and the lookup that follows it.
  requests = sim_.RequestsSince(restart, 2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["path"], "/update.php");
  EXPECT_EQ(requests[0]["param.host"], host);
  EXPECT_EQ(requests[1]["path"], "/ip.php");
  EXPECT_EQ(testing::FindWindowOf(client->Id(), kSetupCaption) != nullptr &&
                ::IsWindowVisible(testing::FindWindowOf(client->Id(), kSetupCaption)),
            false);
  Quit(*client);
  EXPECT_EQ(RequestsTo(sim_.RequestsSince(restart, 2, 0ms), "/update.php").size(), 1u);
}

TEST_F(ClientEndToEnd, AnErrorAnswerToAForcedUpdateShowsTheStatusLineWithAFullStop) {
  ASSERT_TRUE(testing::StoreSavedSettings(sim_));
  const std::size_t mark = sim_.LogMark();
  std::unique_ptr<Program> client = StartClient();
  HWND main = testing::WaitForWindow(client->Id(), kClientCaption);
  ASSERT_NE(main, nullptr);
  ASSERT_EQ(RequestsTo(sim_.RequestsSince(mark, 2), "/update.php").size(), 1u);

  sim_.SetUpdateFault("500 Internal Server Error");
  ASSERT_TRUE(testing::ChooseMenu(main, kClientExe, kMainMenu, {u"Datei", u"Update erzwingen"}));
  const std::optional<testing::Box> box = testing::WaitForBox(client->Id());
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, u"Korvex");
  EXPECT_EQ(box->text, u"HTTP/1.1 500 Internal Server Error.");
  ::PostMessageW(box->window, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitFor([&] { return !testing::FindBox(client->Id()); }));
  Quit(*client);
}

// Whether the shell has the icon of this tray window: it knows an icon by window and id, and a
// change of nothing succeeds only for an icon it has.
NOTIFYICONDATAW IconOf(HWND trayWindow) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = trayWindow;
  data.uID = kTrayIconId;
  return data;
}

bool IconPresent(HWND trayWindow) {
  NOTIFYICONDATAW data = IconOf(trayWindow);
  return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

// The shell's call-back message to the icon's window, with the mouse message in lParam.
void TrayMouse(HWND trayWindow, UINT mouseMessage) {
  ::PostMessageW(trayWindow, WM_USER + 1, reinterpret_cast<WPARAM>(trayWindow), mouseMessage);
}

TEST_F(ClientEndToEnd, TheTrayIconShowsTheAddressRestoresTheWindowAndEndsTheProgram) {
  ASSERT_TRUE(testing::StoreSavedSettings(sim_));
  std::size_t mark = sim_.LogMark();
  std::unique_ptr<Program> client = StartClient();
  HWND main = testing::WaitForWindow(client->Id(), kClientCaption);
  ASSERT_NE(main, nullptr);
  HWND tray = nullptr;
  for (HWND window : testing::VisibleWindowsOf(client->Id())) ASSERT_NE(testing::ClassOf(window), u"KorvexTrayIcon");
  ASSERT_TRUE(WaitFor([&] {
    tray = nullptr;
    ::EnumWindows(
        [](HWND window, LPARAM found) -> BOOL {
          if (testing::ClassOf(window) != u"KorvexTrayIcon") return TRUE;
          *reinterpret_cast<HWND*>(found) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&tray));
    return tray != nullptr;
  }));
  EXPECT_TRUE(IconPresent(tray));
  // A second after start-up the window goes to the tray.
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(main); }, 10s));
  ASSERT_EQ(sim_.RequestsSince(mark, 2).size(), 2u);

  // A left click looks the address up, once, and leaves the window where it is.
  mark = sim_.LogMark();
  TrayMouse(tray, WM_LBUTTONDOWN);
  TrayMouse(tray, WM_LBUTTONUP);
  std::vector<SimRequest> requests = sim_.RequestsSince(mark, 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["path"], "/ip.php");
  EXPECT_FALSE(::IsWindowVisible(main));

  // A double-click brings the window back with an update, and the icon goes.
  mark = sim_.LogMark();
  TrayMouse(tray, WM_LBUTTONDBLCLK);
  ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(main) && !::IsIconic(main); }));
  requests = sim_.RequestsSince(mark, 2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["path"], "/update.php");
  EXPECT_TRUE(WaitFor([&] { return !IconPresent(tray); }));

  // Minimising hides it to the tray again.
  ::PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(main) && IconPresent(tray); }));

  // A restarted shell gets the present icon back.
  NOTIFYICONDATAW data = IconOf(tray);
  ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &data));
  ::SendMessageTimeoutW(HWND_BROADCAST, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG,
                        5000, nullptr);
  EXPECT_TRUE(WaitFor([&] { return IconPresent(tray); }));

  // "Beenden" in the tray menu ends the program and takes the icon with it.
  ASSERT_TRUE(testing::ChooseMenu(main, kClientExe, L"POPUP", {u"Popup", u"Beenden"}));
  EXPECT_EQ(client->WaitForExit(), std::optional<DWORD>(0));
  EXPECT_FALSE(IconPresent(tray));
  EXPECT_FALSE(testing::FindBox(client->Id()));
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteWhole(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

TEST_F(ClientEndToEnd, TheSoftwareUpdateFromTheMenuFetchesTheFilesStartsTheUpdaterAndEnds) {
  namespace fs = std::filesystem;
  const fs::path work = L"C:\\korvex-client-update";
  const fs::path files = fs::path(sim_.Dir()) / "files";
  fs::remove_all(work);
  fs::create_directories(work);
  fs::copy_file(fs::path(KORVEX_QUENLOR_EXE), work / "Quenlor.exe");
  std::string program;
  for (int i = 0; i < 50000; ++i) program += static_cast<char>(i % 253);
  WriteWhole(files / "updates" / "Korvex.exe", program);
  WriteWhole(files / "updates" / "neue datei.dll", "dll");
  WriteWhole(files / "softwareupdate.txt", "Korvex.exe\r\nneue datei.dll\r\n");
  ASSERT_TRUE(testing::SetUserProxy(""));
  ASSERT_TRUE(testing::StoreSavedSettings(sim_));

  std::unique_ptr<Program> client = StartClient(FromW(work.wstring().c_str()));
  HWND main = testing::WaitForWindow(client->Id(), kClientCaption);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(testing::ChooseMenu(main, kClientExe, kMainMenu, {u"Datei", u"Quenlor"}));
  const std::optional<testing::Box> ask = testing::WaitForBox(client->Id());
  ASSERT_TRUE(ask);
  EXPECT_EQ(ask->caption, u"Informationen");
  EXPECT_EQ(ask->text, u"Es steht ein Update bereit, m\u00F6chten Sie es installieren?");
  EXPECT_EQ(WindowText(::GetDlgItem(ask->window, IDYES)), u"&Ja");
  EXPECT_EQ(WindowText(::GetDlgItem(ask->window, IDNO)), u"&Nein");
  ::PostMessageW(ask->window, WM_COMMAND, IDYES, 0);

  EXPECT_EQ(client->WaitForExit(30s), std::optional<DWORD>(0));
  EXPECT_TRUE(ReadWhole(work / "updates" / "Korvex.exe") == program) << "the program file differs";
  EXPECT_EQ(ReadWhole(work / "updates" / "neue datei.dll"), "dll");
  EXPECT_TRUE(WaitFor([&] { return fs::exists(work / "quenlor-started.txt"); }));

  WriteWhole(files / "softwareupdate.txt", "");
  fs::remove(files / "updates" / "Korvex.exe");
  fs::remove(files / "updates" / "neue datei.dll");
  testing::RemoveUserProxy();
  std::error_code ignored;
  fs::remove_all(work, ignored);
}

// The processes of this program file now running, by the file's name.
std::vector<DWORD> ProcessesNamed(const wchar_t* name) {
  std::vector<DWORD> ids;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (::lstrcmpiW(entry.szExeFile, name) == 0) ids.push_back(entry.th32ProcessID);
  }
  ::CloseHandle(snapshot);
  return ids;
}

// The tray icon windows of every process.
std::vector<HWND> TrayWindows() {
  std::vector<HWND> windows;
  ::EnumWindows(
      [](HWND window, LPARAM found) -> BOOL {
        if (testing::ClassOf(window) == u"KorvexTrayIcon") reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// The error boxes open in the program.
std::size_t OpenBoxes(DWORD processId) {
  std::size_t boxes = 0;
  for (HWND window : testing::VisibleWindowsOf(processId)) {
    if (testing::ClassOf(window) == u"#32770") ++boxes;
  }
  return boxes;
}

TEST_F(ClientEndToEnd, ASecondStartShowsTheRunningClientAndEndsWithoutIconOrRequest) {
  ASSERT_TRUE(testing::StoreSavedSettings(sim_));
  std::unique_ptr<Program> first = StartClient();
  HWND main = testing::WaitForWindow(first->Id(), kClientCaption);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(main); }, 10s));  // in the tray
  ASSERT_EQ(TrayWindows().size(), 1u);

  const std::size_t mark = sim_.LogMark();
  std::unique_ptr<Program> second = StartClient();
  EXPECT_EQ(second->WaitForExit(), std::optional<DWORD>(0));
  // The first client's window is back, as "Programm öffnen" brings it, with the update of its
  // showing: the only request.
  EXPECT_TRUE(WaitFor([&] { return ::IsWindowVisible(main) && !::IsIconic(main); }));
  EXPECT_EQ(ProcessesNamed(L"Korvex.exe"), std::vector<DWORD>{first->Id()});
  EXPECT_EQ(TrayWindows().size(), 1u);
  const std::vector<SimRequest> requests = sim_.RequestsSince(mark, 2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["path"], "/update.php");
  EXPECT_EQ(requests[1]["path"], "/ip.php");
  EXPECT_TRUE(first->Running());
  Quit(*first);
}

// The update keeps failing while the address changes at every tick: the boxes do not pile up.
TEST_F(ClientEndToEnd, RepeatedUpdateFailuresAtEveryTickLeaveExactlyOneErrorBox) {
  ASSERT_TRUE(StoreServiceHost(sim_.MixedHost()));
  WriteEinstellungen(*MakeSystemRegistry(), SettingsInput{testing::kSimUser, testing::kSimPassword, testing::kSimHost,
                                                          kTransportHttp, u"1"});
  sim_.SetUpdateFault("500 Internal Server Error");
  sim_.SetChangingAddress(true);
  const std::size_t mark = sim_.LogMark();
  std::unique_ptr<Program> client = StartClient();
  // The start-up update (its box holds the window back), then one at each of three ticks a
  // minute apart, each after a lookup that saw a new address.
  const std::vector<SimRequest> updates = RequestsTo(sim_.RequestsSince(mark, 7, 240s), "/update.php");
  sim_.SetChangingAddress(false);
  ASSERT_GE(updates.size(), 4u);
  EXPECT_EQ(OpenBoxes(client->Id()), 1u);
  const std::optional<testing::Box> box = testing::FindBox(client->Id());
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, u"HTTP/1.1 500 Internal Server Error.");
  EXPECT_TRUE(client->Running());
}

TEST_F(ClientEndToEnd, AnEndlessUpdateFileEndsInAnErrorBoxLeavesNoPartialFileAndTheClientRuns) {
  namespace fs = std::filesystem;
  const fs::path work = L"C:\\korvex-client-endless";
  const fs::path files = fs::path(sim_.Dir()) / "files";
  fs::remove_all(work);
  fs::create_directories(work);
  fs::copy_file(fs::path(KORVEX_QUENLOR_EXE), work / "Quenlor.exe");
  WriteWhole(files / "updates" / "endlos.exe.endless", "");
  WriteWhole(files / "softwareupdate.txt", "endlos.exe\r\n");
  ASSERT_TRUE(testing::SetUserProxy(""));
  ASSERT_TRUE(testing::StoreSavedSettings(sim_));

  std::unique_ptr<Program> client = StartClient(FromW(work.wstring().c_str()));
  HWND main = testing::WaitForWindow(client->Id(), kClientCaption);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(testing::ChooseMenu(main, kClientExe, kMainMenu, {u"Datei", u"Quenlor"}));
  const std::optional<testing::Box> ask = testing::WaitForBox(client->Id());
  ASSERT_TRUE(ask);
  ::PostMessageW(ask->window, WM_COMMAND, IDYES, 0);
  ASSERT_TRUE(WaitFor([&] { return !testing::FindBox(client->Id()) || testing::FindBox(client->Id())->window != ask->window; }));

  // 256 MiB over the loopback: the size cap ends it long before the other limits.
  const std::optional<testing::Box> failure = testing::WaitForBox(client->Id(), 120s);
  ASSERT_TRUE(failure);
  const Text url = u"https://" + sim_.MixedHost() + u"/updates/endlos.exe";
  EXPECT_EQ(failure->caption, u"Korvex");
  EXPECT_EQ(failure->text, Format(kDownloadTooLarge, {url, u"256"}) + u".");
  EXPECT_TRUE(fs::exists(work / "updates"));
  EXPECT_FALSE(fs::exists(work / "updates" / "endlos.exe"));
  EXPECT_FALSE(fs::exists(work / "quenlor-started.txt"));
  ::PostMessageW(failure->window, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitFor([&] { return !testing::FindBox(client->Id()); }));
  EXPECT_TRUE(client->Running());

  fs::remove(files / "updates" / "endlos.exe.endless");
  WriteWhole(files / "softwareupdate.txt", "");
  testing::RemoveUserProxy();
  Quit(*client);
  std::error_code ignored;
  fs::remove_all(work, ignored);
}

// A shortcut set to "Minimiert" starts the program so; it goes to the tray without ever having
// been shown in normal state.
TEST_F(ClientEndToEnd, AStartMinimisedNeverShowsTheWindowNormalAndGoesToTheTray) {
  ASSERT_TRUE(testing::StoreSavedSettings(sim_));
  const std::size_t mark = sim_.LogMark();
  Program start(u"C:\\windows\\system32\\cmd.exe", u"/c start /min \"\" \"" + kClientExe + u"\"", u"C:\\");
  ASSERT_TRUE(start.Started());
  HWND main = nullptr;
  DWORD clientId = 0;
  bool shownNormal = false;
  bool hiddenToTray = false;
  bool seen = false;
  ASSERT_TRUE(WaitFor(
      [&] {
        if (main == nullptr) {
          main = ::FindWindowW(L"TClient", W(Text(kClientCaption)));
          if (main != nullptr) ::GetWindowThreadProcessId(main, &clientId);
        }
        if (main == nullptr) return false;
        const bool visible = ::IsWindowVisible(main) != FALSE;
        if (visible && !::IsIconic(main)) shownNormal = true;
        seen = seen || visible;
        hiddenToTray = seen && !visible && !TrayWindows().empty();
        return hiddenToTray;
      },
      20s));
  EXPECT_FALSE(shownNormal);
  EXPECT_EQ(RequestsTo(sim_.RequestsSince(mark, 2), "/update.php").size(), 1u);
  ASSERT_TRUE(testing::ChooseMenu(main, kClientExe, kMainMenu, {u"Datei", u"Beenden"}));
  EXPECT_TRUE(WaitFor([&] { return ProcessesNamed(L"Korvex.exe").empty(); }));
  (void)clientId;
}

TEST_F(ClientEndToEnd, ClosingTheFirstStartDialogEndsTheProgram) {
  ASSERT_TRUE(StoreServiceHost(sim_.HttpsHost()));
  const std::size_t mark = sim_.LogMark();
  std::unique_ptr<Program> client = StartClient();
  HWND setup = testing::WaitForWindow(client->Id(), kSetupCaption);
  ASSERT_NE(setup, nullptr);
  ::PostMessageW(setup, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(client->WaitForExit(), std::optional<DWORD>(0));
  EXPECT_TRUE(sim_.RequestsSince(mark, 1, 0ms).empty());
}

}  // namespace
}  // namespace korvex
