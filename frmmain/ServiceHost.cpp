// Compiled once per host: the product's build names the real service, the
// tests a local one.
#include "frmmain/frmmain.h"

#ifndef FIRSTLOAD_FEATURE_SERVICE_HOST
#error "FIRSTLOAD_FEATURE_SERVICE_HOST must name the feature web service"
#endif

namespace fl::frmmain {

Text FeatureServiceHost() {
  return u"" FIRSTLOAD_FEATURE_SERVICE_HOST;
}

}  // namespace fl::frmmain
