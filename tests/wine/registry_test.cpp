// The settings store against Wine's registry: the 32-bit view, the read outcomes for odd stored
// data, values written by reg.exe, and the access rights a save leaves on the key.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/timer.h"
#include "core/win32/windows_api.h"
#include "tests/support/expect_error.h"
#include "tests/support/fake_timer.h"

namespace korvex {
namespace {

using namespace std::literals;
using win32::ScopedRegKey;
using testing::FakeTimer;

// Where a 64-bit process finds the key that the 32-bit view calls Software\Korvex.
constexpr wchar_t kKeyIn64BitView[] = L"Software\\WOW6432Node\\Korvex";
constexpr wchar_t kNativeKey[] = L"Software\\Korvex";

ScopedRegKey OpenKey(const wchar_t* path, REGSAM access) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key) != ERROR_SUCCESS) return {};
  return ScopedRegKey(key);
}

void DeleteKey(REGSAM view) {
  HKEY software = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | view, &software) != ERROR_SUCCESS) {
    return;
  }
  ScopedRegKey owner(software);
  LSTATUS status = ::RegDeleteTreeW(software, L"Korvex");
  ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
}

// Writes into the settings key as an editor could, bypassing the store.
class RawKey {
 public:
  RawKey() {
    HKEY key = nullptr;
    EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kNativeKey, 0, nullptr, 0,
                                KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    key_.Reset(key);
  }
  void Set(const wchar_t* name, DWORD type, const void* data, std::size_t size) {
    ASSERT_EQ(::RegSetValueExW(key_.Get(), name, 0, type, static_cast<const BYTE*>(data),
                               static_cast<DWORD>(size)),
              ERROR_SUCCESS);
  }
  void SetText(const wchar_t* name, std::wstring_view units, DWORD type = REG_SZ) {
    Set(name, type, units.data(), units.size() * sizeof(wchar_t));
  }
  void SetDword(const wchar_t* name, DWORD number) { Set(name, REG_DWORD, &number, sizeof(number)); }
  void Delete(const wchar_t* name) { ::RegDeleteValueW(key_.Get(), name); }

 private:
  ScopedRegKey key_;
};

void StoreComplete(RawKey& key) {
  key.SetText(L"Benutzername", L"m\u00FCller\0"sv);
  key.SetText(L"Passwort", L"6D6E6F\0"sv);
  key.SetText(L"Hostname", L"haus.example.net\0"sv);
  key.SetDword(L"UpdateIntervall", 5);
  key.SetText(L"Updateart", L"HTTPS\0"sv);
  key.SetText(L"Einstellungen", L"Ja\0"sv);
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    DeleteKey(KEY_WOW64_32KEY);
    DeleteKey(KEY_WOW64_64KEY);
  }

  UpdateSettings Read(FakeTimer& timer) {
    UpdateSettings settings{u"alt", u"alt", u"alt", 120000, u"alt", u"alt"};
    ReadEinstellungen(*registry_, settings, timer);
    return settings;
  }

  std::unique_ptr<Registry> registry_ = MakeSystemRegistry();
};

struct ReadCase {
  const char* state;
  void (*store)(RawKey&);
  TextView benutzername;
  TextView hostname;
  std::int32_t updateIntervall;
  TextView updateart;
  std::uint32_t timer;
};

constexpr ReadCase kReadCases[] = {
    {"complete key", StoreComplete, u"m\u00FCller", u"haus.example.net", 300000, u"HTTPS", 300000},
    {"Hostname without its NUL",
     [](RawKey& k) { StoreComplete(k); k.SetText(L"Hostname", L"ohne.nul"); },
     u"m\u00FCller", u"ohne.nul", 300000, u"HTTPS", 300000},
    {"Benutzername with text after an embedded NUL",
     [](RawKey& k) { StoreComplete(k); k.SetText(L"Benutzername", L"abc\0def\0"sv); },
     u"abc", u"haus.example.net", 300000, u"HTTPS", 300000},
    {"Updateart as REG_EXPAND_SZ, left unexpanded",
     [](RawKey& k) { StoreComplete(k); k.SetText(L"Updateart", L"%SystemRoot%\0"sv, REG_EXPAND_SZ); },
     u"m\u00FCller", u"haus.example.net", 300000, u"%SystemRoot%", 300000},
    {"Benutzername as REG_DWORD",
     [](RawKey& k) { StoreComplete(k); k.SetDword(L"Benutzername", 7); },
     u"alt", u"alt", 120000, u"alt", 1000},
    {"UpdateIntervall as REG_SZ text 5",
     [](RawKey& k) { StoreComplete(k); k.SetText(L"UpdateIntervall", L"5\0"sv); },
     u"m\u00FCller", u"haus.example.net", 120000, u"alt", 1000},
    {"UpdateIntervall as REG_DWORD of 8 bytes",
     [](RawKey& k) {
       StoreComplete(k);
       const std::uint64_t five = 5;
       k.Set(L"UpdateIntervall", REG_DWORD, &five, sizeof(five));
     },
     u"m\u00FCller", u"haus.example.net", 120000, u"alt", 1000},
    {"UpdateIntervall as REG_DWORD of 2 bytes",
     [](RawKey& k) {
       StoreComplete(k);
       const std::uint16_t five = 5;
       k.Set(L"UpdateIntervall", REG_DWORD, &five, sizeof(five));
     },
     u"m\u00FCller", u"haus.example.net", 120000, u"alt", 1000},
    {"UpdateIntervall missing",
     [](RawKey& k) { StoreComplete(k); k.Delete(L"UpdateIntervall"); },
     u"m\u00FCller", u"haus.example.net", 120000, u"alt", 1000},
    {"UpdateIntervall negative",
     [](RawKey& k) { StoreComplete(k); k.SetDword(L"UpdateIntervall", static_cast<DWORD>(-1)); },
     u"m\u00FCller", u"haus.example.net", 0, u"HTTPS", 0},
};

TEST_F(RegistryTest, ReadsOddStoredDataAsTheSettingsStoreSays) {
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.state);
    Clean();
    {
      RawKey key;
      c.store(key);
    }
    FakeTimer timer;
    UpdateSettings settings = Read(timer);
    EXPECT_EQ(settings.Benutzername, c.benutzername);
    EXPECT_EQ(settings.Hostname, c.hostname);
    EXPECT_EQ(settings.UpdateIntervall, c.updateIntervall);
    EXPECT_EQ(settings.Updateart, c.updateart);
    EXPECT_EQ(timer.interval, c.timer);
  }
}

TEST_F(RegistryTest, FirstReadCreatesAnEmptyKeyInThe32BitView) {
  FakeTimer timer;
  UpdateSettings settings = Read(timer);
  EXPECT_EQ(settings.Benutzername, u"");
  EXPECT_EQ(settings.Einstellungen, u"alt");
  EXPECT_EQ(timer.interval, 1000u);

  ScopedRegKey key = OpenKey(kKeyIn64BitView, KEY_READ | KEY_WOW64_64KEY);
  ASSERT_TRUE(key);
  DWORD values = 99;
  ASSERT_EQ(::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 0u);
  EXPECT_FALSE(OpenKey(kNativeKey, KEY_READ | KEY_WOW64_64KEY));
}

TEST_F(RegistryTest, SavedValuesLandUnderWow6432NodeWithTheirStoredSizes) {
  WriteEinstellungen(*registry_, {u"m\u00FCller", u"abc", u"haus.example.net", kTransportHttp, u"7"});

  ScopedRegKey key = OpenKey(kKeyIn64BitView, KEY_READ | KEY_WOW64_64KEY);
  ASSERT_TRUE(key);
  std::array<wchar_t, 64> text{};
  DWORD type = 0;
  DWORD size = sizeof(text);
  ASSERT_EQ(::RegQueryValueExW(key.Get(), L"Passwort", nullptr, &type,
                               reinterpret_cast<BYTE*>(text.data()), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 7 * sizeof(wchar_t));  // "6D6E6F" and its NUL
  EXPECT_EQ(std::wstring(text.data()), L"6D6E6F");

  DWORD minutes = 0;
  size = sizeof(minutes);
  ASSERT_EQ(::RegQueryValueExW(key.Get(), L"UpdateIntervall", nullptr, &type,
                               reinterpret_cast<BYTE*>(&minutes), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(minutes, 7u);

  size = 0;
  ASSERT_EQ(::RegQueryValueExW(key.Get(), L"Einstellungen", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3 * sizeof(wchar_t));
  EXPECT_FALSE(OpenKey(kNativeKey, KEY_READ | KEY_WOW64_64KEY));
}

// Runs reg.exe with the given arguments and returns its exit code.
DWORD RunReg(const std::wstring& arguments) {
  std::wstring command = L"reg.exe " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
    ADD_FAILURE() << "reg.exe does not start: " << ::GetLastError();
    return MAXDWORD;
  }
  win32::ScopedKernelHandle processHandle(process.hProcess);
  win32::ScopedKernelHandle thread(process.hThread);
  if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.hProcess, 1);
    ADD_FAILURE() << "reg.exe did not end within a minute";
    return MAXDWORD;
  }
  DWORD code = MAXDWORD;
  ::GetExitCodeProcess(process.hProcess, &code);
  return code;
}

TEST_F(RegistryTest, ValuesAddedWithRegExeIn32BitViewReadBack) {
  const std::wstring key = L"add HKLM\\Software\\Korvex /reg:32 /f /v ";
  ASSERT_EQ(RunReg(key + L"Benutzername /t REG_SZ /d m\u00FCller"), 0u);
  ASSERT_EQ(RunReg(key + L"Passwort /t REG_SZ /d 6d6e6f"), 0u);
  ASSERT_EQ(RunReg(key + L"Hostname /t REG_EXPAND_SZ /d %HOST%.example.net"), 0u);
  ASSERT_EQ(RunReg(key + L"UpdateIntervall /t REG_DWORD /d 5"), 0u);
  ASSERT_EQ(RunReg(key + L"Updateart /t REG_SZ /d HTTP"), 0u);
  ASSERT_EQ(RunReg(key + L"Einstellungen /t REG_SZ /d Ja"), 0u);
  ASSERT_TRUE(OpenKey(kKeyIn64BitView, KEY_READ | KEY_WOW64_64KEY));

  FakeTimer timer;
  UpdateSettings settings = Read(timer);
  EXPECT_EQ(settings.Benutzername, u"m\u00FCller");
  EXPECT_EQ(settings.Passwort, u"abc");
  EXPECT_EQ(settings.Hostname, u"%HOST%.example.net");
  EXPECT_EQ(settings.UpdateIntervall, 300000);
  EXPECT_EQ(settings.Updateart, u"HTTP");
  EXPECT_EQ(settings.Einstellungen, u"Ja");
  EXPECT_EQ(timer.interval, 300000u);

  // The interval as text, as an editor might enter it, stops the read before it.
  ASSERT_EQ(RunReg(key + L"UpdateIntervall /t REG_SZ /d 5"), 0u);
  FakeTimer second;
  settings = Read(second);
  EXPECT_EQ(settings.Hostname, u"%HOST%.example.net");
  EXPECT_EQ(settings.UpdateIntervall, 120000);
  EXPECT_EQ(settings.Updateart, u"alt");
  EXPECT_EQ(second.interval, 1000u);
}

TEST_F(RegistryTest, ServiceHostComesFromServeradresseWhenStored) {
  const Text builtIn = ReadServiceHost(*registry_);
  {
    RawKey key;
    key.SetText(L"Serveradresse", L"localhost:9443\0"sv);
  }
  EXPECT_EQ(ReadServiceHost(*registry_), u"localhost:9443");
  EXPECT_NE(builtIn, u"localhost:9443");
}

struct Ace {
  BYTE type;
  BYTE flags;
  ACCESS_MASK mask;
  std::vector<BYTE> sid;
};

struct Dacl {
  bool isProtected = false;
  std::vector<Ace> aces;
};

std::optional<Dacl> ReadDacl(HKEY key) {
  DWORD size = 0;
  if (::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) {
    return std::nullopt;
  }
  std::vector<BYTE> buffer(size);
  auto* descriptor = static_cast<PSECURITY_DESCRIPTOR>(buffer.data());
  if (::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor, &size) != ERROR_SUCCESS) return std::nullopt;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL acl = nullptr;
  if (!::GetSecurityDescriptorControl(descriptor, &control, &revision) ||
      !::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || acl == nullptr) {
    return std::nullopt;
  }
  Dacl dacl;
  dacl.isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(acl, i, &entry)) return std::nullopt;
    auto* header = static_cast<ACE_HEADER*>(entry);
    Ace ace{header->AceType, header->AceFlags, 0, {}};
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
      ace.mask = allowed->Mask;
      auto* sid = reinterpret_cast<BYTE*>(&allowed->SidStart);
      ace.sid.assign(sid, sid + ::GetLengthSid(sid));
    }
    dacl.aces.push_back(std::move(ace));
  }
  return dacl;
}

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  EXPECT_TRUE(::CreateWellKnownSid(type, nullptr, sid.data(), &size));
  sid.resize(size);
  return sid;
}

// Full access for SYSTEM and the Administrators group, nothing inherited.
void ExpectProtected() {
  ScopedRegKey key = OpenKey(kKeyIn64BitView, READ_CONTROL | KEY_WOW64_64KEY);
  ASSERT_TRUE(key);
  std::optional<Dacl> dacl = ReadDacl(key.Get());
  ASSERT_TRUE(dacl);
  EXPECT_TRUE(dacl->isProtected);
  const std::vector<std::vector<BYTE>> expected = {WellKnownSid(WinLocalSystemSid),
                                                   WellKnownSid(WinBuiltinAdministratorsSid)};
  ASSERT_EQ(dacl->aces.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(dacl->aces[i].type, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(dacl->aces[i].flags & INHERITED_ACE, 0);
    EXPECT_EQ(dacl->aces[i].mask, static_cast<ACCESS_MASK>(KEY_ALL_ACCESS));
    EXPECT_EQ(dacl->aces[i].sid, expected[i]);
  }
}

TEST_F(RegistryTest, SaveLeavesFullAccessForSystemAndAdministratorsOnly) {
  WriteEinstellungen(*registry_, {u"benutzer", u"geheim", u"haus.example.net", kTransportHttps, u"5"});
  ExpectProtected();

  // The programs still read and save: they open the key with full access as administrators.
  FakeTimer timer;
  UpdateSettings settings = Read(timer);
  EXPECT_EQ(settings.Passwort, u"geheim");
  EXPECT_NO_THROW(WriteEinstellungen(*registry_, {u"zwei", u"x", u"h", kTransportNone, u"6"}));
}

// This process's user with the Administrators group made deny-only, as an impersonation token:
// the view of a local user who is no administrator.
win32::ScopedKernelHandle TokenWithoutAdministrators() {
  HANDLE process = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &process)) return {};
  win32::ScopedKernelHandle processToken(process);
  std::vector<BYTE> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
  SID_AND_ATTRIBUTES disabled{administrators.data(), 0};
  HANDLE restricted = nullptr;
  if (!::CreateRestrictedToken(process, 0, 1, &disabled, 0, nullptr, 0, nullptr, &restricted)) return {};
  win32::ScopedKernelHandle restrictedToken(restricted);
  HANDLE impersonation = nullptr;
  if (!::DuplicateTokenEx(restricted, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenImpersonation,
                          &impersonation)) {
    return {};
  }
  return win32::ScopedKernelHandle(impersonation);
}

// The calling thread acts as `token` for the guard's lifetime.
class Impersonation {
 public:
  explicit Impersonation(HANDLE token) { EXPECT_TRUE(::SetThreadToken(nullptr, token)) << ::GetLastError(); }
  ~Impersonation() { ::RevertToSelf(); }
  Impersonation(const Impersonation&) = delete;
  Impersonation& operator=(const Impersonation&) = delete;
};

// Opens the settings key while the thread impersonates `token`.
LSTATUS OpenAs(HANDLE token, REGSAM access) {
  HKEY key = nullptr;
  LSTATUS status = ERROR_SUCCESS;
  {
    Impersonation as(token);
    status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNativeKey, 0, access | KEY_WOW64_32KEY, &key);
  }
  if (status == ERROR_SUCCESS) ::RegCloseKey(key);
  return status;
}

// Before any save: a key that a read creates, and one stored by an earlier version (with the
// rights it inherited), are protected by the first read of either program.
TEST_F(RegistryTest, ReadLeavesTheKeyProtected) {
  win32::ScopedKernelHandle user = TokenWithoutAdministrators();
  ASSERT_TRUE(user) << ::GetLastError();
  for (const bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "stored before, with inherited rights" : "created by the read");
    Clean();
    if (existed) {
      RawKey key;
      StoreComplete(key);
    }
    if (existed) {
      EXPECT_EQ(OpenAs(user.Get(), KEY_READ), ERROR_SUCCESS) << "the inherited rights let every user read";
    }
    FakeTimer timer;
    UpdateSettings settings = Read(timer);
    ExpectProtected();
    EXPECT_EQ(OpenAs(user.Get(), KEY_READ), ERROR_ACCESS_DENIED);
    EXPECT_EQ(settings.Benutzername, existed ? u"m\u00FCller" : u"");
  }
}

TEST_F(RegistryTest, AUserWithoutAdministratorRightsCannotReadTheKey) {
  win32::ScopedKernelHandle user = TokenWithoutAdministrators();
  ASSERT_TRUE(user) << ::GetLastError();

  WriteEinstellungen(*registry_, {u"benutzer", u"geheim", u"haus.example.net", kTransportHttps, u"5"});
  EXPECT_EQ(OpenAs(user.Get(), KEY_READ), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenAs(user.Get(), KEY_QUERY_VALUE), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenAs(nullptr, KEY_ALL_ACCESS), ERROR_SUCCESS);

  // Such a user's programs get no key: the texts read empty and a save fails at its first write.
  Impersonation as(user.Get());
  FakeTimer userTimer;
  UpdateSettings settings = Read(userTimer);
  EXPECT_EQ(settings.Benutzername, u"");
  EXPECT_EQ(settings.Passwort, u"");
  EXPECT_EQ(settings.Einstellungen, u"alt");
  EXPECT_EQ(userTimer.interval, 1000u);
  EXPECT_TRUE(testing::ThrowsKorError([&] { WriteEinstellungen(*registry_, {u"fremd", u"x", u"h", kTransportHttps, u"5"}); },
                                      Format(kWriteFailedMessage, {kValueBenutzername})));
}

}  // namespace
}  // namespace korvex
