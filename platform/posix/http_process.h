// The HTTP helper process: a child forked from the program that loads
// libFirstLoadHttp.so and answers its calls over a socket, so that curl,
// libxml2, libproxy and their libraries never map into the window's process.
//
// Frames both ways: a 4-byte length (host order: both ends are one program),
// then that many bytes, the first of which says what the frame is. Numbers
// go as 8 bytes, text as a 4-byte length and its UTF-8 bytes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/http/stack.h"

namespace fl::posix::http {

// Requests, parent to child: load (url, caFile, the connect and stall limits,
// the environment), member (node, name),
// value (node) and release (node), the one without an answer.
inline constexpr char kLoad = 'L';
inline constexpr char kMember = 'M';
inline constexpr char kValue = 'V';
inline constexpr char kRelease = 'R';
// Answers, child to parent: the module is ready, or not (why); while a page
// loads, that the child still works on it; a node (handle); a failed load
// (why); a lookup (code, handle); a value (has, text).
inline constexpr char kReady = 'O';
inline constexpr char kNotReady = 'F';
inline constexpr char kWorking = 'W';
inline constexpr char kNode = 'N';
inline constexpr char kFailed = 'E';
inline constexpr char kLookup = 'K';
inline constexpr char kText = 'T';

// The child says it still works at least this often while a page loads (the
// module asks whether to cancel at least once a second), and is given up on
// after the limits' silenceSeconds without a word.
inline constexpr std::chrono::milliseconds kWorkingEvery{1000};

inline constexpr char kEnded[] = "the HTTP helper process ended unexpectedly";
inline constexpr char kSilent[] = "the HTTP helper process stopped answering";

// A frame being built or read.
class Frame {
 public:
  explicit Frame(char kind) : bytes_(1, kind) {}
  explicit Frame(std::string bytes) : bytes_(std::move(bytes)) {}
  Frame& Number(std::uint64_t value);
  Frame& Text(const std::string& text);

  char Kind() const { return bytes_.empty() ? '\0' : bytes_[0]; }
  // Reading, in the order written; false once the frame runs short.
  bool Next(std::uint64_t* value);
  bool Next(std::string* text);
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::size_t read_ = 1;
};

// A load, with the program's environment as it is now.
Frame LoadRequest(const std::string& url, const std::string& caFile,
                  const fl::http::Limits& limits);

// Writes the whole frame; false when the other end is gone.
bool Send(int fd, const Frame& frame);

enum class Received { kFrame, kClosed, kSilent, kCancelled };

// Reads one frame, waiting at most silence for each part of it; with cancel,
// asks it every 50 ms meanwhile.
Received Receive(int fd, std::string* frame, std::chrono::seconds silence,
                 const fl::http::Cancel* cancel = nullptr);

struct Helper {
  pid_t pid = -1;
  int socket = -1;  // close-on-exec
};

// Forks the helper, which loads the module and serves until its socket
// closes. The child's parent-death signal comes when the calling thread
// ends, so the caller is a thread that lasts as long as the process. pid -1
// when fork fails.
Helper StartHelper();

}  // namespace fl::posix::http
