// Whole runs under faults: a hostile or broken service, a read-only
// application folder, two runs at once, and runs killed while they write.
#include <sys/inotify.h>

#include <fstream>

#include "tests/e2e/Harness.h"

namespace fl {
namespace {

using namespace test::e2e;

const std::string kNotice = "Connecting to Zelvan's website. Please Wait......\n";

// The bound is the program's (about 30 MB is what the endless body takes);
// AddressSanitizer's shadow and the quarantine of freed blocks add half again.
#ifdef __SANITIZE_ADDRESS__
constexpr long kMaxRssKb = 96 * 1024;
#else
constexpr long kMaxRssKb = 64 * 1024;
#endif

// The tests' build gives up on a stalled transfer after this long, where the
// product's build waits a minute.
const std::string kStall = "FIRSTLOAD_TEST_STALL_SECONDS=2";

struct Hostile {
  const char* answer;
  // On the line that says why the fetch failed; null: a page came, with no
  // list in it.
  const char* why;
};

class HostileService : public testing::TestWithParam<Hostile> {};

TEST_P(HostileService, EndsInTheMessageWithinLimitsAndSmallMemory) {
  const Hostile& c = GetParam();
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  app.InstallDownloader("VKPDownload.exe");
  Service service(c.answer, app / "service.log");
  // Well short of the product's stall limit: the drip ends by the tests'.
  Outcome run = RunProgram(Emulated({(app / "FirstLoad").string()}), 30, {kStall});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err.rfind(kNotice, 0), 0u);
  const std::size_t why = run.err.find("could not be fetched: ");
  if (c.why != nullptr) {
    EXPECT_NE(run.err.find(c.why, why), std::string::npos) << run.err;
  } else {
    EXPECT_EQ(why, std::string::npos) << run.err;
  }
  EXPECT_LT(run.maxRssKb, kMaxRssKb);
  EXPECT_FALSE(fs::exists(app / "FeatDlods.txt"));
  EXPECT_FALSE(fs::exists(app / "FeatDlods_temp.txt"));
}

INSTANTIATE_TEST_SUITE_P(Answers, HostileService,
                         testing::Values(Hostile{"endless", "the page is larger than 16 MiB"},
                                         Hostile{"loop", "redirects"},
                                         Hostile{"reset", "Failure when receiving data"},
                                         Hostile{"badchunk", "chunked-encoding"},
                                         Hostile{"hugelength", "the page is larger than 16 MiB"},
                                         Hostile{"deep", "nest deeper than 512"},
                                         Hostile{"garbage", nullptr},
                                         Hostile{"drip", "timed out"}),
                         [](const testing::TestParamInfo<Hostile>& info) {
                           return std::string(info.param.answer);
                         });

// The product's build takes none of the tests' settings: it asks its own
// service, through a proxy that is the dripping service itself, and neither
// the stall limit nor the deadline that a tests' build would take ends its
// wait: it keeps a minute and two.
TEST(Faults, ProductBuildKeepsItsServiceAndLimits) {
  const std::string product = FIRSTLOAD_PRODUCT_SERVICE;
  if (product.rfind("http://", 0) != 0) GTEST_SKIP() << "the proxy here carries http only";
  AppFolder app(kBuild / "FirstLoad");
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  Service service("drip", app / "service.log");
  const pid_t pid = StartProgram(
      Emulated({(app / "FirstLoad").string()}),
      {kStall, "FIRSTLOAD_TEST_DEADLINE_SECONDS=1", "FIRSTLOAD_TEST_DISCOVERY_SECONDS=1",
       "http_proxy=http://127.0.0.1:" + std::string(getenv("FIRSTLOAD_TEST_SERVICE_PORT"))});
  for (int waited = 0; waited < 200 && !fs::exists(app / "service.log"); ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(ReadBytes(app / "service.log").rfind(product + "/Features.aspx?&APPCODE=", 0), 0u);
  std::this_thread::sleep_for(std::chrono::seconds(5));
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "a stall or deadline of seconds ended the wait";
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(Faults, ReadOnlyApplicationFolderStillLaunchesAndSaysWhy) {
  if (test::RunCommand("unshare --mount --pid --fork --mount-proc true && echo yes") != "yes\n") {
    GTEST_SKIP() << "this machine does not allow private mount and process namespaces";
  }
  // The folder mounted read-only in a namespace of the run's own, and one
  // that the user who runs it may not write. The namespace's processes, the
  // download program among them, see only each other, and end with its
  // first, which waits for the program to say how it was started.
  const std::string started =
      "; s=$?; for i in $(seq 50); do [ -e \"$FIRSTLOAD_TEST_RECORD\" ] && break; sleep 0.1; done; "
      "exit $s";
  const std::string readOnly =
      "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" && $2 \"$1/FirstLoad\"" +
      started;
  const std::string notTheirs =
      "chmod 0555 \"$1\" && setpriv --reuid=65534 --regid=65534 --clear-groups "
      "$2 \"$1/FirstLoad\"" +
      started;
  for (const std::string& script : {readOnly, notTheirs}) {
    SCOPED_TRACE(script);
    AppFolder app;
    app.WriteSetup("Ostra-VKP", "Photo Tools");
    app.InstallDownloader("VKPDownload.exe");
    Service service("ok", app / "service.log");
    TempDir elsewhere;
    const fs::path record = elsewhere / "started-with.txt";
    // Others may reach both folders and run the program, as under /opt.
    const std::string dir = (app / "").parent_path().string();
    for (const fs::path& folder : {fs::path(dir), elsewhere.Path()}) {
      for (fs::path up = folder; up != up.root_path(); up = up.parent_path()) {
        fs::permissions(up, fs::perms::others_exec, fs::perm_options::add);
      }
    }
    fs::permissions(elsewhere.Path(), fs::perms::all, fs::perm_options::add);
    fs::permissions(app / "Update" / "VKPDownload.exe",
                    fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    setenv("FIRSTLOAD_TEST_RECORD", record.c_str(), 1);
    Outcome run =
        RunProgram({"/usr/bin/unshare", "--mount", "--propagation", "private", "--pid", "--fork",
                    "--mount-proc", "/bin/sh", "-c", script, "sh", dir, FIRSTLOAD_EMULATOR});
    unsetenv("FIRSTLOAD_TEST_RECORD");
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(run.status, 0) << run.err;
    // Nor can the log be written there: standard error says why the list
    // will be fetched again next time.
    EXPECT_EQ(run.err, kNotice + "FirstLoad: the feature list could not be stored: " +
                           "Permission denied at " + (app / "FeatDlods.txt").string() + "\n");
    EXPECT_EQ(AppFolder::ReadLaunchRecord(record), "VKP*#OTHERFILE#Photo Tools");
    EXPECT_FALSE(fs::exists(app / "FeatDlods.txt"));
    EXPECT_EQ(app.Log(), "");
  }
}

TEST(Faults, TwoFirstRunsAtOnceLeaveOneCompleteList) {
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  app.InstallDownloader("VKPDownload.exe");
  Service service("rows:3000", app / "service.log");
  Outcome runs[2];
  std::thread first([&] { runs[0] = app.Run(); });
  std::thread second([&] { runs[1] = app.Run(); });
  first.join();
  second.join();
  EXPECT_EQ(runs[0].status, 0);
  EXPECT_EQ(runs[1].status, 0);
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    std::vector<std::string> row{"R" + std::to_string(i)};
    for (int c = 0; c < 25; ++c) row.push_back("c" + std::to_string(c));
    expected += test::RecordBytes(row);
  }
  expected += test::RecordBytes(std::vector<std::string>(26));
  EXPECT_EQ(ReadBytes(app / "FeatDlods.txt"), expected);
  EXPECT_FALSE(fs::exists(app / "FeatDlods_temp.txt"));
}

// Killed just after each change to its folder in turn (the list's temporary
// file made, each write to it, its close, the rename), a run leaves the list
// absent or whole; the record writer's own test kills it anywhere.
TEST(Faults, RunKilledAnywhereLeavesNoPartialList) {
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  Service service("rows:3000", app / "service.log");
  ASSERT_EQ(app.Run().status, 0);
  const std::string complete = ReadBytes(app / "FeatDlods.txt");

  int absent = 0, whole = 0;
  for (int kill_at = 1;; ++kill_at) {
    ASSERT_LT(kill_at, 1000) << "the runs never end";
    fs::remove(app / "FeatDlods.txt");
    fs::remove(app / "NetError.log");
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, (app / "").parent_path().c_str(),
                                IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVE | IN_DELETE),
              0);
    const pid_t pid = StartProgram(Emulated({(app / "FirstLoad").string()}));
    int changes = 0;
    bool ended = false;
    alignas(inotify_event) char events[4096];
    while (changes < kill_at && !ended) {
      pollfd p{watch, POLLIN, 0};
      if (poll(&p, 1, 100) > 0) {
        const ssize_t got = read(watch, events, sizeof events);
        for (ssize_t at = 0; at < got;) {
          const auto* event = reinterpret_cast<const inotify_event*>(events + at);
          at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
          ++changes;
        }
      }
      ended = changes < kill_at && waitpid(pid, nullptr, WNOHANG) == pid;
    }
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(watch);
    if (fs::exists(app / "FeatDlods.txt")) {
      ASSERT_EQ(ReadBytes(app / "FeatDlods.txt"), complete) << "killed at change " << kill_at;
      ++whole;
    } else {
      ++absent;
    }
    if (ended) break;
  }
  // Some runs were killed before the list was there, and the last one ended.
  EXPECT_GT(absent, 0);
  EXPECT_GT(whole, 0);
}

}  // namespace
}  // namespace fl
