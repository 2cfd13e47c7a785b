// The page code's view of gumbo's tree: a parse whose memory, depth and
// teardown are bounded, and the walk over its elements. Only the page code
// includes it.
#pragma once

#include <gumbo.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace fl::http {

// Past this depth of open elements a page is refused: every tag may scan
// the whole stack, so a deeper page costs time as the square of its depth.
// Browsers stop nesting the tree at this depth too.
inline constexpr int kMaxTreeDepth = 512;
// What the parser may hold at once, against a page built to make a node of
// every few bytes.
inline constexpr std::size_t kMaxTreeBytes = std::size_t{512} << 20;

class Tree;
using TreePtr = std::shared_ptr<const Tree>;

// The parse of text (UTF-8, preprocessed). Throws std::runtime_error, saying
// why, when the page is past the bounds above.
TreePtr ParseTree(std::string_view text);

class Tree {
 public:
  struct Arena;
  Tree(std::unique_ptr<Arena> arena, GumboOutput* output);
  ~Tree();
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  GumboNode* Document() const { return output_->document; }

 private:
  std::unique_ptr<Arena> arena_;
  GumboOutput* output_;
};

// The element after node in tree order inside root, or null. Iterative, as
// the tree may be deep; a template's content is not part of the document,
// so the walk does not enter it.
GumboNode* NextElement(const GumboNode* node, const GumboNode* root);

inline bool IsElement(const GumboNode* node, GumboTag tag) {
  return node != nullptr && node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == tag &&
         node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

inline const char* AttrOrNull(const GumboNode* element, const char* name) {
  const GumboAttribute* attr = gumbo_get_attribute(&element->v.element.attributes, name);
  return attr == nullptr ? nullptr : attr->value;
}

inline std::optional<std::string> Attr(const GumboNode* element, const char* name) {
  const char* value = AttrOrNull(element, name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace fl::http
