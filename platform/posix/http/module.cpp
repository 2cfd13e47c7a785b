// The module's one export: the page stack behind a plain C table.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform/http/fetch.h"
#include "platform/posix/http_module.h"

struct FirstLoadHttpNode {
  std::shared_ptr<const fl::http::Node> node;
};

namespace fl::posix::http {

namespace {

using fl::http::Node;

// Made by the entry, on the first navigation's thread, before any thread
// loads a page; lives as long as the process, since the module is
// never unloaded and navigations may still be winding down at exit.
fl::http::Stack* gStack = nullptr;

char* CopyText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// Nothing throws out of the module: a failure to allocate is a failed call.
FirstLoadHttpNode* Load(const char* url, const char* caFile, const int limitsGiven[4],
                        int (*cancelled)(const void* context), const void* context, char** why) {
  try {
    const fl::http::Limits limits{limitsGiven[0], limitsGiven[1], limitsGiven[2], limitsGiven[3]};
    fl::http::Outcome outcome =
        gStack->Load(url, caFile, limits, fl::http::Cancel{cancelled, context});
    if (outcome.document) return new FirstLoadHttpNode{std::move(outcome.document)};
    *why = CopyText(outcome.error);
  } catch (const std::exception&) {
    *why = CopyText("out of memory");
  }
  return nullptr;
}

int Member(const FirstLoadHttpNode* node, const char* name, FirstLoadHttpNode** found) {
  try {
    std::shared_ptr<const Node> member;
    switch (node->node->Member(name, &member)) {
      case Node::Lookup::kFound:
        *found = new FirstLoadHttpNode{std::move(member)};
        return 0;
      case Node::Lookup::kAmbiguous:
        return 2;
      case Node::Lookup::kMissing:
        break;
    }
  } catch (const std::exception&) {
  }
  return 1;
}

int Value(const FirstLoadHttpNode* node, char** value) {
  try {
    std::string text;
    if (!node->node->Value(&text)) return 0;
    *value = CopyText(text);
    return *value != nullptr ? 1 : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

void FreeText(char* text) {
  std::free(text);
}

void Release(FirstLoadHttpNode* node) {
  delete node;
}

constexpr FirstLoadHttpApi kModule{&Load, &Member, &Value, &FreeText, &Release};

}  // namespace

}  // namespace fl::posix::http

extern "C" __attribute__((visibility("default"))) const FirstLoadHttpApi* FirstLoadHttpModule(
    int version) {
  if (version != fl::posix::http::kInterfaceVersion) return nullptr;
  if (fl::posix::http::gStack == nullptr) fl::posix::http::gStack = fl::http::NewPageStack();
  return &fl::posix::http::kModule;
}
