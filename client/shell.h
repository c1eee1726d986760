#pragma once
// Programs the client starts through the Windows shell: the service program and the command
// interpreter with administrator rights, and the updater.

#include <chrono>
#include <cstdint>
#include <memory>

#include "core/text.h"

namespace korvex {

// A window handle as the window layer passes it on; 0 for none.
using OwnerWindow = std::uintptr_t;

inline constexpr char16_t kVerbRunAs[] = u"runas";
inline constexpr char16_t kVerbOpen[] = u"open";
inline constexpr int kShowNormal = 1;  // SW_SHOWNORMAL
inline constexpr int kShowHidden = 0;  // SW_HIDE

struct ShellStart {
  OwnerWindow owner = 0;
  Text verb;
  Text file;
  Text parameters;
  int show = kShowNormal;
  // How long to wait for the started program to end, with the caller's window messages still
  // handled meanwhile; zero returns at once.
  std::chrono::milliseconds wait{0};

  bool operator==(const ShellStart&) const = default;
};

class Shell {
 public:
  virtual ~Shell() = default;
  // Starts the program with no working directory of its own. Returns false when it could not be
  // started (missing, or a refused elevation); what to tell the user is the caller's choice.
  virtual bool Start(const ShellStart& start) = 0;
};

// ShellExecuteExW (Windows only).
std::unique_ptr<Shell> MakeSystemShell();

}  // namespace korvex
