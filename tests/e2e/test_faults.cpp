// Whole runs under faults: a hostile or broken service, a read-only
// application folder, two runs at once, and runs killed while they write.
#include <random>

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

TEST(Faults, HostileServicesEndInTheMessageWithinLimitsAndSmallMemory) {
  const char* answers[] = {"endless",    "loop", "reset",   "badchunk",
                           "hugelength", "deep", "garbage", "drip"};
  for (const char* answer : answers) {
    AppFolder app;
    app.WriteSetup("Ostra-VKP", "Photo Tools");
    app.InstallDownloader("VKPDownload.exe");
    Service service(answer, app / "service.log");
    // The slowest case, a drip, ends by the 60-second stall limit.
    Outcome run = RunProgram(Emulated({(app / "FirstLoad").string()}), 120);
    EXPECT_TRUE(run.status == 0 || run.status == 1) << answer << ": " << run.status;
    EXPECT_EQ(run.err.rfind(kNotice, 0), 0u) << answer;
    EXPECT_LT(run.maxRssKb, kMaxRssKb) << answer;
    EXPECT_EQ(fs::exists(app / "FeatDlods.txt"), run.status == 0) << answer;
    EXPECT_FALSE(fs::exists(app / "FeatDlods_temp.txt")) << answer;
  }
}

TEST(Faults, ReadOnlyApplicationFolderStillLaunchesAndSaysWhy) {
  if (test::RunCommand("unshare --mount true && echo yes") != "yes\n") {
    GTEST_SKIP() << "this machine does not allow a private mount namespace";
  }
  // The folder mounted read-only in a namespace of the run's own, and one
  // that the user who runs it may not write.
  const std::string readOnly =
      "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" && exec $2 \"$1/FirstLoad\"";
  const std::string notTheirs =
      "chmod 0555 \"$1\" && exec setpriv --reuid=65534 --regid=65534 --clear-groups "
      "$2 \"$1/FirstLoad\"";
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
    Outcome run = RunProgram({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh",
                              "-c", script, "sh", dir, FIRSTLOAD_EMULATOR});
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

TEST(Faults, RunKilledAnywhereLeavesNoPartialList) {
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  Service service("rows:3000", app / "service.log");
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(app.Run().status, 0);
  const std::string complete = ReadBytes(app / "FeatDlods.txt");
  const auto onePass = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);

  std::mt19937 rng(2026);
  int complete_seen = 0;
  for (int trial = 0; trial < 200; ++trial) {
    fs::remove(app / "FeatDlods.txt");
    // Kill anywhere from start-up to well past the end of a normal run.
    std::uniform_int_distribution<long> delay(0, onePass.count() * 3);
    pid_t pid = fork();
    if (pid == 0) {
      unsetenv("DISPLAY");
      const std::vector<std::string> run = Emulated({(app / "FirstLoad").string()});
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      std::vector<char*> args;
      for (const auto& a : run) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (fs::exists(app / "FeatDlods.txt")) {
      ASSERT_EQ(ReadBytes(app / "FeatDlods.txt"), complete) << "trial " << trial;
      ++complete_seen;
    }
  }
  EXPECT_GT(complete_seen, 0);
}

}  // namespace
}  // namespace fl
