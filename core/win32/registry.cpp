// The settings key in the machine's registry, always in its 32-bit view: the programs have always
// been 32-bit, so existing installations keep their values under WOW6432Node on 64-bit Windows.
#include "core/registry.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "core/win32/windows_api.h"

namespace korvex {
namespace {

using win32::ScopedRegKey;

constexpr REGSAM kSettingsAccess = KEY_ALL_ACCESS | KEY_WOW64_32KEY;

static_assert(kRegistryOk == ERROR_SUCCESS);
static_assert(kRegNone == REG_NONE && kRegSz == REG_SZ && kRegExpandSz == REG_EXPAND_SZ &&
              kRegBinary == REG_BINARY && kRegDword == REG_DWORD && kRegMultiSz == REG_MULTI_SZ);

// Full access for SYSTEM and the Administrators group, handed down to subkeys, should there ever
// be any. ERROR_SUCCESS, or the status of the step that failed.
DWORD ProtectedAcl(std::vector<BYTE>& buffer) {
  std::array<BYTE, SECURITY_MAX_SID_SIZE> system{};
  std::array<BYTE, SECURITY_MAX_SID_SIZE> administrators{};
  DWORD systemSize = system.size();
  DWORD administratorsSize = administrators.size();
  if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, system.data(), &systemSize) ||
      !::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators.data(), &administratorsSize)) {
    return ::GetLastError();
  }
  const DWORD aclSize =
      sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + systemSize + administratorsSize;
  buffer.assign(aclSize, 0);
  auto* acl = reinterpret_cast<PACL>(buffer.data());
  if (!::InitializeAcl(acl, aclSize, ACL_REVISION) ||
      !::AddAccessAllowedAceEx(acl, ACL_REVISION, CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, system.data()) ||
      !::AddAccessAllowedAceEx(acl, ACL_REVISION, CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, administrators.data())) {
    return ::GetLastError();
  }
  return ERROR_SUCCESS;
}

class Win32RegistryKey : public RegistryKey {
 public:
  explicit Win32RegistryKey(ScopedRegKey key) : key_(std::move(key)) {}

  bool QueryInfo(TextView name, RegistryValueInfo& info) const override {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key_.Get(), win32::W(Text(name)), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      return false;
    }
    info = {type, size};
    return true;
  }

  bool ReadData(TextView name, std::size_t maxSize, RegistryValue& value) const override {
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(std::min<std::size_t>(maxSize, MAXDWORD));
    std::vector<std::uint8_t> data(std::max<DWORD>(size, 1));
    if (::RegQueryValueExW(key_.Get(), win32::W(Text(name)), nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      return false;
    }
    data.resize(size);
    value = {type, std::move(data)};
    return true;
  }

  std::uint32_t WriteString(TextView name, TextView text) override {
    Text terminated(text);
    const auto size = static_cast<DWORD>((terminated.size() + 1) * sizeof(char16_t));
    return static_cast<std::uint32_t>(::RegSetValueExW(key_.Get(), win32::W(Text(name)), 0, REG_SZ,
                                                       reinterpret_cast<const BYTE*>(terminated.c_str()), size));
  }

  std::uint32_t WriteDword(TextView name, std::uint32_t number) override {
    const DWORD data = number;
    return static_cast<std::uint32_t>(::RegSetValueExW(key_.Get(), win32::W(Text(name)), 0, REG_DWORD,
                                                       reinterpret_cast<const BYTE*>(&data), sizeof(data)));
  }

  std::uint32_t Secure() override {
    std::vector<BYTE> aclBuffer;
    if (const DWORD status = ProtectedAcl(aclBuffer)) return status;
    auto* acl = reinterpret_cast<PACL>(aclBuffer.data());
    SECURITY_DESCRIPTOR descriptor;
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
        // Protected: the entries HKLM\Software hands down (read access for Users) stay out.
        !::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      return ::GetLastError();
    }
    return static_cast<std::uint32_t>(
        ::RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, &descriptor));
  }

  bool Secured() const override {
    DWORD size = 0;
    if (::RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) {
      return false;
    }
    std::vector<BYTE> buffer(size);
    PSECURITY_DESCRIPTOR descriptor = buffer.data();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    std::vector<BYTE> expectedBuffer;
    if (::RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, descriptor, &size) != ERROR_SUCCESS ||
        !::GetSecurityDescriptorControl(descriptor, &control, &revision) || !(control & SE_DACL_PROTECTED) ||
        !::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || acl == nullptr ||
        ProtectedAcl(expectedBuffer) != ERROR_SUCCESS) {
      return false;
    }
    auto* expected = reinterpret_cast<PACL>(expectedBuffer.data());
    if (acl->AceCount != expected->AceCount) return false;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
      void* have = nullptr;
      void* want = nullptr;
      if (!::GetAce(acl, i, &have) || !::GetAce(expected, i, &want)) return false;
      const WORD haveSize = static_cast<ACE_HEADER*>(have)->AceSize;
      if (haveSize != static_cast<ACE_HEADER*>(want)->AceSize || std::memcmp(have, want, haveSize) != 0) return false;
    }
    return true;
  }

 private:
  ScopedRegKey key_;
};

class Win32Registry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenSettingsKey() override {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, win32::W(Text(kSettingsKeyPath)), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          kSettingsAccess, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return nullptr;
    }
    return std::make_unique<Win32RegistryKey>(ScopedRegKey(key));
  }
};

}  // namespace

std::unique_ptr<Registry> MakeSystemRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace korvex
