// libFirstLoadHttp.so, the HTTP stack behind the browser control. It lives in
// a module of its own so that the program neither links nor needs curl and
// libxml2 until a page is first loaded. Its interface is plain C: no C++
// object crosses between the program's runtime and the module's.
#pragma once

extern "C" {

// A loaded page, or a form or control of one; owned by the module until
// released. Each handle is used from one thread at a time.
struct FirstLoadHttpNode;

struct FirstLoadHttpApi {
  // GETs url (UTF-8), following redirects, and parses the page; verifies a
  // secure connection against the system's certificates and those of caFile
  // ("" for none). Blocks until done, failed, cancelled(context) returns
  // non-zero, or it runs past one of the limits (connectSeconds,
  // stallSeconds, deadlineSeconds, discoverySeconds, as fl::http::Limits
  // says). The page, or null with *why set to the reason (free it with
  // freeText).
  FirstLoadHttpNode* (*load)(const char* url, const char* caFile, const int limits[4],
                             int (*cancelled)(const void* context), const void* context,
                             char** why);
  // The document's form or the form's control called name: 0 and *found
  // set, 1 when there is none, 2 when there are several.
  int (*member)(const FirstLoadHttpNode* node, const char* name, FirstLoadHttpNode** found);
  // The control's value property: 1 and *value set (free it with freeText),
  // 0 when the node has none.
  int (*value)(const FirstLoadHttpNode* node, char** value);
  void (*freeText)(char* text);
  void (*release)(FirstLoadHttpNode* node);
};

}  // extern "C"

namespace fl::posix::http {

inline constexpr char kModuleFile[] = "libFirstLoadHttp.so";
// The entry: the table, for the version the program was built for.
inline constexpr char kEntrySymbol[] = "FirstLoadHttpModule";
// Bumped whenever FirstLoadHttpApi changes shape, so that a stale module is
// refused rather than called through the wrong table.
inline constexpr int kInterfaceVersion = 4;

}  // namespace fl::posix::http
