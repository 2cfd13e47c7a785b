#include "platform/posix/http/proxy_rules.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cstdlib>

#include "platform/http/address.h"

namespace fl::http {

namespace {

// An address and the bits of it that count, as in 10.0.0.0/8.
bool InNetwork(std::string_view host, std::string_view network) {
  const std::size_t slash = network.find('/');
  const std::string address(network.substr(0, slash));
  const std::string hostText(host);
  unsigned char want[16], have[16];
  const int family = address.find(':') != std::string::npos ? AF_INET6 : AF_INET;
  if (inet_pton(family, address.c_str(), want) != 1) return false;
  if (inet_pton(family, hostText.c_str(), have) != 1) return false;
  const int size = family == AF_INET ? 32 : 128;
  int bits = size;
  if (slash != std::string_view::npos) {
    const std::string count(network.substr(slash + 1));
    char* end = nullptr;
    const long parsed = std::strtol(count.c_str(), &end, 10);
    if (count.empty() || *end != '\0' || parsed < 0 || parsed > size) return false;
    bits = static_cast<int>(parsed);
  }
  for (int i = 0; i < bits; ++i) {
    const unsigned mask = 0x80u >> (i % 8);
    if ((want[i / 8] & mask) != (have[i / 8] & mask)) return false;
  }
  return true;
}

// The scheme's own variable in lower case, then (but for http) in upper
// case, then all_proxy and ALL_PROXY: the first that is set, even to
// nothing, names the proxy.
const char* SchemeProxy(std::string_view scheme, const Variable& variable) {
  std::string own = std::string(scheme) + "_proxy", upper = own;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  for (const std::string& name : {own, scheme == "http" ? std::string() : upper,
                                  std::string("all_proxy"), std::string("ALL_PROXY")}) {
    if (name.empty()) continue;
    if (const char* value = variable(name.c_str())) return value;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> EnvironmentProxy(std::string_view scheme, std::string_view host,
                                            const Variable& variable) {
  const char* noProxy = variable("no_proxy");
  if (noProxy == nullptr) noProxy = variable("NO_PROXY");
  if (noProxy != nullptr && NoProxyExempts(host, noProxy)) return "";
  bool any = false;
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    any = any || variable(name) != nullptr;
  }
  if (!any) return std::nullopt;
  // Another scheme's proxy is no reason to ask the desktop: the fetch goes
  // direct, as with libcurl.
  const char* proxy = SchemeProxy(scheme, variable);
  if (proxy == nullptr || *proxy == '\0') return "";
  return ProxyWithScheme(proxy);
}

bool NoProxyExempts(std::string_view host, std::string_view noProxy) {
  if (noProxy == "*") return true;
  if (host.size() > 1 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  for (std::string_view entry : ListEntries(noProxy, ", \t")) {
    if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
    if (!entry.empty() && entry.back() == '.') entry.remove_suffix(1);
    if (entry.empty()) continue;
    if (InNetwork(host, entry)) return true;
    // A name covers itself and every name within it.
    if (entry.size() <= host.size() &&
        ::strncasecmp(host.data() + host.size() - entry.size(), entry.data(), entry.size()) == 0 &&
        (entry.size() == host.size() || host[host.size() - entry.size() - 1] == '.')) {
      return true;
    }
  }
  return false;
}

}  // namespace fl::http
