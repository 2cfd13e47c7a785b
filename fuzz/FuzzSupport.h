// What the fuzzers share: a private folder that stands in for the application
// folder, so that logged failures land there, and a reader of the input.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ModMain/ModMain.h"
#include "platform/failure.h"
#include "platform/utf8.h"

namespace fl::fuzz {

namespace fs = std::filesystem;

// Made on first use and removed at exit. Held on the heap so that it
// outlives the static destructors that run before the exit handler.
inline const fs::path& Folder() {
  static const fs::path* folder = [] {
    // Memory rather than disk when nobody chose: mode W flushes each file.
    const fs::path base = std::getenv("TMPDIR") == nullptr && fs::is_directory("/dev/shm")
                              ? fs::path("/dev/shm")
                              : fs::temp_directory_path();
    std::string name = (base / "firstload-fuzz-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(Folder(), ec);
    });
    return new fs::path(name);
  }();
  return *folder;
}

// Points AppPath at the private folder.
inline void UseFolderAsAppPath() {
  AppPath = FromUtf8(Folder().string());
}

inline fs::path LogPath() {
  return Folder() / "NetError.log";
}

// The log of the previous input must not grow without end.
inline void ForgetLog() {
  ::unlink(LogPath().c_str());
}

inline bool SomethingLogged() {
  return ::access(LogPath().c_str(), F_OK) == 0;
}

inline void WriteWholeFile(const fs::path& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

inline std::string ReadWholeFile(const fs::path& path) {
  std::string bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}

// Takes the input from the front; past its end every byte reads as zero.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}

  std::uint8_t Byte() {
    if (left_ == 0) return 0;
    --left_;
    return *data_++;
  }
  std::string Bytes(std::size_t n) {
    n = std::min(n, left_);
    std::string bytes(reinterpret_cast<const char*>(data_), n);
    data_ += n;
    left_ -= n;
    return bytes;
  }
  std::string Rest() { return Bytes(left_); }

 private:
  const std::uint8_t* data_;
  std::size_t left_;
};

// A violated property: stop where the fuzzer can see it.
[[noreturn]] inline void Violated(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  __builtin_trap();
}

}  // namespace fl::fuzz
