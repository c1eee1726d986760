#pragma once
// The decisions of the service program as Windows sees it: its command line, its registration,
// its status reports, what each control request does, and the texts it shows or logs. The Win32
// layer (service/win32) only makes the calls.

#include <cstdint>
#include <exception>
#include <functional>
#include <span>

#include "core/error.h"
#include "core/text.h"

namespace korvex {

// The service definition.
inline constexpr char16_t kServiceName[] = u"KorService";
inline constexpr char16_t kDisplayName[] = u"KorvexService";
inline constexpr std::uint32_t kServiceType = 0x110;  // own process, interactive
inline constexpr std::uint32_t kStartType = 2;        // SERVICE_AUTO_START
inline constexpr std::uint32_t kErrorControl = 1;     // SERVICE_ERROR_NORMAL
inline constexpr std::uint32_t kControlsAccepted = 5; // stop and shutdown
inline constexpr std::uint32_t kWaitHint = 5000;

// Service states and control codes, numbered as the service control manager numbers them.
inline constexpr std::uint32_t kStateStopped = 1;
inline constexpr std::uint32_t kStateStartPending = 2;
inline constexpr std::uint32_t kStateStopPending = 3;
inline constexpr std::uint32_t kStateRunning = 4;
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kControlShutdown = 5;

// Texts of the install and remove operations.
inline constexpr char16_t kInformationCaption[] = u"Informationen";
inline constexpr char16_t kErrorCaption[] = u"Fehler";
inline constexpr char16_t kInstalled[] = u"Service erfolgreich installiert";
inline constexpr char16_t kRemoved[] = u"Service erfolgreich deinstalliert";
inline constexpr char16_t kInstallFailed[] = u"Service \"%s\" konnte nicht installiert werden; Fehler: \"%s\"";
inline constexpr char16_t kRemoveFailed[] = u"Service \"%s\" konnte nicht deinstalliert werden; Fehler: \"%s\"";
// A failed operating-system call. Two blanks after the first full stop.
inline constexpr char16_t kSystemErrorPattern[] = u"Systemfehler.  Code: %d.\r\n%s";
inline constexpr char16_t kSystemCallFailed[] = u"Ein Aufruf einer Betriebssystemfunktion ist fehlgeschlagen";
// The box of a failure that nothing handles.
inline constexpr char16_t kApplicationErrorCaption[] = u"Anwendungsfehler";
inline constexpr char16_t kApplicationErrorPattern[] = u"Exception %s in Modul %s bei %s.\r\n%s\r\n";
// Event-log entries of the service's own failures, with the step's word.
inline constexpr char16_t kServiceFailedPattern[] = u"Service fehlgeschlagen bei %s:%s";
inline constexpr char16_t kStepStart[] = u"start";
inline constexpr char16_t kStepExecute[] = u"execute";
inline constexpr char16_t kStepStop[] = u"stop";
inline constexpr char16_t kStepInterrogate[] = u"interrogate";
inline constexpr char16_t kStepShutdown[] = u"shutdown";

struct Switches {
  bool install = false;
  bool uninstall = false;
  bool silent = false;
};
// `arguments` are those after the program path. A switch is "-" or "/" followed by its whole
// name, in any case; anything else is ignored.
Switches ParseSwitches(std::span<const Text> arguments);

enum class HostMode { kInstall, kUninstall, kService };
// INSTALL wins over UNINSTALL.
HostMode ModeOf(const Switches& switches);

// The program's full path, quoted when it holds a blank.
Text BinaryPathName(const Text& programPath);

// The message a failure shows: a KorError's own, the text of any other exception.
Text MessageOf(const std::exception& failure);

// The message of a failed operating-system call with `code`, from the system's own text for it.
Text OsErrorMessage(std::uint32_t code, TextView systemText);
// The "Anwendungsfehler" box text. `address` is shown as eight hexadecimal digits.
Text ApplicationErrorText(TextView kind, TextView moduleName, std::uintptr_t address, TextView message);

struct ServiceStatus {
  std::uint32_t serviceType = kServiceType;
  std::uint32_t currentState = kStateStartPending;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = kWaitHint;
  friend bool operator==(const ServiceStatus&, const ServiceStatus&) = default;
};

// Where failures of a running service are written. `source` is kServiceName or the program
// file's name.
class EventLog {
 public:
  virtual ~EventLog() = default;
  virtual void Error(TextView source, TextView message) = 0;
};

// SetServiceStatus. Returns 0, or the system error code of a failed report.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  virtual std::uint32_t SetStatus(const ServiceStatus& status) = 0;
};

// The system's message text for an error code (FormatMessage on Windows).
Text SystemErrorText(std::uint32_t code);

// Builds each report with the checkpoint rule: a pending state that follows a report of the same
// state counts on from it; everything else carries 0. The first report counts as following a
// start-pending one. A failed report goes to the event log and the service goes on.
class StatusReporter {
 public:
  StatusReporter(StatusSink& sink, EventLog& log) : sink_(sink), log_(log) {}
  void Report(std::uint32_t state);
  std::uint32_t CurrentState() const { return last_.currentState; }

 private:
  StatusSink& sink_;
  EventLog& log_;
  ServiceStatus last_;
};

// The worker thread's decisions: the start handler, and each control request.
class ServiceWorker {
 public:
  ServiceWorker(StatusReporter& status, EventLog& log, std::function<void(bool&)> serviceStart)
      : status_(status), log_(log), serviceStart_(std::move(serviceStart)) {}

  // Reports start pending and runs the start handler; reports running when it succeeded. False
  // when the worker should end at once.
  bool Start();
  // One control request from the service control manager.
  void Control(std::uint32_t code);
  // True once stop or shutdown was requested.
  bool Ending() const { return ending_; }

 private:
  StatusReporter& status_;
  EventLog& log_;
  std::function<void(bool&)> serviceStart_;
  bool ending_ = false;
};

// The service main routine around the worker: start pending, the worker run to its end, stopped.
void RunServiceMain(StatusReporter& status, EventLog& log, const std::function<void()>& runWorker);

// The service control manager, once opened.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // CreateServiceW with the service definition; throws OsError.
  virtual void Create(const Text& binaryPathName) = 0;
  // OpenServiceW and DeleteService; throws OsError.
  virtual void Delete() = 0;
};

// The outcome boxes.
class UserMessages {
 public:
  virtual ~UserMessages() = default;
  virtual void Information(TextView text) = 0;
  virtual void Error(TextView text) = 0;
};

void InstallService(ServiceManager& manager, UserMessages& messages, const Text& programPath, bool silent);
void RemoveService(ServiceManager& manager, UserMessages& messages, bool silent);

}  // namespace korvex
