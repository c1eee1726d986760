#pragma once
// The menu commands that install and start, or stop and remove, the background service. The
// client starts the service program and "net" with administrator rights and reports nothing of
// its own; whatever the user learns comes from the started programs.

#include <chrono>
#include <functional>

#include "client/shell.h"
#include "core/text.h"

namespace korvex {

inline constexpr char16_t kServiceProgram[] = u"\\KorvexService.exe";
inline constexpr char16_t kInstallSwitch[] = u"/INSTALL";
inline constexpr char16_t kRemoveSwitch[] = u"/UNINSTALL";
inline constexpr char16_t kCommandInterpreter[] = u"cmd";
// The service name, not the display name: Wine's net accepts only the service name.
inline constexpr char16_t kNetStart[] = u"/K net start KorService & exit";
inline constexpr char16_t kNetStop[] = u"/K net stop KorService & exit";
// Each command's second program starts once the first has ended, or after this long.
inline constexpr std::chrono::milliseconds kStepWait{60000};

class ServiceCommands {
 public:
  // `currentDirectory` is read at every command: the service program is taken from the process's
  // working directory of the moment, not from the client's program folder.
  ServiceCommands(Shell& shell, std::function<Text()> currentDirectory);

  // The service program with "/INSTALL", then "net start".
  void Install(OwnerWindow owner);
  // "net stop", then the service program with "/UNINSTALL".
  void Remove(OwnerWindow owner);

 private:
  ShellStart ServiceProgram(OwnerWindow owner, const Text& parameters) const;
  static ShellStart Net(OwnerWindow owner, const Text& parameters);

  Shell& shell_;
  std::function<Text()> currentDirectory_;
};

}  // namespace korvex
