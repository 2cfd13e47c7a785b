// What the parts of the HTTP module share: the transfer, the decoding of a
// page into UTF-8, and the walk over libxml2's tree.
#pragma once

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/posix/http_module.h"

namespace fl::posix::http {

// A larger page is refused rather than held in memory.
inline constexpr std::size_t kMaxBody = std::size_t{16} << 20;

struct Response {
  std::string body;
  std::string contentType;  // of the final response after redirects
};

// GETs url into response; returns why it failed, or an empty string.
std::string Fetch(const std::string& url, const std::atomic<bool>& cancel, Response* response);

// The page's text in UTF-8, read in the encoding a browser would pick.
std::string DecodePage(const std::string& body, const std::string& contentType);

// Null when libxml2 could not build a tree at all.
std::shared_ptr<const Node> ParsePage(const std::string& body, const std::string& contentType);

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

}  // namespace fl::posix::http
