// Waking the user-interface thread on POSIX: an eventfd, watched together with
// the toolkit's display connection once the toolkit is loaded.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/event_wake.h"
#include "platform/posix/events_posix.h"

namespace fl {

namespace {

int WakeFd() {
  static const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return fd;
}

std::atomic<const posix::WindowSystemPump*> gPump{nullptr};

}  // namespace

namespace posix {

int EventWakeFd() {
  return WakeFd();
}

void SetWindowSystemPump(const WindowSystemPump* pump) {
  gPump = pump;
}

}  // namespace posix

namespace wake {

void Wake() {
  std::uint64_t one = 1;
  while (::write(WakeFd(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Clear() {
  std::uint64_t count;
  while (::read(WakeFd(), &count, sizeof count) < 0 && errno == EINTR) {
  }
}

void PumpWindowSystem() {
  if (const auto* pump = gPump.load()) pump->pumpPending();
}

void BlockUntilWoken() {
  if (const auto* pump = gPump.load()) {
    pump->waitOnce();
    return;
  }
  pollfd fd{WakeFd(), POLLIN, 0};
  while (::poll(&fd, 1, -1) < 0 && errno == EINTR) {
  }
}

}  // namespace wake

}  // namespace fl
