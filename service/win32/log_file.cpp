#include <vector>

#include "core/win32/windows_api.h"
#include "service/log_file.h"
#include "service/win32/os_error.h"

namespace korvex {
namespace {

// The longest path the program writes: it does not opt into long paths.
constexpr std::size_t kMaxPathLength = MAX_PATH - 1;

class Win32LogFile : public LogFile {
 public:
  explicit Win32LogFile(win32::ScopedFileHandle file) : file_(std::move(file)) {}
  void Write(std::string_view bytes) override {
    DWORD written = 0;
    if (!::WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
      win32::ThrowLastSystemError();
    }
    if (written != bytes.size()) win32::ThrowSystemError(ERROR_HANDLE_DISK_FULL);
  }
  void Close() override {
    if (!::CloseHandle(file_.Release())) win32::ThrowLastSystemError();
  }

 private:
  win32::ScopedFileHandle file_;
};

class Win32FileSystem : public FileSystem {
 public:
  Text CurrentDirectory() override {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) win32::ThrowLastSystemError();
    std::vector<wchar_t> buffer(needed);
    const DWORD length = ::GetCurrentDirectoryW(needed, buffer.data());
    if (length == 0 || length >= needed) win32::ThrowLastSystemError();
    return win32::FromW(buffer.data(), length);
  }
  Text JoinPath(const Text& directory, TextView name) override {
    Text path = directory;
    if (path.empty() || path.back() != u'\\') path += u'\\';
    path += name;
    return path;
  }
  std::unique_ptr<LogFile> CreateForWriting(const Text& path) override {
    if (path.size() > kMaxPathLength) win32::ThrowSystemError(ERROR_FILENAME_EXCED_RANGE);
    // Windows refuses to truncate a read-only file. Checked here as well, so that a file system
    // that would let the process through anyway (Wine run by root) leaves the file alone too.
    const DWORD attributes = ::GetFileAttributesW(win32::W(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      win32::ThrowSystemError(ERROR_ACCESS_DENIED);
    }
    win32::ScopedFileHandle file(::CreateFileW(win32::W(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) win32::ThrowLastSystemError();
    return std::make_unique<Win32LogFile>(std::move(file));
  }
};

}  // namespace

std::unique_ptr<FileSystem> MakeSystemFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace korvex
