// Whole runs of the installed utility: the real binary in a temporary
// application folder, real files, real processes and the example feature
// service on 127.0.0.1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/codepage.h"
#include "tests/e2e/Harness.h"

namespace fl {
namespace {

using namespace test;
using namespace test::e2e;

std::string Records(const std::vector<std::vector<std::string>>& rows) {
  std::string out;
  for (auto row : rows) {
    row.resize(26);
    out += RecordBytes(row);
  }
  return out;
}

const char kMessage[] =
    "Zelvan's Downloader\nCould not connect to Zelvan's Website to download '%s'. Please check "
    "your Internet connection and try again.\n";

std::string Message(const std::string& feature) {
  char buf[512];
  std::snprintf(buf, sizeof buf, kMessage, feature.c_str());
  return buf;
}

const char kNotice[] = "Connecting to Zelvan's website. Please Wait......\n";

TEST(EndToEnd, FirstRunFetchesStoresAndLaunchesThenLaterRunsGoStraightToTheLaunch) {
  SetAnsiCodePage(1252);
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  app.InstallDownloader("VKPDownload.exe");
  Service service("list:F1/Tools/?/Yes#F2/A??B/x//y>F3/1##2/p>>q", app / "service.log");

  Outcome first = app.Run();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err, kNotice);
  EXPECT_EQ(app.Requests(),
            std::vector<std::string>{"/Features.aspx?&APPCODE=680570080&FeatureName="
                                     "080401111611111230480111111801511"});
  EXPECT_EQ(
      ReadBytes(app / "FeatDlods.txt"),
      Records({{"F1", "Tools", "", "Yes"}, {"F2", "A?B", "x/y"}, {}, {"F3", "1#2", "p>q"}, {}}));
  EXPECT_EQ(app.LaunchParameters(), "VKP*#OTHERFILE#Photo Tools");
  EXPECT_FALSE(fs::exists(app / "FeatDlods_temp.txt"));
  EXPECT_EQ(app.Log(), "");

  Outcome later = app.Run();
  EXPECT_EQ(later.status, 0);
  EXPECT_EQ(later.err, "");  // no window
  EXPECT_EQ(app.Requests().size(), 1u);
  EXPECT_EQ(app.LaunchParameters(), "VKP*#OTHERFILE#Photo Tools");
}

TEST(EndToEnd, AnyStoredListCountsEvenAnEmptyOne) {
  AppFolder app;
  app.WriteSetup("Quend-Levy", "Maps");
  app.InstallDownloader("OtherDownload.exe");
  WriteBytes(app / "FeatDlods.txt", "");
  Outcome run = app.Run();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(app.LaunchParameters(), "Quend-Levy*#OTHERFILE#Maps");
}

const char kAddress[] =
    "http://127.0.0.1:38517/Features.aspx?&APPCODE=680570080&FeatureName="
    "080401111611111230480111111801511";

TEST(EndToEnd, FailedFetchesShowTheMessageAndStoreAndStartNothing) {
  struct Case {
    const char* answer;
    bool serviceRuns;
    const char* reason;  // on standard error for a failed navigation
  } cases[] = {
      {"error", true, nullptr},  {"empty", true, nullptr},
      {"noform", true, nullptr}, {"status:503", true, "HTTP 503"},
      {"list:>", true, nullptr}, {"ok", false, "Connection refused"},
  };
  for (const auto& c : cases) {
    AppFolder app;
    app.WriteSetup("Ostra-VKP", "Photo Tools");
    app.InstallDownloader("VKPDownload.exe");
    std::optional<Service> service;
    if (c.serviceRuns) service.emplace(c.answer, app / "service.log");
    Outcome run = app.Run();
    EXPECT_EQ(run.status, 1) << c.answer;
    if (c.reason == nullptr) {
      EXPECT_EQ(run.err, kNotice + Message("Photo Tools")) << c.answer;
    } else {
      const std::string start =
          std::string(kNotice) + "FirstLoad: the feature list could not be fetched: ";
      const std::string end = std::string(" from ") + kAddress + "\n" + Message("Photo Tools");
      EXPECT_EQ(run.err.rfind(start, 0), 0u) << run.err;
      EXPECT_TRUE(run.err.size() > end.size() &&
                  run.err.compare(run.err.size() - end.size(), end.size(), end) == 0)
          << run.err;
      EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(app / "FeatDlods.txt")) << c.answer;
    EXPECT_EQ(app.LaunchParameters(500), std::nullopt) << c.answer;
    EXPECT_EQ(app.Log(), "") << c.answer;
  }
}

TEST(EndToEnd, ClosedOutputPipesNeverEndARun) {
  struct Case {
    const char* answer;
    int status;
    bool launched;
  } cases[] = {{"ok", 0, true}, {"error", 1, false}};
  for (const auto& c : cases) {
    AppFolder app;
    app.WriteSetup("Ostra-VKP", "Photo Tools");
    app.InstallDownloader("VKPDownload.exe");
    Service service(c.answer, app / "service.log");
    Outcome run = app.Run({.closedOutput = true});
    EXPECT_EQ(run.status, c.status) << c.answer;
    EXPECT_EQ(fs::exists(app / "FeatDlods.txt"), c.launched) << c.answer;
    EXPECT_EQ(app.LaunchParameters(c.launched ? 5000 : 500).has_value(), c.launched) << c.answer;
  }
}

TEST(EndToEnd, StartedProgramRunsOnItsOwnWithCleanSignals) {
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  app.InstallDownloader("VKPDownload.exe");
  WriteBytes(app / "FeatDlods.txt", "");
  Outcome run = app.Run({.env = {"FIRSTLOAD_TEST_LINGER=30"}, .inheritedSignals = true});
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(app.LaunchParameters(), "VKP*#OTHERFILE#Photo Tools");
  const fs::path record = app.RecordPath();
  const pid_t program = std::stoi(ReadBytes(record.string() + ".pid"));
  // FirstLoad ended while the program still runs: it did not wait for it.
  EXPECT_EQ(kill(program, 0), 0);
  kill(program, SIGKILL);
  EXPECT_NE(std::stoi(ReadBytes(record.string() + ".sid")), getsid(0));
  EXPECT_EQ(ReadBytes(record.string() + ".signals"),
            "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST(EndToEnd, FolderNamesThatAreNotUtf8Work) {
  for (const char* folder : {"caf\xE9", "x\xC3\x28y"}) {
    AppFolder app(folder);
    // Cut inside its record, so that the run has a failure to log.
    std::vector<std::string> cells(26);
    cells[0] = "ZELVAN";
    std::string setup = RecordBytes(cells);
    setup.pop_back();
    WriteBytes(app / "Orvistane.txt", setup);
    app.InstallDownloader("OtherDownload.exe");
    Service service("ok", app / "service.log");
    Outcome run = app.Run();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(app / "FeatDlods.txt"));
    EXPECT_EQ(app.LaunchParameters(), "*#OTHERFILE#");
    EXPECT_EQ(
        app.Log().rfind("Desc:Input past end of file, Proc:FileReadWrite, in FirstLoad, At: ", 0),
        0u)
        << app.Log();
  }
}

TEST(EndToEnd, WithoutTheHttpModuleTheWaitEndsAsAFailedFetch) {
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  app.InstallDownloader("VKPDownload.exe");
  fs::remove(app / "libFirstLoadHttp.so");
  Outcome run = app.Run();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, kNotice + Message("Photo Tools"));
  EXPECT_EQ(app.Log().rfind("Desc:Cannot load libFirstLoadHttp.so: ", 0), 0u) << app.Log();
  EXPECT_NE(app.Log().find(", Proc:GetWebRetForFeatures, in FirstLoad, At: "), std::string::npos);
  EXPECT_EQ(app.LaunchParameters(500), std::nullopt);
}

// A legacy locale built for the tests alone; LOCPATH points at it.
const std::string& Latin1LocaleDir() {
  static TempDir dir;
  static const std::string path = [] {
    const std::string out = (dir / "de_DE.ISO-8859-1").string();
    test::RunCommand("localedef -i de_DE -f ISO-8859-1 '" + out + "' 2>&1");
    EXPECT_TRUE(fs::exists(out)) << "localedef could not build de_DE.ISO-8859-1";
    return dir.Path().string();
  }();
  return path;
}

TEST(EndToEnd, SetupRecordDecidesProductProgramAndQuery) {
  const std::vector<std::string> latin1 = {"LC_ALL=de_DE.ISO-8859-1",
                                           "LOCPATH=" + Latin1LocaleDir()};
  struct Case {
    const char* name;
    bool writeSetup;
    std::string product, feature;
    const char* program;
    const char* query;
    const char* parameters;
    std::vector<std::string> env = {};
  } cases[] = {
      {"missing setup record", false, "", "", "OtherDownload.exe",
       "/Features.aspx?&APPCODE=180580960870860&FeatureName=", "*#OTHERFILE#"},
      {"product trimmed and case-blind", true, "  ostra-VKP ", " Pro ", "VKPDownload.exe",
       "/Features.aspx?&APPCODE=680570080&FeatureName=230080411111230", "VKP*#OTHERFILE# Pro "},
      {"anything else is Quend-Levy", true, "Ostra VKP", "Maps", "OtherDownload.exe",
       "/Features.aspx?&APPCODE=180580960870860&FeatureName=770790211511",
       "Quend-Levy*#OTHERFILE#Maps"},
      {"shell characters pass unchanged", true, "Ostra-VKP", "$(touch x) `id` \"a\" 'b' | ; & *",
       "VKPDownload.exe", nullptr, "VKP*#OTHERFILE#$(touch x) `id` \"a\" 'b' | ; & *"},
      {"non-ASCII feature name", true, "Ostra-VKP", "Caf\xE9", "VKPDownload.exe",
       "/Features.aspx?&APPCODE=680570080&FeatureName=760790201332", "VKP*#OTHERFILE#Caf\xC3\xA9"},
      // Arguments in the locale's character set; what it cannot spell is "?".
      {"feature under a Latin-1 locale", true, "Ostra-VKP",
       "Gr\xF6\xDF"
       "e \x80",
       "VKPDownload.exe", nullptr,
       "VKP*#OTHERFILE#Gr\xF6\xDF"
       "e ?",
       latin1},
      {"feature under C.UTF-8",
       true,
       "Ostra-VKP",
       "Gr\xF6\xDF"
       "e \x80",
       "VKPDownload.exe",
       nullptr,
       "VKP*#OTHERFILE#Gr\xC3\xB6\xC3\x9F"
       "e \xE2\x82\xAC",
       {"LC_ALL=C.UTF-8"}},
  };
  for (const auto& c : cases) {
    AppFolder app;
    if (c.writeSetup) app.WriteSetup(c.product, c.feature);
    app.InstallDownloader(c.program);
    Service service("ok", app / "service.log");
    Outcome run = app.Run({.env = c.env});
    EXPECT_EQ(run.status, 0) << c.name << ": " << run.err;
    if (c.query != nullptr) {
      EXPECT_EQ(app.Requests(), std::vector<std::string>{c.query}) << c.name;
    }
    EXPECT_EQ(app.LaunchParameters(), c.parameters) << c.name;
    EXPECT_TRUE(fs::exists(app / "FeatDlods.txt")) << c.name;
    EXPECT_FALSE(fs::exists(app / "x")) << c.name;
  }
}

TEST(EndToEnd, RunningDownloadProgramIsNotStartedAgain) {
  enum How { kCopy, kScript, kSymlink, kReplaced, kLaterArgument };
  struct Case {
    const char* name;
    const char* product;
    const char* running;  // the file name the running process was started from
    How how;
    bool counts;
  } cases[] = {
      {"copy of a binary", "Ostra-VKP", "VKPDownload.exe", kCopy, true},
      {"letter case differs", "Ostra-VKP", "vkpdownload.EXE", kCopy, true},
      {"#! script", "Ostra-VKP", "VKPDownload.exe", kScript, true},
      {"#! script whose name the kernel cuts to 15 bytes", "Quend-Levy", "OtherDownload.exe",
       kScript, true},
      {"binary started through a symlink of that name", "Ostra-VKP", "VKPDownload.exe", kSymlink,
       true},
      {"binary replaced while it runs", "Ostra-VKP", "VKPDownload.exe", kReplaced, true},
      {"name only as a later argument", "Ostra-VKP", "VKPDownload.exe", kLaterArgument, false},
  };
  for (const auto& c : cases) {
    AppFolder app;
    const std::string program =
        std::string(c.product) == "Ostra-VKP" ? "VKPDownload.exe" : "OtherDownload.exe";
    app.WriteSetup(c.product, "Photo Tools");
    app.InstallDownloader(program);
    WriteBytes(app / "FeatDlods.txt", "");
    TempDir elsewhere;
    const std::string named = (elsewhere / c.running).string();
    std::vector<std::string> argv;
    switch (c.how) {
      case kCopy:
      case kReplaced:
        fs::copy_file("/bin/sleep", named);
        // Started through another name, so only the executable's own name,
        // whose file is then replaced, can tell.
        argv = {c.how == kCopy ? named : (elsewhere / "runner").string(), "30"};
        if (c.how == kReplaced) fs::create_symlink(named, argv[0]);
        break;
      case kScript:
        WriteBytes(named, "#!/bin/sh\nsleep 30\n:\n");
        fs::permissions(named, fs::perms::owner_all);
        argv = {named};
        break;
      case kSymlink:
        fs::create_symlink("/bin/sleep", named);
        argv = {named, "30"};
        break;
      case kLaterArgument:
        argv = {"/bin/sh", "-c", "sleep 30; :", c.running};
        break;
    }
    pid_t running = fork();
    if (running == 0) {
      setpgid(0, 0);
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    // Until the program runs (its executable is no longer this test's).
    const std::string exe = "/proc/" + std::to_string(running) + "/exe";
    for (int i = 0; i < 100 && fs::read_symlink(exe) == fs::read_symlink("/proc/self/exe"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (c.how == kReplaced) {
      fs::remove(named);
      WriteBytes(named, "a newer program");
    }
    Outcome run = app.Run();
    kill(-running, SIGKILL);
    waitpid(running, nullptr, 0);
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_EQ(app.LaunchParameters(c.counts ? 500 : 5000).has_value(), !c.counts) << c.name;
  }
}

TEST(EndToEnd, MissingUpdateFolderEndsQuietly) {
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  fs::remove_all(app / "Update");
  WriteBytes(app / "FeatDlods.txt", "");
  Outcome run = app.Run();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(app.Log(), "");
}

TEST(EndToEnd, OnScreenTheFormStaysBehindTheMessage) {
  test::XServer x;
  if (!x.Running()) GTEST_SKIP() << "Xvfb is not available";
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  app.InstallDownloader("VKPDownload.exe");
  Service service("error", app / "service.log");
  std::string windows;
  std::thread user([&] {
    // Once the message box is up beside the form, press OK in it.
    for (int i = 0; i < 300; ++i) {
      windows = test::RunCommand("xdotool search --onlyvisible --name '^Zelvan.s Downloader$'");
      if (std::count(windows.begin(), windows.end(), '\n') >= 2) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::istringstream ids(windows);
    for (std::string id; std::getline(ids, id);) {
      test::RunCommand("xdotool windowfocus --sync " + id + " key Return 2>/dev/null");
    }
  });
  Outcome run = app.Run({.headless = false});
  user.join();
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err, "");  // on screen, nothing falls back to standard error
  // The form and the message box, both titled "Zelvan's Downloader".
  EXPECT_EQ(std::count(windows.begin(), windows.end(), '\n'), 2) << windows;
  EXPECT_FALSE(fs::exists(app / "FeatDlods.txt"));
}

}  // namespace
}  // namespace fl
