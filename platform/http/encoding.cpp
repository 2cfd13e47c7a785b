// Which encoding a browser reads a page in: a byte-order mark, else the
// Content-Type header's charset, else the first <meta> that names one, else
// Windows-1252.
#include <exception>
#include <string_view>

#include "platform/http/charset.h"
#include "platform/http/page.h"
#include "platform/http/tree.h"

namespace fl::http {

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Labels the web reads as another encoding, or not at all (nullptr).
struct Alias {
  std::string_view label;
  const char* encoding;
};
constexpr Alias kAliases[] = {
    {"ascii", "windows-1252"},      {"us-ascii", "windows-1252"},
    {"iso-8859-1", "windows-1252"}, {"iso8859-1", "windows-1252"},
    {"iso_8859-1", "windows-1252"}, {"latin1", "windows-1252"},
    {"l1", "windows-1252"},         {"iso-8859-9", "windows-1254"},
    {"latin5", "windows-1254"},     {"iso-8859-11", "windows-874"},
    {"tis-620", "windows-874"},     {"gb2312", "gbk"},
    {"ks_c_5601-1987", "euc-kr"},   {"utf-7", nullptr},
};

// The backend's name for label, or "" when a browser would ignore it.
std::string Resolve(std::string_view label) {
  while (!label.empty() && IsSpace(label.front())) label.remove_prefix(1);
  while (!label.empty() && IsSpace(label.back())) label.remove_suffix(1);
  std::string name;
  for (char c : label) {
    c = Lower(c);
    // Keeps converter suffixes such as iconv's //TRANSLIT out of a page's hands.
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
          c == ':')) {
      return "";
    }
    name += c;
  }
  if (name.empty()) return "";
  for (const Alias& alias : kAliases) {
    if (alias.label == name) {
      if (alias.encoding == nullptr) return "";
      name = alias.encoding;
      break;
    }
  }
  return EncodingForLabel(name);
}

// The charset=... inside a Content-Type value, found the lenient way
// browsers find it in a <meta> content attribute.
std::string CharsetParam(std::string_view content) {
  std::string lower;
  for (char c : content) lower += Lower(c);
  for (size_t at = lower.find("charset"); at != std::string::npos;
       at = lower.find("charset", at + 7)) {
    size_t i = at + 7;
    while (i < content.size() && IsSpace(content[i])) ++i;
    if (i >= content.size() || content[i] != '=') continue;
    ++i;
    while (i < content.size() && IsSpace(content[i])) ++i;
    if (i >= content.size()) return "";
    if (content[i] == '"' || content[i] == '\'') {
      size_t close = content.find(content[i], i + 1);
      if (close == std::string_view::npos) return "";
      return std::string(content.substr(i + 1, close - i - 1));
    }
    size_t end = i;
    while (end < content.size() && !IsSpace(content[end]) && content[end] != ';') ++end;
    return std::string(content.substr(i, end - i));
  }
  return "";
}

// A byte-order mark outranks every label; it is dropped from bytes.
std::string BomEncoding(std::string_view* bytes) {
  if (bytes->substr(0, 3) == "\xEF\xBB\xBF") {
    bytes->remove_prefix(3);
    return "UTF-8";
  }
  if (bytes->substr(0, 2) == "\xFE\xFF") {
    bytes->remove_prefix(2);
    return "UTF-16BE";
  }
  if (bytes->substr(0, 2) == "\xFF\xFE") {
    bytes->remove_prefix(2);
    return "UTF-16LE";
  }
  return "";
}

// The first <meta> that names an encoding, as a browser's parser would
// switch to on meeting it. Declarations sit at the top of a page (browsers
// look ahead only a kilobyte), so only the start is searched.
std::string MetaEncoding(std::string_view body) {
  body = body.substr(0, 64 * 1024);
  // No element can be a meta without these letters; most pages then parse once.
  std::string lower(body);
  for (char& c : lower) c = Lower(c);
  if (lower.find("<meta") == std::string::npos) return "";
  // Read as Latin-1, which maps every byte to a character, so that this pass
  // cannot stumble over bytes of the page's real encoding.
  std::string latin1;
  latin1.reserve(body.size() + body.size() / 4);
  for (char c : body) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      latin1 += c;
    } else {
      latin1 += static_cast<char>(0xC0 | (b >> 6));
      latin1 += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  TreePtr tree;
  try {
    tree = ParseTree(latin1);
  } catch (const std::exception&) {
    return "";  // the page's own parse will say why
  }
  const GumboNode* root = tree->Document();
  for (GumboNode* e = NextElement(root, root); e != nullptr; e = NextElement(e, root)) {
    if (!IsElement(e, GUMBO_TAG_META)) continue;
    std::string label;
    if (auto charset = Attr(e, "charset")) {
      label = *charset;
    } else {
      auto equiv = Attr(e, "http-equiv");
      auto content = Attr(e, "content");
      std::string lower;
      for (char c : equiv.value_or("")) lower += Lower(c);
      if (lower == "content-type" && content) label = CharsetParam(*content);
    }
    std::string encoding = Resolve(label);
    if (encoding.empty()) continue;
    // Markup that could be read to find this label is not UTF-16.
    if (encoding.rfind("utf-16", 0) == 0) return "UTF-8";
    return encoding;
  }
  return "";
}

}  // namespace

std::string DecodePage(const std::string& body, const std::string& contentType) {
  std::string_view bytes(body);
  std::string encoding = BomEncoding(&bytes);
  if (encoding.empty()) encoding = Resolve(CharsetParam(contentType));
  if (encoding.empty()) encoding = MetaEncoding(body);
  if (encoding.empty()) encoding = "windows-1252";
  return ConvertToUtf8(bytes, encoding);
}

}  // namespace fl::http
