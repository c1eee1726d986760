// The toast identity's registration against Wine's registry, Start-menu folder and shell links,
// read back through the system's own interfaces; and the notification centre, which Wine's
// missing Windows.UI.Notifications leaves unavailable.
#include <gtest/gtest.h>

#include "core/win32/windows_api.h"

#include <objbase.h>
#include <propidl.h>
#include <propsys.h>
#include <shobjidl.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "client/notification_centre.h"
#include "client/win32/toast_platform.h"

namespace korvex {
namespace {

using win32::FromW;
using win32::W;

constexpr PROPERTYKEY kAppUserModelId = {{0x9f4c2855, 0x9f79, 0x4b39, {0xa8, 0xd0, 0xe1, 0xd4, 0x2d, 0xe1, 0xd5, 0xf3}}, 5};

struct Shortcut {
  Text target;
  Text workingDirectory;
  // None where the shell link's property store cannot be read: Wine 8's is a stub that accepts
  // SetValue and Commit, keeps nothing, and answers GetValue with E_NOTIMPL.
  std::optional<Text> appUserModelId;
};

// The identity as the shortcut carries it, where the system lets it be read back.
void ExpectIdentity(const Shortcut& shortcut, const Text& identity) {
  if (!shortcut.appUserModelId) {
    std::fprintf(stderr, "note: the shell link's properties cannot be read back here; identity not checked\n");
    return;
  }
  EXPECT_EQ(*shortcut.appUserModelId, identity);
}

// Loads the shortcut with IShellLinkW, IPersistFile and IPropertyStore.
std::optional<Shortcut> ReadShortcut(const Text& path) {
  IShellLinkW* link = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
    return std::nullopt;
  }
  std::optional<Shortcut> shortcut;
  IPersistFile* file = nullptr;
  IPropertyStore* properties = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(W(path), STGM_READ)) &&
      SUCCEEDED(link->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&properties)))) {
    wchar_t buffer[MAX_PATH] = {};
    shortcut.emplace();
    link->GetPath(buffer, MAX_PATH, nullptr, 0);
    shortcut->target = FromW(buffer);
    link->GetWorkingDirectory(buffer, MAX_PATH);
    shortcut->workingDirectory = FromW(buffer);
    PROPVARIANT value;
    PropVariantInit(&value);
    const HRESULT read = properties->GetValue(kAppUserModelId, &value);
    if (read != E_NOTIMPL) {
      shortcut->appUserModelId = SUCCEEDED(read) && value.vt == VT_LPWSTR ? FromW(value.pwszVal) : Text();
    }
    ::PropVariantClear(&value);
  }
  if (properties) properties->Release();
  if (file) file->Release();
  link->Release();
  return shortcut;
}

std::optional<DWORD> ReadShowInActionCenter(const Text& keyPath) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (::RegGetValueW(HKEY_CURRENT_USER, W(keyPath), L"ShowInActionCenter", RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

class ToastRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform);  // also joins this thread to COM
    program = platform->ProgramPath();
    identity = ToastIdentity(program);
    key = ToastIdentityKey(identity);
    const std::optional<Text> folder = platform->ProgramsFolder();
    ASSERT_TRUE(folder.has_value());
    link = *folder + u"\\" + ShortcutFileName(program);
    const std::optional<Text> common = platform->CommonProgramsFolder();
    ASSERT_TRUE(common.has_value());
    installedLink = *common + u"\\" + ShortcutFileName(program);
    Clean();
  }
  void TearDown() override { Clean(); }
  void Clean() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, W(key));
    ::DeleteFileW(W(link));
    ::DeleteFileW(W(installedLink));
  }

  std::unique_ptr<ToastPlatform> platform = win32::MakeToastPlatform();
  Text program, identity, key, link, installedLink;
};

TEST_F(ToastRegistrationTest, CreatesTheKeyAndAShortcutThatCarriesTheIdentity) {
  ASSERT_TRUE(RegisterToastIdentity(*platform, program, identity));
  EXPECT_EQ(ReadShowInActionCenter(key), 1u);
  const std::optional<Shortcut> shortcut = ReadShortcut(link);
  ASSERT_TRUE(shortcut.has_value());
  EXPECT_EQ(shortcut->target, program);
  EXPECT_EQ(shortcut->workingDirectory, FolderOf(program));
  EXPECT_EQ(shortcut->workingDirectory.back(), u'\\');
  ExpectIdentity(*shortcut, identity);
}

TEST_F(ToastRegistrationTest, AnExistingKeyKeepsItsValue) {
  HKEY created = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, W(key), 0, nullptr, 0, KEY_WRITE, nullptr, &created, nullptr),
            ERROR_SUCCESS);
  const DWORD off = 0;
  ::RegSetValueExW(created, L"ShowInActionCenter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off);
  ::RegCloseKey(created);
  ASSERT_TRUE(RegisterToastIdentity(*platform, program, identity));
  EXPECT_EQ(ReadShowInActionCenter(key), 0u);
}

TEST_F(ToastRegistrationTest, AShortcutToAnotherProgramIsReplacedAndARightOneKept) {
  const Text other = u"C:\\windows\\notepad.exe";
  ASSERT_TRUE(platform->SaveShortcut({link, other, u"C:\\windows\\", u"Other.App"}));
  ASSERT_EQ(ReadShortcut(link)->target, other);

  ASSERT_TRUE(RegisterToastIdentity(*platform, program, identity));
  EXPECT_EQ(ReadShortcut(link)->target, program);
  EXPECT_EQ(ReadShortcut(link)->workingDirectory, FolderOf(program));
  ExpectIdentity(*ReadShortcut(link), identity);

  // A shortcut that already points here is left alone, whatever else it carries.
  ASSERT_TRUE(platform->SaveShortcut({link, program, u"C:\\", u"Kept.As.It.Is"}));
  ASSERT_TRUE(RegisterToastIdentity(*platform, program, identity));
  EXPECT_EQ(ReadShortcut(link)->workingDirectory, u"C:\\");
}

TEST_F(ToastRegistrationTest, ADeletedShortcutIsMadeAgain) {
  ASSERT_TRUE(RegisterToastIdentity(*platform, program, identity));
  ASSERT_TRUE(::DeleteFileW(W(link)));
  EXPECT_FALSE(platform->ShortcutTarget(link).has_value());
  ASSERT_TRUE(RegisterToastIdentity(*platform, program, identity));
  EXPECT_EQ(platform->ShortcutTarget(link), program);
}

// The installer's entry in the all-users Start menu, pointing here: no second entry is made.
TEST_F(ToastRegistrationTest, TheInstallersStartMenuEntryIsTakenAsTheToastShortcut) {
  ASSERT_TRUE(platform->SaveShortcut({installedLink, program, FolderOf(program), identity}));
  ASSERT_TRUE(RegisterToastIdentity(*platform, program, identity));
  EXPECT_FALSE(platform->ShortcutTarget(link).has_value());
  const std::optional<Shortcut> installed = ReadShortcut(installedLink);
  ASSERT_TRUE(installed.has_value());
  EXPECT_EQ(installed->target, program);
  ExpectIdentity(*installed, identity);
  // Where the properties can be read back, an identity is read as it was saved.
  const std::optional<Text> carried = platform->ShortcutIdentity(installedLink);
  if (carried) {
    EXPECT_EQ(*carried, identity);
  }
}

TEST_F(ToastRegistrationTest, WithoutWindowsUiNotificationsTheCentreIsUnavailable) {
  const WindowsVersion version = platform->Version();
  EXPECT_TRUE(version.major > 6 || (version.major == 6 && version.minor >= 1)) << version.major << "." << version.minor;
  EXPECT_EQ(platform->CreateNotifier(identity), nullptr);
  TNotificationCentre centre(*platform);
  EXPECT_FALSE(centre.Available());
  EXPECT_EQ(centre.CreateNotification(), nullptr);
  EXPECT_NO_THROW(centre.PresentNotification({u"Korvex-Client", u"Korvex-Client", u"IP-Update erfolgreich"}));
  EXPECT_FALSE(ReadShowInActionCenter(key).has_value());  // nothing registered while unavailable
}

}  // namespace
}  // namespace korvex
