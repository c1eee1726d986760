#include "client/tray_report.h"

namespace korvex {

void TTrayReport::Report(const Text& notificationBody, const Text& balloonText) {
  const std::unique_ptr<TNotification> notification = centre_.CreateNotification();
  ReportWith(notification.get(), notificationBody, balloonText);
}

void TTrayReport::ReportWith(TNotification* notification, const Text& notificationBody, const Text& balloonText) {
  if (notification == nullptr) {
    ShowBalloon(balloonText);
    return;
  }
  notification->Name = kReportTitle;
  notification->Title = kReportTitle;
  notification->AlertBody = notificationBody;
  try {
    centre_.PresentNotification(*notification);
  } catch (...) {
    // Whatever the platform refused, the user still learns the outcome from the balloon.
    ShowBalloon(balloonText);
  }
}

void TTrayReport::ShowBalloon(const Text& balloonText) {
  icon_.SetBalloonTitle(kReportTitle);
  icon_.SetBalloonText(balloonText);
  icon_.SetBalloonIcon(BalloonIcon::kInfo);
  icon_.ShowBalloon();
}

}  // namespace korvex
