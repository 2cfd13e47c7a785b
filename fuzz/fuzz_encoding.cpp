// The record cipher and the digit encoding of query values: both must give
// back what they were given, and neither may trip over any text.
//
// Input: a selector byte, then the text. Selector: bits 0-1 the check (the
// cipher's round trip on ANSI bytes, on UTF-16LE units, the digit encoding's
// round trip, or decoding any text), bit 2 UTF-16LE units rather than ANSI
// bytes for the digit encoding, bit 3 the text repeated up to the longest a
// round trip takes (code page 932 instead of 1252 when decoding any text),
// bits 4-7 which non-zero direction value reads back.
#include <cstdint>
#include <string>

#include "ModMain/encoding/Encrypt.h"
#include "fuzz/FuzzSupport.h"
#include "platform/codepage.h"

namespace {

using namespace fl;
using fl::fuzz::Violated;

// Longest texts each loop's 16-bit counter can walk: the cipher's one step a
// character, the digit decoder's three.
constexpr std::size_t kCipherMax = 32766;
constexpr std::size_t kDigitsMax = 32767 / 3;

Text Utf16Units(const std::string& bytes) {
  Text text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  return text;
}

void UseCodePage(int codePage) {
  static int current = 0;
  if (current == codePage) return;
  SetAnsiCodePage(codePage);
  current = codePage;
}

// The characters of text that the code page holds.
Text Representable(const Text& text) {
  const Text back = FromAnsi(ToAnsi(text));  // one byte per character
  Text kept;
  for (std::size_t i = 0; i < text.size() && i < back.size(); ++i) {
    if (back[i] == text[i]) kept += text[i];
  }
  return kept;
}

// The text repeated until it is limit characters long, or cut to limit.
Text Fit(Text text, std::size_t limit, bool stretch) {
  while (stretch && !text.empty() && text.size() < limit) text += text;
  if (text.size() > limit) text.resize(limit);
  return text;
}

void CipherRoundTrip(const Text& whole, bool stretch, std::int16_t back) {
  const Text text = Fit(whole, kCipherMax, stretch);
  const std::int16_t write = 0;
  const Text stored = Encrypt(text, write);
  if (stored.size() != text.size()) Violated("Encrypt changed the length");
  if (Encrypt(stored, back) != text) Violated("Encrypt did not read back what it wrote");
}

void DigitsRoundTrip(const Text& whole, bool stretch, std::uint8_t back) {
  const Text text = Fit(Representable(whole), kDigitsMax, stretch);
  const std::uint8_t encode = 0;
  const Text digits = Encryptmethod2(text, encode);
  if (digits.size() != 3 * text.size()) Violated("Encryptmethod2 wrote other than three digits");
  if (Encryptmethod2(digits, back) != text) {
    Violated("Encryptmethod2 did not decode what it encoded");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::UseFolderAsAppPath();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::uint8_t selector = in.Byte();
  const std::string rest = in.Rest();
  const std::uint8_t high = selector >> 4;
  const bool stretch = (selector & 0x08) != 0;
  fuzz::ForgetLog();
  switch (selector & 0x03) {
    case 0:
    case 1: {
      UseCodePage(1252);
      const Text text = (selector & 0x03) == 0 ? FromAnsi(rest) : Utf16Units(rest);
      CipherRoundTrip(text, stretch, high == 0 ? 1 : static_cast<std::int16_t>(-high));
      break;
    }
    case 2: {
      UseCodePage(1252);
      const Text text = (selector & 0x04) != 0 ? Utf16Units(rest) : FromAnsi(rest);
      DigitsRoundTrip(text, stretch, high == 0 ? 1 : high);
      break;
    }
    case 3: {
      // Only that nothing breaks: decoding fails on what is no encoding.
      const bool doubleByte = (selector & 0x08) != 0;
      UseCodePage(doubleByte ? 932 : 1252);
      const std::uint8_t decode = high == 0 ? 1 : high;
      const std::uint8_t encode = 0;
      // The double-byte page converts through iconv one character at a time.
      const Text text = FromAnsi(doubleByte ? rest.substr(0, 2048) : rest);
      Encryptmethod2(Encryptmethod2(text, decode), encode);
      Encryptmethod2(Encryptmethod2(text, encode), decode);
      return 0;
    }
  }
  if (fuzz::SomethingLogged()) Violated("a round trip within the limits logged a failure");
  return 0;
}
