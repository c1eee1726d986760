// The notification centre over a fake platform: availability, the toast identity and its
// registration, the templates, replacement by name, the toasts' events, and the error path.
#include "client/notification_centre.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client/lookup3.h"
#include "core/error.h"
#include "tests/support/fake_toast_platform.h"

namespace korvex {
namespace {

using testing::FakeToastNotifier;
using testing::FakeToastPlatform;
using Log = std::vector<std::string>;

TEST(Lookup3, MatchesThePublishedTestVectors) {
  const char* const phrase = "Four score and seven years ago";
  EXPECT_EQ(HashLittle("", 0, 0), 0xdeadbeefu);
  EXPECT_EQ(HashLittle("", 0, 0xdeadbeef), 0xbd5b7ddeu);
  EXPECT_EQ(HashLittle(phrase, 30, 0), 0x17770551u);
  EXPECT_EQ(HashLittle(phrase, 30, 1), 0xcd628161u);
}

TEST(Lookup3, DoesNotDependOnTheAlignmentOfTheBytes) {
  const char* const phrase = "Four score and seven years ago";
  char buffer[40] = {};
  for (std::size_t offset = 1; offset < 4; ++offset) {
    std::memcpy(buffer + offset, phrase, 30);
    EXPECT_EQ(HashLittle(buffer + offset, 30, 0), 0x17770551u) << offset;
  }
}

TEST(ToastIdentity, IsThePrefixAndTheHashOfThePathsUtf16Bytes) {
  // Values from an independent implementation that reproduces the published vectors.
  EXPECT_EQ(ToastIdentity(u"C:\\Programme\\Korvex\\Korvex.exe"), u"Brumvale.DesktopToasts.6C04F4F7");
  EXPECT_EQ(ToastIdentity(u"D:\\Korvex.exe"), u"Brumvale.DesktopToasts.A605CFCE");
}

TEST(ToastIdentity, PathPartsOfTheRegistration) {
  EXPECT_EQ(ToastIdentityKey(u"Brumvale.DesktopToasts.A605CFCE"),
            u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Notifications\\Settings\\Brumvale.DesktopToasts.A605CFCE");
  EXPECT_EQ(ShortcutFileName(u"C:\\Programme\\Korvex\\Korvex.exe"), u"Korvex.lnk");
  EXPECT_EQ(ShortcutFileName(u"C:\\a.b\\Korvex"), u"Korvex.lnk");
  EXPECT_EQ(ShortcutFileName(u"C:\\a\\Korvex.neu.exe"), u"Korvex.neu.lnk");
  EXPECT_EQ(FolderOf(u"C:\\Programme\\Korvex\\Korvex.exe"), u"C:\\Programme\\Korvex\\");
}

TEST(NotificationCentre, IsAvailableFromWindows8WhenTheNotifierCanBeHad) {
  struct Case {
    WindowsVersion version;
    bool hasToasts;
    bool available;
  };
  const Case cases[] = {
      {{5, 1}, true, false}, {{6, 0}, true, false}, {{6, 1}, true, false},
      {{6, 2}, true, true},  {{10, 0}, true, true}, {{10, 0}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version.major) + "." + std::to_string(c.version.minor) +
                 (c.hasToasts ? "" : " without toasts"));
    FakeToastPlatform platform;
    platform.version = c.version;
    platform.hasToasts = c.hasToasts;
    TNotificationCentre centre(platform);
    EXPECT_EQ(centre.Available(), c.available);
    EXPECT_EQ(centre.CreateNotification() != nullptr, c.available);
    centre.PresentNotification({u"Korvex-Client", u"Korvex-Client", u"IP-Update erfolgreich"});
    EXPECT_EQ(platform.keysCreated, c.available ? 1 : 0);
  }
}

TEST(NotificationCentre, AsksForTheNotifierOfTheProgramsIdentity) {
  FakeToastPlatform platform;
  TNotificationCentre centre(platform);
  EXPECT_EQ(platform.notifierIdentity, u"Brumvale.DesktopToasts.6C04F4F7");
  EXPECT_EQ(centre.Identity(), u"Brumvale.DesktopToasts.6C04F4F7");
}

class NotificationCentreTest : public ::testing::Test {
 protected:
  void Present(const Text& name, const Text& title = u"Korvex-Client", const Text& body = u"IP-Update erfolgreich") {
    centre.PresentNotification({name, title, body});
  }
  FakeToastNotifier& Notifier() { return *platform.notifier; }
  const Text kKey = ToastIdentityKey(u"Brumvale.DesktopToasts.6C04F4F7");
  const Text kLink = u"C:\\Users\\Anna\\Start Menu\\Programs\\Korvex.lnk";

  FakeToastPlatform platform;
  TNotificationCentre centre{platform};
};

TEST_F(NotificationCentreTest, FirstToastCreatesKeyAndShortcutThenShows) {
  Present(u"Korvex-Client");
  EXPECT_EQ(platform.keys.count(kKey), 1u);
  ASSERT_EQ(platform.saved.size(), 1u);
  const ShortcutSpec& shortcut = platform.saved[0];
  EXPECT_EQ(shortcut.linkPath, kLink);
  EXPECT_EQ(shortcut.target, u"C:\\Programme\\Korvex\\Korvex.exe");
  EXPECT_EQ(shortcut.workingDirectory, u"C:\\Programme\\Korvex\\");
  EXPECT_EQ(shortcut.appUserModelId, u"Brumvale.DesktopToasts.6C04F4F7");
  EXPECT_EQ(Notifier().log, (Log{"create #1", "show #1"}));
}

TEST_F(NotificationCentreTest, RegistrationKeepsWhatIsInPlaceAndReplacesAForeignShortcut) {
  platform.keys.insert(kKey);
  platform.shortcuts[kLink] = {kLink, u"C:\\Programme\\Korvex\\Korvex.exe", u"", u""};
  Present(u"a");
  EXPECT_EQ(platform.keysCreated, 0);
  EXPECT_TRUE(platform.saved.empty());

  // Another program's shortcut, and ours under another spelling: the target must match exactly.
  for (const Text target : {u"C:\\Andere\\Korvex.exe", u"c:\\programme\\korvex\\Korvex.exe"}) {
    platform.saved.clear();
    platform.shortcuts[kLink].target = target;
    Present(u"a");
    ASSERT_EQ(platform.saved.size(), 1u);
    EXPECT_EQ(platform.shortcuts[kLink].target, u"C:\\Programme\\Korvex\\Korvex.exe");
  }
}

// The installer's Start-menu entry for all users has the name the centre would give its own.
TEST_F(NotificationCentreTest, TheInstallersStartMenuEntryServesAsTheToastShortcut) {
  const Text kInstalled = u"C:\\ProgramData\\Start Menu\\Programs\\Korvex.lnk";
  const Text kProgram = u"C:\\Programme\\Korvex\\Korvex.exe";
  const Text kIdentity = u"Brumvale.DesktopToasts.6C04F4F7";
  struct Case {
    const char* name;
    Text target;
    Text carried;
    bool readable;
    bool failSave;
    // What follows: the installer's entry rewritten with the identity, the user's own made, shown.
    bool rewritten;
    bool ownMade;
    bool shown;
  };
  const Case cases[] = {
      {"carries the identity", kProgram, kIdentity, true, false, false, false, true},
      {"carries none", kProgram, u"", true, false, true, false, true},
      {"carries another", kProgram, u"Other.App", true, false, true, false, true},
      {"cannot be read back", kProgram, u"", false, false, false, false, true},
      {"cannot be rewritten", kProgram, u"", true, true, true, false, false},
      {"points at another program", u"C:\\Andere\\Korvex.exe", u"", true, false, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeToastPlatform platform;
    platform.shortcuts[kInstalled] = {kInstalled, c.target, u"C:\\Programme\\Korvex", c.carried};
    platform.identitiesReadable = c.readable;
    platform.failSave = c.failSave;
    TNotificationCentre centre(platform);
    centre.PresentNotification({u"a", u"b", u"c"});

    const bool rewritten = !platform.saved.empty() && platform.saved[0].linkPath == kInstalled;
    EXPECT_EQ(rewritten, c.rewritten);
    if (rewritten) {
      EXPECT_EQ(platform.saved[0].target, kProgram);
      EXPECT_EQ(platform.saved[0].workingDirectory, u"C:\\Programme\\Korvex\\");
      EXPECT_EQ(platform.saved[0].appUserModelId, kIdentity);
    }
    EXPECT_EQ(platform.shortcuts.count(kLink), c.ownMade ? 1u : 0u);
    EXPECT_EQ(platform.shortcuts[kInstalled].target, c.target);  // never pointed elsewhere
    EXPECT_EQ(!platform.notifier->log.empty(), c.shown);
  }
}

TEST_F(NotificationCentreTest, AFailedRegistrationShowsNothingAndRaisesNothing) {
  struct Case {
    const char* name;
    void (*breakIt)(FakeToastPlatform&);
  };
  const Case cases[] = {
      {"key cannot be created", [](FakeToastPlatform& p) { p.failCreateKey = true; }},
      {"no programs folder", [](FakeToastPlatform& p) { p.programsFolder.reset(); }},
      {"shortcut cannot be saved", [](FakeToastPlatform& p) { p.failSave = true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeToastPlatform broken;
    c.breakIt(broken);
    TNotificationCentre centre(broken);
    EXPECT_NO_THROW(centre.PresentNotification({u"a", u"b", u"c"}));
    EXPECT_TRUE(broken.notifier->log.empty());
  }
}

TEST_F(NotificationCentreTest, TwoTextsTakeTwoLinesAndOneTextTheJoinedLine) {
  struct Case {
    Text title;
    Text body;
    ToastTemplate kind;
    std::vector<Text> texts;
  };
  const Case cases[] = {
      {u"Korvex-Client", u"IP-Update erfolgreich", ToastTemplate::kText02, {u"Korvex-Client", u"IP-Update erfolgreich"}},
      {u"", u"IP-Update erfolgreich", ToastTemplate::kText01, {u"IP-Update erfolgreich"}},
      {u"Korvex-Client", u"", ToastTemplate::kText01, {u"Korvex-Client"}},
      {u"", u"", ToastTemplate::kText01, {u""}},
  };
  for (const Case& c : cases) {
    Present(u"n" + c.title + c.body, c.title, c.body);
    const ToastContent& content = Notifier().made.back().content;
    EXPECT_EQ(content.kind, c.kind);
    EXPECT_EQ(content.texts, c.texts);
    EXPECT_EQ(content.duration, u"short");
  }
}

TEST_F(NotificationCentreTest, ASecondToastOfTheSameNameWithdrawsTheFirstBeforeItIsShown) {
  Present(u"Korvex-Client");
  Present(u"other");
  Present(u"Korvex-Client");
  EXPECT_EQ(Notifier().log, (Log{"create #1", "show #1", "create #2", "show #2", "hide #1", "release #1",
                                 "create #3", "show #3"}));
  EXPECT_EQ(centre.ShownNames(), (std::vector<Text>{u"Korvex-Client", u"other"}));
}

TEST_F(NotificationCentreTest, DismissedAndFailedToastsLeaveTheTable) {
  Present(u"a");
  Present(u"b");
  Notifier().made[0].events.dismissed();
  Notifier().made[1].events.failed();
  EXPECT_TRUE(centre.ShownNames().empty());
  Notifier().log.clear();
  Present(u"a");
  EXPECT_EQ(Notifier().log, (Log{"create #3", "show #3"}));
}

TEST_F(NotificationCentreTest, ALateEventOfAWithdrawnToastLeavesItsSuccessor) {
  Present(u"a");
  Present(u"a");
  Notifier().made[0].events.dismissed();  // the platform reports the withdrawal late
  Notifier().log.clear();
  Present(u"a");
  EXPECT_EQ(Notifier().log, (Log{"hide #2", "release #2", "create #3", "show #3"}));
}

TEST_F(NotificationCentreTest, EventsFromAPlatformThreadReachTheTable) {
  Present(u"a");
  std::thread platformThread(Notifier().made[0].events.dismissed);
  platformThread.join();
  EXPECT_TRUE(centre.ShownNames().empty());
}

TEST_F(NotificationCentreTest, ActivationPassesACopyOfTheFields) {
  std::vector<Text> received;
  centre.SetOnReceived([&](const TNotification& n) { received = {n.Name, n.Title, n.AlertBody}; });
  {
    const std::unique_ptr<TNotification> notification = centre.CreateNotification();
    *notification = {u"Korvex-Client", u"Titel", u"Text"};
    centre.PresentNotification(*notification);
  }
  Notifier().made[0].events.activated();
  EXPECT_EQ(received, (std::vector<Text>{u"Korvex-Client", u"Titel", u"Text"}));
}

TEST(NotificationCentre, EventsAfterTheCentreIsGoneDoNothing) {
  FakeToastPlatform platform;
  ToastEvents events;
  {
    TNotificationCentre centre(platform);
    centre.SetOnReceived([](const TNotification&) { FAIL() << "handler of a centre that is gone"; });
    centre.PresentNotification({u"a", u"b", u"c"});
    events = platform.notifier->made[0].events;
  }
  events.dismissed();
  events.activated();
}

TEST_F(NotificationCentreTest, FailingPlatformCallsAreErrorsAndKeepTheTableAsTheyLeftIt) {
  Present(u"a");  // #1

  Notifier().failHide = true;
  EXPECT_THROW(Present(u"a"), KorError);
  Notifier().failHide = false;
  EXPECT_EQ(centre.ShownNames(), (std::vector<Text>{u"a"}));  // #1 stays until its hide works

  Notifier().failShow = true;
  EXPECT_THROW(Present(u"a"), KorError);  // hides #1, makes #2, fails to show it
  Notifier().failShow = false;
  Notifier().log.clear();
  Present(u"a");  // #2 was entered before the show failed, so it is withdrawn now
  EXPECT_EQ(Notifier().log, (Log{"hide #2", "release #2", "create #3", "show #3"}));

  Notifier().failCreate = true;
  EXPECT_THROW(Present(u"a"), KorError);  // #3 withdrawn, nothing new
  EXPECT_TRUE(centre.ShownNames().empty());
}

}  // namespace
}  // namespace korvex
