// The software update command under Wine with its real parts (WinHTTP, the file system, the
// shell) against the local address service, from a working directory that holds a stand-in
// updater; only the message boxes are a fake that answers.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "client/software_update.h"
#include "core/error.h"
#include "core/win32/windows_api.h"
#include "tests/support/answering_boxes.h"
#include "tests/support/expect_error.h"
#include "tests/support/internet_settings.h"
#include "tests/support/simulator.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const fs::path kWorkDir = L"C:\\korvex-update-test";

std::optional<std::string> ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteWhole(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::optional<std::string> WaitForFile(const fs::path& path, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < until) {
    if (std::optional<std::string> content = ReadWhole(path); content && !content->empty()) return content;
    ::Sleep(50);
  }
  return std::nullopt;
}

class SoftwareUpdateWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = testing::Simulator::Find();
    ASSERT_TRUE(sim_) << "the simulator fixture is not running";
    ASSERT_TRUE(testing::SetUserProxy(""));
    files_ = fs::path(sim_->Dir()) / "files";
    fs::remove_all(kWorkDir);
    fs::create_directories(kWorkDir);
    fs::copy_file(fs::path(KORVEX_QUENLOR_EXE), kWorkDir / "Quenlor.exe");
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    previous_ = previous;
    ASSERT_TRUE(::SetCurrentDirectoryW(kWorkDir.c_str()));
  }
  void TearDown() override {
    ::SetCurrentDirectoryW(previous_.c_str());
    // The simulator's empty list, as its start leaves it for the other tests.
    WriteWhole(files_ / "softwareupdate.txt", "");
    fs::remove(files_ / "updates" / "Korvex.exe");
    fs::remove(files_ / "updates" / "neue datei.dll");
    std::error_code ignored;
    fs::remove_all(kWorkDir, ignored);
    testing::RemoveUserProxy();
  }

  void List(const std::string& body) { WriteWhole(files_ / "softwareupdate.txt", body); }

  void Run() {
    TSoftwareUpdate command({[] { return MakeSystemDownloadClient(); }, boxes_, *fileSystem_, *shell_,
                             [this] { return sim_->HttpsHost(); }, [this] { ++closed_; }});
    command.SoftwareUpdate();
  }

  std::optional<testing::Simulator> sim_;
  fs::path files_;
  std::wstring previous_;
  testing::AnsweringBoxes boxes_;
  std::unique_ptr<UpdateFileSystem> fileSystem_ = MakeSystemUpdateFileSystem();
  std::unique_ptr<Shell> shell_ = MakeSystemShell();
  int closed_ = 0;
};

TEST_F(SoftwareUpdateWineTest, AnEmptyListSaysTheVersionIsCurrent) {
  List("");
  const std::size_t mark = sim_->LogMark();
  Run();
  EXPECT_EQ(boxes_.shown, std::vector<Text>{u"Information: " + Text(kNoUpdate)});
  EXPECT_FALSE(fs::exists(kWorkDir / "updates"));
  EXPECT_EQ(closed_, 0);
  const std::vector<testing::SimRequest> requests = sim_->RequestsSince(mark, 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["scheme"], "https");
  EXPECT_EQ(requests[0]["target"], "/softwareupdate.php?AlteVersion=5.0.7&BitVersion=64");
}

TEST_F(SoftwareUpdateWineTest, DownloadsTheListedFilesThenStartsTheUpdaterAndCloses) {
  std::string program;
  for (int i = 0; i < 70000; ++i) program += static_cast<char>(i % 251);
  WriteWhole(files_ / "updates" / "Korvex.exe", program);
  WriteWhole(files_ / "updates" / "neue datei.dll", std::string("dll\0\r\n\x1A", 7));
  List("Korvex.exe\r\nneue datei.dll\r\n");
  const std::size_t mark = sim_->LogMark();
  Run();

  EXPECT_EQ(boxes_.shown, std::vector<Text>{u"Frage: " + Text(kUpdateReady)});
  EXPECT_TRUE(ReadWhole(kWorkDir / "updates" / "Korvex.exe") == program) << "Korvex.exe differs";
  EXPECT_EQ(ReadWhole(kWorkDir / "updates" / "neue datei.dll"), std::string("dll\0\r\n\x1A", 7));
  const std::optional<std::string> started = WaitForFile(kWorkDir / "quenlor-started.txt", 30s);
  ASSERT_TRUE(started) << "the updater did not start";
  EXPECT_EQ(*started, "show=0 args=") << "not hidden, or with arguments";
  EXPECT_EQ(closed_, 1);
  const std::vector<testing::SimRequest> requests = sim_->RequestsSince(mark, 3);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1]["target"], "/updates/Korvex.exe");
  EXPECT_EQ(requests[2]["target"], "/updates/neue%20datei.dll");
}

TEST_F(SoftwareUpdateWineTest, NoCreatesNothing) {
  WriteWhole(files_ / "updates" / "Korvex.exe", "neu");
  List("Korvex.exe\r\n");
  boxes_.answer = false;
  Run();
  EXPECT_FALSE(fs::exists(kWorkDir / "updates"));
  EXPECT_FALSE(fs::exists(kWorkDir / "quenlor-started.txt"));
  EXPECT_EQ(closed_, 0);
}

TEST_F(SoftwareUpdateWineTest, AListThatLeavesTheUpdateFolderIsRefusedAndNothingIsWritten) {
  WriteWhole(files_ / "updates" / "Korvex.exe", "neu");
  List("Korvex.exe\r\n..\\x.txt\r\n");
  const std::size_t mark = sim_->LogMark();
  Run();
  EXPECT_EQ(boxes_.shown, std::vector<Text>{u"Fehler: " + Format(kBadFileName, {u"..\\x.txt"})});
  EXPECT_FALSE(fs::exists(kWorkDir / "updates"));
  EXPECT_FALSE(fs::exists(kWorkDir / "x.txt"));
  EXPECT_FALSE(fs::exists(kWorkDir.parent_path() / "x.txt"));
  EXPECT_EQ(closed_, 0);
  EXPECT_EQ(sim_->RequestsSince(mark, 2, 1s).size(), 1u) << "a file was fetched";
}

TEST_F(SoftwareUpdateWineTest, AMissingListIsAFailureNotAnUpdate) {
  fs::remove(files_ / "softwareupdate.txt");
  const Text url = u"https://" + sim_->HttpsHost() + u"/softwareupdate.php?AlteVersion=5.0.7&BitVersion=64";
  ASSERT_TRUE(
      testing::ThrowsKorError([&] { Run(); }, Format(kUpdateRequestFailed, {url, u"HTTP/1.1 404 Not Found"})));
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_FALSE(fs::exists(kWorkDir / "updates"));
}

TEST_F(SoftwareUpdateWineTest, AMissingFileIsRemovedAndTheUpdaterNotStarted) {
  WriteWhole(files_ / "updates" / "Korvex.exe", "neu");
  List("Korvex.exe\r\nfehlt.dll\r\n");
  EXPECT_THROW(Run(), KorError);
  EXPECT_EQ(ReadWhole(kWorkDir / "updates" / "Korvex.exe"), "neu");
  EXPECT_FALSE(fs::exists(kWorkDir / "updates" / "fehlt.dll"));
  EXPECT_FALSE(fs::exists(kWorkDir / "quenlor-started.txt"));
  EXPECT_EQ(closed_, 0);
}

}  // namespace
}  // namespace korvex
