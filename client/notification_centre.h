#pragma once
// The desktop notification centre: hands out notification objects and shows them as toasts, after
// registering the identity the platform demands of a desktop program (a per-user registry key and
// a Start-menu shortcut that carries it). A new toast replaces a shown one of the same name.
// Platform failures reach the caller as KorError, so that it can fall back to the tray balloon.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/text.h"

namespace korvex {

// A notification, filled by the caller; the toast made from it does not depend on it.
struct TNotification {
  Text Name;       // a shown toast of the same name is withdrawn first
  Text Title;      // first line
  Text AlertBody;  // body
};

inline constexpr char16_t kToastIdentityPrefix[] = u"Brumvale.DesktopToasts.";
// Below HKEY_CURRENT_USER; the identity's own key goes under it.
inline constexpr char16_t kToastSettingsKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Notifications\\Settings";
inline constexpr char16_t kShowInActionCenter[] = u"ShowInActionCenter";
inline constexpr char16_t kToastDuration[] = u"short";

// The prefix and eight upper-case hex digits of lookup3's hashlittle (initial value 0) over the
// program path's UTF-16LE bytes.
Text ToastIdentity(TextView programPath);
// The identity's key below HKEY_CURRENT_USER.
Text ToastIdentityKey(TextView identity);
// "Korvex.exe" -> "Korvex.lnk": the file name of the path with its extension replaced.
Text ShortcutFileName(TextView programPath);
// The folder of the path, ending in a backslash; empty when the path has none.
Text FolderOf(TextView programPath);

// The toast templates the centre uses, numbered as ToastTemplateType numbers them.
enum class ToastTemplate : std::uint32_t { kText01 = 4, kText02 = 5 };

// What a toast shows: the template, the texts of its text elements in order, and the value of the
// "duration" attribute of its toast element.
struct ToastContent {
  ToastTemplate kind = ToastTemplate::kText01;
  std::vector<Text> texts;
  Text duration;
};

// Two lines when there are two texts, else one line with both joined.
ToastContent MakeToastContent(const TNotification& notification);

struct ShortcutSpec {
  Text linkPath;
  Text target;
  Text workingDirectory;
  Text appUserModelId;
};

// The registry key and the Start-menu shortcut of the toast identity.
class ToastRegistration {
 public:
  virtual ~ToastRegistration() = default;
  // Whether the key (below HKEY_CURRENT_USER) opens; it is not created.
  virtual bool KeyExists(const Text& keyPath) = 0;
  // Creates the key and writes the DWORD kShowInActionCenter = 1 into it. False only when the key
  // cannot be created; a failed write is not reported.
  virtual bool CreateIdentityKey(const Text& keyPath) = 0;
  // The user's Start-menu programs folder, without a trailing backslash.
  virtual std::optional<Text> ProgramsFolder() = 0;
  // The Start-menu programs folder of all users, where the installer puts its entry; without a
  // trailing backslash.
  virtual std::optional<Text> CommonProgramsFolder() = 0;
  // The target path of the shortcut file; none when there is no file or it is no shortcut.
  virtual std::optional<Text> ShortcutTarget(const Text& linkPath) = 0;
  // The AppUserModel ID the shortcut carries, empty when it carries none; none when the system
  // cannot read it back.
  virtual std::optional<Text> ShortcutIdentity(const Text& linkPath) = 0;
  // Makes a shortcut object with target, working directory (failures to set those two are
  // ignored) and the AppUserModel ID, commits its properties, deletes a file at the path and
  // saves the shortcut there. False when any step but the first two setters fails.
  virtual bool SaveShortcut(const ShortcutSpec& shortcut) = 0;
};

// The key, then the shortcut. The installer's Start-menu entry (all users, named after the program
// file) counts as the shortcut when it points at this program, and is given the identity when it
// carries another; otherwise the user's own shortcut is checked and made. True when both are in
// place, false when either failed.
bool RegisterToastIdentity(ToastRegistration& registration, TextView programPath, TextView identity);

// A platform toast made from content, with its Activated, Dismissed and Failed handlers
// subscribed; destroying it removes the subscriptions.
class Toast {
 public:
  virtual ~Toast() = default;
};

struct ToastEvents {
  // Each may be raised on a thread of the platform's.
  std::function<void()> activated;
  std::function<void()> dismissed;
  std::function<void()> failed;
};

// The platform's toast notifier for one identity. Every call throws KorError when it fails.
class ToastNotifier {
 public:
  virtual ~ToastNotifier() = default;
  virtual std::unique_ptr<Toast> CreateToast(const ToastContent& content, ToastEvents events) = 0;
  virtual void Show(Toast& toast) = 0;
  virtual void Hide(Toast& toast) = 0;
};

struct WindowsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

class ToastPlatform : public ToastRegistration {
 public:
  virtual WindowsVersion Version() = 0;
  // The program's full path name.
  virtual Text ProgramPath() = 0;
  // The notifier for the identity; null when the platform has none (no toasts on this system).
  virtual std::unique_ptr<ToastNotifier> CreateNotifier(const Text& identity) = 0;
};

class TNotificationCentre {
 public:
  // Set-up: available from Windows 6.2 on, when the platform gives a notifier for the identity.
  // Nothing is reported when it does not. `platform` must outlive the centre.
  explicit TNotificationCentre(ToastPlatform& platform);
  ~TNotificationCentre();
  TNotificationCentre(const TNotificationCentre&) = delete;
  TNotificationCentre& operator=(const TNotificationCentre&) = delete;

  bool Available() const { return notifier_ != nullptr; }
  // Empty on Windows 6.1 and older, where it is never computed.
  const Text& Identity() const { return identity_; }

  // A new notification with empty fields; null while unavailable.
  std::unique_ptr<TNotification> CreateNotification() const;
  // Registers the identity, withdraws a shown toast of the same name, and shows a new toast.
  // Shows nothing, and raises nothing, when the registration fails or the centre is
  // unavailable. Throws KorError when a platform call fails.
  void PresentNotification(const TNotification& notification);

  // Raised, on a platform thread, when the user activates a toast; it gets a copy of the
  // notification's fields.
  void SetOnReceived(std::function<void(const TNotification&)> handler);

  // Names of the toasts presented and not yet dismissed, failed or withdrawn.
  std::vector<Text> ShownNames() const;

 private:
  struct Table;

  ToastPlatform& platform_;
  Text programPath_;
  Text identity_;
  std::unique_ptr<ToastNotifier> notifier_;
  std::shared_ptr<Table> table_;
};

}  // namespace korvex
