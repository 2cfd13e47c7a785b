// The feature-list loader on whatever the web service might answer.
//
// Input: a flags byte, then the list. Flags: bit 0 the list as UTF-16LE units
// (lone surrogates included) rather than UTF-8, bit 1 no gap rows, bits 2-4
// the columns the grid already has, bit 5 a row already in the grid.
#include <cstdint>
#include <string>

#include "ModMain/featurelist/StringToGrid.h"
#include "fuzz/FuzzSupport.h"
#include "platform/utf8.h"

namespace {

using namespace fl;

Text Utf16Units(const std::string& bytes) {
  Text text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::UseFolderAsAppPath();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::uint8_t flags = in.Byte();
  const std::string rest = in.Rest();
  const Text list = (flags & 0x01) != 0 ? Utf16Units(rest) : FromUtf8(rest);
  const std::int16_t suppressGap = (flags & 0x02) != 0 ? -1 : 0;

  FeatureGrid grid;
  grid.SetCols((flags >> 2) & 0x07);
  if ((flags & 0x20) != 0) grid.AddItem(u"kept\trow");
  const std::int32_t rowsBefore = grid.Rows();

  fuzz::ForgetLog();
  StringToGrid(grid, list, suppressGap);
  // The loader has no failure of its own: anything logged is a slip, such as
  // an index out of range that the handler swallowed.
  if (fuzz::SomethingLogged()) fuzz::Violated("StringToGrid logged a failure");
  if (grid.Rows() < rowsBefore) fuzz::Violated("StringToGrid removed rows");
  return 0;
}
