// Compiled once per service: the product's build names the real one, the
// tests local ones.
#include "frmmain/frmmain.h"

#if !defined(FIRSTLOAD_FEATURE_SERVICE_HOST) || !defined(FIRSTLOAD_FEATURE_SERVICE_SCHEME)
#error "FIRSTLOAD_FEATURE_SERVICE_SCHEME and _HOST must name the feature web service"
#endif
#ifndef FIRSTLOAD_FEATURE_SERVICE_CA_FILE
#define FIRSTLOAD_FEATURE_SERVICE_CA_FILE ""
#endif

namespace fl::frmmain {

Text FeatureServiceScheme() {
  return u"" FIRSTLOAD_FEATURE_SERVICE_SCHEME;
}

Text FeatureServiceHost() {
  return u"" FIRSTLOAD_FEATURE_SERVICE_HOST;
}

Text FeatureServiceCaFile() {
  return u"" FIRSTLOAD_FEATURE_SERVICE_CA_FILE;
}

}  // namespace fl::frmmain
