// How long a load may wait on the network before it fails. Plain numbers,
// so that they can cross into a module or a helper process.
#pragma once

namespace fl::http {

struct Limits {
  int connectSeconds = 30;  // to have a connection
  int stallSeconds = 60;    // slower than a byte a second for this long
  // Where the stack runs in a process of its own: that long without a word
  // from it, it is given up on.
  int silenceSeconds = 60;
};

}  // namespace fl::http
