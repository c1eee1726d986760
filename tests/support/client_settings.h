#pragma once
// The settings key as the end-to-end tests under Wine prepare it for the programs: empty, or
// saved as the setup dialog saves it, against the local address service.

#include <memory>

#include "core/registry.h"
#include "core/settings.h"
#include "core/win32/windows_api.h"
#include "tests/support/simulator.h"

namespace korvex::testing {

inline void ClearSettings() { ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Korvex", KEY_WOW64_32KEY, 0); }

// Only the address of the service: a first start.
inline bool StoreServiceHost(const Text& host) {
  const std::unique_ptr<RegistryKey> key = MakeSystemRegistry()->OpenSettingsKey();
  return key && key->WriteString(kValueServeradresse, host) == 0;
}

// The simulator's account, saved for updates over HTTP every five minutes. The service address is
// the simulator's port for both schemes, since the software update always uses HTTPS.
inline bool StoreSavedSettings(const Simulator& sim) {
  if (!StoreServiceHost(sim.MixedHost())) return false;
  WriteEinstellungen(*MakeSystemRegistry(), SettingsInput{kSimUser, kSimPassword, kSimHost, kTransportHttp, u"5"});
  return true;
}

}  // namespace korvex::testing
