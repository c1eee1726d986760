#include "client/software_update.h"

#include <algorithm>
#include <array>
#include <utility>

#include "core/error.h"

namespace korvex {
namespace {

bool IsSuccess(int status) { return status >= 200 && status <= 299; }

Text Utf16(std::string_view bytes, bool bigEndian) {
  Text out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    out += static_cast<char16_t>(bigEndian ? (first << 8) | second : first | (second << 8));
  }
  if (bytes.size() % 2 != 0) out += u'\uFFFD';
  return out;
}

char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9: Windows opens the device for any of these, whatever the
// extension and with blanks before it.
bool IsDeviceName(TextView name) {
  TextView base = name.substr(0, name.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  Text upper;
  for (char16_t c : base) upper += UpperAscii(c);
  static constexpr std::array<TextView, 4> kDevices = {u"CON", u"PRN", u"AUX", u"NUL"};
  if (std::find(kDevices.begin(), kDevices.end(), upper) != kDevices.end()) return true;
  return upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) && upper[3] >= u'1' &&
         upper[3] <= u'9';
}

}  // namespace

Text DecodeUpdateList(std::string_view body) {
  if (body.starts_with("\xEF\xBB\xBF")) return FromUtf8(body.substr(3));
  if (body.starts_with("\xFF\xFE")) return Utf16(body.substr(2), false);
  if (body.starts_with("\xFE\xFF")) return Utf16(body.substr(2), true);
  return FromAnsi(body);
}

bool IsSafeUpdateFileName(TextView name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 32 || TextView(u"\\/:<>\"|?*").find(c) != TextView::npos) return false;
  }
  if (name.back() == u' ' || name.back() == u'.') return false;
  return !IsDeviceName(name);
}

TSoftwareUpdate::TSoftwareUpdate(Parts parts) : parts_(std::move(parts)) {}

void TSoftwareUpdate::Download(const Text& url, ByteStream& target) {
  const DownloadResponse response = softwareUpdater_->Get(url, target);
  if (!IsSuccess(response.statusCode)) throw KorError(Format(kUpdateRequestFailed, {url, response.StatusLine()}));
}

void TSoftwareUpdate::SoftwareUpdate() {
  softwareUpdater_ = parts_.newDownloadClient();
  const Text host = parts_.serviceHost();
  MemoryStream list(kMaxListBytes);
  Download(u"https://" + host + kListPath + ToText(kBitVersion), list);

  const std::vector<Text> names = SplitLines(DecodeUpdateList(list.Bytes()));
  if (names.empty()) {
    parts_.boxes.Information(kNoUpdate);
    return;
  }
  for (const Text& name : names) {
    if (!IsSafeUpdateFileName(name)) {
      parts_.boxes.Error(kErrorCaption, Format(kBadFileName, {name}));
      return;
    }
  }
  if (!parts_.boxes.AskInformation(kUpdateReady)) return;

  const Text directory = parts_.files.CurrentDirectory();
  const Text folder = directory + kUpdateFolder;
  parts_.files.CreateFolder(folder);
  for (const Text& name : names) {
    const Text path = folder + u"\\" + name;
    std::unique_ptr<UpdateFile> file = parts_.files.OpenNewFile(path);
    const Text url = u"https://" + host + kFilesPath + name;
    DownloadResponse response;
    try {
      response = softwareUpdater_->Get(url, *file);
    } catch (const DownloadLimitExceeded&) {
      // Cut off by a limit, the file is no whole file of the update.
      file.reset();
      parts_.files.RemoveFile(path);
      throw;
    }
    file.reset();
    if (!IsSuccess(response.statusCode)) {
      // An error page saved under a program's name would be run by the updater.
      parts_.files.RemoveFile(path);
      throw KorError(Format(kUpdateRequestFailed, {url, response.StatusLine()}));
    }
  }
  const Text updater = directory + kUpdaterProgram;
  if (!parts_.shell.Start({0, kVerbOpen, updater, Text(), kShowHidden, {}})) {
    // Ending now would leave the user with neither the client nor an update.
    throw KorError(Format(kUpdaterNotStarted, {updater, folder}));
  }
  parts_.closeMainWindow();
}

}  // namespace korvex
