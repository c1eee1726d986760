#include "service/log_file.h"

namespace korvex {

void ServiceLog::Report(const Text& statusText, const Text& currentIp) {
  // The directory is read at every write: the log follows the process, not the program file.
  const Text path = files_.JoinPath(files_.CurrentDirectory(), kLogFileName);
  const std::unique_ptr<LogFile> file = files_.CreateForWriting(path);
  Text line = clock_.ShortDate();
  line += u" ";
  line += clock_.LongTime();
  line += u": ";
  line += statusText;
  line += u" IP:";
  line += currentIp;
  line += u"\r\n";
  file->Write(ToAnsi(line));
  file->Close();
}

}  // namespace korvex
