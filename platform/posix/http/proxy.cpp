#include "platform/posix/http/proxy.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <proxy.h>
#include <strings.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

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

struct UrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// The host of url as libcurl reads it; empty when it has none.
std::string HostOf(const std::string& url) {
  std::unique_ptr<CURLU, UrlFree> parsed(curl_url());
  char* part = nullptr;
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &part, 0) != CURLUE_OK) {
    return "";
  }
  std::string text(part);
  curl_free(part);
  return text;
}

// The environment's proxy for a scheme, looked up as libcurl does: its own
// variable in lower case, then (but for http) in upper case, then
// all_proxy. False when none of them is set.
bool EnvironmentProxy(const std::string& scheme, std::string* proxy) {
  std::string own = scheme + "_proxy", upper = own;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  for (const std::string& name : {own, scheme == "http" ? std::string() : upper,
                                  std::string("all_proxy"), std::string("ALL_PROXY")}) {
    if (name.empty()) continue;
    if (const char* value = std::getenv(name.c_str())) {
      *proxy = value;
      return true;
    }
  }
  return false;
}

bool AnyEnvironmentProxy() {
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    if (std::getenv(name) != nullptr) return true;
  }
  return false;
}

// libproxy's answer in libcurl's terms: "" for direct, nothing for a kind
// of proxy libcurl cannot use.
bool AsCurlProxy(std::string_view given, std::string* proxy) {
  if (given == "direct://") {
    proxy->clear();
    return true;
  }
  if (given.substr(0, 8) == "socks://") {
    *proxy = "socks5://" + std::string(given.substr(8));
    return true;
  }
  for (std::string_view scheme :
       {"http://", "https://", "socks4://", "socks4a://", "socks5://", "socks5h://"}) {
    if (given.substr(0, scheme.size()) == scheme) {
      *proxy = std::string(given);
      return true;
    }
  }
  return false;
}

// libproxy reads the environment too, upper-case HTTP_PROXY among it, and
// takes such a proxy before the desktop's. That one is not the user's.
bool FromHttpProxyVariable(std::string_view proxy) {
  const char* variable = std::getenv("HTTP_PROXY");
  if (variable == nullptr) return false;
  auto plain = [](std::string_view text) {
    while (!text.empty() && text.back() == '/') text.remove_suffix(1);
    return ProxyWithScheme(text);
  };
  return plain(variable) == plain(proxy);
}

// What libproxy answers, asked on a thread of its own: a PAC file or WPAD
// may take long, and libproxy cannot be interrupted. A lookup given up on
// finishes, or not, on its own; its results are then dropped.
std::vector<std::string> DesktopProxies(const std::string& url, const Cancel& cancel) {
  struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<std::string> proxies;
  };
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, url] {
      // One factory for the life of the process: freeing it unloads the PAC
      // runner's JavaScript engine, whose per-thread data would then be torn
      // down, at this thread's end, by code no longer there.
      static pxProxyFactory* const factory = px_proxy_factory_new();
      std::vector<std::string> proxies;
      try {
        char** answer =
            factory != nullptr ? px_proxy_factory_get_proxies(factory, url.c_str()) : nullptr;
        if (answer != nullptr) {
          std::string proxy;
          for (char** each = answer; *each != nullptr; ++each) {
            if (AsCurlProxy(*each, &proxy) && !FromHttpProxyVariable(proxy)) {
              proxies.push_back(proxy);
            }
          }
          px_proxy_factory_free_proxies(answer);
        }
      } catch (...) {
        proxies.clear();
      }
      std::lock_guard<std::mutex> lock(lookup->mutex);
      lookup->proxies = std::move(proxies);
      lookup->finished = true;
      lookup->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return {};
  }
  std::unique_lock<std::mutex> lock(lookup->mutex);
  while (!lookup->done.wait_for(lock, std::chrono::milliseconds(50),
                                [&] { return lookup->finished; })) {
    if (cancel()) return {};
  }
  return lookup->proxies;
}

}  // namespace

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

std::vector<std::string> ProxiesFor(const std::string& url, const Cancel& cancel) {
  const char* noProxy = std::getenv("no_proxy");
  if (noProxy == nullptr) noProxy = std::getenv("NO_PROXY");
  if (noProxy != nullptr && NoProxyExempts(HostOf(url), noProxy)) return {""};
  std::vector<std::string> proxies;
  if (AnyEnvironmentProxy()) {
    std::string proxy;
    if (EnvironmentProxy(SchemeOf(url), &proxy)) proxies.push_back(proxy);
  } else {
    proxies = DesktopProxies(url, cancel);
  }
  if (proxies.empty()) proxies.push_back("");
  // So is a proxy named, and so does libcurl take one given without a scheme.
  for (std::string& proxy : proxies) {
    if (!proxy.empty()) proxy = ProxyWithScheme(proxy);
  }
  return proxies;
}

}  // namespace fl::http
