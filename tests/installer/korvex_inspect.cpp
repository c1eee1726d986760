// What the installer tests read inside the Wine prefix, printed as UTF-8 lines:
//   korvex-inspect shortcut LINK     target=..., workdir=...
//   korvex-inspect version FILE      the fixed file version, a.b.c.d
//   korvex-inspect window CLASS      the handle of a top-level window of that class; exit code 1
//                                    when there is none
//   korvex-inspect close CLASS       sends WM_CLOSE to that window and waits until it is gone
//   korvex-inspect settings          every value of HKLM\Software\Korvex (32-bit view): name, type
//                                    and data in hex, one line each; "no key" when it is missing
//   korvex-inspect start DIR FILE    starts FILE with DIR as its working directory, not waiting
//   korvex-inspect toast PROGRAM     registers the toast identity of PROGRAM as the notification
//                                    centre does before its first toast (Wine has no toasts)
#include "core/win32/windows_api.h"

#include <objbase.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "client/notification_centre.h"
#include "client/win32/toast_platform.h"
#include "core/text.h"

namespace {

using korvex::Text;
using korvex::ToUtf8;
using korvex::win32::FromW;

void Print(const std::string& line) { std::printf("%s\n", line.c_str()); }

int Shortcut(const wchar_t* path) {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* link = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
    return 2;
  }
  IPersistFile* file = nullptr;
  int status = 1;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(path, STGM_READ))) {
    wchar_t buffer[MAX_PATH] = {};
    link->GetPath(buffer, MAX_PATH, nullptr, 0);
    Print("target=" + ToUtf8(FromW(buffer)));
    buffer[0] = 0;
    link->GetWorkingDirectory(buffer, MAX_PATH);
    Print("workdir=" + ToUtf8(FromW(buffer)));
    status = 0;
  }
  if (file) file->Release();
  link->Release();
  return status;
}

int Version(const wchar_t* path) {
  const DWORD size = ::GetFileVersionInfoSizeW(path, nullptr);
  if (size == 0) return 1;
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!::GetFileVersionInfoW(path, 0, size, block.data()) ||
      !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
    return 1;
  }
  std::printf("%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
              HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  return 0;
}

int Settings() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Korvex", 0, KEY_READ | KEY_WOW64_32KEY, &key) !=
      ERROR_SUCCESS) {
    Print("no key");
    return 0;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256, type = 0, dataSize = 0;
    if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &dataSize) != ERROR_SUCCESS) break;
    std::vector<BYTE> data(dataSize);
    nameLength = 256;
    ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.data(), &dataSize);
    std::string line = ToUtf8(FromW(name, nameLength)) + " type=" + std::to_string(type) + " data=";
    for (DWORD i = 0; i < dataSize; ++i) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", data[i]);
      line += hex;
    }
    Print(line);
  }
  ::RegCloseKey(key);
  return 0;
}

int Close(const wchar_t* windowClass) {
  HWND window = ::FindWindowW(windowClass, nullptr);
  if (window == nullptr) return 1;
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &result);
  for (int i = 0; i < 100 && ::FindWindowW(windowClass, nullptr) != nullptr; ++i) ::Sleep(100);
  return ::FindWindowW(windowClass, nullptr) == nullptr ? 0 : 1;
}

int Start(const wchar_t* directory, const wchar_t* program) {
  std::wstring commandLine = std::wstring(L"\"") + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup,
                        &process)) {
    return 1;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return 0;
}

int RegisterToast(const wchar_t* program) {
  const std::unique_ptr<korvex::ToastPlatform> platform = korvex::win32::MakeToastPlatform();
  const Text path = FromW(program);
  return korvex::RegisterToastIdentity(*platform, path, korvex::ToastIdentity(path)) ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"shortcut" && argc == 3) return Shortcut(argv[2]);
  if (command == L"version" && argc == 3) return Version(argv[2]);
  if (command == L"window" && argc == 3) {
    HWND window = ::FindWindowW(argv[2], nullptr);
    if (window == nullptr) return 1;
    std::printf("%p\n", static_cast<void*>(window));
    return 0;
  }
  if (command == L"close" && argc == 3) return Close(argv[2]);
  if (command == L"settings" && argc == 2) return Settings();
  if (command == L"start" && argc == 4) return Start(argv[2], argv[3]);
  if (command == L"toast" && argc == 3) return RegisterToast(argv[2]);
  std::fprintf(stderr, "usage: korvex-inspect shortcut LINK | version FILE | window CLASS | close CLASS | settings | start DIR FILE | toast PROGRAM\n");
  return 2;
}
