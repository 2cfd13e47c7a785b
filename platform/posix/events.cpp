#include "platform/events.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>

#include "platform/posix/events_posix.h"

namespace fl {

namespace {

struct Queue {
  std::mutex mutex;
  std::deque<std::function<void()>> pending;
  int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  std::atomic<int> sources{0};
  std::atomic<const posix::WindowSystemPump*> pump{nullptr};
};

Queue& TheQueue() {
  static Queue* q = new Queue;  // lives for the process; events may be posted at exit
  return *q;
}

}  // namespace

namespace posix {

int EventWakeFd() {
  return TheQueue().wakeFd;
}

void ClearWake() {
  uint64_t count;
  while (::read(TheQueue().wakeFd, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

void SetWindowSystemPump(const WindowSystemPump* pump) {
  TheQueue().pump = pump;
}

}  // namespace posix

void PostEvent(std::function<void()> handler) {
  Queue& q = TheQueue();
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.pending.push_back(std::move(handler));
  }
  uint64_t one = 1;
  while (::write(q.wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void DoEvents() {
  Queue& q = TheQueue();
  posix::ClearWake();
  if (const auto* pump = q.pump.load()) pump->pumpPending();
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    batch.swap(q.pending);
  }
  // Events posted while these run wait for the next call.
  for (auto& handler : batch) handler();
}

bool EventsPending() {
  Queue& q = TheQueue();
  std::lock_guard<std::mutex> lock(q.mutex);
  return !q.pending.empty();
}

void WaitForEvents() {
  Queue& q = TheQueue();
  if (EventsPending()) return;
  if (const auto* pump = q.pump.load()) {
    pump->waitOnce();
    return;
  }
  pollfd fd{q.wakeFd, POLLIN, 0};
  while (::poll(&fd, 1, -1) < 0 && errno == EINTR) {
  }
}

void AddEventSource() {
  ++TheQueue().sources;
}
void RemoveEventSource() {
  --TheQueue().sources;
}
bool EventSourcesActive() {
  return TheQueue().sources.load() > 0;
}

}  // namespace fl
