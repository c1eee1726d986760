#include "client/win32/windows_version.h"

#include "core/win32/windows_api.h"

namespace korvex::win32 {

WindowsVersion SystemWindowsVersion() {
  // GetVersionExW reports 6.2 to a program whose manifest does not name later systems;
  // RtlGetVersion does not. ntdll is always loaded.
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto rtlGetVersion =
      ntdll ? reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
            : nullptr;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (rtlGetVersion == nullptr || rtlGetVersion(&info) != 0) return {};
  return {info.dwMajorVersion, info.dwMinorVersion};
}

}  // namespace korvex::win32
