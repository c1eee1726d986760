#include "core/registry.h"

#include <cstring>

namespace korvex {

bool ReadString(const RegistryKey* key, TextView name, Text& text) {
  RegistryValueInfo info;
  if (key == nullptr || !key->QueryInfo(name, info) || info.size == 0) {
    text.clear();
    return true;
  }
  RegistryValue value;
  if (!key->ReadData(name, info.size, value)) return false;
  if (value.type != kRegSz && value.type != kRegExpandSz) return false;

  // An odd trailing byte is no code unit and is dropped.
  Text read(value.data.size() / 2, u'\0');
  std::memcpy(read.data(), value.data.data(), read.size() * 2);
  if (auto nul = read.find(u'\0'); nul != Text::npos) read.resize(nul);
  text = std::move(read);
  return true;
}

std::unique_ptr<RegistryKey> OpenProtectedSettingsKey(Registry& registry) {
  std::unique_ptr<RegistryKey> key = registry.OpenSettingsKey();
  if (key && !key->Secured()) key->Secure();  // a failure leaves the key as it was; reads go on
  return key;
}

bool ReadInteger(const RegistryKey* key, TextView name, std::int32_t& number) {
  RegistryValue value;
  if (key == nullptr || !key->ReadData(name, 4, value)) return false;
  // Shorter data would leave part of the number undefined, so it fails like longer data does.
  if (value.type != kRegDword || value.data.size() != 4) return false;
  const auto& d = value.data;
  number = static_cast<std::int32_t>(std::uint32_t{d[0]} | std::uint32_t{d[1]} << 8 |
                                     std::uint32_t{d[2]} << 16 | std::uint32_t{d[3]} << 24);
  return true;
}

}  // namespace korvex
