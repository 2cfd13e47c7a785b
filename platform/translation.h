// The texts the user sees (the form's caption and line, the failure message
// and its title) in the user's language. The system writes them in English;
// the window and the message box translate them as they show them, so that
// standard error, the log and the records keep the engineers' English.
#pragma once

#include "platform/types.h"

namespace fl {

// english in the user's language, or english itself where there is no
// translation (or no language but English). The failure message is matched
// as a template whatever feature it names, and the name goes into the
// translation's place for it.
Text UserText(const Text& english);

}  // namespace fl
