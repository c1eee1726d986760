#pragma once
// The notification centre's platform on Windows: the system version, the program path, the
// toast identity's registry key and Start-menu shortcut, and the Windows Runtime toast notifier,
// reached through combase loaded at run time so that the program starts where there is none.
// Make it on the main window's thread; it joins that thread to a single-threaded apartment.

#include <memory>

#include "client/notification_centre.h"

namespace korvex::win32 {

std::unique_ptr<ToastPlatform> MakeToastPlatform();

}  // namespace korvex::win32
