// Which proxies carry a fetch: the environment's, as libcurl reads it, or
// else the desktop's settings, as the desktop's own programs read them.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http/stack.h"

namespace fl::http {

// The proxies to try for url, in order; "" stands for a direct connection.
// Never empty. The environment decides where it says anything
// (EnvironmentProxy); only then are the desktop's settings asked (GNOME,
// KDE, a PAC file, WPAD), for as long as cancel allows and until then at
// most: past it, the answer is direct and *unfinished says so.
std::vector<std::string> ProxiesFor(const std::string& url, const Cancel& cancel,
                                    std::chrono::steady_clock::time_point until, bool* unfinished);

}  // namespace fl::http
