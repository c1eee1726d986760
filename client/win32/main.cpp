// Korvex.exe: creates the main window with its timers and HTTP clients, then the setup dialog and
// the about box, shows the main window and runs the message loop until the main window closes.
#include "core/win32/windows_api.h"  // before <commctrl.h>, which needs <windows.h>

#include <commctrl.h>

#include <memory>
#include <vector>

#include "client/about_box.h"
#include "client/client.h"
#include "client/error_handler.h"
#include "client/setup_form.h"
#include "client/win32/about_window.h"
#include "client/win32/client_window.h"
#include "client/win32/setup_window.h"
#include "client/win32/system_message_boxes.h"
#include "core/error.h"
#include "core/http_client.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/stream.h"
#include "core/tls.h"

namespace korvex::win32 {
namespace {

// Until the tray icon and the notifications are there, hiding to the tray only hides the window
// and outcomes are not reported.
class NoTray : public TrayPresence {
 public:
  void SetPresent(bool) override {}
};

class NoReporter : public Reporter {
 public:
  void Report(const Text&, const Text&) override {}
};

Text ProgramPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return u"Korvex.exe";
    if (length < buffer.size()) return FromW(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

int RunClient() {
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
  ::InitCommonControlsEx(&controls);

  SystemMessageBoxes boxes;
  ErrorHandler errors(boxes, ApplicationTitle(ProgramPath()));
  try {
    const std::unique_ptr<Registry> registry = MakeSystemRegistry();
    const std::unique_ptr<Connector> connector = MakeSystemConnector();
    Connector& sockets = *connector;
    const Text serviceHost = ReadServiceHost(*registry);
    NoTray tray;
    NoReporter reporter;

    ClientWindow clientWindow(errors);
    TClient client(TClient::Parts{
        clientWindow,
        errors,
        *registry,
        [&clientWindow](std::function<void()> onTick) { return clientWindow.MakeTimerDriver(std::move(onTick)); },
        std::make_unique<HttpClient>(sockets, kClientUserAgent),
        {[&sockets] { return std::make_unique<HttpClient>(sockets, kLibraryUserAgent); },
         [] { return std::shared_ptr<TlsHandler>(MakeTlsHandler()); }},
        serviceHost,
        reporter,
        tray});
    clientWindow.Attach(client);

    SetupWindow setupWindow(clientWindow.Handle(), errors);
    auto setupHttp = std::make_unique<HttpClient>(sockets, kLibraryUserAgent);
    setupHttp->AttachTls(std::shared_ptr<TlsHandler>(MakeTlsHandler()));
    TSetupForm setupForm(TSetupForm::Parts{setupWindow, boxes, *registry, std::move(setupHttp), serviceHost}, client);
    setupWindow.Attach(setupForm);

    AboutWindow aboutWindow(clientWindow.Handle(), errors);
    TAboutBox aboutBox(aboutWindow);
    aboutWindow.Attach(aboutBox);

    client.SetDialogs(setupForm, aboutBox);
    errors.Run([&client] { client.Show(); });
    return RunMessageLoop();
  } catch (const std::exception& failure) {
    errors.Show(failure);
    return 1;
  }
}

}  // namespace
}  // namespace korvex::win32

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return korvex::win32::RunClient(); }
