#include <array>

#include "ModMain/encoding/Encrypt.h"
#include "ModMain/errorlog/Guarded.h"

namespace fl {

namespace {

constexpr char16_t kFirst = u' ';
constexpr int kCount = 95;

// Write substitutes of the characters from the space to the tilde, in code
// order. Files written enciphered must stay readable forever: never change it.
constexpr char16_t kWrite[kCount + 1] =
    u"lk(R:2pXEW1yGwt~cQg@86+)APvFu5.\"?jaS|mI]Kd[<f\\ qU=MVh;^4N3#0TB9*si!o>%'$LY/nCxrb-HO`D,_"
    u"JZz7&e{}";

constexpr std::array<char16_t, kCount> MakeRead() {
  std::array<char16_t, kCount> read{};
  for (int i = 0; i < kCount; ++i) read[kWrite[i] - kFirst] = static_cast<char16_t>(kFirst + i);
  return read;
}

constexpr std::array<char16_t, kCount> kRead = MakeRead();

}  // namespace

Text Encrypt(const Text& text, const std::int16_t& direction) {
  Text result;
  Guarded(u"Encrypt", [&] {
    const char16_t* table = direction == 0 ? kWrite : kRead.data();
    result.reserve(text.size());
    For16(1, static_cast<long>(text.size()), 1, [&](std::int16_t pos) {
      char16_t ch = text[static_cast<size_t>(pos - 1)];
      result += (ch >= kFirst && ch < kFirst + kCount) ? table[ch - kFirst] : ch;
    });
  });
  return result;
}

}  // namespace fl
