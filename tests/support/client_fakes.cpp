#include "tests/support/client_fakes.h"

#include <algorithm>

#include "core/url.h"

namespace korvex::testing {
namespace {

std::string PathOf(const Text& url) {
  const std::string ascii = ToUtf8(url);
  const std::size_t scheme = ascii.find("://");
  const std::size_t path = ascii.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (path == std::string::npos) return "/";
  return ascii.substr(path, ascii.find('?', path) - path);
}

}  // namespace

Text FakeService::Get(const Text& url) {
  requests.push_back(url);
  if (journal != nullptr) journal->push_back("GET " + ToUtf8(url));
  if (url.empty()) throw KorError(kUnknownProtocol);
  const auto answer = answers.find(PathOf(url));
  if (answer == answers.end()) throw KorError(u"HTTP/1.1 404 Not Found");
  if (!answer->second.failure.empty()) throw KorError(answer->second.failure);
  return answer->second.body;
}

std::vector<Text> FakeService::RequestsTo(const std::string& path) const {
  std::vector<Text> matching;
  for (const Text& url : requests) {
    if (PathOf(url) == path) matching.push_back(url);
  }
  return matching;
}

AddressExchange::Factories FakeLookupFactories(FakeService& service) {
  return {[&service] { return std::make_unique<FakeServiceClient>(service); },
          [] { return std::shared_ptr<TlsHandler>(); }};
}

class ManualTimers::Driver : public TimerDriver {
 public:
  explicit Driver(std::shared_ptr<Slot> slot) : slot_(std::move(slot)) {}
  void Arm(std::uint32_t milliseconds) override {
    slot_->armed = true;
    slot_->interval = milliseconds;
  }
  void Disarm() override { slot_->armed = false; }

 private:
  std::shared_ptr<Slot> slot_;
};

TimerDriverFactory ManualTimers::Factory() {
  return [this](std::function<void()> onTick) -> std::unique_ptr<TimerDriver> {
    auto slot = std::make_shared<Slot>();
    slot->onTick = std::move(onTick);
    slots_.push_back(slot);
    return std::make_unique<Driver>(slot);
  };
}

bool ManualTimers::Tick(std::size_t n) {
  if (n >= slots_.size() || !slots_[n]->armed) return false;
  slots_[n]->onTick();
  return true;
}

bool ManualTimers::Armed(std::size_t n) const { return n < slots_.size() && slots_[n]->armed; }

std::uint32_t ManualTimers::ArmedInterval(std::size_t n) const {
  return n < slots_.size() ? slots_[n]->interval : 0;
}

void FakeBoxes::Error(const Text& caption, const Text& text) {
  shown.push_back({caption, text});
  journal_.push_back("box " + ToUtf8(caption) + ": " + ToUtf8(text));
  ++openErrors;
  mostOpenErrors = std::max(mostOpenErrors, openErrors);
  if (whileErrorOpen) whileErrorOpen();
  --openErrors;
}

void FakeBoxes::Information(const Text& text) {
  shown.push_back({kInformationCaption, text});
  journal_.push_back("info: " + ToUtf8(text));
}

bool FakeBoxes::AskInformation(const Text& text) {
  shown.push_back({kInformationCaption, text});
  journal_.push_back("ask: " + ToUtf8(text));
  return answerYes;
}

void FakeClientView::ShowWindow(ShowCommand command) {
  commands.push_back(command);
  visible = command != ShowCommand::kHide;
  journal_.push_back(command == ShowCommand::kHide ? "hide main"
                     : command == ShowCommand::kShowNormal ? "show main"
                                                           : "show main minimised");
}

void FakeClientView::Close() {
  closed = true;
  visible = false;
  journal_.push_back("close main");
}

void FakeDialogWindow::DoShow() {
  visible = true;
  journal_.push_back("show " + name_);
}

void FakeDialogWindow::DoRunModal() {
  visible = true;
  modal = true;
  journal_.push_back("modal " + name_);
  if (whileModal) {
    const std::function<void()> user = std::move(whileModal);
    whileModal = nullptr;
    user();
  }
  modal = false;
  visible = false;
  journal_.push_back("modal " + name_ + " returned");
}

void FakeDialogWindow::DoEndShowing() {
  visible = false;
  journal_.push_back("end " + name_);
}

void FakeReporter::Report(const Text& body, const Text& balloonText) {
  reports.emplace_back(body, balloonText);
  journal_.push_back("report " + ToUtf8(body));
}

}  // namespace korvex::testing
