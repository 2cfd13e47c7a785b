#pragma once

#include "platform/types.h"

namespace fl {

// Appends one line for a failure to NetError.log in AppPath. Never fails and
// never shows anything; a line that cannot be written is lost.
void LogNetError(const Text& description, const Text& procName);

// The description of the last failure logged (or meant for the log, when it
// cannot be written), so that a caller may still tell a person why.
extern Text LastLoggedFailure;

// Set by the first call of the run that finds the log present; while set, the
// log's size is not checked again.
extern unsigned char LogRolloverDone;

// Lines (carriage returns) a log may hold before the next run replaces it.
inline constexpr long kLogMaxLines = 10000;

}  // namespace fl
