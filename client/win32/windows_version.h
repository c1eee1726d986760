#pragma once
// The Windows version the system really runs, whatever the program's manifest claims to support.

#include "client/notification_centre.h"

namespace korvex::win32 {

WindowsVersion SystemWindowsVersion();

}  // namespace korvex::win32
