// The feature-list loader on lists of 1, 4 and 16 MB. A list's size is its
// length in characters, which is its size in bytes as the service sends it
// (1 MB = 10^6).
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "ModMain/ModMain.h"
#include "ModMain/featurelist/StringToGrid.h"
#include "platform/codepage.h"

namespace {

using fl::FeatureGrid;
using fl::Text;

// A cell as the service writes it: separators and "?" doubled, "?" alone for
// an empty cell.
void AppendCell(Text& out, const Text& cell) {
  if (cell.empty()) {
    out += u'?';
    return;
  }
  for (char16_t ch : cell) {
    out += ch;
    if (ch == u'?' || ch == u'/' || ch == u'#' || ch == u'>') out += ch;
  }
}

// Groups of 2 to 10 rows of 4 to 8 cells: names, codes, file names, sizes,
// now and then a text with a separator or a question mark in it, or nothing.
Text MakeList(std::size_t length) {
  static const char16_t* const kNames[] = {u"Photo Tools", u"Help",        u"Updates",
                                           u"Brush Pack",  u"Export PDF",  u"Caf\u00e9 Filters",
                                           u"C# Scripts",  u"Layers 1/2",  u"Scanner",
                                           u"Fonts",       u"What's new?", u"Maps > Europe"};
  static const char16_t* const kExtra[] = {u"",   u"12.4 MB", u"0.9 MB", u"help.zip", u"Yes",
                                           u"No", u"1.2.3",   u"beta",   u"x64",      u"en"};
  std::uint32_t seed = 7;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  Text out;
  out.reserve(length + 256);
  while (out.size() < length) {
    if (!out.empty()) out += u'>';
    const std::uint32_t rows = 2 + next() % 9;
    for (std::uint32_t r = 0; r < rows; ++r) {
      if (r > 0) out += u'#';
      const std::uint32_t cells = 4 + next() % 5;
      for (std::uint32_t c = 0; c < cells; ++c) {
        if (c > 0) out += u'/';
        const std::uint32_t pick = next();
        Text cell;
        if (c == 0) {
          cell = Text(kNames[pick % 12]) + u" " + fl::FromAnsi(std::to_string(pick % 1000));
        } else if (c == 1) {
          cell = pick % 3 == 0 ? u"QUEND" : u"VKP";
        } else if (c == 2) {
          cell = u"feature-" + fl::FromAnsi(std::to_string(pick % 10000)) + u".zip";
        } else {
          cell = kExtra[pick % 10];
        }
        AppendCell(out, cell);
      }
    }
  }
  out.resize(length);
  // A cut may leave a lone separator or half an escape at the end; a letter
  // keeps the last cell whole.
  out.back() = u'x';
  return out;
}

const Text& List(std::size_t megabytes) {
  static std::map<std::size_t, Text> lists;
  auto it = lists.find(megabytes);
  if (it == lists.end()) it = lists.emplace(megabytes, MakeList(megabytes * 1000000)).first;
  return it->second;
}

// One load timed in a child process: the utility loads the list once per run,
// into a fresh heap, and a heap that has held and freed earlier grids
// behaves differently (free lists to search, pages given back and taken
// again).
struct ChildLoad {
  double seconds;
  std::int32_t rows;
};

ChildLoad LoadInChild(const Text& list) {
  int report[2];
  if (::pipe(report) != 0) std::abort();
  const pid_t pid = ::fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    ::close(report[0]);
    const auto start = std::chrono::steady_clock::now();
    FeatureGrid grid;
    grid.SetCols(1);
    fl::StringToGrid(grid, list, 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const ChildLoad result{took.count(), grid.Rows()};
    const bool sent = ::write(report[1], &result, sizeof result) == sizeof result;
    ::_exit(sent ? 0 : 1);  // the grid goes with the process, as in the utility
  }
  ::close(report[1]);
  ChildLoad result{0, 0};
  const bool got = ::read(report[0], &result, sizeof result) == sizeof result;
  ::close(report[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
  return result;
}

void BM_StringToGrid(benchmark::State& state) {
  const Text& list = List(static_cast<std::size_t>(state.range(0)));
  std::int32_t rows = 0;
  for (auto _ : state) {
    const ChildLoad load = LoadInChild(list);
    state.SetIterationTime(load.seconds);
    rows = load.rows;
  }
  if (rows == 0) state.SkipWithError("no rows loaded");
  state.counters["MB"] = benchmark::Counter(
      static_cast<double>(list.size()) * static_cast<double>(state.iterations()) / 1e6,
      benchmark::Counter::kIsRate);
  state.counters["rows"] = rows;
}

BENCHMARK(BM_StringToGrid)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  fl::SetAnsiCodePage(1252);
  // Failures would be logged beside the program's working folder.
  fl::AppPath = u".";
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
