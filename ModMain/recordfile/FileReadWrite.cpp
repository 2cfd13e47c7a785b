#include "ModMain/recordfile/FileReadWrite.h"

#include "ModMain/encoding/Encrypt.h"
#include "ModMain/errorlog/Guarded.h"
#include "ModMain/recordfile/RecordCells.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/text.h"

namespace fl {

using namespace recordfile;

VBool FileReadWrite(const Text& FilePath, const VBool& Encrypted, std::int16_t LastCol,
                    const Text& KeyValue, const Text& RWMode, TextArray& RecArray,
                    const Text& ColList, FeatureGrid* Grid, const Text& PrimaryKey,
                    Text& HeaderText) {
  VBool result = kFalse;
  Guarded(u"FileReadWrite", [&] {
    if (LastCol < 0) Fail(desc::kSubscript);
    if (LastCol == INT16_MAX) Fail(desc::kOverflow);  // LastCol + 1 cells
    RawRecord buffer(static_cast<size_t>(LastCol) + 1);

    Call call{FilePath, Encrypted == kTrue, LastCol,   KeyValue, RecArray, ColList,
              Grid,     PrimaryKey,         HeaderText};
    const Text mode = UpperText(TrimSpaces(RWMode));
    bool done = false;
    if (mode == u"R") {
      done = ReadModeR(call, buffer);
    } else if (mode == u"RA") {
      done = ReadModeRA(call, buffer);
    } else if (mode == u"W") {
      done = WriteModeW(call, buffer);
    } else if (mode == u"WA") {
      done = WriteModeWA(call, buffer);
    }
    if (done) result = kTrue;
  });
  return result;
}

std::int16_t GetColNumFromArray(const Text& ColName, const TextArray& ColArray,
                                const VBool& Encrypted) {
  std::int16_t result = -1;
  const bool ok = Guarded(u"GetColNumFromArray", [&] {
    const Text wanted = UpperText(TrimSpaces(ColName));
    For16(0, static_cast<long>(ColArray.size()) - 1, 1, [&](std::int16_t i) {
      const Text& stored = ColArray[static_cast<size_t>(i)];
      // A name too long for the cipher reads as empty text (the cipher logs
      // it), and the search goes on with the next cell.
      const std::int16_t read = 1;
      const Text cell = Encrypted == kTrue ? Encrypt(stored, read) : stored;
      if (UpperText(TrimSpaces(cell)) != wanted) return true;
      result = i;
      return false;
    });
  });
  return ok ? result : 0;
}

namespace recordfile {

KeyColumn ReadKeyColumn(Call& call, ByteReader& in, RawRecord& raw, TextArray& header) {
  KeyColumn key;
  if (IsHeaderSpec(call.PrimaryKey)) {
    if (!in.AtEnd()) {
      ReadRecord(in, raw);
      header = RecordText(raw);
      key.headerRead = true;
    }
    // Looked up even when nothing was read, against the empty header.
    const VBool encrypted = call.encrypted ? kTrue : kFalse;
    key.column = GetColNumFromArray(HeaderColumnName(call.PrimaryKey), header, encrypted);
    if (key.column != -1) call.HeaderText = BuildHeaderText(header);
  } else if (!TrimSpaces(call.PrimaryKey).empty()) {
    key.column = NumericColumn(call.PrimaryKey);
  }
  return key;
}

bool ReadModeR(Call& call, RawRecord& buffer) {
  if (!FileExists(call.FilePath)) return false;
  ByteReader in(call.FilePath);
  TextArray header(buffer.size());
  const long keyCol = ReadKeyColumn(call, in, buffer, header).column;

  KeyMatcher key(call.KeyValue, call.encrypted);
  RecordWalker record(in, buffer.size());
  while (record.Next()) {
    if (key.Matches(record.Cell(Subscript(keyCol, buffer.size())))) {
      for (size_t j = 0; j < buffer.size(); ++j) {
        call.RecArray[Subscript(static_cast<long>(j), call.RecArray.size())] =
            CellText(record.Cell(j), call.encrypted);
      }
      return true;
    }
  }
  return false;
}

bool ReadModeRA(Call& call, RawRecord& buffer) {
  if (!FileExists(call.FilePath)) return false;
  if (call.Grid == nullptr) Fail(desc::kNoObject);
  FeatureGrid& grid = *call.Grid;
  grid.SetCols(call.LastCol + 1);
  grid.SetRows(0);
  ByteReader in(call.FilePath);
  RecordWalker record(in, buffer.size());
  while (record.Next()) {
    // The row goes in whole: a grid row grown cell by cell is reallocated
    // as it grows. A cell that cannot be deciphered still leaves the row
    // with the cells before it.
    TextArray cells(buffer.size());
    try {
      for (size_t j = 0; j < buffer.size(); ++j) {
        // A plain cell is converted straight into the row's own; an
        // enciphered one that fails to decipher stays empty.
        const std::string_view stored = record.Cell(j);
        if (call.encrypted) {
          cells[j] = CellText(stored, true);
        } else {
          FromAnsi(stored.data(), stored.size(), cells[j]);
        }
      }
    } catch (...) {
      grid.AddRow(std::move(cells));
      throw;
    }
    grid.AddRow(std::move(cells));
  }
  return true;
}

}  // namespace recordfile

}  // namespace fl
