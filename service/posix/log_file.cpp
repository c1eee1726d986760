#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "core/error.h"
#include "service/log_file.h"

namespace korvex {
namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  const int code = errno;
  throw OsError(FromUtf8(std::string(what) + ": " + std::strerror(code)), static_cast<std::uint32_t>(code));
}

class PosixLogFile : public LogFile {
 public:
  explicit PosixLogFile(int fd) : fd_(fd) {}
  ~PosixLogFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  void Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
      if (written < 0) {
        if (errno == EINTR) continue;
        ThrowErrno("write");
      }
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
  }
  void Close() override {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) ThrowErrno("close");
  }

 private:
  int fd_;
};

class PosixFileSystem : public FileSystem {
 public:
  Text CurrentDirectory() override {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) ThrowErrno("getcwd");
    return FromUtf8(buffer);
  }
  Text JoinPath(const Text& directory, TextView name) override {
    Text path = directory;
    if (path.empty() || path.back() != u'/') path += u'/';
    path += name;
    return path;
  }
  std::unique_ptr<LogFile> CreateForWriting(const Text& path) override {
    const int fd = ::open(ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) ThrowErrno("open");
    return std::make_unique<PosixLogFile>(fd);
  }
};

}  // namespace

std::unique_ptr<FileSystem> MakeSystemFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace korvex
