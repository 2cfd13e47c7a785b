// The record store against plain buffered I/O of the same bytes, in one run.
// Rates are bytes of the record file per second (1 MB = 10^6 bytes).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ModMain/ModMain.h"
#include "ModMain/recordfile/FileReadWrite.h"
#include "platform/codepage.h"
#include "platform/failure.h"

namespace {

namespace fs = std::filesystem;
using fl::FeatureGrid;
using fl::Text;
using fl::TextArray;

constexpr std::int32_t kRecords = 100000;
constexpr std::int16_t kLastCol = 25;

// Short texts of the kinds a feature record holds: names, codes, file names,
// sizes, versions, dates, flags, a few accented letters, and empty cells.
Text CellFor(std::int32_t row, std::int32_t col, std::uint32_t& seed) {
  static const char* const kNames[] = {
      "Photo Tools", "Help",    "Updates",      "Brush Pack", "Export PDF",       "Caf\xe9 Filters",
      "Layers",      "Scanner", "Print Studio", "Fonts",      "R\xe9sum\xe9 Kit", "Maps"};
  static const char* const kWords[] = {"",    "",       "Yes",  "No", "en",   "de-DE",
                                       "x64", "stable", "beta", "0",  "1",    "Zelvan",
                                       "",    "main",   "ok",   "12", "none", "Standard"};
  seed = seed * 1103515245u + 12345u;
  const std::uint32_t r = seed >> 8;
  const char* name = kNames[r % (sizeof kNames / sizeof *kNames)];
  char buf[64];
  switch (col) {
    case 0:
      std::snprintf(buf, sizeof buf, "FT%06d", static_cast<int>(row));
      break;
    case 1:
      std::snprintf(buf, sizeof buf, "%s %u", name, r % 100);
      break;
    case 2:
      std::snprintf(buf, sizeof buf, "%s", r % 3 == 0 ? "QUEND" : "VKP");
      break;
    case 3:
      std::snprintf(buf, sizeof buf, "feature-%u.zip", r % 10000);
      break;
    case 4:
      std::snprintf(buf, sizeof buf, "%u.%u MB", r % 200, r % 10);
      break;
    case 5:
      std::snprintf(buf, sizeof buf, "%u.%u.%u", r % 5, r % 20, r % 100);
      break;
    case 6:
      std::snprintf(buf, sizeof buf, "2024-%02u-%02u", 1 + r % 12, 1 + r % 28);
      break;
    default:
      std::snprintf(buf, sizeof buf, "%s", kWords[r % (sizeof kWords / sizeof *kWords)]);
      break;
  }
  return fl::FromAnsi(buf);
}

Text KeyOf(std::int32_t row) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "FT%06d", static_cast<int>(row));
  return fl::FromAnsi(buf);
}

// The files live in a fresh folder under the temporary folder (normally /tmp,
// on the ordinary disk); failures of the store are logged there too.
struct Fixture {
  fs::path dir;
  fs::path records;   // the stored 100,000 records
  FeatureGrid grid;   // the same records, for writing
  std::string bytes;  // the file's bytes, for the plain baselines
  Text header;
  TextArray rec = TextArray(kLastCol + 1);

  Fixture() {
    fl::SetAnsiCodePage(1252);
    std::string pattern = (fs::temp_directory_path() / "firstload-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
    fl::AppPath = fl::FromUtf8(dir.string());
    records = dir / "records.txt";
    grid.SetCols(kLastCol + 1);
    grid.SetRows(kRecords);
    std::uint32_t seed = 2024;
    for (std::int32_t r = 0; r < kRecords; ++r) {
      for (std::int32_t c = 0; c <= kLastCol; ++c) grid.SetTextMatrix(r, c, CellFor(r, c, seed));
    }
    if (!WriteAll(records)) std::abort();
    std::FILE* f = std::fopen(records.c_str(), "rb");
    if (f == nullptr) std::abort();
    bytes.resize(fs::file_size(records));
    if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
  }
  ~Fixture() { fs::remove_all(dir); }

  bool WriteAll(const fs::path& path) {
    return fl::FileReadWrite(fl::FromUtf8(path.string()), fl::kFalse, kLastCol, u"", u"WA", rec,
                             u"", &grid, u"", header) == fl::kTrue;
  }
};

Fixture& Data() {
  static Fixture* fixture = new Fixture;
  return *fixture;
}

void Report(benchmark::State& state, std::size_t bytes) {
  state.counters["MB"] =
      benchmark::Counter(static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1e6,
                         benchmark::Counter::kIsRate);
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_StoreR_LastOf100k(benchmark::State& state) {
  Fixture& d = Data();
  const Text path = fl::FromUtf8(d.records.string());
  const Text key = KeyOf(kRecords - 1);
  for (auto _ : state) {
    const fl::VBool found = fl::FileReadWrite(path, fl::kFalse, kLastCol, key, u"R", d.rec, u"",
                                              nullptr, u"0", d.header);
    if (found != fl::kTrue || d.rec[0] != key) state.SkipWithError("the last record was not found");
    benchmark::DoNotOptimize(d.rec.data());
  }
  Report(state, d.bytes.size());
}

void BM_StoreRA_100k(benchmark::State& state) {
  Fixture& d = Data();
  const Text path = fl::FromUtf8(d.records.string());
  for (auto _ : state) {
    FeatureGrid grid;
    const fl::VBool ok =
        fl::FileReadWrite(path, fl::kFalse, kLastCol, u"", u"RA", d.rec, u"", &grid, u"", d.header);
    if (ok != fl::kTrue || grid.Rows() != kRecords) state.SkipWithError("RA did not load the grid");
    benchmark::DoNotOptimize(grid);
    // Freeing the grid is the caller's business; trimming the heap too lets
    // every iteration start on a heap like a fresh process's.
    state.PauseTiming();
    grid = FeatureGrid();
    ::malloc_trim(0);
    state.ResumeTiming();
  }
  Report(state, d.bytes.size());
}

void BM_StoreWA_100k(benchmark::State& state) {
  Fixture& d = Data();
  const fs::path target = d.dir / "written.txt";
  for (auto _ : state) {
    if (!d.WriteAll(target)) state.SkipWithError("WA failed");
  }
  if (fs::file_size(target) != d.bytes.size()) state.SkipWithError("WA wrote other bytes");
  Report(state, d.bytes.size());
}

constexpr std::size_t kChunk = 1 << 16;

void BM_PlainRead(benchmark::State& state) {
  Fixture& d = Data();
  std::vector<char> buf(kChunk);
  for (auto _ : state) {
    std::FILE* f = std::fopen(d.records.c_str(), "rb");
    std::size_t total = 0, got;
    while ((got = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
      total += got;
      benchmark::DoNotOptimize(buf.data());
    }
    std::fclose(f);
    if (total != d.bytes.size()) state.SkipWithError("short read");
  }
  Report(state, d.bytes.size());
}

// Writes the file's bytes in chunks; with durable, the way the store makes a
// file durable: a temporary file flushed to disk, renamed over the target,
// and the folder flushed.
void PlainWrite(benchmark::State& state, bool durable) {
  Fixture& d = Data();
  const fs::path target = d.dir / "plain.txt";
  const fs::path temp = d.dir / "plain_temp.txt";
  for (auto _ : state) {
    std::FILE* f = std::fopen((durable ? temp : target).c_str(), "wb");
    for (std::size_t at = 0; at < d.bytes.size(); at += kChunk) {
      std::fwrite(d.bytes.data() + at, 1, std::min(kChunk, d.bytes.size() - at), f);
    }
    if (durable) {
      std::fflush(f);
      ::fsync(::fileno(f));
    }
    if (std::fclose(f) != 0) state.SkipWithError("write failed");
    if (durable) {
      std::rename(temp.c_str(), target.c_str());
      int folder = ::open(d.dir.c_str(), O_RDONLY | O_DIRECTORY);
      ::fsync(folder);
      ::close(folder);
    }
  }
  Report(state, d.bytes.size());
}

void BM_PlainWrite(benchmark::State& state) {
  PlainWrite(state, false);
}
void BM_PlainWriteFsync(benchmark::State& state) {
  PlainWrite(state, true);
}

BENCHMARK(BM_StoreR_LastOf100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreRA_100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreWA_100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWriteFsync)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Data();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  delete &Data();
  return 0;
}
