#pragma once
// The report of an outcome as the client makes it: a desktop notification where the centre is
// available and presenting works, else a balloon at the tray icon.

#include "client/notification_centre.h"
#include "client/report.h"
#include "client/tray_icon.h"

namespace korvex {

class TTrayReport : public Reporter {
 public:
  // Both must outlive the report.
  TTrayReport(TNotificationCentre& centre, TTrayIcon& icon) : centre_(centre), icon_(icon) {}

  // Reports with a notification object of its own, obtained and released around the report.
  void Report(const Text& notificationBody, const Text& balloonText) override;
  // Reports with a notification object the caller obtained beforehand (null when the centre is
  // unavailable): filled as kReportTitle's and presented. The balloon is shown instead when
  // there is none or presenting fails; that failure is not passed on.
  void ReportWith(TNotification* notification, const Text& notificationBody, const Text& balloonText);

 private:
  void ShowBalloon(const Text& balloonText);

  TNotificationCentre& centre_;
  TTrayIcon& icon_;
};

}  // namespace korvex
