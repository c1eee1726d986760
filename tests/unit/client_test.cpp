// The desktop client's window logic, driven without windows: start-up and the first-start gate,
// the update timer, the forced update, the setup dialog's login and save, and the error box.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/about_box.h"
#include "client/client.h"
#include "client/error_handler.h"
#include "client/service_commands.h"
#include "client/setup_form.h"
#include "client/single_instance.h"
#include "client/software_update.h"
#include "core/error.h"
#include "tests/support/answering_boxes.h"
#include "tests/support/client_fakes.h"
#include "tests/support/memory_registry.h"

namespace korvex {
namespace {

using testing::FakeAboutView;
using testing::FakeBoxes;
using testing::FakeClientView;
using testing::FakeReporter;
using testing::FakeService;
using testing::FakeServiceClient;
using testing::FakeSetupView;
using testing::FakeTray;
using testing::Journal;
using testing::ManualTimers;
using testing::MemoryRegistry;

constexpr std::size_t kUpdateTimer = 0;
constexpr std::size_t kMinimierungsTimer = 1;
constexpr char16_t kAddress[] = u"203.0.113.7";

// The client as the program puts it together, with every edge faked.
struct Client {
  Journal journal;
  FakeService service;
  MemoryRegistry registry;
  ManualTimers timers;
  FakeBoxes boxes{journal};
  ErrorHandler errors{boxes, u"Korvex"};
  FakeClientView mainView{journal};
  FakeSetupView setupView{journal};
  FakeAboutView aboutView{journal};
  FakeReporter reporter{journal};
  FakeTray tray;
  std::unique_ptr<TClient> client;
  std::unique_ptr<TSetupForm> setup;
  std::unique_ptr<TAboutBox> about;

  Client() {
    service.journal = &journal;
    registry.SetString(kValueServeradresse, u"localhost:8080");
    registry.writes.clear();
    client = std::make_unique<TClient>(TClient::Parts{
        mainView, errors, registry, timers.Factory(), std::make_unique<FakeServiceClient>(service),
        testing::FakeLookupFactories(service), u"localhost:8080", reporter, tray});
    setup = std::make_unique<TSetupForm>(
        TSetupForm::Parts{setupView, boxes, registry, std::make_unique<FakeServiceClient>(service)},
        *client);
    about = std::make_unique<TAboutBox>(aboutView);
    client->SetDialogs(*setup, *about);
  }

  void StoreSettings(TextView updateart = u"HTTP", std::uint32_t minutes = 5) {
    WriteEinstellungen(registry, SettingsInput{u"anna", u"geheim", u"haus.example.net",
                                               updateart == u"HTTPS" ? kTransportHttps : kTransportHttp,
                                               ToText(minutes)});
    registry.writes.clear();
  }

  // A handler as the window runs it: failures go to the error box.
  void Run(const std::function<void()>& handler) { errors.Run(handler); }
  std::size_t Updates() const { return service.RequestsTo("/update.php").size(); }
  std::size_t Lookups() const { return service.RequestsTo("/ip.php").size(); }
};

TEST(ClientStartTest, FirstStartShowsOnlyTheSetupDialogAndSendsNothingBeforeLogin) {
  Client c;
  bool checked = false;
  c.setupView.window.whileModal = [&] {
    EXPECT_FALSE(c.mainView.visible);
    EXPECT_FALSE(c.setupView.lowerHalf);
    EXPECT_TRUE(c.setupView.loginEnabled);
    // The empty stored host name replaced the placeholder; the missing interval ended the read
    // before interval and transport.
    EXPECT_EQ(c.setupView.hostText, u"");
    EXPECT_EQ(c.setupView.intervalText, u"5");
    EXPECT_EQ(c.setupView.transportText, kHostPlaceholder);
    EXPECT_FALSE(c.timers.Armed(kMinimierungsTimer));
    // The update timer keeps its second and its ticks send nothing.
    EXPECT_EQ(c.timers.ArmedInterval(kUpdateTimer), 1000u);
    EXPECT_TRUE(c.timers.Tick(kUpdateTimer));
    checked = true;
  };
  c.client->Show();
  EXPECT_TRUE(checked);
  EXPECT_TRUE(c.service.requests.empty());
}

TEST(ClientStartTest, ClosingTheFirstStartDialogEndsTheProgram) {
  Client c;
  c.setupView.window.whileModal = [&] { c.setup->Close(); };
  c.client->Show();
  EXPECT_TRUE(c.mainView.closed);
  EXPECT_TRUE(c.service.requests.empty());
}

TEST(ClientStartTest, FirstStartLoginAndSaveStoresTheSettingsAndSendsOneUpdate) {
  Client c;
  c.setupView.window.whileModal = [&] {
    c.setupView.userName = u"anna";
    c.setupView.password = u"a&b \u00F6";
    c.Run([&] { c.setup->LoginClick(); });
    ASSERT_EQ(c.service.requests.size(), 1u);
    EXPECT_EQ(c.service.requests[0],
              u"https://localhost:8080/userhosts.php?user=anna&password=a%26b%20%C3%B6");
    EXPECT_EQ(c.setupView.hostEntries, (std::vector<Text>{u"alpha", u"beta"}));
    EXPECT_TRUE(c.setupView.lowerHalf);
    EXPECT_FALSE(c.setupView.credentialsEnabled);
    EXPECT_TRUE(c.setupView.loginEnabled);

    c.setupView.hostText = u"beta";
    c.setupView.transport = kTransportHttps;
    c.setupView.intervalText = u"10";
    c.Run([&] { c.setup->SpeichernClick(); });
  };
  c.client->Show();

  EXPECT_EQ(c.registry.StoredString(kValueBenutzername), u"anna");
  EXPECT_EQ(c.registry.StoredString(kValueHostname), u"beta");
  EXPECT_EQ(c.registry.StoredString(kValueUpdateart), u"HTTPS");
  EXPECT_EQ(c.registry.StoredString(kValueEinstellungen), u"Ja");
  EXPECT_EQ(c.registry.StoredDword(kValueUpdateIntervall), 10u);
  EXPECT_EQ(c.Updates(), 1u);  // the save's; the main window was already showing
  EXPECT_EQ(c.service.RequestsTo("/update.php")[0],
            u"https://localhost:8080/update.php?user=anna&password=a%26b%20%C3%B6&host=beta");
  EXPECT_TRUE(c.boxes.shown.empty());
  EXPECT_EQ(c.mainView.address, kAddress);
  ASSERT_EQ(c.reporter.reports.size(), 1u);
  EXPECT_EQ(c.reporter.reports[0].first, kUpdateSucceeded);
  EXPECT_EQ(c.timers.ArmedInterval(kUpdateTimer), 600000u);
  EXPECT_TRUE(c.mainView.visible);
  EXPECT_FALSE(c.mainView.closed);

  // A second later the window goes to the tray, once.
  c.tray.present = false;
  EXPECT_TRUE(c.timers.Tick(kMinimierungsTimer));
  EXPECT_FALSE(c.mainView.visible);
  EXPECT_TRUE(c.tray.present);
  EXPECT_FALSE(c.timers.Armed(kMinimierungsTimer));
}

TEST(ClientStartTest, WithSavedSettingsTheWindowComesUpAfterOneUpdate) {
  Client c;
  c.StoreSettings();
  c.client->Show();
  EXPECT_EQ(c.journal, (Journal{"GET http://localhost:8080/update.php?user=anna&password=geheim&host=haus.example.net",
                                "GET http://localhost:8080/ip.php", "report IP-Update erfolgreich",
                                "show main"}));
  EXPECT_EQ(c.client->LastUpdatedIP(), kAddress);
  EXPECT_EQ(c.timers.ArmedInterval(kUpdateTimer), 300000u);
  EXPECT_TRUE(c.timers.Armed(kMinimierungsTimer));
}

TEST(ClientStartTest, AFailedUpdateAtStartShowsTheErrorAndTheWindowAllTheSame) {
  Client c;
  c.StoreSettings();
  c.service.answers["/update.php"].failure = u"HTTP/1.1 500 Internal Server Error";
  c.client->Show();
  ASSERT_EQ(c.boxes.shown.size(), 1u);
  EXPECT_EQ(c.boxes.shown[0].caption, u"Korvex");
  EXPECT_EQ(c.boxes.shown[0].text, u"HTTP/1.1 500 Internal Server Error.");
  EXPECT_TRUE(c.mainView.visible);
  EXPECT_EQ(c.client->LastUpdatedIP(), u"");
  EXPECT_EQ(c.Lookups(), 0u);
  EXPECT_TRUE(c.reporter.reports.empty());
}

struct TickCase {
  const char* name;
  Text lookupBody;
  Text lookupFailure;
  std::size_t updates;  // sent by the tick
  Text lastUpdatedAfter;
};

TEST(ClientTimerTest, ATickLooksUpAndUpdatesOnlyWhenTheAddressChanged) {
  const TickCase kCases[] = {
      {"same address", kAddress, u"", 0, kAddress},
      {"lookup failed", u"", u"Socket-Fehler # 10061", 0, kAddress},
      {"empty answer", u"", u"", 0, kAddress},
      {"new address", u"198.51.100.1", u"", 1, u"198.51.100.1"},
  };
  for (const TickCase& t : kCases) {
    SCOPED_TRACE(t.name);
    Client c;
    c.StoreSettings();
    c.client->Show();
    ASSERT_EQ(c.Updates(), 1u);
    c.service.answers["/ip.php"] = {t.lookupBody, t.lookupFailure};
    EXPECT_TRUE(c.timers.Tick(kUpdateTimer));
    EXPECT_EQ(c.Updates(), 1 + t.updates);
    EXPECT_EQ(c.client->LastUpdatedIP(), t.lastUpdatedAfter);
    EXPECT_TRUE(c.boxes.shown.empty());
  }
}

TEST(ClientTimerTest, AFailedUpdateFromATickKeepsTheLastAddressSoTheNextTickTriesAgain) {
  Client c;
  c.StoreSettings();
  c.client->Show();
  c.service.answers["/ip.php"].body = u"198.51.100.1";
  c.service.answers["/update.php"].failure = u"HTTP/1.1 503 Service Unavailable";
  c.timers.Tick(kUpdateTimer);
  ASSERT_EQ(c.boxes.shown.size(), 1u);
  EXPECT_EQ(c.boxes.shown[0].text, u"HTTP/1.1 503 Service Unavailable.");
  EXPECT_EQ(c.client->LastUpdatedIP(), kAddress);
  c.service.answers["/update.php"].failure.clear();
  c.timers.Tick(kUpdateTimer);
  EXPECT_EQ(c.Updates(), 3u);
  EXPECT_EQ(c.client->LastUpdatedIP(), u"198.51.100.1");
}

TEST(ClientTimerTest, AChangedServiceAddressTakesEffectAtTheNextRead) {
  Client c;
  c.StoreSettings();
  c.client->Show();
  c.registry.SetString(kValueServeradresse, u"localhost:9443");
  c.timers.Tick(kUpdateTimer);
  EXPECT_EQ(c.service.requests.back(), u"http://localhost:9443/ip.php");
  c.Run([&] { c.client->Optionen1Click(); });
  c.setup->LoginClick();
  EXPECT_EQ(c.service.requests.back().substr(0, 37), u"https://localhost:9443/userhosts.php?");
}

TEST(ClientTimerTest, AForcedUpdateLooksUpThenUpdatesAndLeavesTheLastAddressToTheTimer) {
  Client c;
  c.StoreSettings();
  c.client->Show();
  c.service.answers["/ip.php"].body = u"198.51.100.1";
  c.journal.clear();
  c.Run([&] { c.client->Updateerzwingen1Click(); });
  EXPECT_EQ(c.journal, (Journal{"GET http://localhost:8080/ip.php",
                                "GET http://localhost:8080/update.php?user=anna&password=geheim&host=haus.example.net",
                                "GET http://localhost:8080/ip.php", "report IP-Update erfolgreich"}));
  EXPECT_EQ(c.client->LastUpdatedIP(), kAddress);
  EXPECT_EQ(c.mainView.address, u"198.51.100.1");
}

// The window in the tray and back: hiding by the timer or a minimise, restoring by a double-click
// or "Programm öffnen", and the tray click's report.
struct TrayClient : Client {
  TrayClient() {
    StoreSettings();
    client->Show();  // start-up: shown, icon present, the hide timer armed
  }
};

TEST(ClientTrayTest, TheTimerHidesAndADoubleClickRestoresWithAnUpdate) {
  TrayClient c;
  ASSERT_TRUE(c.timers.Tick(kMinimierungsTimer));
  EXPECT_FALSE(c.mainView.visible);
  EXPECT_TRUE(c.tray.present);
  c.mainView.commands.clear();
  c.Run([&] { c.client->TrayIconDblClick(); });
  EXPECT_EQ(c.Updates(), 2u);  // showing a hidden window runs FormShow
  EXPECT_EQ(c.mainView.commands,
            (std::vector<ShowCommand>{ShowCommand::kShowMinNoActivate, ShowCommand::kShowNormal}));
  EXPECT_FALSE(c.tray.present);
  EXPECT_EQ(c.journal.back(), "main to front");

  c.client->EreignisseMinimize();
  EXPECT_FALSE(c.mainView.visible);
  EXPECT_TRUE(c.tray.present);
}

TEST(ClientTrayTest, DuringStartUpADoubleClickStillHidesAtTheTickButTheMenuItemCancels) {
  {
    TrayClient c;
    c.Run([&] { c.client->TrayIconDblClick(); });
    EXPECT_EQ(c.Updates(), 1u);  // the window was visible: no second FormShow
    EXPECT_FALSE(c.tray.present);
    EXPECT_TRUE(c.timers.Tick(kMinimierungsTimer));
    EXPECT_FALSE(c.mainView.visible);
  }
  {
    TrayClient c;
    c.Run([&] { c.client->Programmffnen1Click(); });
    EXPECT_EQ(c.Updates(), 1u);
    EXPECT_FALSE(c.tray.present);
    EXPECT_FALSE(c.timers.Armed(kMinimierungsTimer));
    EXPECT_TRUE(c.mainView.visible);
  }
}

TEST(ClientTrayTest, AnIconThatCannotBeDeletedEndsTheRestoreWithTheError) {
  {
    TrayClient c;
    c.timers.Tick(kMinimierungsTimer);
    c.client->MinimierungsTimer().SetEnabled(true);
    c.tray.failDelete = true;
    c.Run([&] { c.client->Programmffnen1Click(); });
    ASSERT_EQ(c.boxes.shown.size(), 1u);
    EXPECT_EQ(c.boxes.shown[0].text, u"Shell-Benachrichtigungssymbol kann nicht entfernt werden.");
    EXPECT_FALSE(c.mainView.visible);
    EXPECT_TRUE(c.timers.Armed(kMinimierungsTimer));
  }
  {
    TrayClient c;
    c.timers.Tick(kMinimierungsTimer);
    c.tray.failDelete = true;
    c.Run([&] { c.client->TrayIconDblClick(); });
    EXPECT_EQ(c.boxes.shown.size(), 1u);
    EXPECT_TRUE(c.mainView.visible);
    EXPECT_EQ(c.mainView.commands.back(), ShowCommand::kShowMinNoActivate);
  }
}

TEST(ClientTrayTest, AClickLooksTheAddressUpAndReportsItAsTheLookupLeftIt) {
  TrayClient c;
  c.timers.Tick(kMinimierungsTimer);
  const std::size_t lookups = c.Lookups();
  c.service.answers["/ip.php"].body = u"198.51.100.1\n";
  c.Run([&] { c.client->TrayIconClick(); });
  EXPECT_EQ(c.Lookups(), lookups + 1);
  EXPECT_EQ(c.Updates(), 1u);
  EXPECT_EQ(c.reporter.reports.back(),
            std::make_pair(Text(u"Ihre aktuelle IP lautet: 198.51.100.1\n"), Text(u"Aktuelle IP: 198.51.100.1\n")));
  EXPECT_EQ(c.mainView.address, u"198.51.100.1\n");
  EXPECT_FALSE(c.mainView.visible);

  c.service.answers["/ip.php"].failure = u"Socket-Fehler # 10061";
  c.Run([&] { c.client->TrayIconClick(); });
  EXPECT_EQ(c.reporter.reports.back(), std::make_pair(Text(u"Ihre aktuelle IP lautet: "), Text(u"Aktuelle IP: ")));
  EXPECT_EQ(c.mainView.address, u"198.51.100.1\n");  // a failed lookup leaves the label
  EXPECT_TRUE(c.boxes.shown.empty());
}

struct HostListCase {
  const char* name;
  Text answer;
  std::vector<Text> entries;
};

TEST(HostListTest, TheAnswerSplitsAtTheExactTagAndDropsTwoLines) {
  const HostListCase kCases[] = {
      {"two hosts", u"OK<br>2<br>alpha<br>beta<br>", {u"alpha", u"beta"}},
      {"no tag at all", u"abcdef", {}},
      {"capital tags are no breaks", u"OK<BR>2<BR>alpha<BR>", {}},
      {"a slash is no break either", u"OK<br/>2<br>alpha", {}},
      {"empty line inside", u"OK<br>2<br>a<br><br>b", {u"a", u"", u"b"}},
      {"line breaks of the answer count too", u"OK\r\n2\ralpha\nbeta\r\n", {u"alpha", u"beta"}},
  };
  for (const HostListCase& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HostListEntries(c.answer), c.entries);
  }
}

TEST(HostListTest, ShortAnswersAndFailuresLeaveTheDialogAsItWas) {
  struct Case {
    const char* name;
    FakeService::Answer answer;
    std::optional<Text> box;
  };
  const Case kCases[] = {
      {"four characters", {u"OK<b", u""}, Text(kNoHostsMessage)},
      {"error status", {u"", u"HTTP/1.1 500 Internal Server Error"}, Text(kHostListFailedMessage)},
      {"six letters", {u"abcdef", u""}, std::nullopt},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    Client c;
    c.setupView.hostEntries = {u"old"};
    c.service.answers["/userhosts.php"] = k.answer;
    c.setup->LoginClick();
    if (k.box) {
      ASSERT_EQ(c.boxes.shown.size(), 1u);
      EXPECT_EQ(c.boxes.shown[0].caption, kErrorCaption);
      EXPECT_EQ(c.boxes.shown[0].text, *k.box);
      EXPECT_FALSE(c.setupView.lowerHalf);
      EXPECT_TRUE(c.setupView.credentialsEnabled);
      EXPECT_EQ(c.setupView.hostEntries, std::vector<Text>{u"old"});
    } else {
      EXPECT_TRUE(c.boxes.shown.empty());
      EXPECT_TRUE(c.setupView.lowerHalf);
      EXPECT_TRUE(c.setupView.hostEntries.empty());
    }
  }
}

TEST(SetupSaveTest, ABadIntervalWritesNothingAndKeepsTheDialogOpen) {
  Client c;
  c.setupView.window.whileModal = [&] {
    c.setupView.intervalText = u"";
    c.Run([&] { c.setup->SpeichernClick(); });
    EXPECT_TRUE(c.setupView.window.visible);
  };
  c.setupView.window.whileModal = [&, first = c.setupView.window.whileModal] {
    first();
    c.setup->Close();
  };
  c.client->Show();
  ASSERT_EQ(c.boxes.shown.size(), 1u);
  EXPECT_EQ(c.boxes.shown[0].text, u"'' ist kein g\u00FCltiger Integerwert.");
  EXPECT_TRUE(c.registry.writes.empty());
  EXPECT_NE(c.client->Settings().Einstellungen, u"Ja");
  EXPECT_TRUE(c.service.requests.empty());
  EXPECT_TRUE(c.mainView.closed);  // closing without a save still ends the program
}

TEST(SetupSaveTest, AFirstSaveWithoutATransportFailsForWantOfAUrlAndStaysOpen) {
  Client c;
  c.setupView.window.whileModal = [&] {
    c.Run([&] { c.setup->SpeichernClick(); });
    EXPECT_TRUE(c.setupView.window.visible);
    EXPECT_FALSE(c.timers.Armed(kMinimierungsTimer));
    c.setup->Close();
  };
  c.client->Show();
  EXPECT_FALSE(c.registry.Has(kValueUpdateart));
  EXPECT_EQ(c.registry.StoredString(kValueEinstellungen), u"Ja");
  ASSERT_EQ(c.boxes.shown.size(), 1u);
  EXPECT_EQ(c.boxes.shown[0].text, u"Unbekanntes Protokoll.");
  EXPECT_FALSE(c.mainView.closed);  // saved: closing only hides the dialog
  EXPECT_TRUE(c.mainView.visible);
}

TEST(SetupSaveTest, TheConfiguredDialogShowsTheStoredValuesAndKeepsAnUntouchedTransport) {
  Client c;
  c.StoreSettings(u"HTTP", 120);
  c.client->Show();
  c.Run([&] { c.client->Optionen1Click(); });
  EXPECT_TRUE(c.setupView.window.visible);
  EXPECT_FALSE(c.setupView.window.modal);
  EXPECT_TRUE(c.setupView.lowerHalf);
  EXPECT_FALSE(c.setupView.loginEnabled);
  EXPECT_EQ(c.setupView.userName, u"anna");
  EXPECT_EQ(c.setupView.password, u"geheim");
  EXPECT_EQ(c.setupView.hostText, u"haus.example.net");
  EXPECT_EQ(c.setupView.intervalText, u"120");
  EXPECT_EQ(c.setupView.transportText, u"HTTP");
  EXPECT_EQ(c.setupView.TransportSelection(), kTransportNone);

  c.Run([&] { c.setup->SpeichernClick(); });
  EXPECT_TRUE(c.boxes.shown.empty());
  EXPECT_EQ(c.registry.StoredString(kValueUpdateart), u"HTTP");
  EXPECT_EQ(c.registry.StoredDword(kValueUpdateIntervall), 120u);
  EXPECT_FALSE(c.setupView.window.visible);
  EXPECT_FALSE(c.mainView.closed);
}

TEST(SetupSaveTest, SavingWhileTheWindowIsInTheTraySendsTwoUpdates) {
  Client c;
  c.StoreSettings();
  c.client->Show();
  c.timers.Tick(kMinimierungsTimer);
  ASSERT_FALSE(c.mainView.visible);
  c.Run([&] { c.client->Einstellungen1Click(); });  // from the tray menu: modal
  const std::size_t before = c.Updates();
  c.setupView.window.whileModal = [&] { c.Run([&] { c.setup->SpeichernClick(); }); };
  c.Run([&] { c.client->Einstellungen1Click(); });
  EXPECT_EQ(c.Updates(), before + 2);
  EXPECT_TRUE(c.mainView.visible);
  // Hidden in the minimised state, the window comes back that way.
  EXPECT_EQ(c.mainView.commands.back(), ShowCommand::kShowMinNoActivate);
  EXPECT_TRUE(c.timers.Armed(kMinimierungsTimer));
}

TEST(SetupSaveTest, AModalShowingOfAnOpenDialogFailsAndLeavesItOpen) {
  Client c;
  c.StoreSettings();
  c.client->Show();
  c.Run([&] { c.client->Optionen1Click(); });
  c.Run([&] { c.client->Einstellungen1Click(); });
  ASSERT_EQ(c.boxes.shown.size(), 1u);
  EXPECT_EQ(c.boxes.shown[0].text, u"Sichtbares Fenster kann nicht in modales ge\u00E4ndert werden.");
  EXPECT_TRUE(c.setupView.window.visible);
  EXPECT_FALSE(c.setupView.window.modal);
}

TEST(SetupFieldsTest, TheIntervalFieldIsHeldInItsRangeWhenItLosesTheFocus) {
  const std::pair<Text, Text> kCases[] = {
      {u"75", u"60"}, {u"0", u"1"},   {u"-3", u"1"},   {u"+70", u"60"}, {u"30", u"30"},
      {u"", u""},     {u"-", u"-"},   {u"5,5", u"5,5"}, {u"007", u"007"},
      {u"99999999999999999999999", u"60"},
  };
  for (const auto& [typed, shown] : kCases) {
    SCOPED_TRACE(ToUtf8(typed));
    Client c;
    c.setupView.intervalText = typed;
    c.setup->IntervallExit();
    EXPECT_EQ(c.setupView.intervalText, shown);
  }
  EXPECT_TRUE(IntervalAcceptsCharacter(u'7', u','));
  EXPECT_TRUE(IntervalAcceptsCharacter(u',', u','));
  EXPECT_TRUE(IntervalAcceptsCharacter(u'\b', u','));
  EXPECT_FALSE(IntervalAcceptsCharacter(u'.', u','));
  EXPECT_FALSE(IntervalAcceptsCharacter(u'a', u','));
}

// The timers tick inside an open error box. A failure that repeats at every tick is shown once;
// the ticks still run and still send.
TEST(ErrorBoxTest, RepeatedFailuresWhileTheBoxIsOpenOpenNoSecondBox) {
  Client c;
  c.StoreSettings(u"HTTP", 1);
  c.client->Show();
  c.service.answers["/update.php"].failure = u"HTTP/1.1 500 Internal Server Error";
  int address = 0;
  const auto tickWithNewAddress = [&] {
    c.service.answers["/ip.php"].body = u"198.51.100." + ToText(++address);
    c.timers.Tick(kUpdateTimer);
  };
  c.boxes.whileErrorOpen = [&] {
    for (int i = 0; i < 3; ++i) tickWithNewAddress();
  };
  tickWithNewAddress();
  EXPECT_EQ(c.boxes.shown.size(), 1u);
  EXPECT_EQ(c.boxes.mostOpenErrors, 1);
  EXPECT_EQ(c.Updates(), 1u + 4u);
  EXPECT_FALSE(c.errors.BoxOpen());

  // Once it is closed, the next failure has a box again.
  c.boxes.whileErrorOpen = nullptr;
  tickWithNewAddress();
  EXPECT_EQ(c.boxes.shown.size(), 2u);
}

// A start with the show command of a shortcut set to "Minimiert": the minimise handling runs
// before the window is first shown, so it never comes up in normal state.
TEST(ClientStartTest, AMinimisedStartShowsOnlyAMinimisedButtonUntilTheTrayTakesIt) {
  for (const int command : {kStartShowMinNoActivate, kStartMinimize, kStartShowMinimized}) {
    SCOPED_TRACE(command);
    Client c;
    c.StoreSettings();
    c.client->Start(command);
    EXPECT_EQ(c.mainView.commands, std::vector<ShowCommand>{ShowCommand::kShowMinNoActivate});
    EXPECT_TRUE(c.tray.present);
    EXPECT_EQ(c.Updates(), 1u);
    EXPECT_TRUE(c.timers.Tick(kMinimierungsTimer));
    EXPECT_EQ(c.mainView.commands.back(), ShowCommand::kHide);
    EXPECT_FALSE(c.mainView.visible);
  }
  Client normal;
  normal.StoreSettings();
  normal.client->Start(1);  // SW_SHOWNORMAL
  EXPECT_EQ(normal.mainView.commands, std::vector<ShowCommand>{ShowCommand::kShowNormal});
}

TEST(ClientStartTest, TheFirstStartDialogHasATaskbarButtonWhileTheMainWindowIsHidden) {
  Client c;
  bool buttonWhileOpen = false;
  c.setupView.window.whileModal = [&] { buttonWhileOpen = c.setupView.taskbarButton; };
  c.client->Show();
  EXPECT_TRUE(buttonWhileOpen);
  c.setupView.window.visible = false;
  c.mainView.visible = true;
  c.Run([&] { c.client->Optionen1Click(); });
  EXPECT_FALSE(c.setupView.taskbarButton);
}

// A second start of the program hands over to the running one.
TEST(ClientStartTest, ASecondStartShowsTheOpenSetupDialogOrElseTheWindowAsProgrammOeffnen) {
  {
    Client c;  // first start: the setup dialog is open, the main window not yet shown
    c.setupView.window.whileModal = [&] {
      c.journal.clear();
      c.client->ShowForSecondStart();
    };
    c.client->Show();
    EXPECT_EQ(c.journal.front(), "show setup");
    EXPECT_EQ(std::count(c.journal.begin(), c.journal.end(), "show main"), 1);  // after the dialog
  }
  {
    TrayClient c;
    c.timers.Tick(kMinimierungsTimer);
    c.Run([&] { c.client->ShowForSecondStart(); });
    EXPECT_TRUE(c.mainView.visible);
    EXPECT_FALSE(c.tray.present);
    EXPECT_FALSE(c.timers.Armed(kMinimierungsTimer));
    EXPECT_EQ(c.Updates(), 2u);  // shown from hidden: FormShow
    EXPECT_EQ(c.journal.back(), "main to front");
  }
}

TEST(SingleInstanceTest, OnlyTheFirstStartCarriesOnAndALaterOneAsksItToShowWhateverTheAnswer) {
  struct Platform : InstancePlatform {
    bool claimed = false;
    bool taken = false;
    std::vector<std::chrono::milliseconds> asked;
    bool Claim() override { return !claimed; }
    bool AskRunningClientToShow(std::chrono::milliseconds wait) override {
      asked.push_back(wait);
      return taken;
    }
  };
  Platform first;
  EXPECT_EQ(ClaimOrHandOver(first), InstanceRole::kFirst);
  EXPECT_TRUE(first.asked.empty());
  for (const bool taken : {true, false}) {
    SCOPED_TRACE(taken);
    Platform second;
    second.claimed = true;
    second.taken = taken;
    EXPECT_EQ(ClaimOrHandOver(second), InstanceRole::kHandedOver);
    // Long enough for a client busy in a request, whose limits are a minute each.
    ASSERT_EQ(second.asked.size(), 1u);
    EXPECT_GT(second.asked[0], std::chrono::seconds(60));
  }
}

// "Korvex als Dienst" waits up to a minute for each program it starts, with messages flowing; a
// click meanwhile must not start a second command.
TEST(ClientServiceTest, TheServiceItemsAreDisabledWhileACommandWaits) {
  struct WaitingShell : Shell {
    std::function<void()> whileWaiting;
    std::vector<ShellStart> starts;
    bool Start(const ShellStart& start) override {
      starts.push_back(start);
      if (whileWaiting) whileWaiting();
      return true;
    }
  };
  Client c;
  WaitingShell shell;
  ServiceCommands commands(shell, [] { return Text(u"C:\\Korvex"); });
  testing::AnsweringBoxes boxes;
  struct NoFiles : UpdateFileSystem {
    Text CurrentDirectory() override { return u"C:\\Korvex"; }
    bool CreateFolder(const Text&) override { return false; }
    std::unique_ptr<UpdateFile> OpenNewFile(const Text&) override { return nullptr; }
    void RemoveFile(const Text&) override {}
  } files;
  TSoftwareUpdate update({[] { return std::unique_ptr<DownloadClient>(); }, boxes, files, shell,
                          [] { return Text(u"localhost"); }, [] {}});
  c.client->SetCommands(update, commands, 0x1234);
  std::vector<bool> enabledWhileWaiting;
  shell.whileWaiting = [&] {
    enabledWhileWaiting.push_back(c.mainView.serviceCommandsEnabled);
    c.Run([&] { c.client->Installieren1Click(); });
    c.Run([&] { c.client->Deinstallieren1Click(); });
  };
  c.Run([&] { c.client->Installieren1Click(); });
  EXPECT_EQ(shell.starts.size(), 2u);  // the service program, then net: one command
  EXPECT_EQ(enabledWhileWaiting, (std::vector<bool>{false, false}));
  EXPECT_TRUE(c.mainView.serviceCommandsEnabled);

  shell.whileWaiting = [] { throw KorError(u"abgebrochen"); };
  c.Run([&] { c.client->Deinstallieren1Click(); });
  EXPECT_TRUE(c.mainView.serviceCommandsEnabled);  // also after a failure
  shell.whileWaiting = nullptr;
  c.Run([&] { c.client->Installieren1Click(); });
  EXPECT_EQ(shell.starts.size(), 5u);
}

TEST(AboutBoxTest, ShowsModallyAndOkEndsIt) {
  Client c;
  c.aboutView.window.whileModal = [&] { c.about->OKButtonClick(); };
  c.Run([&] { c.client->N3Click(); });
  EXPECT_FALSE(c.aboutView.window.visible);
  EXPECT_EQ(c.journal, (Journal{"modal about", "end about", "modal about returned"}));
}

TEST(ErrorBoxTest, TheTextGetsAFullStopAfterALetterDigitOrQuestionMark) {
  const std::pair<Text, Text> kCases[] = {
      {u"Fehler", u"Fehler."}, {u"Fehler.", u"Fehler."}, {u"Halt!", u"Halt!"},
      {u"(x)", u"(x)"},        {u"'x'", u"'x'"},         {u"\"x\"", u"\"x\""},
      {u"x ", u"x "},          {u"Wer?", u"Wer?."},      {u"# 5", u"# 5."},
      {u"", u""},              {u"Stra\u00DFe", u"Stra\u00DFe."},
  };
  for (const auto& [message, text] : kCases) {
    SCOPED_TRACE(ToUtf8(message));
    EXPECT_EQ(ErrorBoxText(message), text);
  }
}

TEST(ErrorBoxTest, TheTitleIsTheProgramNameAndTheTextTheInnermostMessage) {
  EXPECT_EQ(ApplicationTitle(u"Korvex.exe"), u"Korvex");
  EXPECT_EQ(ApplicationTitle(u"C:\\Program Files\\Korvex\\KORVEX.EXE"), u"Korvex");
  EXPECT_EQ(ApplicationTitle(u"korvex.client.exe"), u"korvex");

  Journal journal;
  FakeBoxes boxes(journal);
  ErrorHandler errors(boxes, u"Korvex");
  errors.Run([] {
    try {
      throw KorError(u"Socket-Fehler # 10061");
    } catch (...) {
      std::throw_with_nested(KorError(u"Update fehlgeschlagen"));
    }
  });
  errors.Run([] {
    try {
      throw KorError(u"");
    } catch (...) {
      std::throw_with_nested(KorError(u"außen"));
    }
  });
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text, u"Socket-Fehler # 10061.");
  EXPECT_EQ(boxes.shown[1].text, u"au\u00DFen.");
}

}  // namespace
}  // namespace korvex
