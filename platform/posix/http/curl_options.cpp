// The bitmask options are deprecated, not gone; they are what 7.74 has.
#define CURL_DISABLE_DEPRECATION 1

#include "platform/posix/http/curl_options.h"

namespace fl::http {

namespace {

// The newer options by number, so that the module builds against 7.74's
// headers too; the numbers are libcurl's, fixed once given.
constexpr CURLoption kProtocolsStr = static_cast<CURLoption>(CURLOPTTYPE_STRINGPOINT + 318);
constexpr CURLoption kRedirProtocolsStr = static_cast<CURLoption>(CURLOPTTYPE_STRINGPOINT + 319);
constexpr CURLoption kQuickExit = static_cast<CURLoption>(CURLOPTTYPE_LONG + 322);

constexpr unsigned int Version(unsigned int major, unsigned int minor) {
  return major << 16 | minor << 8;
}

long SchemeMask(std::string_view names) {
  long mask = 0;
  while (!names.empty()) {
    const std::size_t comma = names.find(',');
    const std::string_view name = names.substr(0, comma);
    if (name == "http") mask |= CURLPROTO_HTTP;
    if (name == "https") mask |= CURLPROTO_HTTPS;
    names = comma == std::string_view::npos ? std::string_view() : names.substr(comma + 1);
  }
  return mask;
}

}  // namespace

CurlOptions CurlOptionsOf(unsigned int versionNum) {
  CurlOptions options;
  options.schemeNames = versionNum >= Version(7, 85);
  options.quickExit = versionNum >= Version(7, 87);
  return options;
}

CURLcode SetSchemes(CURL* curl, const CurlOptions& options, const char* redirectSchemes) {
  CURLcode rc;
  if (options.schemeNames) {
    rc = curl_easy_setopt(curl, kProtocolsStr, "http,https");
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, kRedirProtocolsStr, redirectSchemes);
  } else {
    rc = curl_easy_setopt(curl, CURLOPT_PROTOCOLS, SchemeMask("http,https"));
    if (rc == CURLE_OK)
      rc = curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, SchemeMask(redirectSchemes));
  }
  return rc;
}

CURLcode SetQuickExit(CURL* curl, const CurlOptions& options) {
  return options.quickExit ? curl_easy_setopt(curl, kQuickExit, 1L) : CURLE_OK;
}

}  // namespace fl::http
