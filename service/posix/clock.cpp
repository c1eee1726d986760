#include <ctime>

#include "core/error.h"
#include "service/clock.h"

namespace korvex {
namespace {

// Linux has no regional settings for a service; the German defaults stand in for them.
class PosixClock : public Clock {
 public:
  Text ShortDate() override { return Now("%d.%m.%Y"); }
  Text LongTime() override { return Now("%H:%M:%S"); }

 private:
  static Text Now(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char buffer[64];
    if (localtime_r(&now, &local) == nullptr || std::strftime(buffer, sizeof buffer, format, &local) == 0) {
      throw KorError(u"Datum und Uhrzeit konnten nicht gelesen werden");
    }
    return FromAscii(buffer);
  }
};

}  // namespace

std::unique_ptr<Clock> MakeSystemClock() { return std::make_unique<PosixClock>(); }

}  // namespace korvex
