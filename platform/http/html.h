// The page code both backends share: the encoding a browser would read a page
// in, the parse with libxml2 and the walk over its tree. Each backend converts
// the bytes of a named encoding with the converters its OS has.
#pragma once

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http/stack.h"

namespace fl::http {

// The page's text in UTF-8, read in the encoding a browser would pick.
std::string DecodePage(const std::string& body, const std::string& contentType);

// Null when libxml2 could not build a tree at all.
std::shared_ptr<const Node> ParsePage(const std::string& body, const std::string& contentType);

// Backend: the name it converts the encoding labelled label by (trimmed,
// lower case, letters, digits and "-_.:" only), or "" when a browser would
// ignore the label. "UTF-8", "UTF-16LE", "UTF-16BE" and "windows-1252" need
// no lookup.
std::string EncodingForLabel(const std::string& label);

// Backend: bytes in encoding as UTF-8. Undecodable bytes become U+FFFD and
// decoding goes on, as in browsers; the holes of the Windows code pages
// become the C1 controls of the same value.
std::string ConvertToUtf8(std::string_view bytes, const std::string& encoding);

// Never the network, never past libxml2's nesting limit (no HTML_PARSE_HUGE).
inline constexpr int kParseOptions = HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
                                     HTML_PARSE_RECOVER | HTML_PARSE_IGNORE_ENC;

struct XmlDocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;

// The element after node in tree order inside root, or null. Iterative,
// because a hostile page may nest as deep as the parser lets it.
inline xmlNode* NextElement(xmlNode* node, const xmlNode* root) {
  do {
    if (node->children != nullptr && (node == root || node->type == XML_ELEMENT_NODE)) {
      node = node->children;
    } else {
      while (node != root && node->next == nullptr) node = node->parent;
      if (node == root) return nullptr;
      node = node->next;
    }
  } while (node->type != XML_ELEMENT_NODE);
  return node;
}

inline bool IsElement(const xmlNode* node, const char* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE &&
         xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>(name));
}

inline std::optional<std::string> Attr(const xmlNode* element, const char* name) {
  xmlChar* value = xmlGetProp(element, reinterpret_cast<const xmlChar*>(name));
  if (value == nullptr) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

}  // namespace fl::http
