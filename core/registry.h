#pragma once
// Access to the settings key HKEY_LOCAL_MACHINE\Software\Korvex (32-bit view). The Win32 registry
// is one implementation; tests put an in-memory store with the same outcomes in its place.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/text.h"

namespace korvex {

// Relative to HKEY_LOCAL_MACHINE.
inline constexpr TextView kSettingsKeyPath = u"Software\\Korvex";

// Registry value types, numbered as the Windows registry numbers them.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// ERROR_SUCCESS; any other status of a write is the Win32 error code.
inline constexpr std::uint32_t kRegistryOk = 0;

struct RegistryValueInfo {
  std::uint32_t type = kRegNone;
  std::uint32_t size = 0;  // bytes of data
};

struct RegistryValue {
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;
};

// One open key. Every read returns false on failure and then leaves its output untouched.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;

  // Type and data size of a value; false when it does not exist.
  virtual bool QueryInfo(TextView name, RegistryValueInfo& info) const = 0;
  // Type and data of a value; false when it does not exist or its data is longer than maxSize.
  virtual bool ReadData(TextView name, std::size_t maxSize, RegistryValue& value) const = 0;
  // REG_SZ with its terminating NUL, and REG_DWORD. kRegistryOk, or the Win32 status of the
  // failed write (ERROR_ACCESS_DENIED tells a refused save from a failed one).
  virtual std::uint32_t WriteString(TextView name, TextView text) = 0;
  virtual std::uint32_t WriteDword(TextView name, std::uint32_t number) = 0;
  // Restricts the key to full access for SYSTEM and the Administrators group, with no entries
  // inherited from the parent: the key holds the (only reversibly encoded) password.
  // kRegistryOk, or the Win32 status of the step that failed.
  virtual std::uint32_t Secure() = 0;
  // True when the key carries exactly the access rights Secure() gives it.
  virtual bool Secured() const = 0;
};

// Where the settings key comes from.
class Registry {
 public:
  virtual ~Registry() = default;
  // Opens the settings key with full access, creating it without values when it is missing.
  // Null when that fails (for instance without administrator rights); nothing is raised.
  virtual std::unique_ptr<RegistryKey> OpenSettingsKey() = 0;
};

// The machine's registry: HKEY_LOCAL_MACHINE, "Software\Korvex", 32-bit view.
std::unique_ptr<Registry> MakeSystemRegistry();

// Opens the settings key as Registry::OpenSettingsKey does and gives it the protected access
// rights when it has others: a key just created, or one stored before the rights were set,
// would leave the password readable by every local user. A key whose rights cannot be set is
// still returned, so that reads go on.
std::unique_ptr<RegistryKey> OpenProtectedSettingsKey(Registry& registry);

// A string value as the settings read it. A missing value, one of size 0, or no key at all
// (key == nullptr) gives empty text and counts as read. REG_SZ and REG_EXPAND_SZ data (the latter
// not expanded) ends at the first NUL or, without one, at the end of the data. Any other type,
// or a read that fails after the value was found, returns false and leaves `text` untouched.
bool ReadString(const RegistryKey* key, TextView name, Text& text);

// A REG_DWORD of exactly 4 bytes as a signed 32-bit integer. False, with `number` untouched, when
// there is no key, no value, another type, or data of another size.
bool ReadInteger(const RegistryKey* key, TextView name, std::int32_t& number);

}  // namespace korvex
