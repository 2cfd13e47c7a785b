#include "platform/posix/http/proxy.h"

#include <curl/curl.h>
#include <proxy.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/http/address.h"
#include "platform/posix/http/proxy_rules.h"

namespace fl::http {

namespace {

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
std::vector<std::string> DesktopProxies(const std::string& url, const Cancel& cancel,
                                        std::chrono::steady_clock::time_point until,
                                        bool* unfinished) {
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
    if (std::chrono::steady_clock::now() >= until) {
      *unfinished = true;
      return {};
    }
  }
  return lookup->proxies;
}

}  // namespace

std::vector<std::string> ProxiesFor(const std::string& url, const Cancel& cancel,
                                    std::chrono::steady_clock::time_point until, bool* unfinished) {
  if (std::optional<std::string> proxy =
          EnvironmentProxy(SchemeOf(url), HostOf(url), std::getenv)) {
    return {*proxy};
  }
  std::vector<std::string> proxies = DesktopProxies(url, cancel, until, unfinished);
  if (proxies.empty()) proxies.push_back("");
  // So is a proxy named, and so does libcurl take one given without a scheme.
  for (std::string& proxy : proxies) {
    if (!proxy.empty()) proxy = ProxyWithScheme(proxy);
  }
  return proxies;
}

}  // namespace fl::http
