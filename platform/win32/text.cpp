#include "platform/text.h"

#include "platform/win32/oserror.h"

namespace fl {

// The mapping the user interface uses; it keeps the length of the text.
Text UpperText(const Text& text) {
  std::wstring wide = win32::Wide(text);
  if (!wide.empty()) CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return win32::FromWide(wide);
}

char16_t UpperUnit(char16_t ch) {
  // CharUpperW converts a single character passed in place of the pointer.
  auto* up = CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(ch)));
  return static_cast<char16_t>(reinterpret_cast<ULONG_PTR>(up));
}

}  // namespace fl
