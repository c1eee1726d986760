#pragma once
// Fakes of everything the client's window logic talks to: the address service behind its HTTP
// clients, the windows, the message boxes, the timers, the tray and the reporter. Each records
// what it saw in one shared journal, so that a test can check the order of what happened.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/client_view.h"
#include "client/message_boxes.h"
#include "client/report.h"
#include "client/setup_view.h"
#include "core/address_client.h"
#include "core/error.h"
#include "core/exchange.h"
#include "core/interval_timer.h"
#include "core/settings.h"

namespace korvex::testing {

// What happened, in order: "GET <url>", "box Fehler: <text>", "show main", "report <body>" ...
using Journal = std::vector<std::string>;

// The address service behind every HTTP client the fakes make. Answers are scripted per path;
// a failure text makes the request throw KorError with it.
struct FakeService {
  struct Answer {
    Text body;
    Text failure;
  };
  std::map<std::string, Answer> answers = {
      {"/ip.php", {u"203.0.113.7", {}}},
      {"/update.php", {u"OK", {}}},
      {"/userhosts.php", {u"OK<br>2<br>alpha<br>beta<br>", {}}},
  };
  std::vector<Text> requests;  // every URL, in order
  Journal* journal = nullptr;

  Text Get(const Text& url);
  // The requests whose path is `path` ("/update.php").
  std::vector<Text> RequestsTo(const std::string& path) const;
};

class FakeServiceClient : public AddressClient {
 public:
  explicit FakeServiceClient(FakeService& service) : service_(service) {}
  Text Get(const Text& url) override { return service_.Get(url); }
  void AttachTls(std::shared_ptr<TlsHandler> handler) override { tls_ = std::move(handler); }
  bool HasTls() const override { return tls_ != nullptr; }

 private:
  FakeService& service_;
  std::shared_ptr<TlsHandler> tls_;
};

AddressExchange::Factories FakeLookupFactories(FakeService& service);

// Timers that tick only when the test says so. Each driver is known by the order of its making.
class ManualTimers {
 public:
  TimerDriverFactory Factory();
  // Runs the tick of the n-th timer made, if it is armed; false when it is not.
  bool Tick(std::size_t n);
  bool Armed(std::size_t n) const;
  std::uint32_t ArmedInterval(std::size_t n) const;

 private:
  struct Slot {
    std::function<void()> onTick;
    bool armed = false;
    std::uint32_t interval = 0;
  };
  class Driver;
  std::vector<std::shared_ptr<Slot>> slots_;
};

class FakeBoxes : public MessageBoxes {
 public:
  explicit FakeBoxes(Journal& journal) : journal_(journal) {}
  void Error(const Text& caption, const Text& text) override;
  void Information(const Text& text) override;
  bool AskInformation(const Text& text) override;

  struct Box {
    Text caption;
    Text text;
  };
  std::vector<Box> shown;
  bool answerYes = true;
  // What the user's program does while an error box is open: its timers keep ticking.
  std::function<void()> whileErrorOpen;
  int openErrors = 0;
  int mostOpenErrors = 0;

 private:
  Journal& journal_;
};

class FakeClientView : public ClientView {
 public:
  explicit FakeClientView(Journal& journal) : journal_(journal) {}
  bool Visible() const override { return visible; }
  void ShowWindow(ShowCommand command) override;
  void BringToTop() override { journal_.push_back("main to top"); }
  void BringApplicationToFront() override { journal_.push_back("main to front"); }
  void SetAddress(const Text& address) override { this->address = address; }
  void Close() override;
  void SetServiceCommandsEnabled(bool enabled) override {
    serviceCommandsEnabled = enabled;
    journal_.push_back(enabled ? "service items on" : "service items off");
  }

  bool visible = false;
  bool closed = false;
  bool serviceCommandsEnabled = true;
  Text address;
  std::vector<ShowCommand> commands;

 private:
  Journal& journal_;
};

// A dialog window: a modal showing runs `whileModal` (what the user does meanwhile) and returns
// when that is done or EndShowing was called.
class FakeDialogWindow {
 public:
  FakeDialogWindow(Journal& journal, std::string name) : journal_(journal), name_(std::move(name)) {}
  bool IsVisible() const { return visible; }
  void DoShow();
  void DoRunModal();
  void DoEndShowing();

  bool visible = false;
  bool modal = false;
  std::function<void()> whileModal;

 private:
  Journal& journal_;
  std::string name_;
};

class FakeAboutView : public DialogView {
 public:
  explicit FakeAboutView(Journal& journal) : window(journal, "about") {}
  bool Visible() const override { return window.IsVisible(); }
  void Show() override { window.DoShow(); }
  void BringToTop() override {}
  void RunModal() override { window.DoRunModal(); }
  void EndShowing() override { window.DoEndShowing(); }
  FakeDialogWindow window;
};

class FakeSetupView : public SetupView {
 public:
  explicit FakeSetupView(Journal& journal) : window(journal, "setup") {}
  bool Visible() const override { return window.IsVisible(); }
  void Show() override { window.DoShow(); }
  void BringToTop() override {}
  void RunModal() override { window.DoRunModal(); }
  void EndShowing() override { window.DoEndShowing(); }

  Text UserName() const override { return userName; }
  void SetUserName(const Text& text) override { userName = text; }
  Text Password() const override { return password; }
  void SetPassword(const Text& text) override { password = text; }
  Text HostText() const override { return hostText; }
  void SetHostText(const Text& text) override { hostText = text; }
  void SetHostEntries(const std::vector<Text>& entries) override { hostEntries = entries; }
  Text IntervalText() const override { return intervalText; }
  void SetIntervalText(const Text& text) override { intervalText = text; }
  void SetTransportText(const Text& text) override {
    transportText = text;
    transport = kTransportNone;
  }
  int TransportSelection() const override { return transport; }
  void ShowLowerHalf() override { lowerHalf = true; }
  void SetCredentialsEnabled(bool enabled) override { credentialsEnabled = enabled; }
  void SetLoginEnabled(bool enabled) override { loginEnabled = enabled; }
  void SetTaskbarButton(bool shown) override { taskbarButton = shown; }

  FakeDialogWindow window;
  // The controls as the dialog creates them.
  Text userName;
  Text password;
  Text hostText = u"---bitte ausw\u00E4hlen---";
  std::vector<Text> hostEntries;
  Text intervalText = u"5";
  Text transportText = u"---bitte ausw\u00E4hlen---";
  int transport = kTransportNone;
  bool lowerHalf = false;
  bool credentialsEnabled = true;
  bool loginEnabled = true;
  bool taskbarButton = false;
};

class FakeReporter : public Reporter {
 public:
  explicit FakeReporter(Journal& journal) : journal_(journal) {}
  void Report(const Text& body, const Text& balloonText) override;
  std::vector<std::pair<Text, Text>> reports;

 private:
  Journal& journal_;
};

class FakeTray : public TrayPresence {
 public:
  // Deleting may fail as the shell's call can; the icon counts as absent all the same.
  void SetPresent(bool present) override {
    this->present = present;
    if (!present && failDelete) throw KorError(u"Shell-Benachrichtigungssymbol kann nicht entfernt werden");
  }
  bool present = true;
  bool failDelete = false;
};

}  // namespace korvex::testing
