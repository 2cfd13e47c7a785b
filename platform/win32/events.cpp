// Waking the user-interface thread on Windows: an event object that a
// MsgWaitForMultipleObjectsEx waits on together with the thread's messages.
#include "platform/event_wake.h"
#include "platform/win32/oserror.h"

namespace fl::wake {

namespace {

HANDLE WakeEvent() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // manual reset
  return event;
}

}  // namespace

void Wake() {
  SetEvent(WakeEvent());
}

void Clear() {
  ResetEvent(WakeEvent());
}

void PumpWindowSystem() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void BlockUntilWoken() {
  HANDLE event = WakeEvent();
  // MWMO_INPUTAVAILABLE: messages already seen by a peek count too.
  MsgWaitForMultipleObjectsEx(1, &event, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

}  // namespace fl::wake
