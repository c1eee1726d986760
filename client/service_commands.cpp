#include "client/service_commands.h"

#include <utility>

namespace korvex {

ServiceCommands::ServiceCommands(Shell& shell, std::function<Text()> currentDirectory)
    : shell_(shell), currentDirectory_(std::move(currentDirectory)) {}

ShellStart ServiceCommands::ServiceProgram(OwnerWindow owner, const Text& parameters) const {
  return {owner, kVerbRunAs, currentDirectory_() + kServiceProgram, parameters, kShowNormal, kStepWait};
}

ShellStart ServiceCommands::Net(OwnerWindow owner, const Text& parameters) {
  return {owner, kVerbRunAs, kCommandInterpreter, parameters, kShowNormal, kStepWait};
}

// Waiting for the first program keeps "net start" from racing the registration.
void ServiceCommands::Install(OwnerWindow owner) {
  shell_.Start(ServiceProgram(owner, kInstallSwitch));
  shell_.Start(Net(owner, kNetStart));
}

// Waiting for "net stop" keeps the removal from racing the stop.
void ServiceCommands::Remove(OwnerWindow owner) {
  const ShellStart service = ServiceProgram(owner, kRemoveSwitch);
  shell_.Start(Net(owner, kNetStop));
  shell_.Start(service);
}

}  // namespace korvex
