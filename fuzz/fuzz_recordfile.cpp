// Record files as a damaged disk or a foreign program may leave them, through
// every mode of FileReadWrite.
//
// Input: a flags byte, two bytes for LastCol, then three short texts (a length
// byte and that many ANSI bytes): the key column, the key and the column list.
// The rest is the file. Flags: bits 0-1 the call (R, RA, W, or RA and then WA
// of the grid read), bit 2 enciphered, bit 3 no file at all, bit 4 a record
// array one cell short, bit 5 no grid, bit 6 the key column as "PRYKEY:" and a
// name, bit 7 any 16-bit LastCol rather than a small one.
#include <cstdint>
#include <string>

#include "ModMain/recordfile/FileReadWrite.h"
#include "fuzz/FuzzSupport.h"
#include "platform/codepage.h"
#include "platform/utf8.h"

namespace {

using namespace fl;
using fl::fuzz::Violated;

// True when bytes are whole records of cells cells each.
bool WholeRecords(const std::string& bytes, std::size_t cells) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    for (std::size_t c = 0; c < cells; ++c) {
      if (bytes.size() - at < 2) return false;
      const std::size_t count = static_cast<unsigned char>(bytes[at]) |
                                static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 1]))
                                    << 8;
      at += 2;
      if (bytes.size() - at < count) return false;
      at += count;
    }
  }
  return true;
}

// A failed or finished call leaves no temporary file behind.
void CheckNoTempLeft() {
  for (const auto& entry : fuzz::fs::directory_iterator(fuzz::Folder())) {
    if (entry.path().filename().string().find("_temp") != std::string::npos) {
      Violated("a temporary file was left behind");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetAnsiCodePage(1252);
  fuzz::UseFolderAsAppPath();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::uint8_t flags = in.Byte();
  const std::uint8_t low = in.Byte(), high = in.Byte();
  const std::int16_t lastCol =
      (flags & 0x80) != 0 ? static_cast<std::int16_t>(static_cast<std::uint16_t>(low | high << 8))
                          : static_cast<std::int16_t>(low % 32 - 1);
  Text primaryKey = FromAnsi(in.Bytes(in.Byte()));
  if ((flags & 0x40) != 0) primaryKey = u"PRYKEY:" + primaryKey;
  const Text keyValue = FromAnsi(in.Bytes(in.Byte()));
  const Text colList = FromAnsi(in.Bytes(in.Byte()));
  const std::string content = in.Rest();

  const VBool encrypted = (flags & 0x04) != 0 ? kTrue : kFalse;
  const bool present = (flags & 0x08) == 0;
  std::size_t cells = lastCol >= 0 ? static_cast<std::size_t>(lastCol) + 1 : 0;
  if ((flags & 0x10) != 0 && cells > 0) --cells;
  // Only the first cells carry text: a wide record of long cells would spend
  // the time on enciphering rather than on the file.
  TextArray rec(cells);
  for (std::size_t j = 0; j < cells && j < 4; ++j) rec[j] = keyValue;
  FeatureGrid grid;
  FeatureGrid* gridArg = (flags & 0x20) != 0 ? nullptr : &grid;
  Text header = u"unchanged";

  const fuzz::fs::path file = fuzz::Folder() / "Records.txt";
  const Text path = FromUtf8(file.string());
  fuzz::ForgetLog();
  if (present) {
    fuzz::WriteWholeFile(file, content);
  } else {
    ::unlink(file.c_str());
  }

  switch (flags & 0x03) {
    case 0:
      FileReadWrite(path, encrypted, lastCol, keyValue, u"R", rec, colList, gridArg, primaryKey,
                    header);
      break;
    case 1:
      FileReadWrite(path, encrypted, lastCol, keyValue, u"ra ", rec, colList, gridArg, primaryKey,
                    header);
      break;
    case 2: {
      const VBool done = FileReadWrite(path, encrypted, lastCol, keyValue, u"W", rec, colList,
                                       gridArg, primaryKey, header);
      const std::string after = fuzz::ReadWholeFile(file);
      if (done == kTrue && !WholeRecords(after, static_cast<std::size_t>(lastCol) + 1)) {
        Violated("mode W wrote a file that is not whole records");
      }
      if (done != kTrue && present && after != content) {
        Violated("a failed mode W changed the file");
      }
      break;
    }
    case 3: {
      // What was read whole is written back over the file byte for byte.
      if (FileReadWrite(path, encrypted, lastCol, keyValue, u"RA", rec, colList, gridArg,
                        primaryKey, header) != kTrue ||
          gridArg == nullptr) {
        break;
      }
      if (FileReadWrite(path, encrypted, lastCol, keyValue, u"WA", rec, colList, gridArg,
                        primaryKey, header) != kTrue) {
        Violated("mode WA failed on a grid that mode RA filled");
      }
      if (fuzz::ReadWholeFile(file) != content) Violated("mode WA did not give back the file");
      break;
    }
  }
  CheckNoTempLeft();
  return 0;
}
