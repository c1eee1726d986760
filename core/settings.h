#pragma once
// The settings both programs read from HKEY_LOCAL_MACHINE\Software\Korvex, and their in-memory copy.

#include <cstdint>

#include "core/text.h"

namespace korvex {

// One per program, created empty and refreshed by ReadEinstellungen.
struct UpdateSettings {
  Text Benutzername;
  Text Passwort;  // decoded
  Text Hostname;
  std::int32_t UpdateIntervall = 0;  // milliseconds: the stored minutes x 60000
  Text Updateart;                    // "HTTPS" or "HTTP"
  Text Einstellungen;                // "Ja" once the setup dialog has saved
};

}  // namespace korvex
