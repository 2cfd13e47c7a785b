// The user-interface thread's event queue. Browser and window events are
// posted here from any thread and run only on the user-interface thread,
// inside DoEvents.
#pragma once

#include <functional>

namespace fl {

// Queues an event handler; safe from any thread. Wakes a WaitForEvents.
void PostEvent(std::function<void()> handler);

// Runs every event pending now (window-system events included) and returns
// without waiting for new ones.
void DoEvents();

// Blocks until at least one event is pending; returns at once if one is.
// Does not run any event.
void WaitForEvents();

// True when an event is queued and not yet run.
bool EventsPending();

// Sources that may still post events (a navigation under way, a window on
// screen) register while they can; a wait with none registered and nothing
// pending would never end.
void AddEventSource();
void RemoveEventSource();
bool EventSourcesActive();

}  // namespace fl
