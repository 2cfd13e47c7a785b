// File-system operations and byte-stream files. Every failure is thrown as a
// Failure with a description of what the OS reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace fl {

// True when path names an existing file (not a folder). Never fails.
bool FileExists(const Text& path);

// Removes a file; with force, a read-only file goes too.
void DeleteFile(const Text& path, bool force);

// Moves source to target, which must not exist.
void MoveFile(const Text& source, const Text& target);

// Puts source in target's place in one step, replacing target if it exists
// (read-only or not), so that target always holds either content.
void ReplaceFile(const Text& source, const Text& target);

// Reads a whole file as bytes.
std::string ReadFileBytes(const Text& path);

// Writes bytes at the end of a file, creating it if missing; with truncate the
// file is emptied first.
void WriteFileBytes(const Text& path, const std::string& bytes, bool truncate);

// Serialises the processes that rewrite files in one folder: held while a new
// file is written beside its target and put in its place, so that two writers
// never share a temporary file. Waits a bounded time for another holder, then
// fails.
class FolderWriteLock {
 public:
  explicit FolderWriteLock(const Text& filePath);
  ~FolderWriteLock();
  FolderWriteLock(const FolderWriteLock&) = delete;
  FolderWriteLock& operator=(const FolderWriteLock&) = delete;

 private:
  std::intptr_t handle_ = -1;
};

// A file opened for byte-stream reading, with its own buffer. Closed when
// destroyed.
class ByteReader {
 public:
  explicit ByteReader(const Text& path);
  ~ByteReader();
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  // True when no byte remains to be read.
  bool AtEnd();
  // Reads exactly n bytes into out; fails with "Input past end of file" when
  // the file ends first.
  void Read(std::size_t n, std::string& out);
  // The bytes from the current place on, at least n of them, in one piece in
  // the reader's buffer, so that they can be looked at without copying them
  // out; fails with "Input past end of file" when the file ends first.
  // Nothing is consumed. The bytes stay valid until the next call on the
  // reader.
  std::string_view Peek(std::size_t n);
  // Consumes n of the bytes that Peek has shown.
  void Skip(std::size_t n);
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A file opened for byte-stream writing from empty (created if missing).
// Closed when destroyed; Commit() makes the bytes durable before closing.
class ByteWriter {
 public:
  explicit ByteWriter(const Text& path);
  ~ByteWriter();
  ByteWriter(const ByteWriter&) = delete;
  ByteWriter& operator=(const ByteWriter&) = delete;

  void Write(const char* data, std::size_t n);
  void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }
  // Flushes everything to the disk and closes the file.
  void Commit();
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace fl
