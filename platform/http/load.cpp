#include "platform/http/fetch.h"
#include "platform/http/page.h"

namespace fl::http {

namespace {

// The caller's cancel, or the deadline: whichever comes first stops the
// fetch wherever it waits.
struct Either {
  const Cancel& cancel;
  const Deadline& deadline;
  static int Cancelled(const void* context) {
    const auto* either = static_cast<const Either*>(context);
    return either->cancel() || either->deadline.Passed() ? 1 : 0;
  }
};

// A load that ran out of its deadline of seconds at stage.
std::string DeadlineReason(int seconds, Stage stage) {
  const char* underWay = stage == Stage::kDiscovery   ? "discovering the proxy"
                         : stage == Stage::kReceiving ? "receiving the page"
                                                      : "connecting";
  return "no complete page within the load's deadline of " + std::to_string(seconds) +
         " s (it was " + underWay + ")";
}

// Added to a failure's reason when the desktop's proxy was not found within
// seconds, so that the load went direct.
std::string UndiscoveredNote(int seconds) {
  return "; proxy discovery did not finish within " + std::to_string(seconds) +
         " s, so the load went direct";
}

class PageStack final : public Stack {
 public:
  // The transfer wants its global set-up done once, before any thread uses
  // it.
  PageStack() { StartTransfers(); }

  // Never throws: nothing may cross the seam.
  Outcome Load(const std::string& url, const std::string& caFile, const Limits& limits,
               const Cancel& cancel) override {
    Outcome outcome;
    try {
      Response response;
      Deadline deadline{Clock::now() + std::chrono::seconds(limits.deadlineSeconds)};
      const Either either{cancel, deadline};
      outcome.error =
          Fetch(url, caFile, limits, Cancel{&Either::Cancelled, &either}, &deadline, &response);
      if (!outcome.error.empty()) {
        // Whatever the transfer made of being stopped, the deadline is why.
        if (!cancel() && deadline.Passed()) {
          outcome.error = DeadlineReason(limits.deadlineSeconds, deadline.stage);
        }
        if (deadline.undiscovered) outcome.error += UndiscoveredNote(limits.discoverySeconds);
        return outcome;
      }
      if (cancel()) {
        outcome.error = "cancelled";
        return outcome;
      }
      outcome.document = ParsePage(response.body, response.contentType);
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
