// What each backend gives the shared event queue: a way to wake the
// user-interface thread, and the window system's own events.
#pragma once

namespace fl::wake {

// Makes a BlockUntilWoken on the user-interface thread return; any thread.
void Wake();
// Forgets the wake-ups so far; called before the queue is drained.
void Clear();
// Dispatches every pending window-system event without waiting.
void PumpWindowSystem();
// Blocks until Wake() is called or a window-system event arrives.
void BlockUntilWoken();

}  // namespace fl::wake
