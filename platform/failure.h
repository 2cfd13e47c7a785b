// The one kind of failure that travels inside a procedure until its handler
// catches it. Platform and language failures are translated into this at the
// seam, with a description faithful to what went wrong.
#pragma once

#include <stdexcept>

#include "platform/types.h"

namespace fl {

class Failure : public std::exception {
 public:
  explicit Failure(Text description);
  const Text& Description() const noexcept { return description_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  Text description_;
  std::string what_;  // UTF-8 copy, for test output and debuggers
};

// The descriptions the runtime gives its common failures.
namespace desc {
inline constexpr char16_t kOverflow[] = u"Overflow";
inline constexpr char16_t kSubscript[] = u"Subscript out of range";
inline constexpr char16_t kPastEnd[] = u"Input past end of file";
inline constexpr char16_t kFileNotFound[] = u"File not found";
inline constexpr char16_t kPathNotFound[] = u"Path not found";
inline constexpr char16_t kFileExists[] = u"File already exists";
inline constexpr char16_t kPermission[] = u"Permission denied";
inline constexpr char16_t kDiskFull[] = u"Disk full";
inline constexpr char16_t kBadFileName[] = u"Bad file name or number";
inline constexpr char16_t kInvalidCall[] = u"Invalid procedure call or argument";
inline constexpr char16_t kInvalidProperty[] = u"Invalid property value";
inline constexpr char16_t kTypeMismatch[] = u"Type mismatch";
inline constexpr char16_t kNoObject[] = u"Object variable or With block variable not set";
inline constexpr char16_t kOutOfMemory[] = u"Out of memory";
}  // namespace desc

[[noreturn]] void Fail(const char16_t* description);
[[noreturn]] void Fail(Text description);

}  // namespace fl
