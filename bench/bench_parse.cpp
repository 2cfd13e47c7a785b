// The page parse against the parser it replaced (libxml2's HTML parser): a
// typical feature page and a 16 MiB one, the largest the fetch takes, each
// parsed and looked up to Form1.txtvalue's value. Each parse runs in a child
// of its own, which reports its time and how far its resident memory grew.
#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/http/page.h"

namespace {

struct ChildParse {
  double seconds;
  long grewKiB;
  bool found;
};

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

bool ParseWithGumbo(const std::string& page) {
  auto document = fl::http::ParsePage(page, "text/html");
  std::shared_ptr<const fl::http::Node> form, field;
  std::string value;
  return document->Member("Form1", &form) == fl::http::Node::Lookup::kFound &&
         form->Member("txtvalue", &field) == fl::http::Node::Lookup::kFound &&
         field->Value(&value) && !value.empty();
}

// The same work with libxml2: decoding from Windows-1252, the tree, the
// first form called Form1 and its first control called txtvalue.
xmlNode* FindNamed(xmlNode* root, const char* tag, const char* name) {
  for (xmlNode* node = root; node != nullptr;) {
    if (node->type == XML_ELEMENT_NODE &&
        std::strcmp(reinterpret_cast<const char*>(node->name), tag) == 0) {
      xmlChar* n = xmlGetProp(node, reinterpret_cast<const xmlChar*>("name"));
      const bool match = n != nullptr && std::strcmp(reinterpret_cast<const char*>(n), name) == 0;
      xmlFree(n);
      if (match) return node;
    }
    if (node->children != nullptr && node->type == XML_ELEMENT_NODE) {
      node = node->children;
      continue;
    }
    while (node != root && node->next == nullptr) node = node->parent;
    if (node == root) return nullptr;
    node = node->next;
  }
  return nullptr;
}

bool ParseWithLibxml2(const std::string& page) {
  htmlDocPtr doc = htmlReadMemory(
      page.data(), static_cast<int>(page.size()), nullptr, "windows-1252",
      HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET | HTML_PARSE_RECOVER);
  xmlNode* root = xmlDocGetRootElement(doc);
  xmlNode* form = root != nullptr ? FindNamed(root, "form", "Form1") : nullptr;
  xmlNode* field = form != nullptr ? FindNamed(form, "input", "txtvalue") : nullptr;
  xmlChar* value =
      field != nullptr ? xmlGetProp(field, reinterpret_cast<const xmlChar*>("value")) : nullptr;
  return value != nullptr && value[0] != '\0';
}

template <bool (*Parse)(const std::string&)>
ChildParse ParseInChild(const std::string& page) {
  int report[2];
  if (::pipe(report) != 0) std::abort();
  const pid_t pid = ::fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    ::close(report[0]);
    const long before = ResidentKiB();
    const auto start = std::chrono::steady_clock::now();
    const bool found = Parse(page);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const ChildParse result{took.count(), usage.ru_maxrss - before, found};
    const bool sent = ::write(report[1], &result, sizeof result) == sizeof result;
    ::_exit(sent ? 0 : 1);  // the tree goes with the process, as in the utility
  }
  ::close(report[1]);
  ChildParse result{0, 0, false};
  const bool got = ::read(report[0], &result, sizeof result) == sizeof result;
  ::close(report[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
  return result;
}

// A typical page: an ASP.NET-style page with its list in a hidden field.
const std::string& Typical() {
  static const std::string page = [] {
    std::ifstream in(FIRSTLOAD_SOURCE_DIR "/tests/pages/aspnet-layout-tables-long-list.html",
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  return page;
}

// The largest page the fetch takes: the form, then paragraphs.
const std::string& Largest() {
  static const std::string page = [] {
    std::string p =
        "<html><body><form name=\"Form1\"><input name=\"txtvalue\" value=\"big\"></form>";
    while (p.size() < (std::size_t{16} << 20)) p += "<p>filler text</p>\n";
    p.resize(std::size_t{16} << 20);
    return p;
  }();
  return page;
}

template <bool (*Parse)(const std::string&)>
void Measure(benchmark::State& state, const std::string& page) {
  ChildParse last{0, 0, false};
  for (auto _ : state) {
    last = ParseInChild<Parse>(page);
    state.SetIterationTime(last.seconds);
  }
  if (!last.found) state.SkipWithError("Form1.txtvalue not found");
  state.counters["page_MiB"] = static_cast<double>(page.size()) / (1 << 20);
  state.counters["peak_MiB"] = static_cast<double>(last.grewKiB) / 1024;
}

void BM_Gumbo(benchmark::State& state, const std::string& (*page)()) {
  Measure<ParseWithGumbo>(state, page());
}
void BM_Libxml2(benchmark::State& state, const std::string& (*page)()) {
  Measure<ParseWithLibxml2>(state, page());
}

BENCHMARK_CAPTURE(BM_Gumbo, typical, Typical)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Libxml2, typical, Typical)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Gumbo, largest, Largest)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Libxml2, largest, Largest)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
