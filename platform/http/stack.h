// The seam between the browser control and the HTTP stack that loads its
// pages off the user-interface thread. Only standard-library types cross it,
// and nothing throws across it, so that a stack may live in a module of its
// own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/http/limits.h"

namespace fl::http {

// A larger page is refused rather than held in memory.
inline constexpr std::size_t kMaxBody = std::size_t{16} << 20;

// A node of a loaded page reached by named lookup: the document, a form or a
// form control. Keeps its page alive; used from one thread at a time.
class Node {
 public:
  enum class Lookup { kFound, kMissing, kAmbiguous };
  virtual ~Node() = default;
  // The document's form, or the form's control, called name (UTF-8).
  virtual Lookup Member(const std::string& name, std::shared_ptr<const Node>* found) const = 0;
  // What a script reads from the control's value property, in UTF-8; false
  // when the node has no such property.
  virtual bool Value(std::string* value) const = 0;
};

// Asked now and then while a page loads; true stops the load. Plain C parts,
// so that it can cross into a module.
struct Cancel {
  int (*cancelled)(const void* context);
  const void* context;
  bool operator()() const { return cancelled(context) != 0; }
};

struct Outcome {
  std::shared_ptr<const Node> document;  // null when the page did not load
  std::string error;                     // why not, for diagnostics
};

class Stack {
 public:
  virtual ~Stack() = default;
  // GETs url (UTF-8), following redirects, and parses the page. Blocks until
  // it is done, fails, cancel says so, or it waits longer than limits allow.
  // A secure connection is verified against the system's certificates, and
  // where the platform can, also against those of caFile (a PEM file; "" for
  // none). Safe on several threads at once.
  virtual Outcome Load(const std::string& url, const std::string& caFile, const Limits& limits,
                       const Cancel& cancel) = 0;
};

// The platform's stack for the life of the process, set up on first use by
// a navigation's thread. Fails (throws Failure) when it cannot be had.
Stack& PlatformStack();

}  // namespace fl::http
