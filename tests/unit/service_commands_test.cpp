#include "client/service_commands.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvex {
namespace {

class RecordingShell : public Shell {
 public:
  std::vector<ShellStart> starts;
  bool Start(const ShellStart& start) override {
    starts.push_back(start);
    return true;
  }
};

constexpr OwnerWindow kOwner = 0x1234;

TEST(ServiceCommandsTest, InstallRegistersFromTheCurrentDirectoryThenStartsTheService) {
  RecordingShell shell;
  Text directory = u"C:\\Arbeit";
  ServiceCommands commands(shell, [&] { return directory; });
  directory = u"D:\\Anders";  // read at the command, not at construction
  commands.Install(kOwner);
  const std::vector<ShellStart> expected = {
      {kOwner, u"runas", u"D:\\Anders\\KorvexService.exe", u"/INSTALL", 1, std::chrono::seconds(60)},
      {kOwner, u"runas", u"cmd", u"/K net start KorService & exit", 1, std::chrono::seconds(60)},
  };
  EXPECT_EQ(shell.starts, expected);
}

TEST(ServiceCommandsTest, RemoveStopsTheServiceThenRemovesIt) {
  RecordingShell shell;
  ServiceCommands commands(shell, [] { return Text(u"C:\\Arbeit"); });
  commands.Remove(kOwner);
  const std::vector<ShellStart> expected = {
      {kOwner, u"runas", u"cmd", u"/K net stop KorService & exit", 1, std::chrono::seconds(60)},
      {kOwner, u"runas", u"C:\\Arbeit\\KorvexService.exe", u"/UNINSTALL", 1, std::chrono::seconds(60)},
  };
  EXPECT_EQ(shell.starts, expected);
}

}  // namespace
}  // namespace korvex
