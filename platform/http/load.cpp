#include "platform/http/fetch.h"

namespace fl::http {

Outcome LoadPage(const std::string& url, const std::atomic<bool>& cancel) {
  Outcome outcome;
  try {
    Response response;
    outcome.error = Fetch(url, cancel, &response);
    if (!outcome.error.empty()) return outcome;
    if (cancel) {
      outcome.error = "cancelled";
      return outcome;
    }
    outcome.document = ParsePage(response.body, response.contentType);
    if (!outcome.document) outcome.error = "not a page: libxml2 could not parse it";
  } catch (const std::exception& e) {
    outcome.document.reset();
    outcome.error = e.what();
  }
  return outcome;
}

}  // namespace fl::http
