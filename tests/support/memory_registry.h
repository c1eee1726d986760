#pragma once
// A settings key in memory with the outcomes of the Windows registry: raw typed data, reads that
// fail on data longer than asked for, names compared without regard to case.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "core/registry.h"

namespace korvex::testing {

struct CaseInsensitiveLess {
  bool operator()(const Text& a, const Text& b) const;
};

class MemoryRegistry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenSettingsKey() override;

  // Stored values, written the way the registry itself would take them.
  void SetString(TextView name, TextView text, std::uint32_t type = kRegSz);  // with its NUL
  void SetRaw(TextView name, std::uint32_t type, std::vector<std::uint8_t> data);
  void SetDword(TextView name, std::uint32_t number);
  void SetUtf16Data(TextView name, std::uint32_t type, TextView codeUnits);  // no NUL added

  // The text of a REG_SZ value without its NUL, or nothing when the value is missing, has another
  // type, or lacks the NUL.
  std::optional<Text> StoredString(TextView name) const;
  std::optional<std::uint32_t> StoredDword(TextView name) const;
  bool Has(TextView name) const;

  bool keyExists = false;  // a read or write pass creates it
  bool denyAccess = false;  // the key neither opens nor is created, as without rights
  // Writes to these names, and Secure() when secureFails, fail with failureStatus.
  bool secureFails = false;
  std::set<Text, CaseInsensitiveLess> failingWrites;
  std::uint32_t failureStatus = 5;  // ERROR_ACCESS_DENIED
  bool secured = false;  // the key has the protected access rights

  // What the passes did.
  std::map<Text, RegistryValue, CaseInsensitiveLess> values;
  std::vector<Text> writes;  // names, in order, of the writes that succeeded
  int securedCount = 0;
  int openKeys = 0;
};

}  // namespace korvex::testing
