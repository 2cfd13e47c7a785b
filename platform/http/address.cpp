#include "platform/http/address.h"

#include <algorithm>

namespace fl::http {

std::string SchemeOf(std::string_view url) {
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0) return "";
  std::string scheme;
  for (char c : url.substr(0, colon)) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!letter && (!other || scheme.empty())) return "";
    scheme += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return scheme;
}

const char* RedirectSchemes(std::string_view url) {
  return SchemeOf(url) == "https" ? "https" : "http,https";
}

std::string RefusedRedirect(std::string_view from, std::string_view to) {
  const std::string scheme = SchemeOf(to);
  if (scheme == "https" || (scheme == "http" && SchemeOf(from) != "https")) return "";
  return "a redirect to " + (scheme.empty() ? std::string("an address without a scheme") : scheme) +
         " was refused";
}

std::string WithoutUserPart(std::string_view url) {
  const std::size_t begin = url.find("://");
  const std::size_t host = begin == std::string_view::npos ? 0 : begin + 3;
  const std::size_t end = url.find_first_of("/?#", host);
  const std::size_t at =
      url.substr(host, end == std::string_view::npos ? std::string_view::npos : end - host)
          .rfind('@');
  if (at == std::string_view::npos) return std::string(url);
  return std::string(url.substr(0, host)) + std::string(url.substr(host + at + 1));
}

std::vector<std::string_view> ListEntries(std::string_view list, std::string_view separators) {
  std::vector<std::string_view> entries;
  std::size_t begin = 0;
  while (begin < list.size()) {
    std::size_t end = list.find_first_of(separators, begin);
    if (end == std::string_view::npos) end = list.size();
    if (end > begin) entries.push_back(list.substr(begin, end - begin));
    begin = end + 1;
  }
  return entries;
}

std::string ProxyWithScheme(std::string_view proxy) {
  return proxy.find("://") == std::string_view::npos ? "http://" + std::string(proxy)
                                                     : std::string(proxy);
}

std::string ProxyFromList(std::string_view list, std::string_view scheme) {
  std::string_view chosen;
  for (std::string_view entry : ListEntries(list, "; ")) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) {
      if (chosen.empty()) chosen = entry;
    } else if (SchemeOf(std::string(entry.substr(0, equals)) + ":") == scheme) {
      chosen = entry.substr(equals + 1);
      break;
    }
  }
  return chosen.empty() ? "" : ProxyWithScheme(chosen);
}

std::string HostOfUrl(std::string_view url) {
  const std::size_t scheme = url.find("://");
  std::string_view authority = url.substr(scheme == std::string_view::npos ? 0 : scheme + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  if (!authority.empty() && authority.front() == '[') {
    return std::string(authority.substr(1, authority.find(']') - 1));
  }
  return std::string(authority.substr(0, authority.find(':')));
}

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// pattern against text, '*' matching any run of characters, case aside.
bool Matches(std::string_view pattern, std::string_view text) {
  std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && Lower(pattern[p]) == Lower(text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool BypassesProxy(std::string_view list, std::string_view host) {
  if (host.empty()) return false;
  for (std::string_view entry : ListEntries(list, "; \t")) {
    const bool local =
        entry.size() == 7 && std::equal(entry.begin(), entry.end(), "<local>",
                                        [](char a, char b) { return Lower(a) == b; });
    if (local ? host.find('.') == std::string_view::npos : Matches(entry, host)) return true;
  }
  return false;
}

std::string ProxyReason(std::string_view what, std::string_view proxy) {
  return std::string(what) + " at " + WithoutUserPart(proxy);
}

std::string ProxyStatusReason(long status, std::string_view proxy) {
  const std::string code = "HTTP " + std::to_string(status);
  return ProxyReason(status == 407 ? "the proxy asked for credentials (" + code + ")"
                                   : "the proxy answered " + code,
                     proxy);
}

const char* WinInetProxyFailure(unsigned long error) {
  // Through a proxy, WinINet resolves and connects to the proxy alone: the
  // service's name and address are the proxy's business, and its failure
  // to reach them comes back as the proxy's HTTP status. A timeout, a reset
  // or a closed connection may happen on either side of it.
  static constexpr struct {
    unsigned long error;
    const char* reason;
  } kProxyErrors[] = {
      {12007, "cannot resolve the proxy's host name"},  // ERROR_INTERNET_NAME_NOT_RESOLVED
      {12029, "cannot connect to the proxy"},           // ERROR_INTERNET_CANNOT_CONNECT
      {12165, "cannot connect to the proxy"},           // ERROR_INTERNET_PROXY_SERVER_UNREACHABLE
  };
  for (const auto& known : kProxyErrors) {
    if (known.error == error) return known.reason;
  }
  return nullptr;
}

namespace {

constexpr char kAuthority[] = "it is from an unknown authority";
constexpr char kDates[] = "it has expired or is not valid yet";
constexpr char kName[] = "it is for another host name";
constexpr char kRevocation[] = "its revocation could not be checked";

}  // namespace

std::string WinInetCertificateReason(unsigned long error, unsigned long securityFlags) {
  static constexpr struct {
    unsigned long error;
    const char* flaw;  // nullptr: what the flags say
  } kErrors[] = {
      {12045, kAuthority},             // ERROR_INTERNET_INVALID_CA
      {12037, kDates},                 // ERROR_INTERNET_SEC_CERT_DATE_INVALID
      {12038, kName},                  // ERROR_INTERNET_SEC_CERT_CN_INVALID
      {12170, "it has been revoked"},  // ERROR_INTERNET_SEC_CERT_REVOKED
      {12056, kRevocation},            // ERROR_INTERNET_SEC_CERT_NO_REV
      {12169, "it is invalid"},        // ERROR_INTERNET_SEC_INVALID_CERT
      {12057, nullptr},                // ERROR_INTERNET_SEC_CERT_REV_FAILED
      {12055, nullptr},                // ERROR_INTERNET_SEC_CERT_ERRORS
  };
  // In the order a person would mend them.
  static constexpr struct {
    unsigned long bit;
    const char* flaw;
  } kFlags[] = {
      {0x01000000, kAuthority},
      {0x04000000, kDates},
      {0x02000000, kName},
      {0x00800000, kRevocation},
  };
  for (const auto& known : kErrors) {
    if (known.error != error) continue;
    if (known.flaw != nullptr) return std::string(kCertificateRefused) + ": " + known.flaw;
    std::string flaws;
    for (const auto& flag : kFlags) {
      if ((securityFlags & flag.bit) != 0)
        flaws += (flaws.empty() ? ": " : " and ") + std::string(flag.flaw);
    }
    // With no flag, a failed revocation check is what it says.
    if (flaws.empty() && error == 12057) flaws = std::string(": ") + kRevocation;
    return kCertificateRefused + flaws;
  }
  return "";
}

}  // namespace fl::http
