// The record store against floors: for each mode, the least plain C++ loop
// that does the same work on the same file, measured in the same run. Rates
// are bytes of the record file per second (1 MB = 10^6 bytes); what counts is
// the store's time per byte as a multiple of its floor's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ModMain/ModMain.h"
#include "ModMain/recordfile/FileReadWrite.h"
#include "platform/codepage.h"
#include "platform/failure.h"
#include "platform/utf8.h"

namespace {

namespace fs = std::filesystem;
using fl::FeatureGrid;
using fl::Text;
using fl::TextArray;

constexpr std::int32_t kRecords = 100000;
constexpr std::int16_t kLastCol = 25;
constexpr std::size_t kCells = kLastCol + 1;

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

std::string KeyBytes(std::int32_t row) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "FT%06d", static_cast<int>(row));
  return buf;
}

// ---- The floors' own tools: a code page table and a file reader ----

// Windows-1252, the floors' own tables. Bytes 0x80 to 0x9F are all that
// differ from Latin-1.
constexpr char16_t k1252From80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct Cp1252 {
  std::array<char16_t, 256> toText{};
  std::vector<unsigned char> toByte = std::vector<unsigned char>(0x10000, '?');
  std::array<unsigned char, 256> upper{};  // a byte's upper-case letter, in the same page

  Cp1252() {
    for (int b = 0; b < 256; ++b) {
      toText[b] = b >= 0x80 && b < 0xA0 ? k1252From80[b - 0x80] : static_cast<char16_t>(b);
      upper[b] = static_cast<unsigned char>(b);
    }
    for (int b = 255; b >= 0; --b) toByte[toText[b]] = static_cast<unsigned char>(b);
    for (int b = 'a'; b <= 'z'; ++b) upper[b] = static_cast<unsigned char>(b - 0x20);
    for (int b = 0xE0; b <= 0xFE; ++b) {
      if (b != 0xF7) upper[b] = static_cast<unsigned char>(b - 0x20);
    }
    upper[0x9A] = 0x8A;  // s with caron
    upper[0x9C] = 0x8C;  // oe
    upper[0x9E] = 0x8E;  // z with caron
    upper[0xFF] = 0x9F;  // y with diaeresis
  }
};

const Cp1252& Page() {
  static const Cp1252 page;
  return page;
}

constexpr std::size_t kChunk = 1 << 16;

std::size_t CountAt(const unsigned char* p) {
  return p[0] | static_cast<std::size_t>(p[1]) << 8;
}

// Reads a file through a buffer of its own and keeps the record being walked
// in one piece, which any loop over a record file's records needs.
class FloorReader {
 public:
  explicit FloorReader(const char* path)
      : fd_(::open(path, O_RDONLY | O_CLOEXEC)),
        buf_(std::make_unique_for_overwrite<unsigned char[]>(kChunk)) {}
  ~FloorReader() {
    if (fd_ >= 0) ::close(fd_);
  }
  FloorReader(const FloorReader&) = delete;
  FloorReader& operator=(const FloorReader&) = delete;

  bool Open() const { return fd_ >= 0; }
  const unsigned char* Data() const { return buf_.get() + pos_; }
  void Skip(std::size_t n) { pos_ += n; }

  // Makes n bytes from the current place readable at Data(); false when the
  // file ends first.
  bool Have(std::size_t n) {
    if (len_ - pos_ >= n) return true;
    std::memmove(buf_.get(), buf_.get() + pos_, len_ - pos_);
    len_ -= pos_;
    pos_ = 0;
    if (n > size_) {
      auto bigger = std::make_unique_for_overwrite<unsigned char[]>(2 * n);
      std::memcpy(bigger.get(), buf_.get(), len_);
      buf_ = std::move(bigger);
      size_ = 2 * n;
    }
    while (len_ < n) {
      const ssize_t got = ::read(fd_, buf_.get() + len_, size_ - len_);
      if (got <= 0) return false;
      len_ += static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  std::unique_ptr<unsigned char[]> buf_;
  std::size_t size_ = kChunk, pos_ = 0, len_ = 0;
};

// Walks the counts of the record at the current place and returns its length
// in bytes, then readable at Data(); 0 at the end of the file.
std::size_t RecordLength(FloorReader& in) {
  std::size_t at = 0;
  for (std::size_t k = 0; k < kCells; ++k) {
    if (!in.Have(at + 2)) {
      if (at == 0) return 0;
      std::abort();  // the bench's own files never end inside a record
    }
    at += 2 + CountAt(in.Data() + at);
  }
  if (!in.Have(at)) std::abort();
  return at;
}

void DecodeCell(const Cp1252& page, const unsigned char* bytes, std::size_t n,
                std::u16string& out) {
  out.resize(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = page.toText[bytes[i]];
}

using FloorGrid = std::vector<std::vector<std::u16string>>;

// Mode R's work: the first record whose key cell (cell 0), trimmed of spaces
// and upper-cased, is the wanted key (trimmed and upper-cased by the caller);
// its cells are read once it is found.
bool FloorR(const char* path, const std::string& wanted, std::vector<std::u16string>& rec) {
  const Cp1252& page = Page();
  FloorReader in(path);
  if (!in.Open()) return false;
  while (const std::size_t length = RecordLength(in)) {
    const unsigned char* p = in.Data();
    const unsigned char* key = p + 2;
    std::size_t first = 0, last = CountAt(p);
    while (first < last && key[first] == ' ') ++first;
    while (last > first && key[last - 1] == ' ') --last;
    bool same = last - first == wanted.size();
    for (std::size_t i = 0; same && i < wanted.size(); ++i) {
      same = page.upper[key[first + i]] == static_cast<unsigned char>(wanted[i]);
    }
    if (same) {
      for (auto& cell : rec) {
        const std::size_t n = CountAt(p);
        DecodeCell(page, p + 2, n, cell);
        p += 2 + n;
      }
      return true;
    }
    in.Skip(length);
  }
  return false;
}

// Mode RA's work: every record as a grid row of 16-bit strings.
bool FloorRA(const char* path, FloorGrid& grid) {
  const Cp1252& page = Page();
  FloorReader in(path);
  if (!in.Open()) return false;
  while (const std::size_t length = RecordLength(in)) {
    const unsigned char* p = in.Data();
    auto& row = grid.emplace_back(kCells);
    for (auto& cell : row) {
      const std::size_t n = CountAt(p);
      DecodeCell(page, p + 2, n, cell);
      p += 2 + n;
    }
    in.Skip(length);
  }
  return true;
}

// Mode WA's work: every grid row as a record in a temporary file, which is
// flushed to disk and renamed over the target; then the folder is flushed,
// so that the rename lasts too.
bool FloorWA(const FloorGrid& grid, const fs::path& temp, const fs::path& target) {
  const Cp1252& page = Page();
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  // Room for a whole piece and the longest cell beyond it.
  constexpr std::size_t kRoom = kChunk + 2 + 0xFFFF;
  auto buf = std::make_unique_for_overwrite<unsigned char[]>(kRoom);
  std::size_t used = 0;
  bool ok = true;
  auto flush = [&] {
    for (std::size_t done = 0; ok && done < used;) {
      const ssize_t put = ::write(fd, buf.get() + done, used - done);
      ok = put > 0;
      done += ok ? static_cast<std::size_t>(put) : 0;
    }
    used = 0;
  };
  for (const auto& row : grid) {
    for (std::size_t j = 0; j < kCells; ++j) {
      const std::u16string& cell = row[j];
      if (cell.size() > 0xFFFF) {
        ::close(fd);
        return false;
      }
      if (used >= kChunk) flush();
      buf[used++] = static_cast<unsigned char>(cell.size());
      buf[used++] = static_cast<unsigned char>(cell.size() >> 8);
      for (const char16_t ch : cell) buf[used++] = page.toByte[ch];
    }
  }
  flush();
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
  const int folder = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ok = ok && folder >= 0 && ::fsync(folder) == 0;
  if (folder >= 0) ::close(folder);
  return ok;
}

// ---- The data ----

// The files live in a fresh folder under the temporary folder (normally /tmp,
// on the ordinary disk); failures of the store are logged there too.
struct Fixture {
  fs::path dir;
  fs::path records;     // the stored 100,000 records
  FeatureGrid grid;     // the same records, for writing
  FloorGrid floorGrid;  // the same again, in the floors' own grid
  std::string bytes;    // the file's bytes
  Text header;
  TextArray rec = TextArray(kCells);
  std::vector<std::u16string> floorRec = std::vector<std::u16string>(kCells);

  Fixture() {
    fl::SetAnsiCodePage(1252);
    std::string pattern = (fs::temp_directory_path() / "firstload-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
    fl::AppPath = fl::FromUtf8(dir.string());
    records = dir / "records.txt";
    grid.SetCols(kCells);
    grid.SetRows(kRecords);
    floorGrid.assign(kRecords, std::vector<std::u16string>(kCells));
    std::uint32_t seed = 2024;
    for (std::int32_t r = 0; r < kRecords; ++r) {
      for (std::int32_t c = 0; c <= kLastCol; ++c) {
        Text cell = CellFor(r, c, seed);
        floorGrid[r][c] = cell;
        grid.SetTextMatrix(r, c, std::move(cell));
      }
    }
    if (!WriteAll(records)) Abort("WA did not write the records");
    std::FILE* f = std::fopen(records.c_str(), "rb");
    if (f == nullptr) std::abort();
    bytes.resize(fs::file_size(records));
    if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
    CheckFloors();
  }
  ~Fixture() { fs::remove_all(dir); }

  [[noreturn]] static void Abort(const char* why) {
    std::fprintf(stderr, "bench_recordfile: %s\n", why);
    std::abort();
  }

  bool WriteAll(const fs::path& path) {
    return fl::FileReadWrite(fl::FromUtf8(path.string()), fl::kFalse, kLastCol, u"", u"WA", rec,
                             u"", &grid, u"", header) == fl::kTrue;
  }

  // Each floor must come to what the store comes to, or it is no floor.
  void CheckFloors() {
    const Text path = fl::FromUtf8(records.string());
    const std::string key = KeyBytes(kRecords - 1);
    if (fl::FileReadWrite(path, fl::kFalse, kLastCol, fl::FromAnsi(" " + key + " "), u"R", rec, u"",
                          nullptr, u"0", header) != fl::kTrue ||
        !FloorR(records.c_str(), key, floorRec) || floorRec != rec || rec[0] != fl::FromAnsi(key)) {
      Abort("the R floor and the store found different records");
    }
    FeatureGrid loaded;
    FloorGrid floorLoaded;
    if (fl::FileReadWrite(path, fl::kFalse, kLastCol, u"", u"RA", rec, u"", &loaded, u"", header) !=
            fl::kTrue ||
        !FloorRA(records.c_str(), floorLoaded) || floorLoaded != floorGrid ||
        loaded.Rows() != kRecords) {
      Abort("the RA floor and the store loaded different grids");
    }
    for (std::int32_t r = 0; r < kRecords; ++r) {
      for (std::int32_t c = 0; c <= kLastCol; ++c) {
        if (loaded.TextMatrix(r, c) != floorLoaded[r][c]) Abort("RA loaded other cells");
      }
    }
    const fs::path target = dir / "floor.txt";
    if (!FloorWA(floorGrid, dir / "floor_temp.txt", target)) Abort("the WA floor failed");
    std::FILE* f = std::fopen(target.c_str(), "rb");
    std::string written(bytes.size() + 1, '\0');
    const std::size_t got = f == nullptr ? 0 : std::fread(written.data(), 1, written.size(), f);
    if (f != nullptr) std::fclose(f);
    written.resize(got);
    if (written != bytes) Abort("the WA floor and the store wrote different bytes");
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

// Trims the heap between iterations, outside the measured time, so that each
// one starts on a heap like a fresh process's.
template <typename Grid>
void DropGrid(benchmark::State& state, Grid& grid) {
  state.PauseTiming();
  grid = Grid();
  ::malloc_trim(0);
  state.ResumeTiming();
}

// ---- Benchmarks ----

void BM_StoreR_LastOf100k(benchmark::State& state) {
  Fixture& d = Data();
  const Text path = fl::FromUtf8(d.records.string());
  const Text key = fl::FromAnsi(KeyBytes(kRecords - 1));
  for (auto _ : state) {
    const fl::VBool found = fl::FileReadWrite(path, fl::kFalse, kLastCol, key, u"R", d.rec, u"",
                                              nullptr, u"0", d.header);
    if (found != fl::kTrue || d.rec[0] != key) state.SkipWithError("the last record was not found");
    benchmark::DoNotOptimize(d.rec.data());
  }
  Report(state, d.bytes.size());
}

void BM_FloorR_LastOf100k(benchmark::State& state) {
  Fixture& d = Data();
  const std::string key = KeyBytes(kRecords - 1);
  for (auto _ : state) {
    if (!FloorR(d.records.c_str(), key, d.floorRec)) {
      state.SkipWithError("the last record was not found");
    }
    benchmark::DoNotOptimize(d.floorRec.data());
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
    DropGrid(state, grid);
  }
  Report(state, d.bytes.size());
}

void BM_FloorRA_100k(benchmark::State& state) {
  Fixture& d = Data();
  for (auto _ : state) {
    FloorGrid grid;
    if (!FloorRA(d.records.c_str(), grid) || grid.size() != kRecords) {
      state.SkipWithError("the floor did not load the grid");
    }
    benchmark::DoNotOptimize(grid);
    DropGrid(state, grid);
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

void BM_FloorWA_100k(benchmark::State& state) {
  Fixture& d = Data();
  const fs::path target = d.dir / "floor.txt";
  const fs::path temp = d.dir / "floor_temp.txt";
  for (auto _ : state) {
    if (!FloorWA(d.floorGrid, temp, target)) state.SkipWithError("the floor failed to write");
  }
  if (fs::file_size(target) != d.bytes.size()) state.SkipWithError("the floor wrote other bytes");
  Report(state, d.bytes.size());
}

BENCHMARK(BM_StoreR_LastOf100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FloorR_LastOf100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreRA_100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FloorRA_100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreWA_100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FloorWA_100k)->Unit(benchmark::kMillisecond)->UseRealTime();

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
