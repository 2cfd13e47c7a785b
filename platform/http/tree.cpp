#include "platform/http/tree.h"

#include <csetjmp>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace fl::http {

// The parser's memory, taken from large chunks and given back all at once:
// a tree goes in one pass over a short list rather than through the
// parser's own teardown, which recurses as deep as the tree is, and its
// millions of small blocks cost no header each. What the parser frees
// during the parse (a few temporary buffers) stays until the tree goes.
struct Tree::Arena {
  struct Chunk {
    Chunk* next;
    std::size_t size;
  };
  static constexpr std::size_t kChunk = std::size_t{1} << 20;
  // The parser's structures hold pointers and integers, nothing wider.
  static constexpr std::size_t kAlign = alignof(void*);
  Chunk* chunks = nullptr;
  char* free = nullptr;
  char* end = nullptr;
  std::size_t held = 0;
  // Where a parse that runs out of memory or past its budget goes back to;
  // only C frames lie between it and the allocator.
  std::jmp_buf* escape = nullptr;

  ~Arena() {
    while (chunks != nullptr) {
      Chunk* next = chunks->next;
      std::free(chunks);
      chunks = next;
    }
  }

  static void* Allocate(void* userdata, std::size_t size) {
    auto* arena = static_cast<Arena*>(userdata);
    size = (size + kAlign - 1) & ~(kAlign - 1);
    if (size > static_cast<std::size_t>(arena->end - arena->free)) {
      const std::size_t want = size > kChunk / 4 ? size : kChunk;
      if (want > kMaxTreeBytes - arena->held) std::longjmp(*arena->escape, 1);
      auto* chunk = static_cast<Chunk*>(std::malloc(sizeof(Chunk) + want));
      if (chunk == nullptr) std::longjmp(*arena->escape, 1);
      arena->held += want;
      chunk->size = want;
      chunk->next = arena->chunks;
      arena->chunks = chunk;
      char* start = reinterpret_cast<char*>(chunk + 1);
      // A large block has a chunk of its own; the current one goes on.
      if (want != kChunk) return start;
      arena->free = start;
      arena->end = start + want;
    }
    void* p = arena->free;
    arena->free += size;
    return p;
  }

  static void Free(void*, void*) {}
};

Tree::Tree(std::unique_ptr<Arena> arena, GumboOutput* output)
    : arena_(std::move(arena)), output_(output) {}

Tree::~Tree() = default;

namespace {

// Apart from the C++ caller, so that the jump leaves no C++ frame with
// anything to destroy.
GumboOutput* ParseIn(Tree::Arena* arena, const GumboOptions* options, const char* text,
                     std::size_t size) {
  std::jmp_buf escape;
  arena->escape = &escape;
  if (setjmp(escape) != 0) return nullptr;
  return gumbo_parse_with_options(options, text, size);
}

}  // namespace

TreePtr ParseTree(std::string_view text) {
  auto arena = std::make_unique<Tree::Arena>();
  GumboOptions options = kGumboDefaultOptions;
  options.allocator = &Tree::Arena::Allocate;
  options.deallocator = &Tree::Arena::Free;
  options.userdata = arena.get();
  options.max_errors = 0;  // nobody reads them
  options.max_tree_depth = kMaxTreeDepth;
  GumboOutput* output = ParseIn(arena.get(), &options, text.data(), text.size());
  if (output == nullptr) {
    throw std::runtime_error("not a page: parsing it needs more than " +
                             std::to_string(kMaxTreeBytes >> 20) + " MiB");
  }
  if (output->tree_too_deep) {
    throw std::runtime_error("not a page: its elements nest deeper than " +
                             std::to_string(kMaxTreeDepth));
  }
  return std::make_shared<Tree>(std::move(arena), output);
}

GumboNode* NextElement(const GumboNode* node, const GumboNode* root) {
  auto childrenOf = [](const GumboNode* n) -> const GumboVector* {
    if (n->type == GUMBO_NODE_DOCUMENT) return &n->v.document.children;
    if (n->type == GUMBO_NODE_ELEMENT) return &n->v.element.children;
    return nullptr;  // text, comments, and a template's content
  };
  for (;;) {
    const GumboVector* children = childrenOf(node);
    if (children != nullptr && children->length > 0) {
      node = static_cast<const GumboNode*>(children->data[0]);
    } else {
      // Up to the first ancestor with a next sibling.
      for (;;) {
        if (node == root || node->parent == nullptr) return nullptr;
        const GumboVector* siblings = childrenOf(node->parent);
        const unsigned next = static_cast<unsigned>(node->index_within_parent) + 1;
        if (siblings != nullptr && next < siblings->length) {
          node = static_cast<const GumboNode*>(siblings->data[next]);
          break;
        }
        node = node->parent;
      }
    }
    if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
      return const_cast<GumboNode*>(node);
    }
  }
}

}  // namespace fl::http
