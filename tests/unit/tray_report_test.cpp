// The report of an outcome: a notification where the centre can show one, else the balloon.
#include "client/tray_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_notify_shell.h"
#include "tests/support/fake_toast_platform.h"

namespace korvex {
namespace {

using testing::FakeNotifyShell;
using testing::FakeToastPlatform;
using Log = std::vector<std::string>;

struct Client {
  explicit Client(bool hasToasts) {
    platform.hasToasts = hasToasts;
    centre = std::make_unique<TNotificationCentre>(platform);
    report = std::make_unique<TTrayReport>(*centre, icon);
    shell.calls.clear();
  }
  // The balloon requests the shell got.
  std::vector<NotifyIconRecord> Balloons() const {
    std::vector<NotifyIconRecord> balloons;
    for (const auto& call : shell.calls) {
      if (call.kind == "modify" && (call.record.flags & kNifInfo) != 0) balloons.push_back(call.record);
    }
    return balloons;
  }

  FakeToastPlatform platform;
  FakeNotifyShell shell;
  TTrayIcon icon{shell, 1};
  std::unique_ptr<TNotificationCentre> centre;
  std::unique_ptr<TTrayReport> report;
};

TEST(TrayReport, AnAvailableCentreShowsTheNotificationAndNoBalloon) {
  Client client(true);
  client.report->Report(u"Ihre aktuelle IP lautet: 1.2.3.4", u"Aktuelle IP: 1.2.3.4");
  ASSERT_EQ(client.platform.notifier->made.size(), 1u);
  EXPECT_EQ(client.platform.notifier->made[0].content.texts,
            (std::vector<Text>{u"Korvex-Client", u"Ihre aktuelle IP lautet: 1.2.3.4"}));
  EXPECT_EQ(client.centre->ShownNames(), (std::vector<Text>{u"Korvex-Client"}));
  EXPECT_TRUE(client.Balloons().empty());
}

TEST(TrayReport, WithoutNotificationsOrWhenPresentingFailsTheBalloonShows) {
  for (const bool hasToasts : {false, true}) {
    SCOPED_TRACE(hasToasts ? "presenting fails" : "no notifications");
    Client client(hasToasts);
    if (hasToasts) client.platform.notifier->failShow = true;
    EXPECT_NO_THROW(client.report->Report(u"Ihre aktuelle IP lautet: \r\n", u"Aktuelle IP: \r\n"));
    const auto balloons = client.Balloons();
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(balloons[0].balloonTitle, u"Korvex-Client");
    EXPECT_EQ(balloons[0].balloonText, u"Aktuelle IP: \r\n");
    EXPECT_EQ(balloons[0].balloonIcon, BalloonIcon::kInfo);
    EXPECT_EQ(balloons[0].balloonTimeout, 200u);
  }
}

TEST(TrayReport, AFailedRegistrationShowsNeitherNotificationNorBalloon) {
  Client client(true);
  client.platform.failCreateKey = true;
  client.report->Report(u"IP-Update erfolgreich", u"IP-Update erfolgreich");
  EXPECT_TRUE(client.platform.notifier->log.empty());
  EXPECT_TRUE(client.Balloons().empty());
}

TEST(TrayReport, ANotificationObtainedBeforehandIsFilledAndPresented) {
  Client client(true);
  const std::unique_ptr<TNotification> notification = client.centre->CreateNotification();
  client.report->ReportWith(notification.get(), u"IP-Update fehlgeschlagen", u"IP-Update fehlgeschlagen");
  EXPECT_EQ(notification->Name, u"Korvex-Client");
  EXPECT_EQ(notification->Title, u"Korvex-Client");
  EXPECT_EQ(notification->AlertBody, u"IP-Update fehlgeschlagen");

  client.report->ReportWith(nullptr, u"unused", u"IP-Update erfolgreich");
  ASSERT_EQ(client.Balloons().size(), 1u);
  EXPECT_EQ(client.Balloons()[0].balloonText, u"IP-Update erfolgreich");
}

}  // namespace
}  // namespace korvex
