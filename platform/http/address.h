// Rules about addresses that both transfers follow: where a redirect may
// lead, how a proxy is named, and what of an address may be printed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fl::http {

// The scheme of url, in lower case; empty when it has none.
std::string SchemeOf(std::string_view url);

// The schemes a redirect from a page at url may lead to, comma-separated. A
// page fetched over https hands over to https only, so that a protected
// fetch is never carried on in the clear.
const char* RedirectSchemes(std::string_view url);

// Why a redirect from from to to is not followed, or "" when it may be.
std::string RefusedRedirect(std::string_view from, std::string_view to);

// url without the user name and password of its authority, for printing.
std::string WithoutUserPart(std::string_view url);

// The entries of a list such as a proxy list or no_proxy holds, split at any
// of separators; empty entries are left out.
std::vector<std::string_view> ListEntries(std::string_view list, std::string_view separators);

// A proxy's address with its scheme: one given without names an http proxy,
// as libcurl and Windows take it.
std::string ProxyWithScheme(std::string_view proxy);

// The proxy for scheme out of a proxy list as Windows keeps it:
// "host:port" for every scheme, or entries such as "http=host:port",
// separated by ';' or spaces. As an address with a scheme ("http://host:port");
// "" when the list names none for scheme.
std::string ProxyFromList(std::string_view list, std::string_view scheme);

// The host that url names, without the brackets of an IPv6 address; "" when
// it names none.
std::string HostOfUrl(std::string_view url);

// Whether host goes direct by a list of exceptions as Windows keeps it
// (ProxyOverride): names or addresses, where '*' stands for any run of
// characters, and <local> for every name without a dot; separated by ';' or
// spaces, letters' case aside.
bool BypassesProxy(std::string_view list, std::string_view host);

// A proxy's refusal or failure, named so that a person knows it was the
// proxy and not the service: what, then " at " and the proxy's address
// without its credentials.
std::string ProxyReason(std::string_view what, std::string_view proxy);

// The proxy answered status instead of carrying the request.
std::string ProxyStatusReason(long status, std::string_view proxy);

// What a WinINet error says when a proxy stands between: the words for a
// proxy that could not be resolved or reached, for ProxyReason; nullptr for
// an error that may as well be the service's.
const char* WinInetProxyFailure(unsigned long error);

// How a refused certificate begins, on both backends.
constexpr char kCertificateRefused[] = "the certificate was not accepted";

// The bits that WinINet leaves in a request's security flags for what its
// certificate failed: an unknown authority, the dates, the name, revocation.
constexpr unsigned long kWinInetCertificateFlaws = 0x07800000;

// Why WinINet refused a certificate, from its error and the request's
// security flags after it: kCertificateRefused, then what failed; "" for an
// error that is no certificate's.
std::string WinInetCertificateReason(unsigned long error, unsigned long securityFlags);

}  // namespace fl::http
