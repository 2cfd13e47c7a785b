// Modes "W" and "WA": inserting and updating records, the temporary files
// beside the target, and replacing the target without ever losing it.
#include "ModMain/encoding/Encrypt.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/utf8.h"
#include "tests/RecordFileTest.h"

#include <atomic>
#include <chrono>
#include <latch>
#include <thread>

#ifdef _WIN32
#include "platform/win32/files_win32.h"
#include "platform/win32/oserror.h"
#endif

namespace fl {
namespace {

using Records = std::vector<std::vector<std::string>>;

std::string Bytes(const Records& records) {
  std::string out;
  for (const auto& r : records) out += RecordBytes(r);
  return out;
}

struct WriteCase {
  const char* name;
  Records before;  // no target file when empty
  Text primaryKey;
  Text key;
  TextArray rec;
  Text colList;
  Records after;
  Text header;
};

TEST_F(RecordFile, InsertOrUpdateOneRecord) {
  const Records three = {{"a", "1", "1"}, {"b", "2", "2"}, {"c", "3", "3"}};
  const WriteCase cases[] = {
      {"missing target gets one record keyed in cell 0",
       {},
       u"PRYKEY:name",
       u"NEW",
       {u"x", u"y", u"z"},
       u"",
       {{"NEW", "y", "z"}},
       u"unchanged"},
      {"update the second of three",
       three,
       u"0",
       u" B ",
       {u"x", u"y", u"z"},
       u"",
       {{"a", "1", "1"}, {"b", "y", "z"}, {"c", "3", "3"}},
       u"unchanged"},
      {"listed columns only",
       {{"k", "1", "2", "3", "4", "5"}},
       u"0",
       u"k",
       {u"A", u"B", u"C", u"D", u"E", u"F"},
       u"2, 5",
       {{"k", "1", "C", "3", "4", "F"}},
       u"unchanged"},
      {"trailing comma names column 0",
       {{"k", "1", "2"}},
       u"0",
       u"k",
       {u"A", u"B", u"C"},
       u"2,",
       {{"A", "1", "C"}},
       u"unchanged"},
      {"no match appends",
       three,
       u"0",
       u"d",
       {u"x", u"y", u"z"},
       u"",
       {{"a", "1", "1"}, {"b", "2", "2"}, {"c", "3", "3"}, {"d", "y", "z"}},
       u"unchanged"},
      {"key in another column",
       three,
       u"1",
       u"9",
       {u"x", u"y", u"z"},
       u"",
       {{"a", "1", "1"}, {"b", "2", "2"}, {"c", "3", "3"}, {"x", "9", "z"}},
       u"unchanged"},
      {"empty keys are dropped, blank keys stay",
       {{"", "1", "1"}, {" ", "2", "2"}, {"a", "3", "3"}},
       u"0",
       u"zz",
       {u"x", u"y", u"z"},
       u"",
       {{" ", "2", "2"}, {"a", "3", "3"}, {"zz", "y", "z"}},
       u"unchanged"},
      {"every matching record is updated",
       {{"k", "1", "1"}, {"K", "2", "2"}},
       u"0",
       u"k",
       {u"x", u"y", u"z"},
       u"2",
       {{"k", "1", "z"}, {"K", "2", "z"}},
       u"unchanged"},
      {"header row kept, named columns replaced",
       {{"id", "name", "size"}, {"1", "a", "10"}, {"2", "b", "20"}},
       u"PRYKEY:id",
       u"2",
       {u"x", u"y", u"z"},
       u"size",
       {{"id", "name", "size"}, {"1", "a", "10"}, {"2", "b", "z"}},
       u"id/name/size/"},
      {"header row kept on insert",
       {{"id", "name", "size"}, {"1", "a", "10"}},
       u"PRYKEY:name",
       u"q",
       {u"x", u"y", u"z"},
       u"",
       {{"id", "name", "size"}, {"1", "a", "10"}, {"x", "q", "z"}},
       u"id/name/size/"},
  };
  for (const auto& c : cases) {
    AppFolderScope scope;
    const fs::path path = scope.Dir() / "setup.txt";
    if (!c.before.empty()) WriteBytes(path, Bytes(c.before));
    Call call(scope.Dir().File("setup.txt"));
    call.lastCol = static_cast<std::int16_t>(c.rec.size() - 1);
    call.key = c.key;
    call.mode = u"W";
    call.rec = c.rec;
    call.colList = c.colList;
    call.primaryKey = c.primaryKey;
    EXPECT_EQ(call.Run(), kTrue) << c.name;
    EXPECT_EQ(ReadBytes(path), Bytes(c.after)) << c.name;
    EXPECT_EQ(call.header, c.header) << c.name;
    EXPECT_TRUE(scope.LogLines().empty()) << c.name;
    EXPECT_EQ(std::distance(fs::directory_iterator(scope.Dir().Path()), {}), 1) << c.name;
  }
}

TEST_F(RecordFile, EncipheredUpdateKeepsCopiedCellsAsStored) {
  Call c(File("secret.txt"));
  c.encrypted = kTrue;
  c.mode = u"W";
  c.key = u"alpha";
  c.rec = {u"", u"Hello World", u"x/y"};
  ASSERT_EQ(c.Run(), kTrue);
  c.key = u"beta";
  c.rec = {u"", u"second", u""};
  ASSERT_EQ(c.Run(), kTrue);
  const std::string stored = ReadBytes(Path("secret.txt"));
  EXPECT_EQ(stored.find("Hello"), std::string::npos);
  const std::int16_t write = 0;
  EXPECT_NE(stored.find(ToAnsi(Encrypt(u"Hello World", write))), std::string::npos);

  c.key = u" ALPHA ";
  c.rec = {u"", u"changed", u"-"};
  c.colList = u"1";
  ASSERT_EQ(c.Run(), kTrue);
  Call r(File("secret.txt"));
  r.encrypted = kTrue;
  r.mode = u"R";
  r.key = u"alpha";
  ASSERT_EQ(r.Run(), kTrue);
  EXPECT_EQ(r.rec, (TextArray{u"alpha", u"changed", u"x/y"}));
  r.key = u"beta";
  ASSERT_EQ(r.Run(), kTrue);
  EXPECT_EQ(r.rec, (TextArray{u"beta", u"second", u""}));
}

TEST_F(RecordFile, TemporaryNameCandidates) {
  // Candidates 0 and 1 are leftovers: the call writes through candidate 2 and
  // leaves both alone.
  WriteBytes(Path("data.txt"), RecordBytes({"a", "1", "1"}));
  WriteBytes(Path("data_temp.txt"), "leftover 0");
  WriteBytes(Path("data_temp1.txt"), "leftover 1");
  Call c(File("data.txt"));
  c.mode = u"W";
  c.key = u"b";
  c.rec = {u"", u"2", u"2"};
  ASSERT_EQ(c.Run(), kTrue);
  EXPECT_EQ(ReadBytes(Path("data_temp.txt")), "leftover 0");
  EXPECT_EQ(ReadBytes(Path("data_temp1.txt")), "leftover 1");
  EXPECT_EQ(Files(), (std::vector<std::string>{"data.txt", "data_temp.txt", "data_temp1.txt"}));

  // With candidates 0 to 99 all taken, candidate 100 is used even if present.
  for (int k = 2; k <= 100; ++k) {
    WriteBytes(Path("data_temp" + std::to_string(k) + ".txt"), "leftover");
  }
  test::MakeReadOnly(Path("data_temp100.txt"));
  c.key = u"c";
  ASSERT_EQ(c.Run(), kTrue);
  EXPECT_FALSE(fs::exists(Path("data_temp100.txt")));
  EXPECT_EQ(ReadBytes(Path("data_temp99.txt")), "leftover");
  EXPECT_EQ(ReadBytes(Path("data.txt")),
            Bytes({{"a", "1", "1"}, {"b", "2", "2"}, {"c", "2", "2"}}));

  // "WA" always writes through candidate 0, whatever lies there.
  FeatureGrid grid;
  grid.SetCols(3);
  grid.AddItem(u"g\th\ti");
  Call wa(File("data.txt"));
  wa.mode = u"WA";
  wa.grid = &grid;
  test::MakeReadOnly(Path("data_temp.txt"));
  ASSERT_EQ(wa.Run(), kTrue);
  EXPECT_FALSE(fs::exists(Path("data_temp.txt")));
  EXPECT_EQ(ReadBytes(Path("data.txt")), RecordBytes({"g", "h", "i"}));
  EXPECT_TRUE(app.LogLines().empty());
}

TEST_F(RecordFile, TempNameUsesTheLastDotOfThePath) {
  fs::create_directory(Path("v1.2"));
  WriteBytes(Path("v1.2") / "noext", RecordBytes({"a", "b", "c"}));
  FeatureGrid grid;
  grid.SetCols(3);
  grid.AddItem(u"x");
  Call c(File("v1.2/noext"));
  c.mode = u"WA";
  c.grid = &grid;
  // The base is the path up to the folder's dot: ".../v1" & "_temp.txt",
  // so the writer waits for the lock of the folder that file lies in.
  std::atomic<bool> released{false};
  std::latch locked(1);
  std::thread holder([&] {
    FolderWriteLock lock(File("v1_temp.txt"));
    locked.count_down();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    released = true;
  });
  locked.wait();
  ASSERT_EQ(c.Run(), kTrue);
  EXPECT_TRUE(released);
  holder.join();
  EXPECT_EQ(ReadBytes(Path("v1.2") / "noext"), RecordBytes({"x", "", ""}));
  EXPECT_FALSE(fs::exists(Path("v1_temp.txt")));

  // Without any dot the call fails before touching anything.
  fs::create_directory(Path("plain"));
  WriteBytes(Path("plain") / "noext", "old");
  AppFolderScope scope;
  const Text dotless = FromUtf8((Path("plain") / "noext").string());
  // The fixture's folder name has no dot either (firstload-test-XXXXXX).
  ASSERT_EQ(dotless.find(u'.'), Text::npos);
  for (Text mode : {u"W", u"WA"}) {
    Call d(dotless);
    d.mode = mode;
    d.grid = &grid;
    d.key = u"k";
    EXPECT_EQ(d.Run(), kFalse);
    EXPECT_EQ(ReadBytes(Path("plain") / "noext"), "old");
  }
  EXPECT_EQ(scope.LoggedProcs(), (std::vector<std::string>{"FileReadWrite", "FileReadWrite"}));
}

TEST_F(RecordFile, ReadOnlyTargetIsReplaced) {
  WriteBytes(Path("ro.txt"), RecordBytes({"a", "1", "1"}));
  test::MakeReadOnly(Path("ro.txt"));
  Call c(File("ro.txt"));
  c.mode = u"W";
  c.key = u"a";
  c.rec = {u"", u"new", u"new"};
  ASSERT_EQ(c.Run(), kTrue);
  EXPECT_EQ(ReadBytes(Path("ro.txt")), RecordBytes({"a", "new", "new"}));
}

#ifdef _WIN32
// A writer of another session holds the folder's lock, opened by its name in
// the Global namespace as that session would: a write waits for its release.
TEST_F(RecordFile, WriteWaitsForTheFolderLockOfAnotherSession) {
  const std::wstring name = win32::FolderLockName(File("new.txt"));
  ASSERT_EQ(name.rfind(L"Global\\", 0), 0u);
  HANDLE held = CreateMutexW(nullptr, TRUE, name.c_str());
  ASSERT_NE(held, nullptr);
  std::atomic<bool> released{false};
  bool writtenAfterRelease = false;
  std::thread writer([&] {
    Call c(File("new.txt"));
    c.mode = u"W";
    c.key = u"a";
    c.rec = {u"", u"1", u"2"};
    writtenAfterRelease = c.Run() == kTrue && released;
  });
  // Time for a writer that ignores the lock to finish first and fail the test.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  released = true;
  ReleaseMutex(held);
  writer.join();
  CloseHandle(held);
  EXPECT_TRUE(writtenAfterRelease);
  EXPECT_EQ(ReadBytes(Path("new.txt")), RecordBytes({"a", "1", "2"}));
}
#endif

TEST_F(RecordFile, SaveEmptyGridEmptiesTheFile) {
  WriteBytes(Path("list.txt"), RecordBytes({"a", "1", "1"}));
  FeatureGrid grid;
  grid.SetCols(3);
  Call c(File("list.txt"));
  c.mode = u"WA";
  c.grid = &grid;
  ASSERT_EQ(c.Run(), kTrue);
  EXPECT_EQ(ReadBytes(Path("list.txt")), "");
}

// Calls that fail must leave the target as it was and no temporary file.
TEST_F(RecordFile, FailingWritesLeaveTargetAndNoTemporaryFile) {
  const std::string before = Bytes({{"a", "1", "1"}, {"b", "2", "2"}});
  FeatureGrid narrow;
  narrow.SetCols(2);
  narrow.AddItem(u"x\ty");
  FeatureGrid huge;
  huge.SetCols(3);
  huge.AddItem(u"ok");
  huge.AddItem(Text(65536, u'x'));
  struct Case {
    const char* name;
    Text mode;
    Text key;
    Text colList;
    Text primaryKey;
    FeatureGrid* grid;
    TextArray rec;
    VBool encrypted;
    const char* logged;
  } cases[] = {
      {"listed column out of range",
       u"W",
       u"b",
       u"1, 7",
       u"0",
       nullptr,
       {u"", u"", u""},
       kFalse,
       "Subscript out of range"},
      {"blank key column",
       u"W",
       u"b",
       u"",
       u" ",
       nullptr,
       {u"", u"", u""},
       kFalse,
       "Subscript out of range"},
      {"header name missing",
       u"W",
       u"b",
       u"",
       u"PRYKEY:nope",
       nullptr,
       {u"", u"", u""},
       kFalse,
       "Subscript out of range"},
      {"RecArray too short",
       u"W",
       u"zz",
       u"",
       u"0",
       nullptr,
       {u""},
       kFalse,
       "Subscript out of range"},
      {"grid narrower than the record",
       u"WA",
       u"",
       u"",
       u"",
       &narrow,
       {},
       kFalse,
       "Subscript out of range"},
      {"no grid",
       u"WA",
       u"",
       u"",
       u"",
       nullptr,
       {},
       kFalse,
       "Object variable or With block variable not set"},
      {"cell longer than its count", u"WA", u"", u"", u"", &huge, {}, kFalse, "Overflow"},
      {"keyed cell longer than its count",
       u"W",
       u"c",
       u"",
       u"0",
       nullptr,
       {u"", Text(65536, u'x'), u""},
       kFalse,
       "Overflow"},
      {"cell too long to encipher",
       u"W",
       u"c",
       u"",
       u"0",
       nullptr,
       {u"", Text(40000, u'x'), u""},
       kTrue,
       "Overflow"},
  };
  for (const auto& c : cases) {
    AppFolderScope scope;
    const fs::path path = scope.Dir() / "data.txt";
    WriteBytes(path, before);
    Call call(scope.Dir().File("data.txt"));
    call.mode = c.mode;
    call.key = c.key;
    call.colList = c.colList;
    call.primaryKey = c.primaryKey;
    call.grid = c.grid;
    call.rec = c.rec;
    call.encrypted = c.encrypted;
    EXPECT_EQ(call.Run(), kFalse) << c.name;
    EXPECT_EQ(ReadBytes(path), before) << c.name;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(scope.Dir().Path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"NetError.log", "data.txt"})) << c.name;
    auto lines = scope.LogLines();
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_EQ(lines[0].rfind(std::string("Desc:") + c.logged, 0), 0u) << c.name << ": " << lines[0];
    EXPECT_NE(lines[0].find(", Proc:FileReadWrite, in "), std::string::npos) << c.name;
  }
}

TEST_F(RecordFile, CellsUpToTheFullCountRoundTrip) {
  // Counts are unsigned: cells between 32,768 and 65,535 bytes survive, in
  // either writing mode.
  for (const char16_t* mode : {u"W", u"WA"}) {
    SCOPED_TRACE(test::U8(mode));
    FeatureGrid grid;
    grid.SetCols(3);
    grid.AddItem(Text(u"k") + u"\t" + Text(40000, u'a') + u"\t" + Text(65535, u'z'));
    Call w(File("big.txt"));
    w.mode = mode;
    w.key = u"k";
    w.rec = {u"", Text(40000, u'a'), Text(65535, u'z')};
    w.grid = &grid;
    ASSERT_EQ(w.Run(), kTrue);
    FeatureGrid back;
    Call r = w;
    r.mode = u"RA";
    r.grid = &back;
    ASSERT_EQ(r.Run(), kTrue);
    ASSERT_EQ(back.Rows(), 1);
    EXPECT_EQ(back.TextMatrix(0, 0), u"k");
    EXPECT_EQ(back.TextMatrix(0, 1).size(), 40000u);
    EXPECT_EQ(back.TextMatrix(0, 2), Text(65535, u'z'));
    EXPECT_EQ(ReadBytes(Path("big.txt")).substr(3, 2), "\x40\x9C");
    fs::remove(Path("big.txt"));
  }
}

TEST_F(RecordFile, FileEndingInsideARecord) {
  const std::string whole = Bytes({{"a", "1", "1"}, {"b", "2", "2"}});
  struct Cut {
    size_t keep;  // bytes of the second record kept
  } cuts[] = {{1}, {2}, {3}, {6}, {8}};
  const size_t first = RecordBytes({"a", "1", "1"}).size();
  for (const auto& cut : cuts) {
    AppFolderScope scope;
    const fs::path path = scope.Dir() / "cut.txt";
    WriteBytes(path, whole.substr(0, first + cut.keep));
    Call r(scope.Dir().File("cut.txt"));
    r.mode = u"R";
    r.key = u"b";
    EXPECT_EQ(r.Run(), kFalse);
    FeatureGrid grid;
    Call ra = r;
    ra.mode = u"RA";
    ra.grid = &grid;
    EXPECT_EQ(ra.Run(), kFalse);
    ASSERT_EQ(grid.Rows(), 1) << cut.keep;  // the complete record before the cut
    EXPECT_EQ(grid.TextMatrix(0, 0), u"a");
    auto lines = scope.LogLines();
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines)
      EXPECT_EQ(line.rfind("Desc:Input past end of file, Proc:FileReadWrite", 0), 0u) << line;
  }
}

}  // namespace
}  // namespace fl
