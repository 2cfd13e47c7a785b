#include "platform/failure.h"
#include "platform/utf8.h"

namespace fl {

Failure::Failure(Text description)
    : description_(std::move(description)), what_(ToUtf8(description_)) {}

void Fail(const char16_t* description) {
  throw Failure(Text(description));
}
void Fail(Text description) {
  throw Failure(std::move(description));
}

}  // namespace fl
