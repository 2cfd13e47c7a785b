// The transfer each backend brings (libcurl on POSIX, WinINet on Windows),
// and the load that both build on it.
#pragma once

#include <atomic>
#include <string>

#include "platform/http/html.h"
#include "platform/http/stack.h"

namespace fl::http {

struct Response {
  std::string body;
  std::string contentType;  // of the final response after redirects
};

// GETs url into response; returns why it failed, or an empty string.
std::string Fetch(const std::string& url, const std::atomic<bool>& cancel, Response* response);

// Fetches url and parses the page: what a stack's Load does on every
// platform. Never throws.
Outcome LoadPage(const std::string& url, const std::atomic<bool>& cancel);

}  // namespace fl::http
