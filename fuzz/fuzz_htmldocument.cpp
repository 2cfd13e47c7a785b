// What the HTTP module does with a page once it has arrived: decoding by the
// Content-Type, a byte-order mark or a <meta>, parsing with gumbo, and the
// lookup of Form1, its txtvalue and the value, as the web form asks for them.
//
// Input: a length byte and that many bytes of Content-Type; the rest is the
// body.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "platform/http/page.h"

namespace {

using namespace fl::http;

bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t extra = b < 0x80                ? 0
                              : b >= 0xC2 && b < 0xE0 ? 1
                              : b >= 0xE0 && b < 0xF0 ? 2
                              : b >= 0xF0 && b < 0xF5 ? 3
                                                      : 4;
    if (extra == 4 || text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

void CheckValue(const Node& node) {
  std::string value;
  if (node.Value(&value) && !IsUtf8(value)) {
    std::fprintf(stderr, "property violated: a value is not UTF-8\n");
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t typeSize = std::min<std::size_t>(data[0], size - 1);
  const std::string contentType(reinterpret_cast<const char*>(data + 1), typeSize);
  const std::string body(reinterpret_cast<const char*>(data + 1 + typeSize), size - 1 - typeSize);

  std::shared_ptr<const Node> document;
  try {
    document = ParsePage(body, contentType);
  } catch (const std::exception&) {
    return 0;  // the module reports these as a failed load
  }
  if (!document) return 0;
  CheckValue(*document);

  std::shared_ptr<const Node> form, control, none;
  if (document->Member("Form1", &form) != Node::Lookup::kFound) return 0;
  CheckValue(*form);
  if (form->Member("txtvalue", &control) != Node::Lookup::kFound) return 0;
  CheckValue(*control);
  control->Member("Form1", &none);
  return 0;
}
