// The corpus of pages in pages/: what FirstLoad reads from each as
// Document.Form1.txtvalue.value, against what a browser read from the same
// bytes (tools/record-pages), or the old engine's rule where the case keeps it.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sstream>

#include "platform/http/page.h"
#include "tests/TestSupport.h"

namespace fl {
namespace {

using Answer = std::optional<std::string>;  // nullopt: the lookup finds nothing

void AppendUtf8(std::string* out, unsigned c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A JSON string or null, as the recorder writes them (ASCII, \u escapes).
Answer ParseJson(const std::string& json) {
  if (json == "null") return std::nullopt;
  EXPECT_TRUE(json.size() >= 2 && json.front() == '"' && json.back() == '"') << json;
  std::string out;
  auto hex = [&json](size_t at) {
    return static_cast<unsigned>(std::stoul(json.substr(at, 4), nullptr, 16));
  };
  for (size_t i = 1; i + 1 < json.size(); ++i) {
    if (json[i] != '\\') {
      out += json[i];
      continue;
    }
    const char e = json[++i];
    if (e == 'u') {
      unsigned c = hex(i + 1);
      i += 4;
      if (c >= 0xD800 && c < 0xDC00 && json.compare(i + 1, 2, "\\u") == 0) {
        c = 0x10000 + ((c - 0xD800) << 10) + (hex(i + 3) - 0xDC00);
        i += 6;
      }
      AppendUtf8(&out, c);
    } else {
      const std::string plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
      out += meant[plain.find(e)];
    }
  }
  return out;
}

struct Case {
  std::string name, type = "text/html", about, why;
  Answer browser, expected;
};

Case ReadCase(const std::filesystem::path& page) {
  Case c;
  c.name = page.stem().string();
  std::istringstream lines(
      test::ReadBytes(std::filesystem::path(page).replace_extension(".answer")));
  bool kept = false;
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(": ");
    const std::string key = line.substr(0, colon), value = line.substr(colon + 2);
    if (key == "type") c.type = value;
    if (key == "about") c.about = value;
    if (key == "why") c.why = value;
    if (key == "browser") c.browser = c.expected = ParseJson(value);
    if (key == "value") kept = true, c.expected = ParseJson(value);
  }
  // A case that departs from the browser says why.
  EXPECT_EQ(kept, !c.why.empty()) << c.name;
  return c;
}

Answer ReadFrom(const std::string& body, const std::string& type) {
  std::shared_ptr<const http::Node> document, form, field;
  try {
    document = http::ParsePage(body, type);
  } catch (const std::exception& e) {
    return "refused: " + std::string(e.what());
  }
  std::string value;
  if (document->Member("Form1", &form) != http::Node::Lookup::kFound ||
      form->Member("txtvalue", &field) != http::Node::Lookup::kFound || !field->Value(&value)) {
    return std::nullopt;
  }
  return value;
}

TEST(Pages, ReadAsTheBrowserReadsThem) {
  size_t cases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FIRSTLOAD_PAGES_DIR)) {
    if (entry.path().extension() != ".html") continue;
    const Case c = ReadCase(entry.path());
    SCOPED_TRACE(c.name + ": " + c.about);
    EXPECT_EQ(ReadFrom(test::ReadBytes(entry.path()), c.type), c.expected);
    ++cases;
  }
  EXPECT_GE(cases, 60u);
}

}  // namespace
}  // namespace fl
