#include "service/win32/service_program.h"

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "core/win32/windows_api.h"  // before <shellapi.h>, which needs <windows.h>

#include <shellapi.h>

#include "core/http_client.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/stream.h"
#include "core/tls.h"
#include "core/win32/network_watch.h"
#include "service/kor_service.h"
#include "service/service_host.h"
#include "service/win32/app_window.h"
#include "service/win32/os_error.h"

namespace korvex::win32 {
namespace {

// The numbers service_host.h copies, so that its portable decisions need no <winsvc.h>.
static_assert(kServiceType == (SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
static_assert(kStartType == SERVICE_AUTO_START && kErrorControl == SERVICE_ERROR_NORMAL);
static_assert(kControlsAccepted == (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
static_assert(kStateStopped == SERVICE_STOPPED && kStateStartPending == SERVICE_START_PENDING &&
              kStateStopPending == SERVICE_STOP_PENDING && kStateRunning == SERVICE_RUNNING);
static_assert(kControlStop == SERVICE_CONTROL_STOP && kControlInterrogate == SERVICE_CONTROL_INTERROGATE &&
              kControlShutdown == SERVICE_CONTROL_SHUTDOWN);

// The worker thread's message for a control code (wParam).
constexpr UINT kControlMessage = WM_USER + 1;

// The Windows event log, one registered source per name, registered on first use.
class EventLogWriter : public EventLog {
 public:
  explicit EventLogWriter(Text programName) : sources_{{Text(kServiceName), {}, nullptr}, {std::move(programName), {}, nullptr}} {}
  ~EventLogWriter() override {
    for (Source& source : sources_) {
      if (source.handle != nullptr) ::DeregisterEventSource(source.handle);
    }
  }
  void Error(TextView sourceName, TextView message) override {
    for (Source& source : sources_) {
      if (source.name != sourceName) continue;
      std::call_once(source.registered, [&] { source.handle = ::RegisterEventSourceW(nullptr, W(source.name)); });
      if (source.handle == nullptr) return;
      const Text text(message);
      const wchar_t* strings[] = {W(text)};
      ::ReportEventW(source.handle, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
      return;
    }
  }
  const Text& ProgramName() const { return sources_[1].name; }

 private:
  struct Source {
    Text name;
    std::once_flag registered;
    HANDLE handle;
  };
  Source sources_[2];
};

class MessageBoxes : public UserMessages {
 public:
  void Information(TextView text) override { Show(text, kInformationCaption, MB_ICONINFORMATION); }
  void Error(TextView text) override { Show(text, kErrorCaption, MB_ICONERROR); }

  static void Show(TextView text, const Text& caption, UINT icon) {
    const Text body(text);
    ::MessageBoxW(nullptr, W(body), W(caption), MB_OK | icon | MB_TASKMODAL | MB_SETFOREGROUND);
  }
};

// The service control manager, open for as long as the object lives.
class ScmManager : public ServiceManager {
 public:
  ScmManager() : scm_(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
    if (!scm_) ThrowLastSystemError();
  }
  void Create(const Text& binaryPathName) override {
    ScopedScHandle service(::CreateServiceW(scm_.Get(), W(kServiceName), W(kDisplayName), SERVICE_ALL_ACCESS,
                                            kServiceType, kStartType, kErrorControl, W(binaryPathName),
                                            nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) ThrowLastSystemError();
  }
  void Delete() override {
    ScopedScHandle service(::OpenServiceW(scm_.Get(), W(kServiceName), SERVICE_ALL_ACCESS));
    if (!service) ThrowLastSystemError();
    if (!::DeleteService(service.Get())) ThrowLastSystemError();
  }

 private:
  ScopedScHandle scm_;
};

class ServiceStatusSink : public StatusSink {
 public:
  explicit ServiceStatusSink(SERVICE_STATUS_HANDLE handle) : handle_(handle) {}
  std::uint32_t SetStatus(const ServiceStatus& status) override {
    SERVICE_STATUS report{};
    report.dwServiceType = status.serviceType;
    report.dwCurrentState = status.currentState;
    report.dwControlsAccepted = status.controlsAccepted;
    report.dwWin32ExitCode = status.win32ExitCode;
    report.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    report.dwCheckPoint = status.checkPoint;
    report.dwWaitHint = status.waitHint;
    return ::SetServiceStatus(handle_, &report) ? 0 : ::GetLastError();
  }

 private:
  SERVICE_STATUS_HANDLE handle_;
};

// What the SCM's callbacks, which carry no context, need: the one service of the process.
struct ServiceHost {
  TKorService& module;
  EventLogWriter& log;
  AppWindow& window;
  std::atomic<DWORD> workerThreadId{0};
  std::vector<Text> startArguments;
};
ServiceHost* g_host = nullptr;

struct WorkerContext {
  ServiceHost& host;
  StatusReporter& status;
};

void HandleWorkerMessage(ServiceWorker& worker, const MSG& message) {
  if (message.hwnd == nullptr && message.message == kControlMessage) {
    worker.Control(static_cast<std::uint32_t>(message.wParam));
    return;
  }
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

DWORD WINAPI WorkerThread(void* parameter) {
  auto& context = *static_cast<WorkerContext*>(parameter);
  MSG message;
  ::PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue
  try {
    ServiceWorker worker(context.status, context.host.log,
                         [&](bool& started) { context.host.module.ServiceStart(started); });
    if (!worker.Start()) return 0;
    context.host.window.PostRunning();
    while (!worker.Ending()) {
      if (::GetMessageW(&message, nullptr, 0, 0) <= 0) return 0;
      HandleWorkerMessage(worker, message);
    }
    // Before the stop reaches the main loop: a change that arrives now does nothing.
    context.host.window.PostStopping();
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) HandleWorkerMessage(worker, message);
  } catch (const std::exception& failure) {
    context.host.log.Error(kServiceName, Format(kServiceFailedPattern, {kStepExecute, MessageOf(failure)}));
  }
  return 0;
}

}  // namespace

// The control entry: hands the code to the service's worker thread.
void WINAPI GetServiceController(DWORD control) {
  if (g_host == nullptr) return;
  if (const DWORD worker = g_host->workerThreadId.load(); worker != 0) {
    ::PostThreadMessageW(worker, kControlMessage, control, 0);
  }
}

namespace {

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  ServiceHost& host = *g_host;
  if (argc < 1 || ::CompareStringOrdinal(argv[0], -1, W(kServiceName), -1, TRUE) != CSTR_EQUAL) return;
  host.startArguments.clear();
  for (DWORD i = 0; i < argc; ++i) host.startArguments.push_back(FromW(argv[i]));
  const SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerW(W(kServiceName), &GetServiceController);
  if (handle == nullptr) {
    host.log.Error(kServiceName, SystemErrorText(::GetLastError()));
    return;
  }
  ServiceStatusSink sink(handle);
  StatusReporter status(sink, host.log);
  RunServiceMain(status, host.log, [&] {
    WorkerContext context{host, status};
    DWORD id = 0;
    // Suspended until its id is known, so that no control request can miss it.
    ScopedKernelHandle worker(::CreateThread(nullptr, 0, &WorkerThread, &context, CREATE_SUSPENDED, &id));
    if (!worker) ThrowLastSystemError();
    host.workerThreadId = id;
    ::ResumeThread(worker.Get());
    ::WaitForSingleObject(worker.Get(), INFINITE);
    host.workerThreadId = 0;
  });
}

struct DispatcherContext {
  DWORD mainThreadId;
  DWORD error = 0;
};

DWORD WINAPI DispatcherThread(void* parameter) {
  auto& context = *static_cast<DispatcherContext*>(parameter);
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(W(kServiceName)), &ServiceMain}, {nullptr, nullptr}};
  if (!::StartServiceCtrlDispatcherW(table)) context.error = ::GetLastError();
  ::PostThreadMessageW(context.mainThreadId, WM_QUIT, 0, 0);
  return 0;
}

void RunServiceMode(AppWindow& window, TKorService& module, EventLogWriter& log) {
  window.SetErrorHandler([&](const std::exception& failure) { log.Error(log.ProgramName(), MessageOf(failure)); });
  ServiceHost host{module, log, window, {}, {}};
  g_host = &host;
  // Registered once the service runs, on this thread, whose loop waits on it; unregistered when
  // the stop begins, and in any case before the module goes.
  AddressChangeWatch watch([&module] { module.NetworkChanged(); });
  const auto reportFailure = [&log](const std::exception& failure) { log.Error(kServiceName, MessageOf(failure)); };
  window.SetServiceHooks(
      [&watch, &reportFailure] {
        try {
          watch.Start();
        } catch (const std::exception& failure) {
          reportFailure(failure);  // the service goes on with its ticks alone
        }
      },
      [&watch, &module] {
        watch.Stop();
        module.StopNetworkRun();
      });
  DispatcherContext context{::GetCurrentThreadId()};
  ScopedKernelHandle dispatcher(::CreateThread(nullptr, 0, &DispatcherThread, &context, 0, nullptr));
  if (!dispatcher) ThrowLastSystemError();
  RunMessageLoop(
      watch,
      [](MSG& message) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      },
      reportFailure);
  watch.Stop();
  module.StopNetworkRun();
  window.SetServiceHooks({}, {});
  ::WaitForSingleObject(dispatcher.Get(), INFINITE);
  if (context.error != 0) log.Error(log.ProgramName(), SystemErrorText(context.error));
  g_host = nullptr;
}

Text ProgramPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) ThrowLastSystemError();
    if (length < buffer.size()) return FromW(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<Text> Arguments() {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<Text> arguments;
  for (int i = 1; argv != nullptr && i < count; ++i) arguments.push_back(FromW(argv[i]));
  if (argv != nullptr) ::LocalFree(argv);
  return arguments;
}

}  // namespace

int RunServiceProgram() {
  Text programName = u"KorvexService.exe";
  try {
    const Text programPath = ProgramPath();
    programName = programPath.substr(programPath.find_last_of(u"\\/") + 1);
    const std::vector<Text> arguments = Arguments();
    const Switches switches = ParseSwitches(arguments);

    AppWindow window;
    const std::unique_ptr<Registry> registry = MakeSystemRegistry();
    const std::unique_ptr<Connector> connector = MakeSystemConnector();
    const std::unique_ptr<FileSystem> files = MakeSystemFileSystem();
    const std::unique_ptr<Clock> clock = MakeSystemClock();
    Connector& sockets = *connector;
    TKorService module(TKorService::Parts{
        *registry,
        [&](std::function<void()> onTick) { return window.MakeTimerDriver(std::move(onTick)); },
        std::make_unique<HttpClient>(sockets, kLibraryUserAgent),
        std::shared_ptr<TlsHandler>(MakeTlsHandler()),
        {[&sockets] { return std::make_unique<HttpClient>(sockets, kLibraryUserAgent); },
         [] { return std::shared_ptr<TlsHandler>(MakeTlsHandler()); }},
        *files,
        *clock,
        // A timer that cannot be armed at a tick goes where the main loop's failures go.
        [&window](const KorError& failure) { window.ReportError(failure); }});

    switch (ModeOf(switches)) {
      case HostMode::kInstall: {
        ScmManager manager;
        MessageBoxes boxes;
        InstallService(manager, boxes, programPath, switches.silent);
        break;
      }
      case HostMode::kUninstall: {
        ScmManager manager;
        MessageBoxes boxes;
        RemoveService(manager, boxes, switches.silent);
        break;
      }
      case HostMode::kService: {
        EventLogWriter log(programName);
        RunServiceMode(window, module, log);
        break;
      }
    }
    return 0;
  } catch (const std::exception& failure) {
    const auto* error = dynamic_cast<const KorError*>(&failure);
    const auto* call = dynamic_cast<const SystemCallError*>(&failure);
    const std::uintptr_t address = call != nullptr ? call->Address() : reinterpret_cast<std::uintptr_t>(&RunServiceProgram);
    const Text kind = FromAscii(error != nullptr ? error->Kind() : "Exception");
    MessageBoxes::Show(ApplicationErrorText(kind, programName, address, MessageOf(failure)),
                       kApplicationErrorCaption, MB_ICONSTOP);
    return 1;
  }
}

}  // namespace korvex::win32
