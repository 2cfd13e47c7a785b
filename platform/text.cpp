#include "platform/text.h"

namespace fl {

Text TrimSpaces(const Text& text) {
  const size_t first = text.find_first_not_of(u' ');
  if (first == Text::npos) return Text();
  const size_t last = text.find_last_not_of(u' ');
  return text.substr(first, last - first + 1);
}

bool KeyEquals(const Text& a, const Text& b) {
  return UpperText(TrimSpaces(a)) == UpperText(TrimSpaces(b));
}

}  // namespace fl
