// What each backend gives the shared translation code.
#pragma once

#include "platform/types.h"

namespace fl {

// The user's language's text for the catalogue entry msgid, or msgid
// itself where the language or the entry is missing.
Text CatalogueText(const Text& msgid);

}  // namespace fl
