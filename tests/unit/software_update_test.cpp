#include "client/software_update.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/error.h"
#include "tests/support/answering_boxes.h"
#include "tests/support/expect_error.h"

namespace korvex {
namespace {

const Text kHost = u"update.test:8443";
const Text kListUrl = u"https://update.test:8443/softwareupdate.php?AlteVersion=5.0.7&BitVersion=" + ToText(kBitVersion);
const Text kDir = u"C:\\Arbeit";

TEST(UpdateList, DecodesByByteOrderMarkElseTheAnsiCodePage) {
  using namespace std::string_view_literals;
  struct Case {
    std::string_view body;
    const char16_t* text;
  };
  static constexpr Case kCases[] = {
      {"\xEF\xBB\xBF" "gr\xC3\xBC\xC3\x9F" "e.exe", u"grüße.exe"},
      {"\xFF\xFE" "a\0\xFC\0"sv, u"aü"},
      {"\xFE\xFF" "\0a\0\xFC"sv, u"aü"},
      {"gr\xFC\xDF" "e.exe", u"grüße.exe"},  // Windows-1252, the code page of the test prefixes
      {"", u""},
      {"\xEF\xBB\xBF", u""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.body)));
    EXPECT_EQ(DecodeUpdateList(c.body), c.text);
  }
}

TEST(UpdateList, AcceptsOnlyNamesThatStayInTheUpdateFolder) {
  for (const char16_t* name : {u"Korvex.exe", u"neue datei.dll", u"a..b", u".hidden", u"COM10", u"CONSOLE.txt",
                               u"lpt0", u"grüße.txt", u"x.NUL"}) {
    SCOPED_TRACE(ToUtf8(name));
    EXPECT_TRUE(IsSafeUpdateFileName(name));
  }
  for (const char16_t* name :
       {u"", u".", u"..", u"..\\x.txt", u"sub/x", u"C:x", u"a<b", u"a>b", u"a\"b", u"a|b", u"a?b", u"a*b",
        u"a\tb", u"a\x1F", u"name ", u"name.", u"CON", u"con.txt", u"Nul", u"AUX.tar.gz", u"PRN ", u"COM1",
        u"lpt9.log", u"CON .txt"}) {
    SCOPED_TRACE(ToUtf8(name));
    EXPECT_FALSE(IsSafeUpdateFileName(name));
  }
}

// Answers by URL; a URL without an answer is a transport failure.
class FakeDownloads {
 public:
  struct Answer {
    int status = 200;
    std::string body;
  };
  std::map<Text, Answer> answers;
  std::vector<Text> requested;
  int clientsMade = 0;
  Text limitOn;  // this URL's body is cut off by a limit after it was written

  std::unique_ptr<DownloadClient> NewClient();
};

class FakeDownloadClient : public DownloadClient {
 public:
  explicit FakeDownloadClient(FakeDownloads& downloads) : downloads_(downloads) {}
  DownloadResponse Get(const Text& url, ByteStream& target) override {
    downloads_.requested.push_back(url);
    const auto found = downloads_.answers.find(url);
    if (found == downloads_.answers.end()) throw KorError(u"Fehler beim Senden der Daten: (12029) weg");
    const std::uint64_t position = target.Position();
    target.Write(found->second.body);
    target.Seek(position);
    if (url == downloads_.limitOn) throw DownloadLimitExceeded(u"abgebrochen");
    DownloadResponse response;
    response.statusCode = found->second.status;
    response.headers = "HTTP/1.1 " + std::to_string(found->second.status) + " Status\r\n";
    return response;
  }

 private:
  FakeDownloads& downloads_;
};

std::unique_ptr<DownloadClient> FakeDownloads::NewClient() {
  ++clientsMade;
  return std::make_unique<FakeDownloadClient>(*this);
}

class FakeFileSystem : public UpdateFileSystem {
 public:
  std::vector<Text> folders;
  std::map<Text, std::string> files;
  std::vector<Text> removed;
  Text failOn;  // OpenNewFile of this path fails

  Text CurrentDirectory() override { return kDir; }
  bool CreateFolder(const Text& path) override {
    folders.push_back(path);
    return true;
  }
  std::unique_ptr<UpdateFile> OpenNewFile(const Text& path) override;
  void RemoveFile(const Text& path) override {
    removed.push_back(path);
    files.erase(path);
  }
};

class FakeFile : public UpdateFile {
 public:
  explicit FakeFile(std::string& content) : content_(content) {}
  void Write(std::string_view bytes) override {
    content_.replace(position_, bytes.size(), bytes);
    position_ += bytes.size();
  }
  std::uint64_t Position() const override { return position_; }
  void Seek(std::uint64_t position) override { position_ = position; }
  std::uint64_t Size() const override { return content_.size(); }
  void Truncate(std::uint64_t size) override { content_.resize(size); }

 private:
  std::string& content_;
  std::size_t position_ = 0;
};

std::unique_ptr<UpdateFile> FakeFileSystem::OpenNewFile(const Text& path) {
  if (path == failOn) throw KorError(Format(kCannotCreateFile, {path, u"Zugriff verweigert"}));
  files[path].clear();
  return std::make_unique<FakeFile>(files[path]);
}

class FakeShell : public Shell {
 public:
  std::vector<ShellStart> starts;
  bool startSucceeds = true;
  bool Start(const ShellStart& start) override {
    starts.push_back(start);
    return startSucceeds;
  }
};

class SoftwareUpdateTest : public ::testing::Test {
 protected:
  TSoftwareUpdate Command() {
    return TSoftwareUpdate({[this] { return downloads_.NewClient(); }, boxes_, files_, shell_,
                            [] { return kHost; }, [this] { ++closed_; }});
  }
  void List(const std::string& body, int status = 200) { downloads_.answers[kListUrl] = {status, body}; }
  void File(const Text& name, const std::string& body, int status = 200) {
    downloads_.answers[u"https://" + kHost + u"/updates/" + name] = {status, body};
  }
  void ExpectNothingWritten() {
    EXPECT_TRUE(files_.folders.empty());
    EXPECT_TRUE(files_.files.empty());
    EXPECT_TRUE(shell_.starts.empty());
    EXPECT_EQ(closed_, 0);
  }

  FakeDownloads downloads_;
  FakeFileSystem files_;
  testing::AnsweringBoxes boxes_;
  FakeShell shell_;
  int closed_ = 0;
};

TEST_F(SoftwareUpdateTest, AnEmptyListSaysTheVersionIsCurrent) {
  List("");
  TSoftwareUpdate command = Command();
  command.SoftwareUpdate();
  EXPECT_EQ(boxes_.shown, std::vector<Text>{u"Information: " + Text(kNoUpdate)});
  EXPECT_EQ(downloads_.requested, std::vector<Text>{kListUrl});
  ExpectNothingWritten();
}

TEST_F(SoftwareUpdateTest, DownloadsEveryListedFileThenStartsTheUpdaterHiddenAndCloses) {
  List("Korvex.exe\r\nneue datei.dll\r\n");
  File(u"Korvex.exe", std::string("MZ\0\x01", 4));
  File(u"neue datei.dll", "dll");
  TSoftwareUpdate command = Command();
  command.SoftwareUpdate();
  EXPECT_EQ(boxes_.shown, std::vector<Text>{u"Frage: " + Text(kUpdateReady)});
  EXPECT_EQ(files_.folders, std::vector<Text>{u"C:\\Arbeit\\updates"});
  EXPECT_EQ(files_.files[u"C:\\Arbeit\\updates\\Korvex.exe"], std::string("MZ\0\x01", 4));
  EXPECT_EQ(files_.files[u"C:\\Arbeit\\updates\\neue datei.dll"], "dll");
  ASSERT_EQ(downloads_.requested.size(), 3u);
  EXPECT_EQ(downloads_.requested[1], u"https://update.test:8443/updates/Korvex.exe");
  EXPECT_EQ(downloads_.requested[2], u"https://update.test:8443/updates/neue datei.dll");
  const ShellStart updater{0, u"open", u"C:\\Arbeit\\Quenlor.exe", u"", kShowHidden, {}};
  EXPECT_EQ(shell_.starts, std::vector<ShellStart>{updater});
  EXPECT_EQ(closed_, 1);
}

TEST_F(SoftwareUpdateTest, NoCreatesNothing) {
  List("Korvex.exe\n");
  boxes_.answer = false;
  TSoftwareUpdate command = Command();
  command.SoftwareUpdate();
  EXPECT_EQ(downloads_.requested.size(), 1u);
  ExpectNothingWritten();
}

TEST_F(SoftwareUpdateTest, AListWithABadNameIsRefusedBeforeAnythingIsAsked) {
  for (const char* body : {"ok.exe\r\n..\\x.txt\r\n", "ok.exe\n\nzwei.exe", "\r\n", "CON\n"}) {
    SCOPED_TRACE(body);
    boxes_.shown.clear();
    downloads_.requested.clear();
    List(body);
    TSoftwareUpdate command = Command();
    command.SoftwareUpdate();
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_TRUE(boxes_.shown[0].starts_with(u"Fehler: Das Update wurde abgelehnt")) << ToUtf8(boxes_.shown[0]);
    EXPECT_EQ(downloads_.requested.size(), 1u);
    ExpectNothingWritten();
  }
  EXPECT_EQ(boxes_.shown[0], u"Fehler: " + Format(kBadFileName, {u"CON"}));
}

TEST_F(SoftwareUpdateTest, AnErrorPageIsNoList) {
  List("<html>Not Found</html>", 404);
  TSoftwareUpdate command = Command();
  ASSERT_TRUE(testing::ThrowsKorError([&] { command.SoftwareUpdate(); },
                                      Format(kUpdateRequestFailed, {kListUrl, u"HTTP/1.1 404 Status"})));
  EXPECT_TRUE(boxes_.shown.empty());
  ExpectNothingWritten();
}

TEST_F(SoftwareUpdateTest, AFailedFileStopsTheRunKeepsEarlierFilesAndStartsNoUpdater) {
  struct Case {
    const char* name;
    int thirdStatus;          // 0: the third request fails in transport
    bool thirdCreateFails;
    bool thirdFileStays;
  };
  static constexpr Case kCases[] = {
      {"error status removes the error page", 500, false, false},
      {"transport failure keeps what arrived", 0, false, true},
      {"file cannot be created", 200, true, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    files_.files.clear();
    files_.folders.clear();
    downloads_.answers.clear();
    List("1.exe\r\n2.exe\r\n3.exe\r\n4.exe\r\n");
    File(u"1.exe", "eins");
    File(u"2.exe", "zwei");
    if (c.thirdStatus != 0) File(u"3.exe", "Server Error", c.thirdStatus);
    File(u"4.exe", "vier");
    if (c.thirdCreateFails) files_.failOn = u"C:\\Arbeit\\updates\\3.exe";
    TSoftwareUpdate command = Command();
    EXPECT_THROW(command.SoftwareUpdate(), KorError);
    EXPECT_EQ(files_.files[u"C:\\Arbeit\\updates\\1.exe"], "eins");
    EXPECT_EQ(files_.files[u"C:\\Arbeit\\updates\\2.exe"], "zwei");
    EXPECT_EQ(files_.files.count(u"C:\\Arbeit\\updates\\3.exe"), c.thirdFileStays ? 1u : 0u);
    EXPECT_EQ(files_.files.count(u"C:\\Arbeit\\updates\\4.exe"), 0u);
    EXPECT_TRUE(shell_.starts.empty());
    EXPECT_EQ(closed_, 0);
  }
}

TEST_F(SoftwareUpdateTest, AMissingUpdaterIsReportedAndTheClientStaysWithTheFiles) {
  List("Korvex.exe\n");
  File(u"Korvex.exe", "MZ");
  shell_.startSucceeds = false;
  TSoftwareUpdate command = Command();
  EXPECT_TRUE(testing::ThrowsKorError([&] { command.SoftwareUpdate(); },
                                      u"Das Update-Programm \"C:\\Arbeit\\Quenlor.exe\" konnte nicht gestartet "
                                      u"werden. Die heruntergeladenen Dateien liegen im Ordner "
                                      u"\"C:\\Arbeit\\updates\"."));
  EXPECT_EQ(shell_.starts.size(), 1u);
  EXPECT_EQ(files_.files[u"C:\\Arbeit\\updates\\Korvex.exe"], "MZ");
  EXPECT_EQ(closed_, 0);
}

TEST_F(SoftwareUpdateTest, AFileCutOffByALimitIsRemovedAndNoUpdaterStarts) {
  List("1.exe\r\n2.exe\r\n");
  File(u"1.exe", "eins");
  File(u"2.exe", "endlos...");
  downloads_.limitOn = u"https://update.test:8443/updates/2.exe";
  TSoftwareUpdate command = Command();
  EXPECT_THROW(command.SoftwareUpdate(), DownloadLimitExceeded);
  EXPECT_EQ(files_.files[u"C:\\Arbeit\\updates\\1.exe"], "eins");
  EXPECT_EQ(files_.files.count(u"C:\\Arbeit\\updates\\2.exe"), 0u);
  EXPECT_TRUE(shell_.starts.empty());
  EXPECT_EQ(closed_, 0);
}

TEST_F(SoftwareUpdateTest, EveryRunUsesANewDownloadClient) {
  List("");
  TSoftwareUpdate command = Command();
  command.SoftwareUpdate();
  command.SoftwareUpdate();
  EXPECT_EQ(downloads_.clientsMade, 2);
  EXPECT_NE(command.SoftwareUpdater(), nullptr);
}

}  // namespace
}  // namespace korvex
