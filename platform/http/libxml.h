// The libxml2 helpers of the page code: the parse options, the document's
// owner and the walk over its elements. Only the page code includes it.
#pragma once

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <memory>
#include <optional>
#include <string>

namespace fl::http {

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
