#pragma once
// The toast platform in memory: a registry of identity keys, a Start-menu folder of shortcuts, and
// a notifier that logs what it is asked, fails on request, and lets a test raise a toast's events.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "client/notification_centre.h"
#include "core/error.h"

namespace korvex::testing {

class FakeToastNotifier : public ToastNotifier {
 public:
  struct Made {
    ToastContent content;
    ToastEvents events;
  };

  class FakeToast : public Toast {
   public:
    FakeToast(FakeToastNotifier& owner, int id) : owner_(owner), id_(id) {}
    ~FakeToast() override { owner_.log.push_back("release #" + std::to_string(id_)); }
    int Id() const { return id_; }

   private:
    FakeToastNotifier& owner_;
    int id_;
  };

  std::unique_ptr<Toast> CreateToast(const ToastContent& content, ToastEvents events) override {
    const int id = static_cast<int>(made.size()) + 1;
    log.push_back("create #" + std::to_string(id));
    if (failCreate) throw KorError(u"create refused");
    made.push_back({content, std::move(events)});
    return std::make_unique<FakeToast>(*this, id);
  }
  void Show(Toast& toast) override {
    log.push_back("show #" + std::to_string(static_cast<FakeToast&>(toast).Id()));
    if (failShow) throw KorError(u"show refused");
  }
  void Hide(Toast& toast) override {
    log.push_back("hide #" + std::to_string(static_cast<FakeToast&>(toast).Id()));
    if (failHide) throw KorError(u"hide refused");
  }

  std::vector<std::string> log;
  std::vector<Made> made;  // by toast id - 1
  bool failCreate = false;
  bool failShow = false;
  bool failHide = false;
};

class FakeToastPlatform : public ToastPlatform {
 public:
  WindowsVersion Version() override { return version; }
  Text ProgramPath() override { return programPath; }
  std::unique_ptr<ToastNotifier> CreateNotifier(const Text& identity) override {
    notifierIdentity = identity;
    if (!hasToasts) return nullptr;
    auto made = std::make_unique<FakeToastNotifier>();
    notifier = made.get();
    return made;
  }

  bool KeyExists(const Text& keyPath) override { return keys.count(keyPath) != 0; }
  bool CreateIdentityKey(const Text& keyPath) override {
    ++keysCreated;
    if (failCreateKey) return false;
    keys.insert(keyPath);
    return true;
  }
  std::optional<Text> ProgramsFolder() override { return programsFolder; }
  std::optional<Text> CommonProgramsFolder() override { return commonProgramsFolder; }
  std::optional<Text> ShortcutTarget(const Text& linkPath) override {
    const auto found = shortcuts.find(linkPath);
    if (found == shortcuts.end()) return std::nullopt;
    return found->second.target;
  }
  std::optional<Text> ShortcutIdentity(const Text& linkPath) override {
    const auto found = shortcuts.find(linkPath);
    if (found == shortcuts.end() || !identitiesReadable) return std::nullopt;
    return found->second.appUserModelId;
  }
  bool SaveShortcut(const ShortcutSpec& shortcut) override {
    saved.push_back(shortcut);
    if (failSave) return false;
    shortcuts[shortcut.linkPath] = shortcut;
    return true;
  }

  WindowsVersion version{10, 0};
  Text programPath = u"C:\\Programme\\Korvex\\Korvex.exe";
  bool hasToasts = true;
  std::optional<Text> notifierIdentity;
  FakeToastNotifier* notifier = nullptr;  // owned by the centre

  std::set<Text> keys;
  int keysCreated = 0;
  bool failCreateKey = false;
  std::optional<Text> programsFolder = u"C:\\Users\\Anna\\Start Menu\\Programs";
  std::optional<Text> commonProgramsFolder = u"C:\\ProgramData\\Start Menu\\Programs";
  bool identitiesReadable = true;  // Wine's shell links cannot give it back
  std::map<Text, ShortcutSpec> shortcuts;
  std::vector<ShortcutSpec> saved;
  bool failSave = false;
};

}  // namespace korvex::testing
