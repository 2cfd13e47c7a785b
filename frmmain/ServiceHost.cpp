// Compiled once per service: the product's build names the real one, the
// tests local ones. The tests' builds (FIRSTLOAD_TEST_SETTINGS) also take the
// service's port and shorter limits from the environment, so that their
// services may listen wherever the system puts them and a stalled or endless
// load fails in seconds; the product's build reads none of it.
#include "frmmain/frmmain.h"

#if !defined(FIRSTLOAD_FEATURE_SERVICE_HOST) || !defined(FIRSTLOAD_FEATURE_SERVICE_SCHEME)
#error "FIRSTLOAD_FEATURE_SERVICE_SCHEME and _HOST must name the feature web service"
#endif
#ifndef FIRSTLOAD_FEATURE_SERVICE_CA_FILE
#define FIRSTLOAD_FEATURE_SERVICE_CA_FILE ""
#endif
#ifndef FIRSTLOAD_FEATURE_LIST_KEYS
#define FIRSTLOAD_FEATURE_LIST_KEYS ""
#endif

#ifdef FIRSTLOAD_TEST_SETTINGS
#include <string>

#include "platform/app.h"
#include "platform/utf8.h"
#endif

namespace fl::frmmain {

namespace {

#ifdef FIRSTLOAD_TEST_SETTINGS
// A whole number from 1 to 65535 in the variable name, else 0.
int TestSetting(const char16_t* name) {
  const Text value = EnvironmentValue(name);
  int number = 0;
  for (char16_t c : value) {
    if (c < u'0' || c > u'9' || number > 6553) return 0;
    number = number * 10 + (c - u'0');
  }
  return number <= 65535 ? number : 0;
}
#endif

}  // namespace

Text FeatureServiceScheme() {
  return u"" FIRSTLOAD_FEATURE_SERVICE_SCHEME;
}

Text FeatureServiceHost() {
  Text host = u"" FIRSTLOAD_FEATURE_SERVICE_HOST;
#ifdef FIRSTLOAD_TEST_SETTINGS
  if (const int port = TestSetting(u"FIRSTLOAD_TEST_SERVICE_PORT")) {
    host = host.substr(0, host.rfind(u':')) + u":" + FromUtf8(std::to_string(port));
  }
#endif
  return host;
}

Text FeatureServiceCaFile() {
  return u"" FIRSTLOAD_FEATURE_SERVICE_CA_FILE;
}

Text FeatureListKeys() {
  return u"" FIRSTLOAD_FEATURE_LIST_KEYS;
}

http::Limits FeatureServiceLimits() {
  http::Limits limits;
#ifdef FIRSTLOAD_TEST_SETTINGS
  if (const int stall = TestSetting(u"FIRSTLOAD_TEST_STALL_SECONDS")) limits.stallSeconds = stall;
  if (const int deadline = TestSetting(u"FIRSTLOAD_TEST_DEADLINE_SECONDS")) {
    limits.deadlineSeconds = deadline;
  }
  if (const int discovery = TestSetting(u"FIRSTLOAD_TEST_DISCOVERY_SECONDS")) {
    limits.discoverySeconds = discovery;
  }
#endif
  return limits;
}

}  // namespace fl::frmmain
