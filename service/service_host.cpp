#include "service/service_host.h"

#include <exception>

namespace korvex {
namespace {

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool IsSwitch(const Text& argument, TextView name) {
  if (argument.size() != name.size() + 1 || (argument[0] != u'/' && argument[0] != u'-')) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (AsciiUpper(argument[i + 1]) != name[i]) return false;
  }
  return true;
}

bool IsTrimmedAtEnd(char16_t c) { return c == u' ' || c == u'\r' || c == u'\n' || c == u'.'; }

void LogServiceFailure(EventLog& log, TextView step, const std::exception& failure) {
  log.Error(kServiceName, Format(kServiceFailedPattern, {step, MessageOf(failure)}));
}

}  // namespace

Text MessageOf(const std::exception& failure) {
  if (const auto* error = dynamic_cast<const KorError*>(&failure)) return error->Message();
  return FromUtf8(failure.what());
}

Switches ParseSwitches(std::span<const Text> arguments) {
  Switches switches;
  for (const Text& argument : arguments) {
    switches.install = switches.install || IsSwitch(argument, u"INSTALL");
    switches.uninstall = switches.uninstall || IsSwitch(argument, u"UNINSTALL");
    switches.silent = switches.silent || IsSwitch(argument, u"SILENT");
  }
  return switches;
}

HostMode ModeOf(const Switches& switches) {
  if (switches.install) return HostMode::kInstall;
  if (switches.uninstall) return HostMode::kUninstall;
  return HostMode::kService;
}

Text BinaryPathName(const Text& programPath) {
  if (programPath.find(u' ') == Text::npos) return programPath;
  return u"\"" + programPath + u"\"";
}

Text OsErrorMessage(std::uint32_t code, TextView systemText) {
  if (code == 0) return kSystemCallFailed;
  while (!systemText.empty() && IsTrimmedAtEnd(systemText.back())) systemText.remove_suffix(1);
  return Format(kSystemErrorPattern, {ToText(code), systemText});
}

Text ApplicationErrorText(TextView kind, TextView moduleName, std::uintptr_t address, TextView message) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  Text hex(8, u'0');
  const auto shown = static_cast<std::uint32_t>(address);
  for (int i = 0; i < 8; ++i) hex[7 - i] = static_cast<char16_t>(kHex[(shown >> (4 * i)) & 0xF]);
  Text full(message);
  if (full.empty() || full.back() != u'.') full += u'.';
  return Format(kApplicationErrorPattern, {kind, moduleName, hex, full});
}

void StatusReporter::Report(std::uint32_t state) {
  ServiceStatus status;
  status.currentState = state;
  status.controlsAccepted = state == kStateStartPending ? 0 : kControlsAccepted;
  const bool pending = state == kStateStartPending || state == kStateStopPending;
  status.checkPoint = pending && last_.currentState == state ? last_.checkPoint + 1 : 0;
  last_ = status;
  if (const std::uint32_t code = sink_.SetStatus(status); code != 0) {
    log_.Error(kServiceName, SystemErrorText(code));
  }
}

bool ServiceWorker::Start() {
  status_.Report(kStateStartPending);
  bool started = true;
  try {
    serviceStart_(started);
  } catch (const std::exception& failure) {
    LogServiceFailure(log_, kStepStart, failure);
    return false;
  }
  if (!started) return false;
  status_.Report(kStateRunning);
  return true;
}

void ServiceWorker::Control(std::uint32_t code) {
  const char16_t* step = nullptr;
  switch (code) {
    case kControlStop: step = kStepStop; break;
    case kControlShutdown: step = kStepShutdown; break;
    case kControlInterrogate: step = kStepInterrogate; break;
    default: return;  // user-defined codes: accepted and ignored
  }
  const std::uint32_t before = status_.CurrentState();
  try {
    if (code == kControlInterrogate) {
      status_.Report(before);
    } else {
      status_.Report(kStateStopPending);
      ending_ = true;
    }
  } catch (const std::exception& failure) {
    if (code != kControlShutdown) status_.Report(before);
    LogServiceFailure(log_, step, failure);
  }
}

void RunServiceMain(StatusReporter& status, EventLog& log, const std::function<void()>& runWorker) {
  status.Report(kStateStartPending);
  try {
    runWorker();
  } catch (const std::exception& failure) {
    LogServiceFailure(log, kStepExecute, failure);
  }
  status.Report(kStateStopped);
}

void InstallService(ServiceManager& manager, UserMessages& messages, const Text& programPath, bool silent) {
  try {
    manager.Create(BinaryPathName(programPath));
  } catch (const KorError& failure) {
    messages.Error(Format(kInstallFailed, {kDisplayName, failure.Message()}));
    return;
  }
  if (!silent) messages.Information(kInstalled);
}

void RemoveService(ServiceManager& manager, UserMessages& messages, bool silent) {
  try {
    manager.Delete();
  } catch (const KorError& failure) {
    messages.Error(Format(kRemoveFailed, {kDisplayName, failure.Message()}));
    return;
  }
  if (!silent) messages.Information(kRemoved);
}

}  // namespace korvex
