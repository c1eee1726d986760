// The two programs as Windows sees them: version resources and manifests.
#include "core/win32/windows_api.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"

namespace korvex {
namespace {

using win32::FromW;
using win32::W;

struct ProgramCase {
  const char16_t* path;
  WORD fileVersion[4];
  WORD productVersion[4];
  const char16_t* description;
  const char16_t* internalName;
  const char16_t* productName;
  const char16_t* originalFilename;
  const char* executionLevel;
};

const ProgramCase kPrograms[] = {
    {u"" KORVEX_CLIENT_EXE, {5, 0, 7, 49}, {5, 0, 0, 0}, u"Korvex-Client", u"Korvex-Client",
     u"Korvex-Client", u"Korvex.exe", "requireAdministrator"},
    {u"" KORVEX_SERVICE_EXE, {2, 0, 0, 2}, {2, 0, 0, 0}, u"Korvex-Service", u"KorvexService",
     u"Korvex-Service", u"KorvexService.exe", "asInvoker"},
};

Text StringValue(const std::vector<char>& block, const char16_t* name) {
  const Text path = Text(u"\\StringFileInfo\\040704E4\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), W(path), &value, &length) || length == 0) return u"<missing>";
  return FromW(static_cast<const wchar_t*>(value));
}

TEST(Programs, CarryTheirVersionResources) {
  for (const ProgramCase& program : kPrograms) {
    SCOPED_TRACE(ToUtf8(program.path));
    const Text path = program.path;
    const DWORD size = ::GetFileVersionInfoSizeW(W(path), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(W(path), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(program.fileVersion[1], program.fileVersion[0]));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(program.fileVersion[3], program.fileVersion[2]));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(program.productVersion[1], program.productVersion[0]));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(program.productVersion[3], program.productVersion[2]));

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0407);
    EXPECT_EQ(translation[1], 1252);

    EXPECT_EQ(StringValue(block, u"FileDescription"), program.description);
    EXPECT_EQ(StringValue(block, u"InternalName"), program.internalName);
    EXPECT_EQ(StringValue(block, u"ProductName"), program.productName);
    EXPECT_EQ(StringValue(block, u"OriginalFilename"), program.originalFilename);
  }
}

TEST(Programs, ManifestsRequestTheirExecutionLevelAndCommonControlsAndNameTheirWindowsVersions) {
  for (const ProgramCase& program : kPrograms) {
    SCOPED_TRACE(ToUtf8(program.path));
    const Text path = program.path;
    HMODULE module = ::LoadLibraryExW(W(path), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr);
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(module, resource)));
    const std::string manifest(data, ::SizeofResource(module, resource));
    ::FreeLibrary(module);
    EXPECT_NE(manifest.find(std::string("level=\"") + program.executionLevel + "\""), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    // Declared as tested on Windows 7, 8, 8.1 and 10/11, so that none of them applies its
    // compatibility behaviour for older programs.
    for (const char* id : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
      EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + id + "\"/>"), std::string::npos) << id;
    }
  }
}

}  // namespace
}  // namespace korvex
