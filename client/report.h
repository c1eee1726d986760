#pragma once
// How the client tells the user an outcome (the address after a tray click, the status of an
// update) while its window may be out of sight: as a desktop notification, or as a balloon at
// the tray icon where notifications are unavailable or fail.

#include "core/exchange.h"
#include "core/text.h"

namespace korvex {

inline constexpr char16_t kReportTitle[] = u"Korvex-Client";

class Reporter {
 public:
  virtual ~Reporter() = default;
  // `notificationBody` goes into a notification titled kReportTitle; `balloonText` into the
  // balloon of the fallback. Failures of the notification are not passed on.
  virtual void Report(const Text& notificationBody, const Text& balloonText) = 0;
};

// An update's status text, reported the same way: body and balloon both carry it.
class UpdateReporter : public UpdateReport {
 public:
  explicit UpdateReporter(Reporter& reporter) : reporter_(reporter) {}
  void Report(const Text& statusText, const Text&) override { reporter_.Report(statusText, statusText); }

 private:
  Reporter& reporter_;
};

}  // namespace korvex
