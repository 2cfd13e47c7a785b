#include <mutex>

#include "platform/app.h"

namespace fl {

namespace {

std::mutex gTitleMutex;
Text gTitle;

}  // namespace

// The window system is loaded only when a window is shown; it picks the
// title up from here then.
void SetAppTitle(const Text& title) {
  std::lock_guard<std::mutex> lock(gTitleMutex);
  gTitle = title;
}

Text AppTitle() {
  std::lock_guard<std::mutex> lock(gTitleMutex);
  return gTitle;
}

}  // namespace fl
