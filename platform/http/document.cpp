// The document a page's lookups run on: gumbo's tree, with the rules by
// which a browser finds a form, a form's control and a control's value.
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/http/page.h"
#include "platform/http/tree.h"

namespace fl::http {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The text of every text node under node, in tree order; iterative, as the
// tree may be deep.
std::string TextOf(const GumboNode* node) {
  std::string text;
  std::vector<std::pair<const GumboNode*, unsigned>> path{{node, 0}};
  while (!path.empty()) {
    auto& [at, next] = path.back();
    if (at->type != GUMBO_NODE_ELEMENT) {
      if (at->type == GUMBO_NODE_TEXT || at->type == GUMBO_NODE_WHITESPACE ||
          at->type == GUMBO_NODE_CDATA) {
        text += at->v.text.text;
      }
      path.pop_back();
    } else if (next < at->v.element.children.length) {
      path.emplace_back(static_cast<const GumboNode*>(at->v.element.children.data[next++]), 0);
    } else {
      path.pop_back();
    }
  }
  return text;
}

bool HasAttr(const GumboNode* element, const char* name) {
  return AttrOrNull(element, name) != nullptr;
}

bool AttrIs(const GumboNode* element, const char* name, const std::string& value) {
  const char* attr = AttrOrNull(element, name);
  return attr != nullptr && value == attr;
}

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string Collapse(const std::string& text) {
  std::string out;
  bool gap = false;
  for (char c : text) {
    if (IsSpace(c)) {
      gap = !out.empty();
    } else {
      if (gap) out += ' ';
      gap = false;
      out += c;
    }
  }
  return out;
}

// Line breaks that came in through character references.
std::string NormalizeNewlines(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The elements a form's named members are found among; image buttons are
// left out, as in browsers.
bool IsControl(const GumboNode* e) {
  if (IsElement(e, GUMBO_TAG_INPUT)) return Lower(Attr(e, "type").value_or("")) != "image";
  for (GumboTag tag : {GUMBO_TAG_TEXTAREA, GUMBO_TAG_SELECT, GUMBO_TAG_BUTTON, GUMBO_TAG_FIELDSET,
                       GUMBO_TAG_OUTPUT, GUMBO_TAG_OBJECT}) {
    if (IsElement(e, tag)) return true;
  }
  return false;
}

// The elements a document's named members are found among, by name.
bool IsNamedByDocument(const GumboNode* e) {
  for (GumboTag tag :
       {GUMBO_TAG_FORM, GUMBO_TAG_IMG, GUMBO_TAG_EMBED, GUMBO_TAG_IFRAME, GUMBO_TAG_OBJECT}) {
    if (IsElement(e, tag)) return true;
  }
  return false;
}

// The first element of the page with each id.
using IdIndex = std::unordered_map<std::string, const GumboNode*>;

IdIndex IndexIds(const GumboNode* root) {
  IdIndex index;
  for (GumboNode* e = NextElement(root, root); e != nullptr; e = NextElement(e, root)) {
    if (auto id = Attr(e, "id")) index.emplace(std::move(*id), e);
  }
  return index;
}

// The form a control belongs to: the one its form attribute names; else the
// form that was open when the parser met the control (the parser's form
// element pointer, which a form start tag sets and only a form end tag
// clears, so that a form opened in one table cell owns the controls of the
// next); else the nearest form around it. ids is made on first need and kept
// for the other controls of the same lookup: a walk of the page for each
// would make a page of many such controls quadratic.
const GumboNode* FormOwner(const GumboNode* control, const GumboNode* root,
                           std::optional<IdIndex>& ids) {
  if (auto ref = Attr(control, "form")) {
    if (ref->empty()) return nullptr;
    if (!ids) ids = IndexIds(root);
    auto named = ids->find(*ref);
    return named != ids->end() && IsElement(named->second, GUMBO_TAG_FORM) ? named->second
                                                                           : nullptr;
  }
  if (control->v.element.form_element != nullptr) return control->v.element.form_element;
  for (const GumboNode* p = control->parent; p != nullptr; p = p->parent) {
    if (IsElement(p, GUMBO_TAG_FORM)) return p;
  }
  return nullptr;
}

std::string InputValue(const GumboNode* input) {
  const std::string type = Lower(Attr(input, "type").value_or(""));
  auto value = Attr(input, "value");
  if (type == "checkbox" || type == "radio") return value.value_or("on");
  if (type == "file") return "";
  std::string text = value.value_or("");
  for (const char* kept : {"hidden", "submit", "reset", "button", "image", "number", "range",
                           "color", "date", "month", "week", "time", "datetime-local"}) {
    if (type == kept) return text;
  }
  // Text fields, which an unknown type also makes, cannot hold a line break.
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n') out += c;
  }
  return type == "url" || type == "email" ? Trim(out) : out;
}

std::string TextareaValue(const GumboNode* textarea) {
  return NormalizeNewlines(TextOf(textarea));
}

bool OptionDisabled(const GumboNode* option) {
  return HasAttr(option, "disabled") ||
         (IsElement(option->parent, GUMBO_TAG_OPTGROUP) && HasAttr(option->parent, "disabled"));
}

long DisplaySize(const GumboNode* select, bool multiple) {
  std::string size = Trim(Attr(select, "size").value_or(""));
  long n = 0;
  size_t i = size.empty() || size[0] != '+' ? 0 : 1;
  if (i >= size.size() || size[i] < '0' || size[i] > '9') return multiple ? 4 : 1;
  for (; i < size.size() && size[i] >= '0' && size[i] <= '9' && n < 100000; ++i) {
    n = n * 10 + (size[i] - '0');
  }
  return n > 0 ? n : (multiple ? 4 : 1);
}

// A single-choice list shows the last option marked selected, a
// multiple-choice list reports its first; a drop-down with none marked shows
// its first enabled option.
std::string SelectValue(const GumboNode* select) {
  const bool multiple = HasAttr(select, "multiple");
  const GumboNode* chosen = nullptr;
  const GumboNode* firstEnabled = nullptr;
  for (GumboNode* e = NextElement(select, select); e != nullptr; e = NextElement(e, select)) {
    if (!IsElement(e, GUMBO_TAG_OPTION)) continue;
    if (HasAttr(e, "selected") && (chosen == nullptr || !multiple)) chosen = e;
    if (firstEnabled == nullptr && !OptionDisabled(e)) firstEnabled = e;
  }
  if (chosen == nullptr && !multiple && DisplaySize(select, multiple) == 1) chosen = firstEnabled;
  if (chosen == nullptr) return "";
  if (auto value = Attr(chosen, "value")) return *value;
  return Collapse(TextOf(chosen));
}

class PageNode final : public Node {
 public:
  PageNode(TreePtr tree, const GumboNode* node) : tree_(std::move(tree)), node_(node) {}

  Lookup Member(const std::string& name, std::shared_ptr<const Node>* found) const override {
    if (name.empty()) return Lookup::kMissing;
    std::vector<const GumboNode*> matches;
    if (node_ == Root()) {
      matches = Forms(name);
    } else if (IsElement(node_, GUMBO_TAG_FORM)) {
      matches = Controls(name);
    }
    if (matches.empty()) return Lookup::kMissing;
    if (matches.size() > 1) return Lookup::kAmbiguous;
    // A lone image or frame of that name is the document's member, not a form.
    if (node_ == Root() && !IsElement(matches.front(), GUMBO_TAG_FORM)) return Lookup::kMissing;
    *found = std::make_shared<PageNode>(tree_, matches.front());
    return Lookup::kFound;
  }

  bool Value(std::string* value) const override {
    if (IsElement(node_, GUMBO_TAG_INPUT)) {
      *value = InputValue(node_);
    } else if (IsElement(node_, GUMBO_TAG_TEXTAREA)) {
      *value = TextareaValue(node_);
    } else if (IsElement(node_, GUMBO_TAG_SELECT)) {
      *value = SelectValue(node_);
    } else if (IsElement(node_, GUMBO_TAG_BUTTON)) {
      *value = Attr(node_, "value").value_or("");
    } else if (IsElement(node_, GUMBO_TAG_OUTPUT)) {
      *value = TextOf(node_);
    } else {
      return false;
    }
    return true;
  }

 private:
  const GumboNode* Root() const { return tree_->Document(); }

  // The elements the document names name: forms, images, frames, embedded
  // objects. Only when none is, forms with that id, as the old engine found
  // them: pages and lists were made against it.
  std::vector<const GumboNode*> Forms(const std::string& name) const {
    std::vector<const GumboNode*> byName, byId;
    for (GumboNode* e = NextElement(Root(), Root()); e != nullptr; e = NextElement(e, Root())) {
      if (IsNamedByDocument(e) && AttrIs(e, "name", name)) {
        byName.push_back(e);
      } else if (IsElement(e, GUMBO_TAG_FORM) && AttrIs(e, "id", name)) {
        byId.push_back(e);
      }
    }
    return byName.empty() ? byId : byName;
  }

  std::vector<const GumboNode*> Controls(const std::string& name) const {
    std::vector<const GumboNode*> matches;
    std::optional<IdIndex> ids;
    for (GumboNode* e = NextElement(Root(), Root()); e != nullptr; e = NextElement(e, Root())) {
      if (IsControl(e) && (AttrIs(e, "name", name) || AttrIs(e, "id", name)) &&
          FormOwner(e, Root(), ids) == node_) {
        matches.push_back(e);
      }
    }
    return matches;
  }

  TreePtr tree_;
  const GumboNode* node_;
};

}  // namespace

std::shared_ptr<const Node> ParsePage(const std::string& body, const std::string& contentType) {
  TreePtr tree = ParseTree(DecodePage(body, contentType));
  return std::make_shared<PageNode>(tree, tree->Document());
}

}  // namespace fl::http
