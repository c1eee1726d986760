#include "tests/support/internet_settings.h"

#include "core/win32/windows_api.h"

namespace korvex::testing {
namespace {

constexpr wchar_t kConnectionsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr wchar_t kInternetSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

}  // namespace

bool SetUserProxy(const std::string& proxy) {
  constexpr DWORD kDirect = 1, kProxy = 2;
  std::string blob;
  auto dword = [&](DWORD value) { blob.append(reinterpret_cast<const char*>(&value), sizeof value); };
  dword(0x46);
  dword(0);
  dword(proxy.empty() ? kDirect : kDirect | kProxy);
  dword(static_cast<DWORD>(proxy.size()));
  blob += proxy;
  dword(0);  // bypass list
  dword(0);  // configuration script
  blob.append(32, '\0');
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0) return false;
  ::RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()),
                   static_cast<DWORD>(blob.size()));
  ::RegCloseKey(key);
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0) {
    return false;
  }
  const DWORD enable = proxy.empty() ? 0 : 1;
  ::RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
  const std::wstring server(proxy.begin(), proxy.end());
  ::RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
  return true;
}

void RemoveUserProxy() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_WRITE, &key) == 0) {
    ::RegDeleteValueW(key, L"DefaultConnectionSettings");
    ::RegCloseKey(key);
  }
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_WRITE, &key) == 0) {
    ::RegDeleteValueW(key, L"ProxyEnable");
    ::RegDeleteValueW(key, L"ProxyServer");
    ::RegCloseKey(key);
  }
}

}  // namespace korvex::testing
