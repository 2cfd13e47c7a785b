#include <mutex>

#include "platform/app.h"
#include "platform/window.h"

namespace fl {

namespace {

std::mutex gTitleMutex;
Text gTitle;

}  // namespace

// A window system loaded later picks the title up from here.
void SetAppTitle(const Text& title) {
  {
    std::lock_guard<std::mutex> lock(gTitleMutex);
    gTitle = title;
  }
  ShowAppTitle(title);
}

Text AppTitle() {
  std::lock_guard<std::mutex> lock(gTitleMutex);
  return gTitle;
}

}  // namespace fl
