#include "core/win32/windows_api.h"
#include "service/clock.h"
#include "service/win32/os_error.h"

namespace korvex {
namespace {

// The regional formats of the account the process runs under, read at every call.
class Win32Clock : public Clock {
 public:
  Text ShortDate() override {
    wchar_t buffer[128];
    const int length = ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buffer,
                                         static_cast<int>(std::size(buffer)), nullptr);
    if (length <= 0) win32::ThrowLastSystemError();
    return win32::FromW(buffer);
  }
  Text LongTime() override {
    wchar_t buffer[128];
    const int length = ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, nullptr, nullptr, buffer,
                                         static_cast<int>(std::size(buffer)));
    if (length <= 0) win32::ThrowLastSystemError();
    return win32::FromW(buffer);
  }
};

}  // namespace

std::unique_ptr<Clock> MakeSystemClock() { return std::make_unique<Win32Clock>(); }

}  // namespace korvex
