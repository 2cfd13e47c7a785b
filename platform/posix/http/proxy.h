// Which proxies carry a fetch: the environment's, as libcurl reads it, or
// else the desktop's settings, as the desktop's own programs read them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/http/stack.h"

namespace fl::http {

// The proxies to try for url, in order; "" stands for a direct connection.
// Never empty. Any of http_proxy, https_proxy, HTTPS_PROXY, all_proxy and
// ALL_PROXY, once set, decides alone, with no_proxy (or NO_PROXY), exactly
// as libcurl would; upper-case HTTP_PROXY counts for nothing, since a web
// server's CGI environment sets it from a request header. Only when none is
// set are the desktop's settings asked (GNOME, KDE, a PAC file, WPAD), for
// as long as cancel allows.
std::vector<std::string> ProxiesFor(const std::string& url, const Cancel& cancel);

// True when no_proxy, a list as the variable holds it, exempts host.
bool NoProxyExempts(std::string_view host, std::string_view noProxy);

}  // namespace fl::http
