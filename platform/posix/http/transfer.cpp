#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "platform/http/address.h"
#include "platform/http/fetch.h"
#include "platform/posix/http/curl_options.h"
#include "platform/posix/http/proxy.h"
#include "platform/version.h"

namespace fl::http {

namespace {

struct Sink {
  std::string* body;
  bool tooLarge = false;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  size_t bytes = size * count;
  if (sink->body->size() + bytes > kMaxBody) {
    sink->tooLarge = true;
    return 0;  // anything short of bytes aborts the transfer
  }
  sink->body->append(data, bytes);
  return bytes;
}

struct Watch {
  CURL* curl;
  const Cancel& cancel;
  Deadline* deadline;
};

// Called at least once a second even while nothing arrives, so a Stop or the
// deadline is noticed promptly.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* watch = static_cast<Watch*>(user);
  long status = 0;
  if (watch->deadline->stage == Stage::kConnecting &&
      curl_easy_getinfo(watch->curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status != 0) {
    watch->deadline->stage = Stage::kReceiving;
  }
  return watch->cancel() ? 1 : 0;
}

std::string OsErrorText(CURL* curl) {
  long err = 0;
  curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &err);
  if (err == 0) return "";
  char buf[128];
  // GNU strerror_r may return a static string instead of filling buf.
  return strerror_r(static_cast<int>(err), buf, sizeof buf);
}

// Why a transfer failed, in a few words a person at a terminal can act on;
// what went wrong at the proxy names the proxy. Sets unreachable when the
// proxy itself could not be had, so that the next one may be tried.
std::string Reason(CURL* curl, CURLcode rc, const char* detail, const std::string& url,
                   const std::string& proxy, bool* unreachable) {
  switch (rc) {
    case CURLE_COULDNT_RESOLVE_PROXY:
      *unreachable = true;
      return ProxyReason("cannot resolve the proxy's host name", proxy);
    case CURLE_COULDNT_RESOLVE_HOST:
      return "cannot resolve the host name";
    case CURLE_COULDNT_CONNECT: {
      const std::string why = OsErrorText(curl);
      if (proxy.empty()) return why.empty() ? "cannot connect" : "cannot connect: " + why;
      *unreachable = true;
      return ProxyReason(
          why.empty() ? "cannot connect to the proxy" : "cannot connect to the proxy (" + why + ")",
          proxy);
    }
    case CURLE_PROXY:
      return ProxyReason(detail[0] != '\0' ? detail : "the proxy failed", proxy);
    case CURLE_UNSUPPORTED_PROTOCOL: {
      long redirects = 0;
      const char* next = nullptr;
      curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &redirects);
      curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &next);
      if (redirects > 0 && next != nullptr) {
        const std::string refused = RefusedRedirect(url, next);
        if (!refused.empty()) return refused;
      }
      break;
    }
    case CURLE_OPERATION_TIMEDOUT:
      return "timed out";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return std::string(kCertificateRefused) + (detail[0] != '\0' ? ": " : "") + detail;
    default:
      break;
  }
  return detail[0] != '\0' ? std::string(curl_easy_strerror(rc)) + ": " + detail
                           : std::string(curl_easy_strerror(rc));
}

struct EasyFree {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

void StartTransfers() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
}

namespace {

// One try at url, through proxy ("" for none).
std::string FetchThrough(const std::string& url, const std::string& proxy,
                         const std::string& caFile, const Limits& limits, const Cancel& cancel,
                         Deadline* deadline, Response* response, bool* unreachable) {
  std::unique_ptr<CURL, EasyFree> curl(curl_easy_init());
  if (!curl) return "libcurl could not start a transfer";
  // Nothing is cached on this side, and no cache on the way may answer.
  curl_slist* list = nullptr;
  for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache",
                             "Accept: text/html,application/xhtml+xml,*/*;q=0.8"}) {
    curl_slist* grown = curl_slist_append(list, header);
    if (grown == nullptr) {
      curl_slist_free_all(list);
      return "out of memory";
    }
    list = grown;
  }
  std::unique_ptr<curl_slist, ListFree> headers(list);

  Sink sink{&response->body};
  Watch watch{curl.get(), cancel, deadline};
  // The deadline again, in libcurl's own terms a second later, should the
  // callback that notices it come late.
  const std::chrono::milliseconds left = deadline->Left();
  if (left.count() == 0) return "cancelled";
  char detail[CURL_ERROR_SIZE] = "";
  CURLcode rc = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl.get(), option, value);
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_DEFAULT_PROTOCOL, "http");
  // A page may send the browser on to another page, never to another scheme,
  // and never from https back to http.
  static const CurlOptions kOptions =
      CurlOptionsOf(curl_version_info(CURLVERSION_NOW)->version_num);
  if (rc == CURLE_OK) rc = SetSchemes(curl.get(), kOptions, RedirectSchemes(url));
  // The proxy is chosen here, for the page's address, and carries its
  // redirects too; libcurl is to look for none of its own.
  set(CURLOPT_PROXY, proxy.c_str());
  set(CURLOPT_NOPROXY, "");
  // Whatever the proxy asks for: credentials from the proxy's address, or
  // with none there, the user's own Kerberos ticket.
  set(CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_ANY));
  if (!proxy.empty() && WithoutUserPart(proxy) == proxy) set(CURLOPT_PROXYUSERPWD, ":");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, 20L);
  set(CURLOPT_HTTPHEADER, headers.get());
  set(CURLOPT_USERAGENT, "FirstLoad/" FIRSTLOAD_VERSION);
  set(CURLOPT_ACCEPT_ENCODING, "");
  // Cookies set along a redirect chain reach the next hop, in memory only.
  set(CURLOPT_COOKIEFILE, "");
  set(CURLOPT_FAILONERROR, 1L);
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBody));
  set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(limits.connectSeconds));
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.stallSeconds));
  set(CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()) + 1000);
  set(CURLOPT_NOSIGNAL, 1L);
  if (rc == CURLE_OK) rc = SetQuickExit(curl.get(), kOptions);
  set(CURLOPT_WRITEFUNCTION, OnData);
  set(CURLOPT_WRITEDATA, &sink);
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, OnProgress);
  set(CURLOPT_XFERINFODATA, &watch);
  // Certificates and host names are always verified (libcurl's default);
  // a test's own authority may come on top of the system's.
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  if (!caFile.empty()) set(CURLOPT_CAINFO, caFile.c_str());
  set(CURLOPT_ERRORBUFFER, detail);
  if (rc != CURLE_OK) return std::string("libcurl refused an option: ") + curl_easy_strerror(rc);

  deadline->stage = Stage::kConnecting;
  rc = curl_easy_perform(curl.get());
  if (sink.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) return "the page is larger than 16 MiB";
  long status = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  // A proxy that would not carry the request: 407 to a plain request, any
  // refusal of a tunnel.
  long tunnel = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_HTTP_CONNECTCODE, &tunnel);
  if (!proxy.empty() && (status == 407 || (tunnel != 0 && (tunnel < 200 || tunnel > 299)))) {
    return ProxyStatusReason(status == 407 ? status : tunnel, proxy);
  }
  if (rc == CURLE_HTTP_RETURNED_ERROR || (rc == CURLE_OK && status >= 400)) {
    return "HTTP " + std::to_string(status);
  }
  if (rc != CURLE_OK) return Reason(curl.get(), rc, detail, url, proxy, unreachable);
  const char* type = nullptr;
  if (curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr) {
    response->contentType = type;
  }
  return "";
}

}  // namespace

std::string Fetch(const std::string& url, const std::string& caFile, const Limits& limits,
                  const Cancel& cancel, Deadline* deadline, Response* response) {
  std::string why;
  deadline->stage = Stage::kDiscovery;
  const std::vector<std::string> proxies = ProxiesFor(
      url, cancel,
      std::min(deadline->at, Clock::now() + std::chrono::seconds(limits.discoverySeconds)),
      &deadline->undiscovered);
  // The next proxy is tried only when one could not be reached at all.
  for (const std::string& proxy : proxies) {
    if (cancel()) return "cancelled";
    *response = Response{};
    bool unreachable = false;
    why = FetchThrough(url, proxy, caFile, limits, cancel, deadline, response, &unreachable);
    if (!unreachable) break;
  }
  return why;
}

}  // namespace fl::http
