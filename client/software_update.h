#pragma once
// The client's command that updates the program itself: it asks the address service which files
// make up a newer version, downloads them into "updates" below the current directory, hands over
// to the updater "Quenlor.exe" and closes the client.

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "client/download_client.h"
#include "client/message_boxes.h"
#include "client/shell.h"
#include "core/text.h"
#include "korvex_version.h"

namespace korvex {

// AlteVersion is the client's own version, so that a build under another package version is not
// offered the update it already is.
inline constexpr char16_t kListPath[] = u"/softwareupdate.php?AlteVersion=" KORVEX_VERSION_TEXT u"&BitVersion=";
inline constexpr char16_t kFilesPath[] = u"/updates/";
inline constexpr char16_t kUpdateFolder[] = u"\\updates";
inline constexpr char16_t kUpdaterProgram[] = u"\\Quenlor.exe";
inline constexpr char16_t kNoUpdate[] = u"Sie nutzen bereits die aktuellste Version!";
inline constexpr char16_t kUpdateReady[] = u"Es steht ein Update bereit, möchten Sie es installieren?";
inline constexpr char16_t kCannotCreateFile[] = u"Datei \"%s\" kann nicht erstellt werden. %s";
// An error page is no list and no program file: the URL, then the answer's status line.
inline constexpr char16_t kUpdateRequestFailed[] = u"Fehler beim Herunterladen von \"%s\": %s";
// A list line that would leave the update folder or cannot be a file name: nothing is fetched.
inline constexpr char16_t kBadFileName[] =
    u"Das Update wurde abgelehnt: die Update-Liste nennt den ungültigen Dateinamen \"%s\".";
// The updater could not be started; the downloaded files stay in the update folder.
inline constexpr char16_t kUpdaterNotStarted[] =
    u"Das Update-Programm \"%s\" konnte nicht gestartet werden. Die heruntergeladenen Dateien liegen im Ordner \"%s\".";
// The list is a few file names; an answer beyond this is no list.
inline constexpr std::uint64_t kMaxListBytes = 1024 * 1024;

// The bit width of this build, as the update list asks for it.
inline constexpr int kBitVersion = sizeof(void*) * 8;

// The answer body as text: UTF-8 or UTF-16 by their byte-order marks, else the ANSI code page.
Text DecodeUpdateList(std::string_view body);
// Whether `name` is a plain file name that stays inside the update folder.
bool IsSafeUpdateFileName(TextView name);

// A file opened for the download; closed when released.
class UpdateFile : public ByteStream {};

class UpdateFileSystem {
 public:
  virtual ~UpdateFileSystem() = default;
  virtual Text CurrentDirectory() = 0;
  // False when the folder exists already or cannot be created; nobody is told.
  virtual bool CreateFolder(const Text& path) = 0;
  // Replaces a file of that name by a new, empty one, opened exclusively. Throws KorError with
  // kCannotCreateFile.
  virtual std::unique_ptr<UpdateFile> OpenNewFile(const Text& path) = 0;
  virtual void RemoveFile(const Text& path) = 0;
};

// The Windows file system (Windows only).
std::unique_ptr<UpdateFileSystem> MakeSystemUpdateFileSystem();

class TSoftwareUpdate {
 public:
  struct Parts {
    // Every run puts a new download client into SoftwareUpdater.
    std::function<std::unique_ptr<DownloadClient>()> newDownloadClient;
    MessageBoxes& boxes;
    UpdateFileSystem& files;
    Shell& shell;
    // host or host:port, read at every run.
    std::function<Text()> serviceHost;
    std::function<void()> closeMainWindow;
  };

  explicit TSoftwareUpdate(Parts parts);

  // Throws KorError for the failures that go to the top-level error handler; a run that throws
  // leaves the client open and the updater unstarted.
  void SoftwareUpdate();

  DownloadClient* SoftwareUpdater() const { return softwareUpdater_.get(); }

 private:
  void Download(const Text& url, ByteStream& target);

  Parts parts_;
  std::unique_ptr<DownloadClient> softwareUpdater_;
};

}  // namespace korvex
