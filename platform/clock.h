#pragma once

#include "platform/types.h"

namespace fl {

// The current local date and time in the user's regional short-date and
// long-time forms, one space between; the date alone at exactly midnight.
Text NowText();

}  // namespace fl
