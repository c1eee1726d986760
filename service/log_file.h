#pragma once
// "Korvex.log": one line, the record of the service's last completed update, rewritten whole by
// every run in the process's current directory.

#include <memory>
#include <string_view>

#include "core/exchange.h"
#include "core/text.h"
#include "service/clock.h"

namespace korvex {

inline constexpr char16_t kLogFileName[] = u"Korvex.log";

// One open log file. Every call throws KorError on failure; the destructor closes a file that was
// not closed, so a failed run holds nothing open.
class LogFile {
 public:
  virtual ~LogFile() = default;
  virtual void Write(std::string_view bytes) = 0;
  virtual void Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Throws KorError when the directory cannot be read.
  virtual Text CurrentDirectory() = 0;
  // `directory` joined with `name` by the platform's separator.
  virtual Text JoinPath(const Text& directory, TextView name) = 0;
  // Creates the file or truncates it to zero length. While it is open, other programs may read it
  // but not write it. Throws KorError when it cannot be created or truncated.
  virtual std::unique_ptr<LogFile> CreateForWriting(const Text& path) = 0;
};

std::unique_ptr<FileSystem> MakeSystemFileSystem();

// The service's report of an update: the log line. Any failure leaves Report as KorError, after
// the file was closed again.
class ServiceLog : public UpdateReport {
 public:
  ServiceLog(FileSystem& files, Clock& clock) : files_(files), clock_(clock) {}
  void Report(const Text& statusText, const Text& currentIp) override;

 private:
  FileSystem& files_;
  Clock& clock_;
};

}  // namespace korvex
