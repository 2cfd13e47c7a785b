// What the POSIX event queue shares with the window-system module: the
// wake-up descriptor and the hooks through which the toolkit's own events are
// pumped and waited for together with the queue.
#pragma once

namespace fl::posix {

// Readable while an event may be pending.
int EventWakeFd();

struct WindowSystemPump {
  void (*pumpPending)();  // dispatch every pending toolkit event, no waiting
  void (*waitOnce)();     // block until a toolkit event or the wake fd is ready
};

// Installed once the toolkit is loaded; nullptr removes it.
void SetWindowSystemPump(const WindowSystemPump* pump);

}  // namespace fl::posix
