// The browser's HTTP stack on POSIX: libFirstLoadHttp.so, loaded by the first
// navigation's thread and kept for the life of the process, seen through its
// plain C table.
#include <mutex>

#include "platform/failure.h"
#include "platform/http/stack.h"
#include "platform/posix/http_module.h"
#include "platform/posix/modules.h"

namespace fl::http {

namespace {

class ModuleNode final : public Node {
 public:
  ModuleNode(const FirstLoadHttpApi* api, FirstLoadHttpNode* handle) : api_(api), handle_(handle) {}
  ~ModuleNode() override { api_->release(handle_); }
  ModuleNode(const ModuleNode&) = delete;
  ModuleNode& operator=(const ModuleNode&) = delete;

  Lookup Member(const std::string& name, std::shared_ptr<const Node>* found) const override {
    FirstLoadHttpNode* member = nullptr;
    const int lookup = api_->member(handle_, name.c_str(), &member);
    if (lookup == 0) *found = std::make_shared<ModuleNode>(api_, member);
    return lookup == 0 ? Lookup::kFound : lookup == 2 ? Lookup::kAmbiguous : Lookup::kMissing;
  }

  bool Value(std::string* value) const override {
    char* text = nullptr;
    if (api_->value(handle_, &text) == 0) return false;
    *value = text;
    api_->freeText(text);
    return true;
  }

 private:
  const FirstLoadHttpApi* api_;
  FirstLoadHttpNode* handle_;
};

class ModuleStack final : public Stack {
 public:
  explicit ModuleStack(const FirstLoadHttpApi* api) : api_(api) {}

  Outcome Load(const std::string& url, const std::string& caFile, const Limits& limits,
               const Cancel& cancel) override {
    Outcome outcome;
    char* why = nullptr;
    const int given[4] = {limits.connectSeconds, limits.stallSeconds, limits.deadlineSeconds,
                          limits.discoverySeconds};
    FirstLoadHttpNode* page =
        api_->load(url.c_str(), caFile.c_str(), given, cancel.cancelled, cancel.context, &why);
    if (page != nullptr) {
      outcome.document = std::make_shared<ModuleNode>(api_, page);
    } else {
      outcome.error = why != nullptr ? why : "out of memory";
      api_->freeText(why);
    }
    return outcome;
  }

 private:
  const FirstLoadHttpApi* api_;
};

}  // namespace

Stack& PlatformStack() {
  static std::mutex mutex;
  static Stack* stack = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (stack == nullptr) {
    namespace module = posix::http;
    // Lives as long as the process, as the module does.
    stack = new ModuleStack(posix::LoadModuleApi<FirstLoadHttpApi>(
        module::kModuleFile, module::kEntrySymbol, module::kInterfaceVersion));
  }
  return *stack;
}

}  // namespace fl::http
