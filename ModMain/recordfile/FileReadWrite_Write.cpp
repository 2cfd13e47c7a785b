// Modes "W" and "WA": the new content goes to a temporary file beside the
// target, which is flushed to disk and then renamed over the target in one
// step, so the target holds its old or its new content at every instant.
#include <string>

#include "ModMain/recordfile/FileReadWrite.h"
#include "ModMain/recordfile/RecordCells.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/utf8.h"

namespace fl::recordfile {

namespace {

constexpr int kLastTempCandidate = 100;

// Candidate 0 is base & "_temp.txt", candidate k is base & "_temp" & k & ".txt".
Text TempCandidate(const Text& filePath, int k) {
  const size_t dot = filePath.rfind(u'.');
  if (dot == Text::npos) Fail(desc::kInvalidCall);
  Text name = filePath.substr(0, dot) + u"_temp";
  if (k > 0) name += FromUtf8(std::to_string(k));
  return name + u".txt";
}

// The temporary file of one call: removed again unless it was moved into
// place, so that a failing call leaves nothing behind.
class TempFile {
 public:
  explicit TempFile(Text path) : path_(std::move(path)) {
    if (FileExists(path_)) DeleteFile(path_, true);
  }
  ~TempFile() {
    if (pending_) {
      try {
        if (FileExists(path_)) DeleteFile(path_, true);
      } catch (const Failure&) {
        // Nothing more can be done; the next call finds another free name.
      }
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const Text& Path() const { return path_; }
  void ReplaceTarget(const Text& target) {
    ReplaceFile(path_, target);
    pending_ = false;
  }

 private:
  Text path_;
  bool pending_ = true;
};

Text ChooseTempForW(const Text& filePath) {
  for (int k = 0; k < kLastTempCandidate; ++k) {
    Text candidate = TempCandidate(filePath, k);
    if (!FileExists(candidate)) return candidate;
  }
  return TempCandidate(filePath, kLastTempCandidate);
}

// Replaces the listed cells of a matched record with the caller's cells.
void UpdateRecord(Call& call, RawRecord& buffer, const TextArray& header, bool headerRow) {
  const Text list = TrimSpaces(call.ColList);
  if (list.empty()) {
    // Column 0 keeps its stored value.
    for (size_t j = 1; j < buffer.size(); ++j) {
      buffer[j] = StoredCell(call.RecArray[Subscript(static_cast<long>(j), call.RecArray.size())],
                             call.encrypted);
    }
    return;
  }
  Text rest = list + u",";
  size_t comma;
  while ((comma = rest.find(u',')) != Text::npos) {
    const Text item = TrimSpaces(rest.substr(0, comma));
    long target;
    if (headerRow) {
      const VBool encrypted = call.encrypted ? kTrue : kFalse;
      target = GetColNumFromArray(item, header, encrypted);
    } else {
      target = NumericColumn(item);
    }
    buffer[Subscript(target, buffer.size())] =
        StoredCell(call.RecArray[Subscript(target, call.RecArray.size())], call.encrypted);
    rest = rest.substr(comma + 1);
  }
}

void ClearRecord(RawRecord& buffer) {
  for (auto& cell : buffer) cell.clear();
}

}  // namespace

bool WriteModeW(Call& call, RawRecord& buffer) {
  // The lock covers the folder of the temporary files, which the last dot
  // may put outside the target's folder.
  FolderWriteLock lock(TempCandidate(call.FilePath, 0));
  TempFile temp(ChooseTempForW(call.FilePath));
  ByteWriter out(temp.Path());

  long keyCol = 0;
  bool matched = false;
  const bool targetExists = FileExists(call.FilePath);
  if (targetExists) {
    ByteReader in(call.FilePath);
    TextArray header(buffer.size());
    const KeyColumn found = ReadKeyColumn(call, in, buffer, header);
    keyCol = found.column;
    const bool headerRow = IsHeaderSpec(call.PrimaryKey);
    if (found.headerRead) {
      WriteRecord(out, buffer);  // the header row stays first, unchanged
      ClearRecord(buffer);
    }

    while (!in.AtEnd()) {
      ReadRecord(in, buffer);
      const Text key = CellText(buffer[Subscript(keyCol, buffer.size())], call.encrypted);
      if (!key.empty()) {
        if (KeyEquals(key, call.KeyValue)) {
          UpdateRecord(call, buffer, header, headerRow);
          matched = true;
        }
        WriteRecord(out, buffer);
      }
      ClearRecord(buffer);
    }
  }

  if (!matched) {
    for (size_t j = 0; j < buffer.size(); ++j) {
      buffer[j] = StoredCell(call.RecArray[Subscript(static_cast<long>(j), call.RecArray.size())],
                             call.encrypted);
    }
    buffer[Subscript(keyCol, buffer.size())] = StoredCell(call.KeyValue, call.encrypted);
    WriteRecord(out, buffer);
  }

  out.Commit();
  temp.ReplaceTarget(call.FilePath);
  return true;
}

bool WriteModeWA(Call& call, RawRecord& buffer) {
  const Text tempPath = TempCandidate(call.FilePath, 0);  // fails before any file is touched
  FolderWriteLock lock(tempPath);
  TempFile temp(tempPath);
  ByteWriter out(temp.Path());
  if (call.Grid == nullptr) Fail(desc::kNoObject);
  const FeatureGrid& grid = *call.Grid;
  const std::int32_t lastRow = grid.Rows() - 1;
  // Each record is converted into one reused piece of memory, counts and
  // all, and written from there.
  RecordEncoder record(call.encrypted);
  for (std::int32_t row = 0; row <= lastRow; ++row) {
    record.Clear();
    for (size_t j = 0; j < buffer.size(); ++j) {
      record.Add(grid.TextMatrix(row, static_cast<std::int32_t>(j)));
    }
    out.Write(record.Bytes());
  }
  out.Commit();
  temp.ReplaceTarget(call.FilePath);
  return true;
}

}  // namespace fl::recordfile
