// libcurl as it is on the user's machine, which may be older than the
// headers the module was built with (Debian 11 has 7.74) or newer: an option
// the loaded library does not know stops the transfer, so the newer ones are
// set only where it has them, and their older equivalents where it does not.
#pragma once

#include <curl/curl.h>

#include <string_view>

namespace fl::http {

struct CurlOptions {
  bool schemeNames = false;  // CURLOPT_PROTOCOLS_STR and _REDIR_PROTOCOLS_STR, 7.85
  bool quickExit = false;    // CURLOPT_QUICK_EXIT, 7.87
};

// What a library of that version (curl_version_info's version_num) offers.
CurlOptions CurlOptionsOf(unsigned int versionNum);

// The schemes a transfer may use at all (http and https) and those its
// redirects may lead to ("http,https" or "https"), in the form the library
// takes; a redirect to any other scheme ends the transfer.
CURLcode SetSchemes(CURL* curl, const CurlOptions& options, const char* redirectSchemes);

// Tells a cancelled transfer not to wait for a name lookup that hangs, where
// the library can.
CURLcode SetQuickExit(CURL* curl, const CurlOptions& options);

}  // namespace fl::http
