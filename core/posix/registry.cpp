// There is no machine registry here: the settings key never opens, so reads give empty text and
// writes fail, as for a process without the rights to the key.
#include "core/registry.h"

namespace korvex {
namespace {

class NoRegistry : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenSettingsKey() override { return nullptr; }
};

}  // namespace

std::unique_ptr<Registry> MakeSystemRegistry() { return std::make_unique<NoRegistry>(); }

}  // namespace korvex
