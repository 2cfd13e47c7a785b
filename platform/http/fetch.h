// The transfer each backend brings (libcurl on POSIX, WinINet on Windows),
// and the stack that both build on it.
#pragma once

#include <string>

#include "platform/http/stack.h"

namespace fl::http {

struct Response {
  std::string body;
  std::string contentType;  // of the final response after redirects
};

// The transfer's own process-wide set-up, done once before any thread
// fetches.
void StartTransfers();

// GETs url into response, verifying a secure connection and keeping to the
// limits as Stack::Load says; returns why it failed, or an empty string.
std::string Fetch(const std::string& url, const std::string& caFile, const Limits& limits,
                  const Cancel& cancel, Response* response);

// The stack every platform hands out: Fetch, then the page parsed. Made once,
// on the user-interface thread, before any navigation; never deleted.
Stack* NewPageStack();

}  // namespace fl::http
