// The Linux network watch against real changes: in a network namespace of the test's own, so
// that only that namespace's loopback moves. Needs root (unshare); skipped otherwise.

#include <gtest/gtest.h>

#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "core/posix/network_watch.h"

namespace korvex {
namespace {

// Brings the namespace's loopback up or down, as `ip link set lo up` does.
bool SetLoopback(bool up) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok) {
    request.ifr_flags = static_cast<short>(up ? (request.ifr_flags | IFF_UP) : (request.ifr_flags & ~IFF_UP));
    ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  ::close(fd);
  return ok;
}

// Waits up to `ms` for the watch's descriptor and serves it; the number of changes reported.
int Serve(posix::NetlinkWatch& watch, int& changes, int ms) {
  pollfd entry{watch.Descriptor(), POLLIN, 0};
  if (entry.fd >= 0 && ::poll(&entry, 1, ms) == 1) watch.Readable();
  return changes;
}

// The checks run in a child that owns the namespace; its exit code says which one failed.
int RunInOwnNamespace() {
  if (::unshare(CLONE_NEWNET) != 0) return 77;
  int changes = 0;
  posix::NetlinkWatch watch([&changes] { ++changes; });
  watch.Start();
  if (Serve(watch, changes, 100) != 0) return 10;  // nothing happened yet
  if (!SetLoopback(true)) return 11;
  if (Serve(watch, changes, 5000) != 1) return 12;  // link and address messages: one change
  if (!SetLoopback(false)) return 13;
  if (Serve(watch, changes, 5000) != 2) return 14;
  watch.Stop();
  if (watch.Descriptor() != -1) return 15;
  if (!SetLoopback(true)) return 16;
  watch.Readable();  // stopped: nothing is read and nothing reported
  if (changes != 2) return 17;
  return 0;
}

TEST(NetlinkWatchTest, ReportsALinkAndAddressChangeOnceAndNothingAfterStop) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(RunInOwnNamespace());
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no network namespace of our own (unshare needs root)";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failed check, see the codes in RunInOwnNamespace";
}

}  // namespace
}  // namespace korvex
