#include "platform/http/fetch.h"
#include "platform/http/page.h"

namespace fl::http {

namespace {

class PageStack final : public Stack {
 public:
  // The transfer and libxml2 want their global set-up done once, before any
  // thread uses them.
  PageStack() {
    StartTransfers();
    StartParser();
  }

  // Never throws: nothing may cross the seam.
  Outcome Load(const std::string& url, const std::string& caFile, const Limits& limits,
               const Cancel& cancel) override {
    Outcome outcome;
    try {
      Response response;
      outcome.error = Fetch(url, caFile, limits, cancel, &response);
      if (!outcome.error.empty()) return outcome;
      if (cancel()) {
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
};

}  // namespace

Stack* NewPageStack() {
  return new PageStack;
}

}  // namespace fl::http
