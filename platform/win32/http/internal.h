// What the parts of the HTTP stack share beside the common page code: the
// transfer with WinINet.
#pragma once

#include <atomic>
#include <string>

#include "platform/http/html.h"

namespace fl::http {

struct Response {
  std::string body;
  std::string contentType;  // of the final response after redirects
};

// GETs url into response; returns why it failed, or an empty string.
std::string Fetch(const std::string& url, const std::atomic<bool>& cancel, Response* response);

}  // namespace fl::http
