// What each backend gives the shared file layer (platform/files.cpp): a
// native file handle and the few calls made on it. Every call that fails
// throws a Failure with the description of what the OS reported.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace fl::os {

// A file descriptor on POSIX, a HANDLE on Windows.
using File = std::intptr_t;
inline constexpr File kNoFile = -1;

// Writers hold a folder's lock for one file's rewrite; a holder that keeps it
// far longer is stuck, and waiting on it would hang this run.
inline constexpr unsigned kFolderLockWaitMs = 30000;
// What a writer that waited that long for folder's lock fails with.
[[noreturn]] void FailFolderLockWait(const Text& folder);

// Opens an existing file for reading; a folder fails with "Permission
// denied" on every platform.
File OpenForReading(const Text& path);
// Opens a file for writing, created if missing: emptied first, or with
// every write landing at its end.
enum class WriteStart { kEmpty, kAtEnd };
File OpenForWriting(const Text& path, WriteStart start);

// Reads up to n bytes; 0 at the end of the file.
std::size_t ReadSome(File file, char* buffer, std::size_t n);
void WriteAll(File file, const char* data, std::size_t n);
// Flushes what the file holds to the disk.
void SyncFile(File file);
// Closing may report a failed write that was delayed until then.
void CloseOrThrow(File file);
void CloseQuietly(File file);

}  // namespace fl::os
