#pragma once
// One client per Windows logon session: a second start of the program hands over to the running
// client, which shows itself, and ends without an icon, a request or a notification.

#include <chrono>
#include <memory>

#include "core/text.h"

namespace korvex {

// The session's claim: a named mutex in the logon session's own namespace.
inline constexpr char16_t kInstanceMutexName[] = u"Local\\Korvex-Client";
// The window message, registered by name, by which a second start asks the first to show itself.
inline constexpr char16_t kShowRunningClientMessage[] = u"Korvex-Client: Programm öffnen";
// A running client may be busy in a request, whose limits are 60 s each; the second start waits
// that long for it to take the request, and a little more.
inline constexpr std::chrono::milliseconds kHandOverWait{75000};

class InstancePlatform {
 public:
  virtual ~InstancePlatform() = default;
  // Claims the session for this process, for as long as the platform object lives; false when
  // another process holds the claim.
  virtual bool Claim() = 0;
  // Finds the running client's main window, lets it come to the front and asks it to show
  // itself; true once it has taken the request, false when none took it within `wait`.
  virtual bool AskRunningClientToShow(std::chrono::milliseconds wait) = 0;
};

enum class InstanceRole {
  kFirst,       // carries on as the session's client
  kHandedOver,  // a client runs already and was asked to show itself; this start ends
};

InstanceRole ClaimOrHandOver(InstancePlatform& platform);

// The named mutex and the running client's window (Windows only).
std::unique_ptr<InstancePlatform> MakeSystemInstancePlatform();

}  // namespace korvex
