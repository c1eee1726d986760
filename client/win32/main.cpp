// Korvex.exe: creates the main window with its timers and HTTP clients, then the setup dialog and
// the about box, shows the main window and runs the message loop until the main window closes.
#include "core/win32/windows_api.h"  // before <commctrl.h>, which needs <windows.h>

#include <commctrl.h>

#include <memory>
#include <vector>

#include "client/about_box.h"
#include "client/client.h"
#include "client/error_handler.h"
#include "client/notification_centre.h"
#include "client/service_commands.h"
#include "client/setup_form.h"
#include "client/shell.h"
#include "client/single_instance.h"
#include "client/software_update.h"
#include "client/tray_icon.h"
#include "client/tray_report.h"
#include "client/win32/about_window.h"
#include "client/win32/client_window.h"
#include "client/win32/notify_icon_window.h"
#include "client/win32/resource.h"
#include "client/win32/setup_window.h"
#include "client/win32/system_message_boxes.h"
#include "client/win32/toast_platform.h"
#include "core/error.h"
#include "core/http_client.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/stream.h"
#include "core/tls.h"
#include "core/win32/network_watch.h"

namespace korvex::win32 {
namespace {

// The tray icon as the main window hides to it and restores from it.
class TrayIconPresence : public TrayPresence {
 public:
  explicit TrayIconPresence(TTrayIcon& icon) : icon_(icon) {}
  void SetPresent(bool present) override { icon_.SetPresent(present); }

 private:
  TTrayIcon& icon_;
};

// The tray menu "Popup" of the resources, destroyed with the program.
class PopupMenu {
 public:
  PopupMenu() : menu_(::LoadMenuW(::GetModuleHandleW(nullptr), L"POPUP")) {}
  ~PopupMenu() {
    if (menu_ != nullptr) ::DestroyMenu(menu_);
  }
  PopupMenu(const PopupMenu&) = delete;
  PopupMenu& operator=(const PopupMenu&) = delete;
  HMENU Items() const { return menu_ != nullptr ? ::GetSubMenu(menu_, 0) : nullptr; }

 private:
  HMENU menu_;
};

// The program icon at the size of the notification area, where its simpler small image reads
// better than the 32-pixel one scaled down.
HICON TrayImage() {
  return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KORVEX), IMAGE_ICON,
                                         ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                         LR_SHARED));
}

Text ProgramPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return u"Korvex.exe";
    if (length < buffer.size()) return FromW(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

int RunClient(int showCommand) {
  // Before anything that a user would see or the service would get: a second client hands over.
  const std::unique_ptr<InstancePlatform> instance = MakeSystemInstancePlatform();
  if (ClaimOrHandOver(*instance) == InstanceRole::kHandedOver) return 0;

  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
  ::InitCommonControlsEx(&controls);

  SystemMessageBoxes boxes;
  ErrorHandler errors(boxes, ApplicationTitle(ProgramPath()));
  try {
    const std::unique_ptr<Registry> registry = MakeSystemRegistry();
    const std::unique_ptr<Connector> connector = MakeSystemConnector();
    Connector& sockets = *connector;
    const Text serviceHost = ReadServiceHost(*registry);
    // Win10Info: set up once; unavailable where the system has no toasts.
    const std::unique_ptr<ToastPlatform> toastPlatform = MakeToastPlatform();
    TNotificationCentre win10Info(*toastPlatform);

    ClientWindow clientWindow(errors);
    // The icon is in the notification area before the main window is first shown.
    NotifyIconWindow trayWindow(clientWindow.Handle(), TrayImage());
    PopupMenu popup;
    trayWindow.SetPopupMenu(popup.Items());
    clientWindow.SetTrayMenu(popup.Items());
    trayWindow.SetErrorHandler([&errors](const std::exception& failure) { errors.Show(failure); });
    TTrayIcon& trayIcon = trayWindow.Icon();
    TrayIconPresence tray(trayIcon);
    TTrayReport reporter(win10Info, trayIcon);

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
    trayIcon.OnClick = [&client] { client.TrayIconClick(); };
    trayIcon.OnDblClick = [&client] { client.TrayIconDblClick(); };

    SetupWindow setupWindow(clientWindow.Handle(), errors);
    auto setupHttp = std::make_unique<HttpClient>(sockets, kLibraryUserAgent);
    setupHttp->AttachTls(std::shared_ptr<TlsHandler>(MakeTlsHandler()));
    TSetupForm setupForm(TSetupForm::Parts{setupWindow, boxes, *registry, std::move(setupHttp)}, client);
    setupWindow.Attach(setupForm);

    AboutWindow aboutWindow(clientWindow.Handle(), errors);
    TAboutBox aboutBox(aboutWindow);
    aboutWindow.Attach(aboutBox);

    client.SetDialogs(setupForm, aboutBox);

    const std::unique_ptr<Shell> shell = MakeSystemShell();
    const std::unique_ptr<UpdateFileSystem> files = MakeSystemUpdateFileSystem();
    UpdateFileSystem& fileSystem = *files;
    ServiceCommands serviceCommands(*shell, [&fileSystem] { return fileSystem.CurrentDirectory(); });
    TSoftwareUpdate softwareUpdate(TSoftwareUpdate::Parts{[] { return MakeSystemDownloadClient(); },
                                                          boxes,
                                                          fileSystem,
                                                          *shell,
                                                          [&registry] { return ReadServiceHost(*registry); },
                                                          [&client] { client.Beenden1Click(); }});
    client.SetCommands(softwareUpdate, serviceCommands,
                       reinterpret_cast<OwnerWindow>(clientWindow.Handle()));
    // Changes of the network reach the client through its loop; registered before the first
    // showing, unregistered when the loop ends and before the client goes.
    AddressChangeWatch networkWatch([&errors, &client] { errors.Run([&client] { client.NetworkChanged(); }); });
    errors.Run([&networkWatch] { networkWatch.Start(); });
    errors.Run([&client, showCommand] { client.Start(showCommand); });
    const int exitCode = RunMessageLoop(
        networkWatch, [](MSG& message) { DispatchProgramMessage(message); },
        [&errors](const std::exception& failure) { errors.Show(failure); });
    networkWatch.Stop();
    client.StopNetworkRun();
    return exitCode;
  } catch (const std::exception& failure) {
    errors.Show(failure);
    return 1;
  }
}

}  // namespace
}  // namespace korvex::win32

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) { return korvex::win32::RunClient(showCommand); }
