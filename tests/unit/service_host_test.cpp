// The service program's decisions: its switches, its status reports with their checkpoints, what
// each control request does, and the texts of its boxes and event-log entries.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/error.h"
#include "service/service_host.h"

namespace korvex {
namespace {

TEST(ServiceSwitchesTest, RecognisesWholePrefixedNamesInAnyCase) {
  struct Case {
    std::vector<Text> arguments;
    HostMode mode;
    bool silent;
  };
  const Case kCases[] = {
      {{}, HostMode::kService, false},
      {{u"/INSTALL"}, HostMode::kInstall, false},
      {{u"-install"}, HostMode::kInstall, false},
      {{u"/Install", u"/silent"}, HostMode::kInstall, true},
      {{u"-SILENT", u"/INSTALL"}, HostMode::kInstall, true},
      {{u"-uninstall"}, HostMode::kUninstall, false},
      {{u"/UNINSTALL", u"-Silent"}, HostMode::kUninstall, true},
      {{u"/UNINSTALL", u"/INSTALL"}, HostMode::kInstall, false},  // INSTALL is tested first
      {{u"INSTALL"}, HostMode::kService, false},                   // no prefix
      {{u"/INSTALLX"}, HostMode::kService, false},                 // not the whole name
      {{u"/INSTAL"}, HostMode::kService, false},
      {{u"//INSTALL"}, HostMode::kService, false},
      {{u"/"}, HostMode::kService, false},
      {{u""}, HostMode::kService, false},
      {{u"/SILENT"}, HostMode::kService, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.arguments.empty() ? std::string("(none)") : ToUtf8(c.arguments[0]));
    const Switches switches = ParseSwitches(c.arguments);
    EXPECT_EQ(ModeOf(switches), c.mode);
    EXPECT_EQ(switches.silent, c.silent);
  }
}

TEST(ServiceDefinitionTest, QuotesTheProgramPathOnlyWhenItHoldsABlank) {
  EXPECT_EQ(BinaryPathName(u"C:\\Korvex\\KorvexService.exe"), u"C:\\Korvex\\KorvexService.exe");
  EXPECT_EQ(BinaryPathName(u"C:\\Program Files\\Korvex\\KorvexService.exe"),
            u"\"C:\\Program Files\\Korvex\\KorvexService.exe\"");
}

TEST(ServiceMessagesTest, OsErrorMessageKeepsTwoBlanksAndTrimsTheSystemText) {
  struct Case {
    std::uint32_t code;
    const char16_t* systemText;
    const char16_t* message;
  };
  constexpr Case kCases[] = {
      {1073, u"Der angegebene Dienst ist bereits vorhanden.\r\n",
       u"Systemfehler.  Code: 1073.\r\nDer angegebene Dienst ist bereits vorhanden"},
      {5, u"Access denied. . \r\n\r\n", u"Systemfehler.  Code: 5.\r\nAccess denied"},
      {1060, u"No such service", u"Systemfehler.  Code: 1060.\r\nNo such service"},
      {87, u"", u"Systemfehler.  Code: 87.\r\n"},
      {0, u"The operation completed successfully.\r\n", u"Ein Aufruf einer Betriebssystemfunktion ist fehlgeschlagen"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(OsErrorMessage(c.code, c.systemText), c.message);
  }
}

TEST(ServiceMessagesTest, ApplicationErrorTextEndsTheMessageWithOneFullStop) {
  EXPECT_EQ(ApplicationErrorText(u"EOSError", u"KorvexService.exe", 0x4A3F1C,
                                 u"Systemfehler.  Code: 5.\r\nZugriff verweigert"),
            u"Exception EOSError in Modul KorvexService.exe bei 004A3F1C.\r\n"
            u"Systemfehler.  Code: 5.\r\nZugriff verweigert.\r\n");
  EXPECT_EQ(ApplicationErrorText(u"EOSError", u"KorvexService.exe", 0xDEADBEEF, u"Schon zu Ende."),
            u"Exception EOSError in Modul KorvexService.exe bei DEADBEEF.\r\nSchon zu Ende.\r\n");
}

// What the service control manager and the event log were told, in order.
struct Recorder : StatusSink, EventLog {
  std::uint32_t SetStatus(const ServiceStatus& status) override {
    reports.push_back(status);
    return failNextReports > 0 ? (--failNextReports, 6u) : 0u;
  }
  void Error(TextView source, TextView message) override { entries.emplace_back(source, message); }

  std::vector<ServiceStatus> reports;
  std::vector<std::pair<Text, Text>> entries;
  int failNextReports = 0;
};

struct Report {
  std::uint32_t state;
  std::uint32_t checkPoint;
};

void ExpectReports(const std::vector<ServiceStatus>& actual, const std::vector<Report>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    ServiceStatus want;
    want.currentState = expected[i].state;
    want.checkPoint = expected[i].checkPoint;
    want.controlsAccepted = expected[i].state == kStateStartPending ? 0 : 5;
    EXPECT_EQ(actual[i], want);  // type 0x110, exit codes 0 and wait hint 5000 included
  }
}

TEST(ServiceStatusTest, ReportSequencesOfTheServiceLife) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> controls;  // delivered to the worker in order
    bool startFails;
    std::vector<Report> reports;
  };
  const Case kCases[] = {
      {"start then stop", {kControlStop}, false,
       {{kStateStartPending, 1}, {kStateStartPending, 2}, {kStateRunning, 0}, {kStateStopPending, 0}, {kStateStopped, 0}}},
      {"shutdown", {kControlShutdown}, false,
       {{kStateStartPending, 1}, {kStateStartPending, 2}, {kStateRunning, 0}, {kStateStopPending, 0}, {kStateStopped, 0}}},
      {"interrogate repeats running", {kControlInterrogate, kControlInterrogate, kControlStop}, false,
       {{kStateStartPending, 1}, {kStateStartPending, 2}, {kStateRunning, 0}, {kStateRunning, 0},
        {kStateRunning, 0}, {kStateStopPending, 0}, {kStateStopped, 0}}},
      {"user codes are ignored", {128, 200, 255, 2, 3, kControlStop}, false,
       {{kStateStartPending, 1}, {kStateStartPending, 2}, {kStateRunning, 0}, {kStateStopPending, 0}, {kStateStopped, 0}}},
      {"failed start", {}, true, {{kStateStartPending, 1}, {kStateStartPending, 2}, {kStateStopped, 0}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Recorder recorder;
    StatusReporter status(recorder, recorder);
    RunServiceMain(status, recorder, [&] {
      ServiceWorker worker(status, recorder, [&](bool&) {
        if (c.startFails) throw KorError(u"Nicht genügend Timer verfügbar");
      });
      if (!worker.Start()) return;
      for (std::uint32_t code : c.controls) {
        ASSERT_FALSE(worker.Ending());
        worker.Control(code);
      }
      EXPECT_TRUE(worker.Ending());
    });
    ExpectReports(recorder.reports, c.reports);
    if (c.startFails) {
      EXPECT_EQ(recorder.entries,
                (std::vector<std::pair<Text, Text>>{{u"KorService", u"Service fehlgeschlagen bei start:Nicht genügend Timer verfügbar"}}));
    } else {
      EXPECT_TRUE(recorder.entries.empty());
    }
  }
}

TEST(ServiceStatusTest, StartHandlerThatClearsStartedEndsWithoutRunning) {
  Recorder recorder;
  StatusReporter status(recorder, recorder);
  ServiceWorker worker(status, recorder, [](bool& started) { started = false; });
  EXPECT_FALSE(worker.Start());
  ExpectReports(recorder.reports, {{kStateStartPending, 1}});
}

TEST(ServiceStatusTest, FailedReportIsLoggedAndTheServiceGoesOn) {
  Recorder recorder;
  recorder.failNextReports = 1;
  StatusReporter status(recorder, recorder);
  ServiceWorker worker(status, recorder, [](bool&) {});
  status.Report(kStateStartPending);
  EXPECT_TRUE(worker.Start());
  ExpectReports(recorder.reports, {{kStateStartPending, 1}, {kStateStartPending, 2}, {kStateRunning, 0}});
  EXPECT_EQ(recorder.entries, (std::vector<std::pair<Text, Text>>{{u"KorService", SystemErrorText(6)}}));
}

TEST(ServiceStatusTest, FailureOfTheWorkerIsLoggedAsExecuteAndStillReportsStopped) {
  Recorder recorder;
  StatusReporter status(recorder, recorder);
  RunServiceMain(status, recorder, [] { throw OsError(u"Systemfehler.  Code: 8.\r\nZu wenig Speicher", 8); });
  ExpectReports(recorder.reports, {{kStateStartPending, 1}, {kStateStopped, 0}});
  EXPECT_EQ(recorder.entries, (std::vector<std::pair<Text, Text>>{
                                  {u"KorService", u"Service fehlgeschlagen bei execute:Systemfehler.  Code: 8.\r\nZu wenig Speicher"}}));
}

// The service control manager for install and remove, and the boxes the user saw.
struct FakeManager : ServiceManager, UserMessages {
  void Create(const Text& binaryPathName) override {
    created = binaryPathName;
    if (failCode) throw OsError(OsErrorMessage(failCode, u"Dienst vorhanden"), failCode);
  }
  void Delete() override {
    if (failCode) throw OsError(OsErrorMessage(failCode, u"Dienst fehlt"), failCode);
  }
  void Information(TextView text) override { boxes.emplace_back(u"info", text); }
  void Error(TextView text) override { boxes.emplace_back(u"error", text); }

  std::uint32_t failCode = 0;
  Text created;
  std::vector<std::pair<Text, Text>> boxes;
};

TEST(ServiceInstallTest, OutcomeBoxesOfInstallAndRemove) {
  using Boxes = std::vector<std::pair<Text, Text>>;
  struct Case {
    const char* name;
    bool install;
    bool silent;
    std::uint32_t failCode;
    Boxes boxes;
  };
  const Case kCases[] = {
      {"install", true, false, 0, {{u"info", u"Service erfolgreich installiert"}}},
      {"silent install", true, true, 0, {}},
      {"install again", true, false, 1073,
       {{u"error", u"Service \"KorvexService\" konnte nicht installiert werden; Fehler: \"Systemfehler.  Code: 1073.\r\nDienst vorhanden\""}}},
      {"silent install again shows the failure", true, true, 1073,
       {{u"error", u"Service \"KorvexService\" konnte nicht installiert werden; Fehler: \"Systemfehler.  Code: 1073.\r\nDienst vorhanden\""}}},
      {"remove", false, false, 0, {{u"info", u"Service erfolgreich deinstalliert"}}},
      {"silent remove", false, true, 0, {}},
      {"remove what is not there", false, true, 1060,
       {{u"error", u"Service \"KorvexService\" konnte nicht deinstalliert werden; Fehler: \"Systemfehler.  Code: 1060.\r\nDienst fehlt\""}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeManager manager;
    manager.failCode = c.failCode;
    if (c.install) {
      InstallService(manager, manager, u"C:\\Program Files\\Korvex\\KorvexService.exe", c.silent);
      EXPECT_EQ(manager.created, u"\"C:\\Program Files\\Korvex\\KorvexService.exe\"");
    } else {
      RemoveService(manager, manager, c.silent);
    }
    EXPECT_EQ(manager.boxes, c.boxes);
  }
}

}  // namespace
}  // namespace korvex
