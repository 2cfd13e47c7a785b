#include <libxml/HTMLtree.h>

#include <unordered_map>
#include <vector>

#include "platform/http/charset.h"
#include "platform/http/libxml.h"
#include "platform/http/page.h"

namespace fl::http {

namespace {

using Page = std::shared_ptr<xmlDoc>;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string TextOf(const xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  if (content == nullptr) return "";
  std::string text(reinterpret_cast<const char*>(content));
  xmlFree(content);
  return text;
}

bool HasAttr(const xmlNode* element, const char* name) {
  return xmlHasProp(element, reinterpret_cast<const xmlChar*>(name)) != nullptr;
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

// Image buttons are left out of a form's named controls, as in browsers.
bool IsControl(const xmlNode* e) {
  if (IsElement(e, "input")) return Lower(Attr(e, "type").value_or("")) != "image";
  return IsElement(e, "textarea") || IsElement(e, "select") || IsElement(e, "button");
}

// The first element of the page with each id.
using IdIndex = std::unordered_map<std::string, const xmlNode*>;

IdIndex IndexIds(xmlNode* root) {
  IdIndex index;
  for (xmlNode* e = NextElement(root, root); e != nullptr; e = NextElement(e, root)) {
    if (auto id = Attr(e, "id")) index.emplace(std::move(*id), e);
  }
  return index;
}

// The form a control belongs to: the one its form attribute names, else the
// nearest form around it. ids is made on first need and kept for the other
// controls of the same lookup: a walk of the page for each would make a page
// of many such controls quadratic.
const xmlNode* FormOwner(const xmlNode* control, xmlNode* root, std::optional<IdIndex>& ids) {
  if (auto ref = Attr(control, "form")) {
    if (ref->empty()) return nullptr;
    if (!ids) ids = IndexIds(root);
    auto named = ids->find(*ref);
    return named != ids->end() && IsElement(named->second, "form") ? named->second : nullptr;
  }
  for (const xmlNode* p = control->parent; p != nullptr; p = p->parent) {
    if (IsElement(p, "form")) return p;
  }
  return nullptr;
}

std::string InputValue(const xmlNode* input) {
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

std::string TextareaValue(const xmlNode* textarea) {
  std::string text = TextOf(textarea);
  // The parser drops one line break right after the start tag.
  if (!text.empty() && text[0] == '\n') text.erase(0, 1);
  return NormalizeNewlines(text);
}

bool OptionDisabled(const xmlNode* option) {
  return HasAttr(option, "disabled") ||
         (IsElement(option->parent, "optgroup") && HasAttr(option->parent, "disabled"));
}

long DisplaySize(const xmlNode* select, bool multiple) {
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
std::string SelectValue(xmlNode* select) {
  const bool multiple = HasAttr(select, "multiple");
  const xmlNode* chosen = nullptr;
  const xmlNode* firstEnabled = nullptr;
  for (xmlNode* e = NextElement(select, select); e != nullptr; e = NextElement(e, select)) {
    if (!IsElement(e, "option")) continue;
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
  PageNode(Page page, xmlNode* node) : page_(std::move(page)), node_(node) {}

  Lookup Member(const std::string& name, std::shared_ptr<const Node>* found) const override {
    if (name.empty()) return Lookup::kMissing;
    std::vector<xmlNode*> matches;
    if (node_ == Root()) {
      matches = Forms(name);
    } else if (IsElement(node_, "form")) {
      matches = Controls(name);
    }
    if (matches.empty()) return Lookup::kMissing;
    if (matches.size() > 1) return Lookup::kAmbiguous;
    *found = std::make_shared<PageNode>(page_, matches.front());
    return Lookup::kFound;
  }

  bool Value(std::string* value) const override {
    if (IsElement(node_, "input")) {
      *value = InputValue(node_);
    } else if (IsElement(node_, "textarea")) {
      *value = TextareaValue(node_);
    } else if (IsElement(node_, "select")) {
      *value = SelectValue(node_);
    } else if (IsElement(node_, "button")) {
      *value = Attr(node_, "value").value_or("");
    } else {
      return false;
    }
    return true;
  }

 private:
  xmlNode* Root() const { return reinterpret_cast<xmlNode*>(page_.get()); }

  // Forms called name; only when none is, forms with that id.
  std::vector<xmlNode*> Forms(const std::string& name) const {
    std::vector<xmlNode*> byName, byId;
    for (xmlNode* e = NextElement(Root(), Root()); e != nullptr; e = NextElement(e, Root())) {
      if (!IsElement(e, "form")) continue;
      if (Attr(e, "name") == name) {
        byName.push_back(e);
      } else if (Attr(e, "id") == name) {
        byId.push_back(e);
      }
    }
    return byName.empty() ? byId : byName;
  }

  std::vector<xmlNode*> Controls(const std::string& name) const {
    std::vector<xmlNode*> matches;
    std::optional<IdIndex> ids;
    for (xmlNode* e = NextElement(Root(), Root()); e != nullptr; e = NextElement(e, Root())) {
      if (IsControl(e) && (Attr(e, "name") == name || Attr(e, "id") == name) &&
          FormOwner(e, Root(), ids) == node_) {
        matches.push_back(e);
      }
    }
    return matches;
  }

  Page page_;
  xmlNode* node_;
};

void Quiet(void*, const char*, ...) {}

}  // namespace

void StartParser() {
  xmlInitParser();
}

std::shared_ptr<const Node> ParsePage(const std::string& body, const std::string& contentType) {
  // Parser messages help nobody here; this keeps them off stderr for this thread.
  xmlSetGenericErrorFunc(nullptr, Quiet);
  const std::string text = DecodePage(body, contentType);
  xmlDoc* doc = text.empty() ? htmlNewDocNoDtD(nullptr, nullptr)
                             : htmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr,
                                              "UTF-8", kParseOptions);
  if (doc == nullptr) return nullptr;
  Page page(doc, xmlFreeDoc);
  return std::make_shared<PageNode>(page, reinterpret_cast<xmlNode*>(doc));
}

}  // namespace fl::http
