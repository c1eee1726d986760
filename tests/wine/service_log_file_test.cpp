// The log file on Windows: what other programs may do while the service writes it, a read-only
// file, and a path too long to write.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/error.h"
#include "core/win32/windows_api.h"
#include "service/log_file.h"
#include "tests/support/expect_error.h"

namespace korvex {
namespace {

using win32::FromW;
using win32::ScopedFileHandle;
using win32::W;

class ServiceLogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    directory_ = FromW(temp) + u"korvex-log-" + ToText(::GetCurrentProcessId());
    ::CreateDirectoryW(W(directory_), nullptr);
    path_ = files_->JoinPath(directory_, kLogFileName);
  }
  void TearDown() override {
    ::SetFileAttributesW(W(path_), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(W(path_));
    ::RemoveDirectoryW(W(directory_));
  }

  static ScopedFileHandle Open(const Text& path, DWORD access) {
    return ScopedFileHandle(::CreateFileW(W(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  }
  std::string Content() const {
    ScopedFileHandle file = Open(path_, GENERIC_READ);
    char buffer[512];
    DWORD read = 0;
    if (!file || !::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return "(unreadable)";
    return std::string(buffer, read);
  }
  void Write(std::string_view bytes) {
    const std::unique_ptr<LogFile> file = files_->CreateForWriting(path_);
    file->Write(bytes);
    file->Close();
  }

  std::unique_ptr<FileSystem> files_ = MakeSystemFileSystem();
  Text directory_;
  Text path_;
};

TEST_F(ServiceLogFileTest, WhileOpenOthersMayReadButNotWrite) {
  Write("an older, longer line\r\n");
  const std::unique_ptr<LogFile> file = files_->CreateForWriting(path_);
  file->Write("new\r\n");
  EXPECT_TRUE(Open(path_, GENERIC_READ));
  EXPECT_FALSE(Open(path_, GENERIC_WRITE));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  file->Close();
  EXPECT_EQ(Content(), "new\r\n");  // truncated first, never appended
  EXPECT_TRUE(Open(path_, GENERIC_WRITE));
}

TEST_F(ServiceLogFileTest, ReadOnlyFileIsNotWrittenAndKeepsItsLine) {
  Write("kept\r\n");
  ASSERT_TRUE(::SetFileAttributesW(W(path_), FILE_ATTRIBUTE_READONLY));
  EXPECT_THROW(files_->CreateForWriting(path_), KorError);
  EXPECT_EQ(Content(), "kept\r\n");
}

TEST_F(ServiceLogFileTest, PathLongerThan259CharactersIsNotWritten) {
  const Text longPath = directory_ + u"\\" + Text(260 - directory_.size(), u'x') + u"\\Korvex.log";
  ASSERT_GT(longPath.size(), 259u);
  const std::optional<KorError> error = testing::KorErrorOf([&] { files_->CreateForWriting(longPath); });
  ASSERT_TRUE(error) << "a path of " << longPath.size() << " characters was opened";
  EXPECT_EQ(error->OsCode(), static_cast<std::uint32_t>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(ServiceLogFileTest, CurrentDirectoryIsReadAtEveryCall) {
  wchar_t before[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, before);
  ASSERT_TRUE(::SetCurrentDirectoryW(W(directory_)));
  const Text seen = files_->CurrentDirectory();
  ::SetCurrentDirectoryW(before);
  EXPECT_EQ(seen, directory_);
  EXPECT_EQ(files_->CurrentDirectory(), FromW(before));
}

}  // namespace
}  // namespace korvex
