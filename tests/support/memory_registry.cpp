#include "tests/support/memory_registry.h"

#include <algorithm>
#include <cstring>

namespace korvex::testing {
namespace {

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c; }

std::vector<std::uint8_t> Bytes(TextView codeUnits) {
  std::vector<std::uint8_t> data(codeUnits.size() * 2);
  std::memcpy(data.data(), codeUnits.data(), data.size());
  return data;
}

class MemoryKey : public RegistryKey {
 public:
  explicit MemoryKey(MemoryRegistry& owner) : owner_(owner) { ++owner_.openKeys; }
  ~MemoryKey() override { --owner_.openKeys; }

  bool QueryInfo(TextView name, RegistryValueInfo& info) const override {
    auto it = owner_.values.find(Text(name));
    if (it == owner_.values.end()) return false;
    info = {it->second.type, static_cast<std::uint32_t>(it->second.data.size())};
    return true;
  }

  bool ReadData(TextView name, std::size_t maxSize, RegistryValue& value) const override {
    auto it = owner_.values.find(Text(name));
    if (it == owner_.values.end() || it->second.data.size() > maxSize) return false;
    value = it->second;
    return true;
  }

  std::uint32_t WriteString(TextView name, TextView text) override {
    if (owner_.failingWrites.contains(Text(name))) return owner_.failureStatus;
    owner_.SetString(name, text);
    owner_.writes.emplace_back(name);
    return kRegistryOk;
  }

  std::uint32_t WriteDword(TextView name, std::uint32_t number) override {
    if (owner_.failingWrites.contains(Text(name))) return owner_.failureStatus;
    owner_.SetDword(name, number);
    owner_.writes.emplace_back(name);
    return kRegistryOk;
  }

  std::uint32_t Secure() override {
    if (owner_.secureFails) return owner_.failureStatus;
    ++owner_.securedCount;
    owner_.secured = true;
    return kRegistryOk;
  }

  bool Secured() const override { return owner_.secured; }

 private:
  MemoryRegistry& owner_;
};

}  // namespace

bool CaseInsensitiveLess::operator()(const Text& a, const Text& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char16_t x, char16_t y) { return FoldAscii(x) < FoldAscii(y); });
}

std::unique_ptr<RegistryKey> MemoryRegistry::OpenSettingsKey() {
  if (denyAccess) return nullptr;
  keyExists = true;
  return std::make_unique<MemoryKey>(*this);
}

void MemoryRegistry::SetString(TextView name, TextView text, std::uint32_t type) {
  Text terminated(text);
  terminated += u'\0';
  SetUtf16Data(name, type, terminated);
}

void MemoryRegistry::SetRaw(TextView name, std::uint32_t type, std::vector<std::uint8_t> data) {
  keyExists = true;
  values[Text(name)] = {type, std::move(data)};
}

void MemoryRegistry::SetDword(TextView name, std::uint32_t number) {
  SetRaw(name, kRegDword,
         {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
          static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)});
}

void MemoryRegistry::SetUtf16Data(TextView name, std::uint32_t type, TextView codeUnits) {
  SetRaw(name, type, Bytes(codeUnits));
}

std::optional<Text> MemoryRegistry::StoredString(TextView name) const {
  auto it = values.find(Text(name));
  if (it == values.end() || it->second.type != kRegSz || it->second.data.size() % 2 != 0) {
    return std::nullopt;
  }
  Text text(it->second.data.size() / 2, u'\0');
  std::memcpy(text.data(), it->second.data.data(), it->second.data.size());
  if (text.empty() || text.back() != u'\0') return std::nullopt;
  text.pop_back();
  return text;
}

std::optional<std::uint32_t> MemoryRegistry::StoredDword(TextView name) const {
  auto it = values.find(Text(name));
  if (it == values.end() || it->second.type != kRegDword || it->second.data.size() != 4) {
    return std::nullopt;
  }
  const auto& d = it->second.data;
  return std::uint32_t{d[0]} | std::uint32_t{d[1]} << 8 | std::uint32_t{d[2]} << 16 |
         std::uint32_t{d[3]} << 24;
}

bool MemoryRegistry::Has(TextView name) const { return values.contains(Text(name)); }

}  // namespace korvex::testing
