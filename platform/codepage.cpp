// The character codes of the ANSI code page, the same on every platform over
// the backend's one-character conversions (platform/codepage_os.h).
#include "platform/codepage.h"

#include "platform/codepage_os.h"
#include "platform/failure.h"

namespace fl {

bool AnsiPageIsSingleByte() {
  return os::AnsiPageIsSingleByte();
}

std::int16_t AnsiCode(char16_t ch) {
  std::string bytes;
  if (!os::AnsiBytesOf(ch, &bytes) || bytes.empty() || bytes.size() > 2) return 63;
  if (bytes.size() == 1) return static_cast<unsigned char>(bytes[0]);
  // A double-byte character is lead * 256 + trail, wrapped to 16 bits.
  const unsigned v =
      (static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1]);
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
}

Text AnsiChar(long code) {
  std::string bytes;
  if (os::AnsiPageIsSingleByte()) {
    if (code < 0 || code > 255) Fail(desc::kInvalidCall);
    bytes += static_cast<char>(code);
  } else {
    // A negative code is a double-byte character's wrapped 16-bit value.
    if (code < -32768 || code > 65535) Fail(desc::kInvalidCall);
    const unsigned v = static_cast<unsigned>(code < 0 ? code + 65536 : code);
    if (v > 255) bytes += static_cast<char>(v >> 8);
    bytes += static_cast<char>(v & 0xFF);
  }
  char16_t ch;
  if (!os::AnsiCharOf(bytes, &ch)) Fail(desc::kInvalidCall);
  return Text(1, ch);
}

// The ways in, all through the backend's conversion of a byte range.
Text FromAnsi(const std::string& bytes) {
  Text out;
  FromAnsi(bytes.data(), bytes.size(), out);
  return out;
}

void FromAnsi(const std::string& bytes, Text& out) {
  FromAnsi(bytes.data(), bytes.size(), out);
}

Text FromAnsi(const char* bytes, std::size_t n) {
  Text out;
  FromAnsi(bytes, n, out);
  return out;
}

}  // namespace fl
