// The seam between the browser control and the HTTP stack. The stack lives in
// a module of its own (libFirstLoadHttp.so) so that the program neither links
// nor needs curl and libxml2 until a page is first loaded. Both sides are
// built by the same compiler from this header; only standard-library types
// cross it, and nothing throws across it.
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace fl::posix::http {

inline constexpr char kModuleFile[] = "libFirstLoadHttp.so";
inline constexpr char kFactorySymbol[] = "FirstLoadHttpStack";
// Bumped whenever this header changes shape, so that a stale module is
// refused rather than called through the wrong vtable.
inline constexpr int kInterfaceVersion = 1;

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

struct Outcome {
  std::shared_ptr<const Node> document;  // null when the page did not load
  std::string error;                     // why not, for diagnostics
};

class Stack {
 public:
  virtual ~Stack() = default;
  // GETs url (UTF-8), following redirects, and parses the page. Blocks until
  // it is done, fails, or cancel turns true. Safe on several threads at once.
  virtual Outcome Load(const std::string& url, const std::atomic<bool>& cancel) = 0;
};

// The module's one export: the process-wide stack, or null when version is
// not the one the module was built for. The module is never unloaded.
using Factory = Stack* (*)(int version);

}  // namespace fl::posix::http
