// The transfer with WinINet, with the system's proxy settings. WinINet's own
// redirects are turned off so that their number is bounded as on POSIX.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "platform/http/address.h"
#include "platform/http/fetch.h"
#include "platform/utf8.h"
#include "platform/version.h"

namespace fl::http {

namespace {

constexpr int kMaxRedirects = 20;
constexpr DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                         INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                         INTERNET_FLAG_NO_UI;
constexpr wchar_t kHeaders[] =
    L"Cache-Control: no-cache\r\nAccept: text/html,application/xhtml+xml,*/*;q=0.8\r\n";

// Why a transfer failed, in the words the POSIX backend uses for the same
// condition; the code stays in the text where no short word fits.
std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
      return "timed out";
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return "cannot resolve the host name";
    // WinINet does not tell a refused connection from an unreachable host.
    case ERROR_INTERNET_CANNOT_CONNECT:
      return "cannot connect";
    case ERROR_INTERNET_CONNECTION_RESET:
      return "connection reset";
    case ERROR_INTERNET_CONNECTION_ABORTED:
      return "connection closed";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case ERROR_HTTP_INVALID_HEADER:
    case ERROR_HTTP_HEADER_NOT_FOUND:
      return "invalid response";
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
      return "invalid address";
    // A refused certificate is named by CertificateFailure.
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
      return "secure connection failed";
    case ERROR_INTERNET_OPERATION_CANCELLED:
      return "cancelled";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "out of memory";
    default:
      return "WinINet error " + std::to_string(error);
  }
}

std::wstring Wide(const std::string& utf8) {
  const Text text = FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Narrow(const std::wstring& wide) {
  return ToUtf8(Text(wide.begin(), wide.end()));
}

// A WinINet session for one transfer. Its blocking calls notice no flag, so
// a watcher closes the session when the transfer is cancelled: that ends
// every call under way on it and its children.
class Session {
 public:
  Session(const Limits& limits, const Deadline& deadline, const Cancel& cancel) : cancel_(cancel) {
    handle_ = InternetOpenW(L"FirstLoad/" FIRSTLOAD_VERSION_WIDE, INTERNET_OPEN_TYPE_PRECONFIG,
                            nullptr, nullptr, 0);
    if (handle_ == nullptr) return;
    // Under Wine a closed session does not end a call that waits on the
    // network, so no wait may outlast the deadline either.
    waitMs_ = std::min(static_cast<DWORD>(limits.stallSeconds) * 1000,
                       static_cast<DWORD>(deadline.Left().count()) + 500);
    Set(handle_, INTERNET_OPTION_CONNECT_TIMEOUT, static_cast<DWORD>(limits.connectSeconds) * 1000);
    Set(handle_, INTERNET_OPTION_CONNECT_RETRIES, 1);
    Set(handle_, INTERNET_OPTION_SEND_TIMEOUT, waitMs_);
    Set(handle_, INTERNET_OPTION_RECEIVE_TIMEOUT, waitMs_);
    watcher_ = std::thread([this] { Watch(); });
  }

  ~Session() {
    if (handle_ == nullptr) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    watcher_.join();
    if (!closed_) InternetCloseHandle(handle_);
  }

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  HINTERNET get() const { return handle_; }

  // What a request may wait for a word: Wine takes it from the request's
  // own options, not the session's.
  void LimitWaits(HINTERNET request) const {
    Set(request, INTERNET_OPTION_SEND_TIMEOUT, waitMs_);
    Set(request, INTERNET_OPTION_RECEIVE_TIMEOUT, waitMs_);
  }

  // A request handle goes with its session when the watcher closed that.
  void CloseChild(HINTERNET child) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!closed_) InternetCloseHandle(child);
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
      if (cancel_()) {
        InternetCloseHandle(handle_);
        closed_ = true;
        return;
      }
      wake_.wait_for(lock, std::chrono::milliseconds(50));
    }
  }

  static void Set(HINTERNET handle, DWORD option, DWORD value) {
    InternetSetOptionW(handle, option, &value, sizeof value);
  }

  const Cancel& cancel_;
  HINTERNET handle_ = nullptr;
  DWORD waitMs_ = 0;
  std::thread watcher_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  bool closed_ = false;
};

// A GET on a connection of its own, both closed with it.
class Request {
 public:
  explicit Request(Session& session) : session_(session) {}
  ~Request() {
    if (request_ != nullptr) session_.CloseChild(request_);
    if (connection_ != nullptr) session_.CloseChild(connection_);
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  HINTERNET get() const { return request_; }

  // Sends the request for url, with the certificate checks that ignore
  // names let pass; 0, or the error. Opened apart from its sending, unlike
  // with InternetOpenUrl, the request outlives a failure, so that its
  // security flags can tell what a certificate failed.
  DWORD Send(const std::wstring& url, DWORD ignore) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return GetLastError();
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    connection_ = InternetConnectW(session_.get(), host.c_str(), parts.nPort, nullptr, nullptr,
                                   INTERNET_SERVICE_HTTP, 0, 0);
    if (connection_ == nullptr) return GetLastError();
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0;
    request_ = HttpOpenRequestW(connection_, L"GET", object.empty() ? L"/" : object.c_str(),
                                nullptr, nullptr, nullptr, kFlags | secure, 0);
    if (request_ == nullptr) return GetLastError();
    session_.LimitWaits(request_);
    if (ignore != 0) {
      DWORD flags = SecurityFlags() | ignore;
      InternetSetOptionW(request_, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    if (!HttpSendRequestW(request_, kHeaders, static_cast<DWORD>(-1), nullptr, 0)) {
      return GetLastError();
    }
    return 0;
  }

  DWORD SecurityFlags() const {
    DWORD flags = 0, size = sizeof flags;
    if (request_ == nullptr ||
        !InternetQueryOptionW(request_, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) {
      return 0;
    }
    return flags;
  }

 private:
  Session& session_;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
};

// Why the certificate at url was refused with error, or "" when error is no
// certificate's. Wine reports an unknown authority as a failed revocation
// check and leaves no flag to say so; a second try that lets revocation pass
// then tells the flaw behind it. Whatever that try gets is left unread.
std::string CertificateFailure(Session& session, const Request& request, const std::wstring& url,
                               DWORD error) {
  DWORD flags = request.SecurityFlags();
  if (error == ERROR_INTERNET_SEC_CERT_REV_FAILED && (flags & kWinInetCertificateFlaws) == 0) {
    Request again(session);
    const DWORD other = again.Send(url, SECURITY_FLAG_IGNORE_REVOCATION);
    if (other != 0 && !WinInetCertificateReason(other, 0).empty()) {
      error = other;
      flags = again.SecurityFlags();
    }
  }
  return WinInetCertificateReason(error, flags);
}

std::wstring QueryText(HINTERNET request, DWORD info) {
  std::wstring value(256, L'\0');
  for (;;) {
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    DWORD index = 0;
    if (HttpQueryInfoW(request, info, value.data(), &bytes, &index)) {
      value.resize(bytes / sizeof(wchar_t));
      return value;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return L"";
    value.resize(bytes / sizeof(wchar_t) + 1);
  }
}

DWORD QueryStatus(HINTERNET request) {
  DWORD status = 0, bytes = sizeof status, index = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &bytes,
                      &index)) {
    return 0;
  }
  return status;
}

// The proxy the session sends url through, as the system's settings give it;
// "" for none.
std::string SessionProxy(HINTERNET session, const std::string& url) {
  // INTERNET_PROXY_INFO of the ANSI call, whatever UNICODE says.
  struct ProxyInfo {
    DWORD accessType;
    const char* proxy;
    const char* bypass;
  };
  DWORD size = 0;
  InternetQueryOptionA(session, INTERNET_OPTION_PROXY, nullptr, &size);
  if (size < sizeof(ProxyInfo)) return "";
  std::vector<ProxyInfo> buffer(size / sizeof(ProxyInfo) + 1);
  if (!InternetQueryOptionA(session, INTERNET_OPTION_PROXY, buffer.data(), &size)) return "";
  const ProxyInfo& info = buffer.front();
  if (info.accessType != INTERNET_OPEN_TYPE_PROXY || info.proxy == nullptr) return "";
  // A host of the exceptions goes direct, and its failures are its own.
  if (info.bypass != nullptr && BypassesProxy(info.bypass, HostOfUrl(url))) return "";
  return ProxyFromList(info.proxy, SchemeOf(url));
}

std::wstring Combine(const std::wstring& base, const std::wstring& relative) {
  std::wstring out(4096, L'\0');
  DWORD length = static_cast<DWORD>(out.size());
  if (!InternetCombineUrlW(base.c_str(), relative.c_str(), out.data(), &length, ICU_NO_ENCODE)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return L"";
    out.resize(length + 1);
    length = static_cast<DWORD>(out.size());
    if (!InternetCombineUrlW(base.c_str(), relative.c_str(), out.data(), &length, ICU_NO_ENCODE)) {
      return L"";
    }
  }
  out.resize(length);
  return out;
}

}  // namespace

// WinINet sets itself up on first use.
void StartTransfers() {}

// WinINet verifies against the system's certificates only; caFile is for
// the tests of platforms that can take one.
std::string Fetch(const std::string& url, const std::string& /*caFile*/, const Limits& limits,
                  const Cancel& cancel, Deadline* deadline, Response* response) {
  // Where a redirect may lead, RefusedRedirect says for every hop after this.
  const std::string scheme = SchemeOf(url);
  if (scheme != "http" && scheme != "https") {
    return "not an http or https address: " + WithoutUserPart(url);
  }
  Session session(limits, *deadline, cancel);
  if (session.get() == nullptr) return Reason(GetLastError());
  std::wstring address = Wide(url);
  for (int redirects = 0;; ++redirects) {
    // WinINet finds the system's proxy inside this call, and connects.
    deadline->stage = Stage::kConnecting;
    Request request(session);
    const DWORD error = request.Send(address, 0);
    if (cancel()) return "cancelled";
    if (error != 0) {
      if (const char* failure = WinInetProxyFailure(error)) {
        const std::string proxy = SessionProxy(session.get(), Narrow(address));
        if (!proxy.empty()) return ProxyReason(failure, proxy);
      }
      const std::string certificate = CertificateFailure(session, request, address, error);
      return certificate.empty() ? Reason(error) : certificate;
    }
    deadline->stage = Stage::kReceiving;

    const DWORD status = QueryStatus(request.get());
    if (status >= 300 && status < 400) {
      const std::wstring location = QueryText(request.get(), HTTP_QUERY_LOCATION);
      if (!location.empty()) {
        if (redirects == kMaxRedirects) return "more than 20 redirects";
        const std::wstring next = Combine(address, location);
        if (next.empty()) return "a redirect to an invalid address";
        const std::string refused = RefusedRedirect(Narrow(address), Narrow(next));
        if (!refused.empty()) return refused;
        address = next;
        continue;
      }
    }
    if (status == 407) {
      const std::string proxy = SessionProxy(session.get(), Narrow(address));
      if (!proxy.empty()) return ProxyStatusReason(static_cast<long>(status), proxy);
    }
    if (status >= 400) return "HTTP " + std::to_string(status);

    const std::wstring length = QueryText(request.get(), HTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty() && std::wcstoull(length.c_str(), nullptr, 10) > kMaxBody) {
      return "the page is larger than 16 MiB";
    }
    char chunk[65536];
    for (;;) {
      // Only what has arrived is read: Wine's read waits until the whole
      // chunk is there, so a page that trickles in would hold it past any
      // cancel or deadline.
      DWORD available = 0, got = 0;
      if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) {
        return cancel() ? "cancelled" : Reason(GetLastError());
      }
      if (cancel()) return "cancelled";
      if (available == 0) break;
      const DWORD want = std::min<DWORD>(available, sizeof chunk);
      if (!InternetReadFile(request.get(), chunk, want, &got)) {
        return cancel() ? "cancelled" : Reason(GetLastError());
      }
      if (got == 0) break;
      if (response->body.size() + got > kMaxBody) return "the page is larger than 16 MiB";
      response->body.append(chunk, got);
    }
    if (cancel()) return "cancelled";
    response->contentType = Narrow(QueryText(request.get(), HTTP_QUERY_CONTENT_TYPE));
    return "";
  }
}

}  // namespace fl::http
