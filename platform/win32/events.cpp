// The event queue on Windows: handlers queued beside the thread's message
// queue, and an event object that wakes a MsgWaitForMultipleObjectsEx when
// one is posted from another thread.
#include "platform/events.h"

#include <atomic>
#include <deque>
#include <mutex>

#include "platform/win32/oserror.h"

namespace fl {

namespace {

struct Queue {
  std::mutex mutex;
  std::deque<std::function<void()>> pending;
  HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // manual reset
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
  SetEvent(q.wake);
}

void DoEvents() {
  Queue& q = TheQueue();
  ResetEvent(q.wake);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
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
  // MWMO_INPUTAVAILABLE: messages already seen by a peek count too.
  MsgWaitForMultipleObjectsEx(1, &q.wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
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
