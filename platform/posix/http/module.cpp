#include <curl/curl.h>

#include <exception>

#include "platform/http/fetch.h"
#include "platform/posix/http_module.h"

namespace fl::http {

namespace {

class CurlStack final : public Stack {
 public:
  // Both libraries want their global set-up done once, before any thread
  // uses them; the factory runs on the user-interface thread.
  CurlStack() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    xmlInitParser();
  }

  Outcome Load(const std::string& url, const std::atomic<bool>& cancel) override {
    return LoadPage(url, cancel);
  }
};

}  // namespace

}  // namespace fl::http

extern "C" __attribute__((visibility("default"))) fl::http::Stack* FirstLoadHttpStack(int version) {
  if (version != fl::posix::http::kInterfaceVersion) return nullptr;
  // Lives as long as the process: the module is never unloaded, and
  // navigations may still be winding down while the program exits.
  static fl::http::Stack* const stack = new fl::http::CurlStack;
  return stack;
}
