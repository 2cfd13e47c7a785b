// The environment's say in which proxy carries a fetch, as libcurl reads
// the same variables: pure string rules, kept apart from the module's
// lookups so that they can be tested as a table.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace fl::http {

// Reads one environment variable: nullptr when it is not set.
using Variable = std::function<const char*(const char*)>;

// The proxy the environment names for a page at scheme://host: "" for a
// direct connection, an address with its scheme otherwise, nothing when
// the environment leaves the choice to the desktop's settings. Any of
// http_proxy, https_proxy, HTTPS_PROXY, all_proxy and ALL_PROXY, once set,
// decides alone; upper-case HTTP_PROXY counts for nothing, since a web
// server's CGI environment sets it from a request header. no_proxy (or,
// when it is not set, NO_PROXY) exempts host either way.
std::optional<std::string> EnvironmentProxy(std::string_view scheme, std::string_view host,
                                            const Variable& variable);

// True when no_proxy, a list as the variable holds it, exempts host.
bool NoProxyExempts(std::string_view host, std::string_view noProxy);

}  // namespace fl::http
