// The update folder's files on the Windows file system.
#include "core/win32/windows_api.h"

#include <memory>
#include <vector>

#include "client/software_update.h"
#include "core/error.h"

namespace korvex {
namespace {

using win32::FromW;
using win32::ScopedFileHandle;
using win32::W;

inline constexpr char16_t kWriteFailed[] = u"Datei \"%s\" kann nicht geschrieben werden. %s";

Text SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text = length ? FromW(buffer, length) : Text();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
  return text;
}

class FileStream final : public UpdateFile {
 public:
  FileStream(Text path, ScopedFileHandle file) : path_(std::move(path)), file_(std::move(file)) {}

  void Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
      if (!::WriteFile(file_.Get(), bytes.data(), chunk, &written, nullptr) || written == 0) Fail();
      bytes.remove_prefix(written);
    }
  }
  std::uint64_t Position() const override {
    LARGE_INTEGER position{};
    ::SetFilePointerEx(file_.Get(), LARGE_INTEGER{}, &position, FILE_CURRENT);
    return static_cast<std::uint64_t>(position.QuadPart);
  }
  void Seek(std::uint64_t position) override {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(position);
    if (!::SetFilePointerEx(file_.Get(), to, nullptr, FILE_BEGIN)) Fail();
  }
  std::uint64_t Size() const override {
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file_.Get(), &size);
    return static_cast<std::uint64_t>(size.QuadPart);
  }
  void Truncate(std::uint64_t size) override {
    const std::uint64_t position = Position();
    Seek(size);
    if (!::SetEndOfFile(file_.Get())) Fail();
    Seek(position);
  }

 private:
  [[noreturn]] void Fail() const {
    const DWORD error = ::GetLastError();
    throw OsError(Format(kWriteFailed, {path_, SystemMessage(error)}), error);
  }

  Text path_;
  ScopedFileHandle file_;
};

class SystemFileSystem final : public UpdateFileSystem {
 public:
  Text CurrentDirectory() override {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    return FromW(buffer.data(), length);
  }
  bool CreateFolder(const Text& path) override { return ::CreateDirectoryW(W(path), nullptr) != FALSE; }
  std::unique_ptr<UpdateFile> OpenNewFile(const Text& path) override {
    ScopedFileHandle file(
        ::CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      const DWORD error = ::GetLastError();
      throw OsError(Format(kCannotCreateFile, {path, SystemMessage(error)}), error);
    }
    return std::make_unique<FileStream>(path, std::move(file));
  }
  void RemoveFile(const Text& path) override { ::DeleteFileW(W(path)); }
};

}  // namespace

std::unique_ptr<UpdateFileSystem> MakeSystemUpdateFileSystem() { return std::make_unique<SystemFileSystem>(); }

}  // namespace korvex
