#pragma once
// Today's date and the time of day as the log line shows them: in the short date and long time
// formats of the regional settings the process took over at start. Tests pass a fixed clock.

#include <memory>

#include "core/text.h"

namespace korvex {

class Clock {
 public:
  virtual ~Clock() = default;
  // Each reads the local date or time anew. Throws KorError when the platform cannot format it.
  virtual Text ShortDate() = 0;
  virtual Text LongTime() = 0;
};

// Windows: GetDateFormatEx/GetTimeFormatEx of the user default locale. Linux, which has no such
// settings for a service: dd.MM.yyyy and HH:mm:ss.
std::unique_ptr<Clock> MakeSystemClock();

}  // namespace korvex
