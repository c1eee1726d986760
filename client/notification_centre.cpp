#include "client/notification_centre.h"

#include <map>
#include <mutex>

#include "client/lookup3.h"

namespace korvex {

Text ToastIdentity(TextView programPath) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(programPath.size() * 2);
  for (const char16_t unit : programPath) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  const std::uint32_t hash = HashLittle(bytes.data(), bytes.size(), 0);
  Text identity = kToastIdentityPrefix;
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  for (int shift = 28; shift >= 0; shift -= 4) identity += kDigits[(hash >> shift) & 0xF];
  return identity;
}

Text ToastIdentityKey(TextView identity) {
  Text key = kToastSettingsKey;
  key += u'\\';
  key += identity;
  return key;
}

namespace {

// Where the file name starts: after the last backslash, slash or drive colon.
std::size_t FileNameStart(TextView path) {
  const std::size_t separator = path.find_last_of(u"\\/:");
  return separator == TextView::npos ? 0 : separator + 1;
}

}  // namespace

Text ShortcutFileName(TextView programPath) {
  TextView name = programPath.substr(FileNameStart(programPath));
  const std::size_t dot = name.rfind(u'.');
  if (dot != TextView::npos) name = name.substr(0, dot);
  Text file(name);
  file += u".lnk";
  return file;
}

Text FolderOf(TextView programPath) { return Text(programPath.substr(0, FileNameStart(programPath))); }

ToastContent MakeToastContent(const TNotification& notification) {
  ToastContent content;
  content.duration = kToastDuration;
  if (!notification.Title.empty() && !notification.AlertBody.empty()) {
    content.kind = ToastTemplate::kText02;
    content.texts = {notification.Title, notification.AlertBody};
  } else {
    content.kind = ToastTemplate::kText01;
    content.texts = {notification.Title + notification.AlertBody};
  }
  return content;
}

bool RegisterToastIdentity(ToastRegistration& registration, TextView programPath, TextView identity) {
  // An existing key is left as the user set it: "ShowInActionCenter" 0 stays 0.
  const Text key = ToastIdentityKey(identity);
  if (!registration.KeyExists(key) && !registration.CreateIdentityKey(key)) return false;

  // The installer's entry is the toast shortcut of an installed program, so that the Start menu
  // shows Korvex once. It is rewritten only to carry the identity (the client runs elevated).
  if (const std::optional<Text> common = registration.CommonProgramsFolder()) {
    ShortcutSpec installed;
    installed.linkPath = *common + u"\\" + ShortcutFileName(programPath);
    installed.target = Text(programPath);
    if (registration.ShortcutTarget(installed.linkPath) == installed.target) {
      const std::optional<Text> carried = registration.ShortcutIdentity(installed.linkPath);
      if (!carried || *carried == identity) return true;
      installed.workingDirectory = FolderOf(programPath);
      installed.appUserModelId = Text(identity);
      return registration.SaveShortcut(installed);
    }
  }

  const std::optional<Text> folder = registration.ProgramsFolder();
  if (!folder) return false;
  ShortcutSpec shortcut;
  shortcut.linkPath = *folder + u"\\" + ShortcutFileName(programPath);
  shortcut.target = Text(programPath);
  // A shortcut of that name to another program, or one from another folder of ours, is replaced.
  const std::optional<Text> target = registration.ShortcutTarget(shortcut.linkPath);
  if (target && *target == shortcut.target) return true;
  shortcut.workingDirectory = FolderOf(programPath);
  shortcut.appUserModelId = Text(identity);
  return registration.SaveShortcut(shortcut);
}

// The toasts on screen by name. Shared with the toasts' event handlers, which the platform raises
// on threads of its own, possibly after the centre is gone; a recursive lock, because a platform
// may raise Dismissed inside Hide on the calling thread.
struct TNotificationCentre::Table {
  struct Entry {
    std::uint64_t serial = 0;
    std::shared_ptr<Toast> toast;
  };

  mutable std::recursive_mutex lock;
  std::map<Text, Entry> shown;
  std::uint64_t nextSerial = 0;
  std::function<void(const TNotification&)> onReceived;

  // Only the entry of that very toast: a late event of a withdrawn toast must not drop the entry
  // of its successor under the same name.
  void Remove(const Text& name, std::uint64_t serial) {
    std::shared_ptr<Toast> gone;  // released after the lock, with its subscriptions
    std::lock_guard guard(lock);
    const auto entry = shown.find(name);
    if (entry == shown.end() || entry->second.serial != serial) return;
    gone = std::move(entry->second.toast);
    shown.erase(entry);
  }
};

TNotificationCentre::TNotificationCentre(ToastPlatform& platform)
    : platform_(platform), table_(std::make_shared<Table>()) {
  const WindowsVersion version = platform_.Version();
  if (version.major < 6 || (version.major == 6 && version.minor <= 1)) return;
  programPath_ = platform_.ProgramPath();
  identity_ = ToastIdentity(programPath_);
  notifier_ = platform_.CreateNotifier(identity_);
}

TNotificationCentre::~TNotificationCentre() {
  // The toasts go (with their subscriptions) before the notifier that made them.
  std::map<Text, Table::Entry> shown;
  {
    std::lock_guard guard(table_->lock);
    shown.swap(table_->shown);
  }
}

std::unique_ptr<TNotification> TNotificationCentre::CreateNotification() const {
  if (!Available()) return nullptr;
  return std::make_unique<TNotification>();
}

void TNotificationCentre::PresentNotification(const TNotification& notification) {
  if (!Available()) return;
  if (!RegisterToastIdentity(platform_, programPath_, identity_)) return;

  std::shared_ptr<Toast> withdrawn;  // released after the lock, with its subscriptions
  {
    std::lock_guard guard(table_->lock);
    const auto previous = table_->shown.find(notification.Name);
    if (previous != table_->shown.end()) {
      withdrawn = previous->second.toast;
      const std::uint64_t serial = previous->second.serial;
      notifier_->Hide(*withdrawn);  // a failure leaves the entry in place
      table_->Remove(notification.Name, serial);
    }
  }
  withdrawn.reset();

  const ToastContent content = MakeToastContent(notification);
  std::uint64_t serial = 0;
  {
    std::lock_guard guard(table_->lock);
    serial = ++table_->nextSerial;
  }
  ToastEvents events;
  const std::weak_ptr<Table> table = table_;
  const auto remove = [table, name = notification.Name, serial] {
    if (const auto alive = table.lock()) alive->Remove(name, serial);
  };
  events.dismissed = remove;
  events.failed = remove;
  events.activated = [table, copy = notification] {
    const auto alive = table.lock();
    if (!alive) return;
    std::function<void(const TNotification&)> handler;
    {
      std::lock_guard guard(alive->lock);
      handler = alive->onReceived;
    }
    if (handler) handler(copy);
  };
  std::shared_ptr<Toast> toast = notifier_->CreateToast(content, std::move(events));

  std::shared_ptr<Toast> replaced;  // released after the lock
  {
    std::lock_guard guard(table_->lock);
    Table::Entry& entry = table_->shown[notification.Name];
    replaced = std::move(entry.toast);
    entry = {serial, toast};
  }
  notifier_->Show(*toast);  // a failure leaves the new entry in place
}

void TNotificationCentre::SetOnReceived(std::function<void(const TNotification&)> handler) {
  std::lock_guard guard(table_->lock);
  table_->onReceived = std::move(handler);
}

std::vector<Text> TNotificationCentre::ShownNames() const {
  std::lock_guard guard(table_->lock);
  std::vector<Text> names;
  for (const auto& [name, entry] : table_->shown) names.push_back(name);
  return names;
}

}  // namespace korvex
