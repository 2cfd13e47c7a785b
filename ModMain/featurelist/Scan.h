// Looking for characters in a feature list four at a time: every character
// of a list is looked at once per level and once more in its cell. A lane of
// a 64-bit word that equals the wanted character shows up as a zero lane
// after XOR.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace fl::featurelist {

inline constexpr std::uint64_t kLaneOnes = 0x0001000100010001u;
inline constexpr std::uint64_t kLaneHighs = 0x8000800080008000u;

inline std::uint64_t Word(const char16_t* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// Non-zero when some lane of word is zero (lanes above a zero lane may show
// too, so a hit is confirmed one character at a time).
inline std::uint64_t ZeroLanes(std::uint64_t word) {
  return (word - kLaneOnes) & ~word & kLaneHighs;
}

inline size_t FindUnit(std::u16string_view text, size_t from, char16_t wanted) {
  const std::uint64_t pattern = kLaneOnes * wanted;
  size_t i = from;
  while (i + 4 <= text.size() && ZeroLanes(Word(text.data() + i) ^ pattern) == 0) i += 4;
  for (; i < text.size(); ++i) {
    if (text[i] == wanted) return i;
  }
  return std::u16string_view::npos;
}

inline bool HasEither(std::u16string_view text, char16_t a, char16_t b) {
  const std::uint64_t patternA = kLaneOnes * a, patternB = kLaneOnes * b;
  size_t i = 0;
  for (; i + 4 <= text.size(); i += 4) {
    const std::uint64_t word = Word(text.data() + i);
    if ((ZeroLanes(word ^ patternA) | ZeroLanes(word ^ patternB)) != 0) return true;
  }
  for (; i < text.size(); ++i) {
    if (text[i] == a || text[i] == b) return true;
  }
  return false;
}

}  // namespace fl::featurelist
