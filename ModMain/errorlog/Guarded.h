// The failure convention of every procedure: the body runs under the
// procedure's own handler, which logs the failure with the procedure's name
// and lets the procedure return its result as it stood.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <type_traits>

#include "ModMain/errorlog/LogNetError.h"
#include "platform/failure.h"

namespace fl {

// The description a caught failure is logged with.
Text DescribeFailure(std::exception_ptr failure);

// Runs body; returns false when it failed (the failure is then logged).
template <class Body>
bool Guarded(const char16_t* procName, Body&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    LogNetError(DescribeFailure(std::current_exception()), procName);
    return false;
  }
}

// A 16-bit signed counter loop from first to last: a bound that the counter
// cannot hold fails before the first step, and a counter that steps past
// 32,767 fails after the step that took it there. A body that returns bool
// stops the loop by returning false.
template <class Body>
void For16(long first, long last, long step, Body&& body) {
  if (last > INT16_MAX || first > INT16_MAX || first < INT16_MIN) Fail(desc::kOverflow);
  for (long i = first; i <= last; i += step) {
    if constexpr (std::is_same_v<decltype(body(std::int16_t{})), bool>) {
      if (!body(static_cast<std::int16_t>(i))) return;
    } else {
      body(static_cast<std::int16_t>(i));
    }
    if (i + step > INT16_MAX) Fail(desc::kOverflow);
  }
}

}  // namespace fl
