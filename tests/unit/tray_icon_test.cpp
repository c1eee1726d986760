// The tray icon's state and its shell record, and the rules of the mouse on the icon.
#include "client/tray_icon.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/error.h"
#include "tests/support/expect_error.h"
#include "tests/support/fake_notify_shell.h"

namespace korvex {
namespace {

using testing::FakeNotifyShell;
using testing::ThrowsKorError;

constexpr std::uintptr_t kImage = 0x1234;

TEST(TrayIcon, IsAddedAtCreationWithImageTipAndBalloonTimeout) {
  FakeNotifyShell shell;
  TTrayIcon icon(shell, kImage);
  ASSERT_EQ(shell.Kinds(), (std::vector<std::string>{"add"}));
  const NotifyIconRecord& added = shell.calls[0].record;
  EXPECT_EQ(added.flags, kNifMessage | kNifIcon | kNifTip);
  EXPECT_EQ(added.icon, kImage);
  EXPECT_EQ(added.tip, u"Korvex-Client");
  EXPECT_EQ(added.balloonTimeout, 200u);
  EXPECT_TRUE(icon.Present());
}

TEST(TrayIcon, TextsAreCutToWhatTheRecordHolds) {
  FakeNotifyShell shell;
  TTrayIcon icon(shell, kImage);
  icon.SetTip(Text(200, u't'));
  icon.SetBalloonTitle(Text(100, u'h'));
  icon.SetBalloonText(Text(300, u'b'));
  EXPECT_EQ(icon.Tip(), Text(127, u't'));
  EXPECT_EQ(icon.BalloonTitle(), Text(63, u'h'));
  EXPECT_EQ(icon.BalloonText(), Text(255, u'b'));
}

TEST(TrayIcon, AnEmptyTipLeavesTheTipOutOfTheRecord) {
  FakeNotifyShell shell;
  TTrayIcon icon(shell, kImage);
  icon.SetTip(u"");
  EXPECT_EQ(shell.calls.back().record.flags & kNifTip, 0u);
  icon.SetTip(u"x");
  EXPECT_EQ(shell.calls.back().record.flags & kNifTip, kNifTip);
}

TEST(TrayIcon, ChangesReachThePresentIconOnlyAndBalloonTextsOnlyWhenNew) {
  FakeNotifyShell shell;
  TTrayIcon icon(shell, kImage);
  shell.calls.clear();

  icon.SetTip(kTrayTip);  // the same tip is passed on all the same
  icon.SetIcon(0x99);
  icon.SetBalloonTitle(u"Korvex-Client");
  icon.SetBalloonTitle(u"Korvex-Client");
  icon.SetBalloonText(u"Aktuelle IP: 1.2.3.4");
  icon.SetBalloonText(u"Aktuelle IP: 1.2.3.4");
  EXPECT_EQ(shell.Kinds(), (std::vector<std::string>{"modify", "modify", "modify", "modify"}));
  EXPECT_EQ(shell.calls[1].record.icon, 0x99u);

  icon.SetPresent(false);
  shell.calls.clear();
  icon.SetTip(u"other");
  icon.SetBalloonTitle(u"new");
  EXPECT_TRUE(shell.calls.empty());
  icon.SetPresent(true);
  ASSERT_EQ(shell.Kinds(), (std::vector<std::string>{"add"}));
  EXPECT_EQ(shell.calls[0].record.tip, u"other");  // kept while absent
}

TEST(TrayIcon, PresenceAddsAndDeletesOnlyOnChange) {
  FakeNotifyShell shell;
  TTrayIcon icon(shell, kImage);
  shell.calls.clear();
  icon.SetPresent(true);
  icon.SetPresent(false);
  icon.SetPresent(false);
  icon.SetPresent(true);
  EXPECT_EQ(shell.Kinds(), (std::vector<std::string>{"delete", "add"}));
}

TEST(TrayIcon, ARefusedDeleteIsAnErrorAndTheIconCountsAsAbsent) {
  FakeNotifyShell shell;
  TTrayIcon icon(shell, kImage);
  shell.deleteResult = false;
  ASSERT_TRUE(ThrowsKorError([&] { icon.SetPresent(false); }, kCannotRemoveTrayIcon));
  EXPECT_FALSE(icon.Present());
  shell.calls.clear();
  icon.SetPresent(false);
  icon.OnTaskbarCreated();
  EXPECT_TRUE(shell.calls.empty());
}

TEST(TrayIcon, ARefusedAddCountsAsPresentAndTheRestartedShellGetsItAgain) {
  FakeNotifyShell shell;
  shell.addResult = false;
  TTrayIcon icon(shell, kImage);
  EXPECT_TRUE(icon.Present());
  shell.addResult = true;
  icon.OnTaskbarCreated();
  EXPECT_EQ(shell.Kinds(), (std::vector<std::string>{"add", "add"}));
}

TEST(TrayIcon, TheMouseRulesRunTheHandlers) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> events;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"left click", {kLeftButtonDown, kLeftButtonUp}, {"click"}},
      {"release without press", {kLeftButtonUp}, {}},
      {"left double-click: click on the first release only",
       {kLeftButtonDown, kLeftButtonUp, kLeftButtonDoubleClick, kLeftButtonUp},
       {"click", "double"}},
      {"two presses, one click", {kLeftButtonDown, kLeftButtonDown, kLeftButtonUp, kLeftButtonUp}, {"click"}},
      {"right double-click", {kRightButtonDown, kRightButtonUp, kRightButtonDoubleClick, kRightButtonUp},
       {"popup", "double", "popup"}},
      {"middle double-click", {kMiddleButtonDown, kMiddleButtonUp, kMiddleButtonDoubleClick, kMiddleButtonUp},
       {"double"}},
      {"no action", {kMouseMove, kRightButtonDown, kMiddleButtonDown, kBalloonShow, kBalloonUserClick}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeNotifyShell shell;
    TTrayIcon icon(shell, kImage);
    std::vector<std::string> ran;
    icon.OnClick = [&] { ran.push_back("click"); };
    icon.OnDblClick = [&] { ran.push_back("double"); };
    icon.OnPopup = [&] { ran.push_back("popup"); };
    for (const std::uint32_t event : c.events) icon.OnCallback(event);
    EXPECT_EQ(ran, c.expected);
    EXPECT_FALSE(icon.Armed());
  }
}

TEST(TrayIcon, AClickIsArmedWhileItsHandlerRunsAndDisarmedWhenItFails) {
  FakeNotifyShell shell;
  TTrayIcon icon(shell, kImage);
  bool armedDuringClick = false;
  icon.OnClick = [&] {
    armedDuringClick = icon.Armed();
    throw KorError(u"lookup failed");
  };
  icon.OnCallback(kLeftButtonDown);
  EXPECT_THROW(icon.OnCallback(kLeftButtonUp), KorError);
  EXPECT_TRUE(armedDuringClick);
  EXPECT_FALSE(icon.Armed());
}

TEST(TrayIcon, AClosedBalloonIsNotShownAgainByLaterChanges) {
  for (const std::uint32_t closing : {kBalloonTimeout, kBalloonHide, kBalloonUserClick}) {
    SCOPED_TRACE(closing);
    FakeNotifyShell shell;
    TTrayIcon icon(shell, kImage);
    icon.SetBalloonTitle(u"Korvex-Client");
    icon.SetBalloonText(u"IP-Update erfolgreich");
    icon.SetBalloonIcon(BalloonIcon::kInfo);
    icon.ShowBalloon();
    const NotifyIconRecord& shown = shell.calls.back().record;
    EXPECT_EQ(shell.calls.back().kind, "modify");
    EXPECT_EQ(shown.flags & kNifInfo, kNifInfo);
    EXPECT_EQ(shown.balloonIcon, BalloonIcon::kInfo);
    EXPECT_EQ(shown.balloonTimeout, 200u);

    icon.SetTip(u"Korvex-Client");  // still open: the balloon rides along
    EXPECT_EQ(shell.calls.back().record.flags & kNifInfo, kNifInfo);
    icon.OnCallback(closing);
    icon.SetTip(u"Korvex-Client");
    EXPECT_EQ(shell.calls.back().record.flags & kNifInfo, 0u);
  }
}

// A balloon is shown once: neither the next add (hiding to the tray, a restarted shell) nor a
// later change shows an old one again.
TEST(TrayIcon, NoAddOfTheIconShowsAnEarlierBalloonAgain) {
  struct Case {
    const char* name;
    std::function<void(TTrayIcon&)> beforeAdd;
    std::function<void(TTrayIcon&)> add;
  };
  const auto balloon = [](TTrayIcon& icon) {
    icon.SetBalloonText(u"IP-Update erfolgreich");
    icon.ShowBalloon();
  };
  const Case cases[] = {
      {"asked for while absent, then hidden to the tray",
       [&](TTrayIcon& icon) {
         icon.SetPresent(false);
         balloon(icon);
       },
       [](TTrayIcon& icon) { icon.SetPresent(true); }},
      {"asked for while absent, then the shell restarts",
       [&](TTrayIcon& icon) {
         icon.SetPresent(false);
         balloon(icon);
         icon.SetPresent(true);
       },
       [](TTrayIcon& icon) { icon.OnTaskbarCreated(); }},
      {"shown, then the shell restarts before it closes", balloon,
       [](TTrayIcon& icon) { icon.OnTaskbarCreated(); }},
      {"shown, then the icon is removed and added before it closes",
       [&](TTrayIcon& icon) {
         balloon(icon);
         icon.SetPresent(false);
       },
       [](TTrayIcon& icon) { icon.SetPresent(true); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeNotifyShell shell;
    TTrayIcon icon(shell, kImage);
    c.beforeAdd(icon);
    shell.calls.clear();
    c.add(icon);
    ASSERT_EQ(shell.Kinds(), (std::vector<std::string>{"add"}));
    EXPECT_EQ(shell.calls.back().record.flags & kNifInfo, 0u);
  }
}

TEST(TrayIcon, ABalloonWhileTheIconIsAbsentAsksNothingOfTheShell) {
  FakeNotifyShell shell;
  TTrayIcon icon(shell, kImage);
  icon.SetPresent(false);
  icon.ShowBalloon();
  EXPECT_EQ(shell.Kinds(), (std::vector<std::string>{"add", "delete"}));
}

TEST(TrayIcon, TheEndOfTheSessionAndOfTheIconDeleteItWithoutAReport) {
  {
    FakeNotifyShell shell;
    TTrayIcon icon(shell, kImage);
    EXPECT_TRUE(icon.OnQueryEndSession());
    icon.OnEndSession(false);
    EXPECT_TRUE(icon.Present());
    shell.deleteResult = false;
    icon.OnEndSession(true);
    EXPECT_FALSE(icon.Present());
    EXPECT_EQ(shell.Kinds(), (std::vector<std::string>{"add", "delete"}));
  }
  FakeNotifyShell shell;
  {
    TTrayIcon icon(shell, kImage);
  }
  {
    TTrayIcon icon(shell, kImage);
    icon.SetPresent(false);
  }
  EXPECT_EQ(shell.Kinds(), (std::vector<std::string>{"add", "delete", "add", "delete"}));
}

}  // namespace
}  // namespace korvex
