// The event queue, the same on every platform; the backend wakes the
// user-interface thread and pumps the window system (platform/event_wake.h).
#include "platform/events.h"

#include <atomic>
#include <deque>
#include <mutex>

#include "platform/event_wake.h"

namespace fl {

namespace {

struct Queue {
  std::mutex mutex;
  std::deque<std::function<void()>> pending;
  std::atomic<int> sources{0};
};

Queue& TheQueue() {
  static Queue* q = new Queue;  // lives for the process; events may be posted at exit
  return *q;
}

}  // namespace

void PostEvent(std::function<void()> handler) {
  Queue& q = TheQueue();
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.pending.push_back(std::move(handler));
  }
  wake::Wake();
}

void DoEvents() {
  Queue& q = TheQueue();
  wake::Clear();
  wake::PumpWindowSystem();
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
  if (EventsPending()) return;
  wake::BlockUntilWoken();
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
