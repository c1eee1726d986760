#include "client/single_instance.h"

namespace korvex {

InstanceRole ClaimOrHandOver(InstancePlatform& platform) {
  if (platform.Claim()) return InstanceRole::kFirst;
  // Whether or not the running client took the request in time, a second client would only
  // add a second icon and a second update: this start ends either way.
  platform.AskRunningClientToShow(kHandOverWait);
  return InstanceRole::kHandedOver;
}

}  // namespace korvex
