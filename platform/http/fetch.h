// The transfer each backend brings (libcurl on POSIX, WinINet on Windows),
// and the stack that both build on it.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>

#include "platform/http/stack.h"

namespace fl::http {

using Clock = std::chrono::steady_clock;

// What a fetch was doing when its load's deadline passed.
enum class Stage { kDiscovery, kConnecting, kReceiving };

// A load's deadline, and the stage its fetch has reached: the fetch moves
// the stage on, the load words the reason from it.
struct Deadline {
  Clock::time_point at;
  Stage stage = Stage::kConnecting;
  bool undiscovered = false;  // discovery ran out of its time; the fetch went direct
  bool Passed() const { return Clock::now() >= at; }
  // What is left of it, never less than nothing.
  std::chrono::milliseconds Left() const {
    return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now()),
                    std::chrono::milliseconds(0));
  }
};

struct Response {
  std::string body;
  std::string contentType;  // of the final response after redirects
};

// The transfer's own process-wide set-up, done once before any thread
// fetches.
void StartTransfers();

// GETs url into response, verifying a secure connection and keeping to the
// limits as Stack::Load says; returns why it failed, or an empty string.
// cancel also says so once deadline has passed; the fetch keeps
// deadline->stage up to date.
std::string Fetch(const std::string& url, const std::string& caFile, const Limits& limits,
                  const Cancel& cancel, Deadline* deadline, Response* response);

// The stack every platform hands out: Fetch, then the page parsed. Made once,
// by the first navigation's thread, before it loads a page; never deleted.
Stack* NewPageStack();

}  // namespace fl::http
